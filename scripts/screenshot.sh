#!/usr/bin/env bash
# Renders the main window after a finished run against a local dnsmasq into
# docs/screenshot.png. The window is built by the app tests' DISABLED_Screenshot
# case and drawn on a real X server (Xvfb), with a sample settings folder.
#
#   scripts/screenshot.sh [build-dir]        (default: build)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-${BUILD:-build}}
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac

for Tool in xvfb-run dnsmasq rbldnsd; do
    if ! command -v "$Tool" >/dev/null 2>&1 && [ ! -x "/usr/sbin/$Tool" ]; then
        echo "screenshot: $Tool is not installed" >&2
        exit 1
    fi
done

if [ ! -f "$BUILD/build.ninja" ] && [ ! -f "$BUILD/Makefile" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRASK_BENCH=OFF
fi
cmake --build "$BUILD" --target tests_app -j "${JOBS:-2}"

# The sample settings: template and domain blocklist on, new records on, a
# few lines already in the result list. The DNS servers are the test's own.
SAMPLE=$(mktemp -d)
trap 'rm -rf "$SAMPLE"' EXIT
crlf() { printf '%s\r\n' "$@"; }
crlf $'\xEF\xBB\xBF'"DNSList1=8.8.8.8" "DNSListN=1" \
     "DBLCheck=1" "DBLMode=Suppress blacklisted" "DBLServices1=dbl.vt-bl.test" "DBLServicesN=1" \
     "RBLCheck=1" "RBLMode=Suppress blacklisted" "RBLServices1=rbl1.vt-bl.test" "RBLServicesN=1" \
     "RBL6Services1=rbl1.vt-bl.test" "RBL6ServicesN=1" \
     "OutListNew=1" "OutFormat=1" "OutFormatText=-A OUTPUT -d %ip% -j REJECT" \
     "SrcType=0" "OutType=0" "OutFileFormat=UTF-8 without BOM" "OutFileEndings=Windows" \
     "Threads=4" "LogFile=0" "DetailedLog=1" > "$SAMPLE/qx.ini"
crlf www.vt.test clean.vt.test mail.vt.test listed.vt.test nosuch.vt.test 10.9.1.1 10.6.0.0/16 \
    > "$SAMPLE/srclist.txt"
crlf "-A OUTPUT -d 10.0.0.1 -j REJECT" "-A OUTPUT -d 10.0.0.2 -j REJECT" > "$SAMPLE/outlist.txt"

cd "$BUILD"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
    ./tests_app -settingsdir "$SAMPLE" --gtest_also_run_disabled_tests --gtest_filter='*Screenshot*'
echo "screenshot: $ROOT/docs/screenshot.png"
