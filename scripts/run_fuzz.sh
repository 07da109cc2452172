#!/usr/bin/env bash
# Runs one libFuzzer target over a scratch copy of its seed corpus.
#   scripts/run_fuzz.sh <fuzzer binary> <seconds>
# The seeds come from fuzz/corpus/<name without _fuzzer>/; the scratch corpus,
# the log and any crash inputs go beside the binary. Exits non-zero on a finding.
set -uo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: $0 <fuzzer binary> [seconds]" >&2
    exit 2
fi
BIN=$1
SECONDS_TO_RUN=${2:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
NAME=$(basename "$BIN")
TARGET=${NAME%_fuzzer}
OUT=$(cd "$(dirname "$BIN")" && pwd)
SEEDS=$ROOT/fuzz/corpus/$TARGET
WORK=$OUT/corpus-$TARGET
ARTIFACTS=$OUT/artifacts-$TARGET
LOG=$OUT/$NAME.log

if [[ ! -x $BIN ]]; then
    echo "run_fuzz: $BIN is not an executable" >&2
    exit 2
fi
mkdir -p "$WORK" "$ARTIFACTS"
if [[ -d $SEEDS ]]; then
    cp -n "$SEEDS"/* "$WORK"/ 2>/dev/null || true
fi

echo "run_fuzz: $NAME for ${SECONDS_TO_RUN}s over $WORK"
"$BIN" -max_total_time="$SECONDS_TO_RUN" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$ARTIFACTS/" "$WORK" >"$LOG" 2>&1
RC=$?
tail -n 20 "$LOG"

EXECS=$(awk '/stat::number_of_executed_units/ {print $2}' "$LOG" | tail -n 1)
echo "run_fuzz: executions: ${EXECS:-unknown}"
echo "run_fuzz: corpus entries: $(find "$WORK" -type f | wc -l)"

FINDINGS=$(find "$ARTIFACTS" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
if [[ $RC -ne 0 || $FINDINGS -gt 0 ]]; then
    echo "run_fuzz: FINDING (exit code $RC, $FINDINGS input(s) in $ARTIFACTS)" >&2
    exit 1
fi
echo "run_fuzz: no findings"
