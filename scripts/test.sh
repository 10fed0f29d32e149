#!/usr/bin/env bash
# Installs what is missing, builds everything (warnings are errors) and runs
# every test headlessly under its own X server.
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
