#!/usr/bin/env bash
# Builds the upload's framing fuzzer (libFuzzer under clang, with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs it for a bounded time. Any finding
# (a crash, a sanitizer report, a wrong upload, an input that hangs) fails the
# run, and the input that caused it is kept under build/fuzz/findings/.
#
#   scripts/fuzz.sh [SECONDS]   default 60
#
# It fuzzes a working corpus in build/fuzz/corpus, seeded from tests/fuzz/corpus
# and kept between runs, so each run goes on from what the last one found.
set -euo pipefail

seconds="${1:-60}"
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS]" >&2; exit 2; }

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install-deps.sh --test

# The project uses ccache by itself where the machine has one.
cmake --preset fuzz
cmake --build --preset fuzz

corpus=build/fuzz/corpus
findings=build/fuzz/findings
log=build/fuzz/fuzz.log
mkdir -p "$corpus" "$findings"
cp tests/fuzz/corpus/* "$corpus"/

# -timeout: an input still running after 10 s is a hang. -max_len: room for a
# few whole 4,009-byte data blocks.
status=0
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
build/fuzz/tests/fuzz/upload_framing_fuzzer \
    -max_total_time="$seconds" -max_len=20000 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" > "$log" 2>&1 || status=$?

# A finding's report, or the closing coverage line and figures.
if [[ $status -ne 0 ]]; then
    tail -n 60 "$log"
else
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::' "$log"
fi

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
echo
echo "Fuzzing: ${executions:-?} executions (${seconds} s allowed); corpus $(ls "$corpus" | wc -l) inputs," \
     "$(du -sb "$corpus" | cut -f1) bytes; full log in $log"

if [[ $status -ne 0 ]]; then
    echo "Fuzzing FAILED (exit $status); the input is in $findings/" >&2
    exit "$status"
fi
