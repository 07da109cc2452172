#!/usr/bin/env bash
# Runs every libFuzzer target one after the other (never two at once: the
# machine is shared) and prints one summary line per target.
#   scripts/faults/fuzz_all.sh [seconds per target] [targets...]
# Builds the targets in build-fuzz first. Exits non-zero when any target found something.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
SECS=${1:-600}
shift || true
TARGETS=("$@")
if [[ ${#TARGETS[@]} -eq 0 ]]; then
    TARGETS=(address_fuzzer stream_reader_fuzzer dns_reply_fuzzer settings_file_fuzzer ipv6_line_fuzzer domain_lines_fuzzer)
fi
cd "$ROOT" || exit 2
if [[ ! -f build-fuzz/build.ninja ]]; then
    cmake -S . -B build-fuzz -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang-14 \
        -DCMAKE_CXX_COMPILER=clang++-14 -DVELTRASK_FUZZ=ON -DVELTRASK_TESTS=OFF -DVELTRASK_BENCH=OFF || exit 2
fi
cmake --build build-fuzz -j 2 --target "${TARGETS[@]}" || exit 2
FAILED=0
SUMMARY=()
for T in "${TARGETS[@]}"; do
    START=$(date +%s)
    OUT=$(bash scripts/run_fuzz.sh "build-fuzz/$T" "$SECS" 2>&1)
    RC=$?
    echo "$OUT"
    EXECS=$(echo "$OUT" | sed -n 's/^run_fuzz: executions: //p' | tail -n 1)
    CORPUS=$(echo "$OUT" | sed -n 's/^run_fuzz: corpus entries: //p' | tail -n 1)
    RESULT=$([[ $RC -eq 0 ]] && echo "no findings" || echo "FINDING")
    SUMMARY+=("$T: $(( $(date +%s) - START ))s, ${EXECS:-?} executions, corpus ${CORPUS:-?}, $RESULT")
    [[ $RC -eq 0 ]] || FAILED=1
done
printf '%s\n' "== summary" "${SUMMARY[@]}"
exit $FAILED
