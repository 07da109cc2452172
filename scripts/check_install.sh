#!/usr/bin/env bash
# Installs into a staging folder and builds the Debian package from an existing
# build folder, then checks what a user's machine would get: the file list, the
# desktop entry and its icon, the AppStream metadata, the manual pages, the bash
# completion, the version and the package's fields and contents.
#   scripts/check_install.sh [BUILD [BUILD_TYPE]]     (default: build Release)
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
BUILD_TYPE=${2:-Release}
APP_ID=io.github.veltrask.Veltrask
VERSION=$(sed -n -E 's/^project\(veltrask VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)

failures=0
fail() { echo "check_install: FAIL: $*" >&2; failures=$((failures + 1)); }
ok() { echo "check_install: ok: $*"; }
[[ -n "$VERSION" ]] || { echo "check_install: no version in CMakeLists.txt" >&2; exit 1; }

STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
ROOT=$STAGE/root
USR=$ROOT/usr

# --- make install into a DESTDIR, with PREFIX -------------------------------
if ! make --no-print-directory -s install BUILD="$BUILD" BUILD_TYPE="$BUILD_TYPE" PREFIX=/usr DESTDIR="$ROOT" \
        > "$STAGE/install.log" 2>&1; then
    cat "$STAGE/install.log" >&2
    echo "check_install: make install failed" >&2
    exit 1
fi
(cd "$USR" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort) > "$STAGE/installed.txt"
LC_ALL=C sort data/installed-files.txt > "$STAGE/expected.txt"
if diff -u "$STAGE/expected.txt" "$STAGE/installed.txt" > "$STAGE/files.diff"; then
    ok "installed files match data/installed-files.txt"
else
    cat "$STAGE/files.diff" >&2
    fail "installed files differ from data/installed-files.txt"
fi
[[ -z "$(find "$ROOT" -mindepth 1 -maxdepth 1 ! -name usr)" ]] || fail "files installed outside PREFIX"

# --- the version --------------------------------------------------------------
out=$("$USR/bin/veltrask-cli" --version 2>&1)
[[ "$out" == "veltrask-cli $VERSION" ]] && ok "veltrask-cli --version: $out" \
    || fail "veltrask-cli --version printed '$out', expected 'veltrask-cli $VERSION'"

# --- the desktop entry and its icon -------------------------------------------
desktop=$USR/share/applications/$APP_ID.desktop
if out=$(desktop-file-validate "$desktop" 2>&1) && ! grep -q -E '(error|warning):' <<<"$out"; then
    ok "desktop-file-validate"
else
    fail "desktop-file-validate: $out"
fi
field() { sed -n -E "s/^$1=(.*)/\1/p" "$desktop" | head -n1; }
for key in Name GenericName Comment Exec Icon; do
    [[ -n "$(field "$key")" ]] || fail "desktop entry has no $key"
done
[[ "$(field Terminal)" == false ]] || fail "desktop entry: Terminal is not false"
[[ "$(field Categories)" == "Network;Utility;" ]] || fail "desktop entry: Categories is '$(field Categories)'"
icon=$(field Icon)
[[ "$icon" == "$APP_ID" ]] || fail "desktop entry: Icon=$icon, not the application id"
[[ -s "$USR/share/icons/hicolor/scalable/apps/$icon.svg" ]] && ok "Icon=$icon is installed in hicolor/scalable/apps" \
    || fail "no icon $icon.svg in hicolor/scalable/apps"
exe=$(field Exec); exe=${exe%% *}
[[ -x "$USR/bin/$exe" ]] && ok "Exec=$exe is installed in bin/" || fail "Exec=$exe is not an installed program"

# --- AppStream metadata -------------------------------------------------------
metainfo=$USR/share/metainfo/$APP_ID.metainfo.xml
if out=$(appstreamcli validate --no-net "$metainfo" 2>&1); then
    ok "appstreamcli validate --no-net"
else
    fail "appstreamcli validate --no-net: $out"
fi
grep -q "<id>$APP_ID</id>" "$metainfo" || fail "metainfo id is not $APP_ID"
grep -q "<launchable type=\"desktop-id\">$APP_ID.desktop</launchable>" "$metainfo" \
    || fail "metainfo launchable is not $APP_ID.desktop"
[[ $(grep -c '<release ' "$metainfo") -eq 1 ]] && grep -q "<release version=\"$VERSION\"" "$metainfo" \
    || fail "metainfo does not hold exactly one release, $VERSION"
grep -q '<content_rating type="oars-' "$metainfo" || fail "metainfo has no content rating"
grep -q '<image>https\?://[^<]*docs/screenshot.png</image>' "$metainfo" || fail "metainfo has no screenshot"

# --- manual pages -------------------------------------------------------------
for page in veltrask veltrask-cli; do
    file=$USR/share/man/man1/$page.1.gz
    if ! LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" > "$STAGE/$page.txt" 2> "$STAGE/$page.err"; then
        fail "man -l $page.1 failed: $(cat "$STAGE/$page.err")"
        continue
    fi
    if [[ -s "$STAGE/$page.err" ]]; then
        fail "man --warnings -l $page.1: $(cat "$STAGE/$page.err")"
    else
        ok "$page(1) renders without warnings"
    fi
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES; do
        grep -q "^$section\$" "$STAGE/$page.txt" || fail "$page(1) has no $section section"
    done
    grep -q "Veltrask $VERSION" "$STAGE/$page.txt" || fail "$page(1) does not carry version $VERSION"
    for f in qx.ini srclist.txt outlist.txt newlist.txt; do
        grep -q "$f" "$STAGE/$page.txt" || fail "$page(1) does not name $f"
    done
done
# Every option veltrask-cli --help lists has its own entry in the manual page.
missing=()
while read -r opt; do
    grep -q -E -- "^ {7}(-[[:alnum:]], )?$opt( |$)" "$STAGE/veltrask-cli.txt" || missing+=("$opt")
done < <("$USR/bin/veltrask-cli" --help | sed -n -E 's/^[[:space:]]+(-[[:alnum:]], )?(--[[:alnum:]][[:alnum:]-]*).*/\2/p')
[[ ${#missing[@]} -eq 0 ]] && ok "veltrask-cli(1) lists every option of --help" \
    || fail "veltrask-cli(1) lacks ${missing[*]}"

# --- bash completion ----------------------------------------------------------
touch "$STAGE/pick-me.txt"
out=$(PATH="$USR/bin:$PATH" STAGE="$STAGE" bash --norc --noprofile -c '
    source "$1" || exit 1
    complete -p veltrask-cli
    comp() {
        COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
        _veltrask_cli veltrask-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        echo "${*:2}|${COMPREPLY[*]}"
    }
    comp veltrask-cli --th
    comp veltrask-cli --
    comp veltrask-cli --dbl-mode ""
    comp veltrask-cli --line-ending = u
    comp veltrask-cli -o "$STAGE/pick"
    comp veltrask-cli -t ""
    comp veltrask-cli --preset n
    comp veltrask-cli --keep 1
' bash "$USR/share/bash-completion/completions/veltrask-cli" 2>&1)
expect_completion() {  # words, expected reply (exact)
    local got
    got=$(grep -F -x -- "$1|$2" <<<"$out")
    [[ -n "$got" ]] && ok "completion of '$1': ${2:-nothing}" \
        || fail "completion of '$1' is '$(grep -F -- "$1|" <<<"$out" | head -n1 | cut -d'|' -f2-)', expected '$2'"
}
grep -q -x 'complete -F _veltrask_cli veltrask-cli' <<<"$out" && ok "completion loads in bash" \
    || fail "completion does not load: $out"
expect_completion "--th" "--threads"
expect_completion "--dbl-mode " "suppress out"
expect_completion "--line-ending = u" "unix"
expect_completion "-o $STAGE/pick" "$STAGE/pick-me.txt"
expect_completion "-t " ""
expect_completion "--preset n" "nft"
expect_completion "--keep 1" "10m 1h 1d"
all=$(grep -F -- "--|" <<<"$out" | head -n1 | cut -d'|' -f2-)
for opt in $("$USR/bin/veltrask-cli" --help | sed -n -E 's/^[[:space:]]+(-[[:alnum:]], )?(--[[:alnum:]][[:alnum:]-]*).*/\2/p'); do
    [[ " $all " == *" $opt "* ]] || fail "'--' does not complete $opt"
done

# --- the systemd units ----------------------------------------------------------
# verify wants the programs the units run to exist: the staged one stands in
# for /usr/bin/veltrask-cli. Any complaint fails, not only an error status.
units=$STAGE/units
mkdir -p "$units"
unit_names=(veltrask-refresh@.service veltrask-refresh@.timer veltrask-load@.service)
for u in "${unit_names[@]}"; do
    if [[ ! -f "$USR/lib/systemd/system/$u" ]]; then
        fail "$u is not installed"
        continue
    fi
    sed "s|/usr/bin/veltrask-cli|$USR/bin/veltrask-cli|g" "$USR/lib/systemd/system/$u" > "$units/$u"
done
refresh=$USR/lib/systemd/system/veltrask-refresh@.service
load=$USR/lib/systemd/system/veltrask-load@.service
if ! command -v systemd-analyze > /dev/null; then
    fail "systemd-analyze is missing (scripts/bootstrap.sh installs it)"
else
    for u in "${unit_names[@]}"; do
        if out=$(cd "$units" && systemd-analyze verify --man=no "./${u/@./@check.}" 2>&1) && [[ -z "$out" ]]; then
            ok "systemd-analyze verify $u"
        else
            fail "systemd-analyze verify $u: $out"
        fi
    done
    # The lookups face the network with a parser of untrusted replies: the
    # refresh unit's sandbox must rate "OK" (2.0 or less).
    out=$(cd "$units" && systemd-analyze security --offline=yes ./veltrask-refresh@check.service 2>&1)
    level=$(sed -n -E 's/.*Overall exposure level for [^:]*: ([0-9.]+).*/\1/p' <<<"$out")
    if [[ -n "$level" ]] && awk -v l="$level" 'BEGIN { exit !(l <= 2.0) }'; then
        ok "systemd-analyze security rates veltrask-refresh@.service $level"
    else
        fail "systemd-analyze security rates veltrask-refresh@.service '${level:-?}', more than 2.0: $(tail -n 3 <<<"$out")"
    fi
fi
grep -q -x 'ExecStart=/usr/bin/veltrask-cli .*\$VELTRASK_OPTIONS.*' "$refresh" \
    || fail "veltrask-refresh@.service does not run /usr/bin/veltrask-cli with \$VELTRASK_OPTIONS"
# A failed round is a failure, told in the journal; loading alone may touch the firewall.
grep -q -E '^SuccessExitStatus=' "$refresh" && fail "veltrask-refresh@.service counts a failed round as success"
grep -q -E '^ExecStart=.* (-q|--quiet)( |$)' "$refresh" && fail "veltrask-refresh@.service keeps the journal quiet"
grep -q -E '^TimeoutStartSec=[0-9]' "$refresh" || fail "veltrask-refresh@.service has no bounded start time-out"
grep -q -x 'CapabilityBoundingSet=' "$refresh" && grep -q -x 'DynamicUser=yes' "$refresh" \
    || fail "veltrask-refresh@.service looks names up with privileges"
grep -q -x 'CapabilityBoundingSet=CAP_NET_ADMIN' "$load" || fail "veltrask-load@.service is not limited to CAP_NET_ADMIN"
for line in 'Before=network-pre.target shutdown.target' 'Wants=network-pre.target' \
        'After=local-fs.target nftables.service' 'PartOf=nftables.service'; do
    grep -q -x "$line" "$load" || fail "veltrask-load@.service lacks $line"
done
grep -q '^WantedBy=timers.target$' "$USR/lib/systemd/system/veltrask-refresh@.timer" \
    || fail "veltrask-refresh@.timer is not wanted by timers.target"
# The example's options are ones veltrask-cli takes, with the output the unit
# adds: a wrong last option stops the parse after them, before anything runs.
example=$USR/share/doc/veltrask/examples/blocklist.conf
opts=$(sed -n 's/^VELTRASK_OPTIONS=//p' "$example")
output=$(sed -n 's/^VELTRASK_OUTPUT=//p' "$example")
grep -q '^VELTRASK_APPLY=.' "$example" || fail "the example configuration sets no VELTRASK_APPLY"
if [[ -z "$opts" || -z "$output" ]]; then
    fail "the example configuration sets no VELTRASK_OPTIONS or no VELTRASK_OUTPUT"
else
    # shellcheck disable=SC2086
    out=$("$USR/bin/veltrask-cli" $opts --output "$output" --pause x 2>&1)
    [[ "$out" == "veltrask-cli: --pause must be 0 to 60000" ]] && ok "the example's options parse" \
        || fail "the example's options do not parse: $out"
fi

# --- the Debian package -------------------------------------------------------
if ! make --no-print-directory -s package BUILD="$BUILD" BUILD_TYPE="$BUILD_TYPE" > "$STAGE/package.log" 2>&1; then
    cat "$STAGE/package.log" >&2
    fail "make package failed"
else
    arch=$(dpkg --print-architecture)
    deb=$BUILD/veltrask_${VERSION}_${arch}.deb
    if [[ ! -f "$deb" ]]; then
        fail "make package did not write $deb"
    else
        ok "make package wrote $deb"
        info=$(dpkg-deb --info "$deb")
        ctl() { sed -n -E "s/^ $1: (.*)/\1/p" <<<"$info" | head -n1; }
        [[ "$(ctl Package)" == veltrask ]] || fail "package name is '$(ctl Package)'"
        [[ "$(ctl Version)" == "$VERSION" ]] || fail "package version is '$(ctl Version)', not $VERSION"
        [[ "$(ctl Architecture)" == "$arch" ]] || fail "package architecture is '$(ctl Architecture)'"
        [[ "$(ctl Section)" == net ]] || fail "package section is '$(ctl Section)'"
        [[ "$(ctl Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "maintainer field '$(ctl Maintainer)'"
        [[ -n "$(ctl Description)" ]] && grep -q '^  [^ ]' <<<"$info" \
            || fail "package has no description with an extended part"
        depends=$(ctl Depends)
        depnames=" $(sed -E 's/ \([^)]*\)//g; s/,//g' <<<"$depends") "
        for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libnettle8 qt6-qpa-plugins; do
            [[ "$depnames" == *" $lib "* ]] || fail "Depends lacks $lib: $depends"
        done
        ok "package fields: $(ctl Package) $(ctl Version) $(ctl Architecture), Depends: $depends"
        dpkg-deb --contents "$deb" > "$STAGE/contents.txt"
        awk '$1 !~ /^d/ { p = $6; sub(/^\.\/usr\//, "", p); print p }' "$STAGE/contents.txt" | LC_ALL=C sort \
            > "$STAGE/packaged.txt"
        if diff -u "$STAGE/expected.txt" "$STAGE/packaged.txt" > "$STAGE/deb.diff"; then
            ok "package files match data/installed-files.txt"
        else
            cat "$STAGE/deb.diff" >&2
            fail "package files differ from data/installed-files.txt"
        fi
        awk '$1 !~ /^d/ && $2 != "root/root" { print }' "$STAGE/contents.txt" | grep -q . \
            && fail "package files not owned by root"
        awk '$1 !~ /^d/ && $6 ~ /\/bin\// && $1 != "-rwxr-xr-x" { print }' "$STAGE/contents.txt" | grep -q . \
            && fail "programs in the package are not mode 755"
        awk '$1 !~ /^d/ && $6 !~ /\/bin\// && $1 != "-rw-r--r--" { print }' "$STAGE/contents.txt" | grep -q . \
            && fail "data files in the package are not mode 644"
        # Warnings fail too: the package was clean of them, and a new one is a
        # slip (an overlong description line) more often than a choice.
        lintian --fail-on error,warning --tag-display-limit 0 "$deb" > "$STAGE/lintian.txt" 2>&1
        rc=$?
        if [[ $rc -ne 0 ]] || grep -q -E '^[EW]: ' "$STAGE/lintian.txt"; then
            cat "$STAGE/lintian.txt" >&2
            fail "lintian reports errors or warnings (exit status $rc)"
        else
            ok "lintian: no errors, no warnings"
            grep -E '^I: ' "$STAGE/lintian.txt" | sed 's/^/check_install:   lintian /'
        fi
    fi
fi

if [[ $failures -gt 0 ]]; then
    echo "check_install: $failures check(s) failed" >&2
    exit 1
fi
echo "check_install: all checks passed"
