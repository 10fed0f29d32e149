#!/usr/bin/env bash
# Builds the tests under a sanitizer and runs them headlessly; any report fails
# the run.
#
#   scripts/sanitizers.sh asan   AddressSanitizer, UndefinedBehaviorSanitizer and
#                                LeakSanitizer over the whole suite (build/asan)
#   scripts/sanitizers.sh tsan   ThreadSanitizer over the upload, MIDI, panel,
#                                application and fault tests (build/tsan)
#
# The presets of the same names in CMakePresets.json hold the flags, the
# sanitizers' options and the test selection (with the reason for each test
# left out); tests/sanitizers/ holds the suppressions.
set -euo pipefail

usage()
{
    echo "usage: $0 asan|tsan" >&2
    exit 2
}

[[ $# -eq 1 ]] || usage

case "$1" in
    asan|tsan) preset="$1" ;;
    *) usage ;;
esac

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install-deps.sh --test

# The project uses ccache by itself where the machine has one.
cmake --preset "$preset"
cmake --build --preset "$preset"

source scripts/desktop-session.sh
xvfb_run ctest --preset "$preset"
