#!/usr/bin/env bash
# Installs what is missing, builds everything (warnings are errors) and runs
# every test headlessly under its own X server, then again under the
# sanitizers (scripts/sanitizers.sh).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install-deps.sh --test

cmake --preset debug
cmake --build --preset debug

# Tests of windows and of the whole program need an X display: Xvfb gives one.
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset debug

xvfb-run -a -s "-screen 0 1280x1024x24" scripts/run-as-user.sh \
    "$root/build/debug" "$root/build/debug/person-run"

# The same tests again under the sanitizers, each in its own build.
scripts/sanitizers.sh asan
scripts/sanitizers.sh tsan

# The upload's framing under libFuzzer, for a bounded time.
scripts/fuzz.sh 60

# The Windows program: cross-built with MinGW-w64, its resources read back,
# then used under Wine over the stand-in MIDI service.
scripts/build-windows.sh
scripts/test-windows.sh
