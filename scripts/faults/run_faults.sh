#!/usr/bin/env bash
# Runs every fault test (DNS, files, Break under load, settings at exit,
# command line) and the fuzz-input replays, and prints one line per test with
# its result and time.
#   scripts/faults/run_faults.sh [build dir]      (default: build)
# Mounting the small disks needs root; without it those tests skip and say so.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-build}
cd "$ROOT" || exit 2
if [[ ! -f $BUILD/build.ninja ]]; then
    cmake -S . -B "$BUILD" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 2
fi
cmake --build "$BUILD" -j 2 --target tests_resolve tests_cli tests_app tests_text veltrask-cli || exit 2
cd "$BUILD" || exit 2
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -R '\.(Fault[A-Za-z]*|[A-Za-z]*FuzzReplay)\.' 2>&1 |
    tee faults.log | grep -E '(Passed|Failed|Not Run|\*\*\*Skipped|Timeout|tests passed)'
# ctest's own exit status tells whether any failed.
exit "${PIPESTATUS[0]}"
