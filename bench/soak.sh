#!/usr/bin/env bash
# Whole uploads of a program in a row, each as a person makes it (the person
# run: real clicks, screenshots, the capture checker), counted by how they end:
# completed (the whole image arrived, paced), crashed (the program died) or
# stalled (anything else: an upload that stopped, a window that stopped
# answering). Two busy loops share the cores meanwhile, as other programs do
# on a user's machine.
#
#   bench/soak.sh BUILD_DIR [COUNT]      default COUNT: 30
#
# BUILD_DIR as for scripts/run-as-user.sh (a Release build: scripts/run.sh
# makes build/release). Each run's screenshots and log stay in
# BUILD_DIR/soak/RUN/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR [COUNT]}" && pwd)"
count="${2:-30}"

source "$root/scripts/desktop-session.sh"

busy=()
for _ in 1 2; do
    ( while :; do :; done ) &
    busy+=($!)
done
trap 'kill "${busy[@]}" 2>/dev/null || true' EXIT

mkdir -p "$build/soak"
completed=0 crashed=0 stalled=0

for (( run = 1; run <= count; ++run )); do
    folder="$build/soak/$run"
    started=$(now_ms)

    if xvfb_run "$root/scripts/run-as-user.sh" "$build" "$folder" >"$folder.log" 2>&1; then
        completed=$(( completed + 1 )); outcome=completed
    elif grep -q "killed by signal\|ended during the upload" "$folder.log"; then
        crashed=$(( crashed + 1 )); outcome=crashed
    else
        stalled=$(( stalled + 1 )); outcome=stalled
    fi

    echo "run $run: $outcome in $(( ($(now_ms) - started) / 1000 )) s; $(grep -m1 "^gap between message starts" "$folder.log" || echo "no gaps measured")"
done

echo "$count runs: $completed completed, $crashed crashed, $stalled stalled"
(( completed == count ))
