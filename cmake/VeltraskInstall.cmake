# Install rules: the two programs, the desktop entry with its icon, the AppStream
# metadata, the manual pages, the bash completion, the systemd units that keep a
# rule set current with their example configuration, and the package documents.
# Tests and benchmarks are never installed.
include(GNUInstallDirs)

set(VT_DATA_DIR ${CMAKE_SOURCE_DIR}/data)
set(VT_GEN_DIR ${CMAKE_BINARY_DIR}/data)
file(MAKE_DIRECTORY ${VT_GEN_DIR})

# Manual pages and changelogs go compressed, as Debian expects; -n keeps the
# name and time stamp out so the same input gives the same bytes.
function(vt_gzip src dst)
    execute_process(COMMAND gzip -9 -n -c ${src} OUTPUT_FILE ${dst} RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "gzip of ${src} failed: ${_rc}")
    endif()
endfunction()

# The changelog's date in the form Debian wants, from the release date.
execute_process(COMMAND date -u -R -d "${VELTRASK_RELEASE_DATE} 12:00:00"
                OUTPUT_VARIABLE VELTRASK_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "VELTRASK_RELEASE_DATE is not a date: ${VELTRASK_RELEASE_DATE}")
endif()

install(TARGETS veltrask RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET veltrask-cli)
    install(TARGETS veltrask-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${VT_DATA_DIR}/${VT_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VT_DATA_DIR}/icons/${VT_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

configure_file(${VT_DATA_DIR}/${VT_APP_ID}.metainfo.xml.in ${VT_GEN_DIR}/${VT_APP_ID}.metainfo.xml @ONLY)
install(FILES ${VT_GEN_DIR}/${VT_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

foreach(_page veltrask veltrask-cli)
    configure_file(${VT_DATA_DIR}/man/${_page}.1.in ${VT_GEN_DIR}/${_page}.1 @ONLY)
    vt_gzip(${VT_GEN_DIR}/${_page}.1 ${VT_GEN_DIR}/${_page}.1.gz)
    install(FILES ${VT_GEN_DIR}/${_page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(FILES ${VT_DATA_DIR}/completion/veltrask-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

configure_file(${VT_DATA_DIR}/debian/changelog.in ${VT_GEN_DIR}/changelog @ONLY)
vt_gzip(${VT_GEN_DIR}/changelog ${VT_GEN_DIR}/changelog.gz)
install(FILES ${VT_DATA_DIR}/debian/copyright ${VT_GEN_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The refresh service and timer, the loader, and the commented configuration
# they read (copied by the user to /etc/veltrask/NAME.conf).
install(FILES ${VT_DATA_DIR}/systemd/veltrask-refresh@.service ${VT_DATA_DIR}/systemd/veltrask-refresh@.timer
              ${VT_DATA_DIR}/systemd/veltrask-load@.service
        DESTINATION lib/systemd/system)
install(FILES ${VT_DATA_DIR}/examples/blocklist.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${VT_DATA_DIR}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME veltrask)
