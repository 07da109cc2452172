#!/usr/bin/env bash
# Soak run of the resolve job: 500 workers, 50,000 input lines (resolvable
# names, NXDOMAIN names, addresses, networks, DBL-listed names, blanks) against
# local dnsmasq and rbldnsd, with DBL and RBL on; first without a pause, then
# with the window's 200 ms pause, then a run broken half way. Checks that every
# line is accounted for and that no thread is left; prints time and RSS.
#
#   scripts/soak.sh                 # builds into build-soak (RelWithDebInfo)
#   BUILD=build scripts/soak.sh     # uses (and builds) another build folder
#   JOBS=2 scripts/soak.sh          # parallel compile jobs
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-build-soak}"
JOBS="${JOBS:-2}"
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac

for bin in dnsmasq rbldnsd; do
    if ! command -v "$bin" >/dev/null 2>&1 && [ ! -x "/usr/sbin/$bin" ]; then
        echo "soak: $bin is not installed" >&2
        exit 2
    fi
done

# 500 workers each open a socket per lookup; dnsmasq and rbldnsd need a few more.
if [ "$(ulimit -n)" != unlimited ] && [ "$(ulimit -n)" -lt 4096 ]; then
    ulimit -n 4096 2>/dev/null || echo "soak: could not raise the open-file limit ($(ulimit -n))" >&2
fi

if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRASK_BENCH=OFF
fi
cmake --build "$BUILD" -j "$JOBS" --target tests_resolve

start=$(date +%s)
/usr/bin/time -v "$BUILD/tests_resolve" --gtest_also_run_disabled_tests \
    --gtest_filter='SoakTest.DISABLED_FiveHundredWorkersFiftyThousandLines' 2> "$BUILD/soak-time.txt" \
    | tee "$BUILD/soak-output.txt"
status=${PIPESTATUS[0]}
echo "soak: wall time $(( $(date +%s) - start )) s"
grep -E "Maximum resident set size|Elapsed \(wall clock\)|Percent of CPU" "$BUILD/soak-time.txt" | sed 's/^\s*/soak: /'
exit "$status"
