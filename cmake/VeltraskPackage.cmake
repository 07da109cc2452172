# `cpack -G DEB` (or the `package` target): veltrask_<version>_<arch>.deb, with
# the library dependencies worked out by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltrask)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Veltrask developers")
set(CPACK_PACKAGE_CONTACT "${VELTRASK_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${VELTRASK_HOMEPAGE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "resolve domain lists to IPv4 and IPv6 addresses and firewall rules")
# Debian shows the long description as it is: lines kept under 80 columns here.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Veltrask turns a list of domain names into IPv4 and IPv6 addresses, one"
    "output line per address. Each line can be filtered through DNS blocklists"
    "(DBL zones for domains, RBL zones for addresses) and formatted through a"
    "template in which %ip% stands for the address and %domain% for the domain,"
    "so the usual product is a block of firewall rules. Up to 500 worker"
    "threads each ask one A or AAAA question over UDP per lookup, rotating over"
    "the configured DNS servers."
    ""
    "The package holds the desktop program veltrask and veltrask-cli, which runs"
    "the same job from a terminal or a script.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTRASK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a Qt platform plugin, which no library links to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})

include(CPack)
