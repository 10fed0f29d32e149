#!/usr/bin/env bash
# Installs what is missing, builds everything (warnings are errors) and runs
# every test headlessly, stage by stage: the unit and component tests, a
# person's run of the program over the stand-in MIDI service and on the real
# Linux MIDI stack in an emulated machine, the same tests under the sanitizers,
# fuzzing, then the packages: built, checked, installed, used and removed again,
# on Debian and on Windows under Wine.
#
#   scripts/test.sh            every stage
#   scripts/test.sh --quick    only what a change needs first: the
#                              dependencies, the debug build and the unit tests
#
# A stage that fails does not stop the run; only the stages that need its
# result are skipped. At the end, whatever happened, a table names each stage
# with its result and time, and the run exits non-zero if any stage failed.
set -euo pipefail

quick=false

case "${1:-}" in
    "") ;;
    --quick) quick=true ;;
    *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

source scripts/desktop-session.sh

stageNames=()
stageResults=()
stageSeconds=()
current=""
currentStart=0
started=$SECONDS

record()
{
    stageNames+=("$1")
    stageResults+=("$2")
    stageSeconds+=("$3")
}

result_of()
{
    local i
    for i in "${!stageNames[@]}"; do
        [[ "${stageNames[$i]}" == "$1" ]] && { echo "${stageResults[$i]}"; return; }
    done
    echo "not run"
}

# stage NAME NEEDS COMMAND...: runs the command as the stage NAME, or skips it
# when the stage NEEDS ("-" for none) has not passed.
stage()
{
    local name="$1" needs="$2" status=0
    shift 2

    if [[ "$needs" != - && "$(result_of "$needs")" != passed ]]; then
        record "$name" "skipped" 0
        return
    fi

    echo
    echo "======== $name"
    current="$name"
    currentStart=$SECONDS
    "$@" || status=$?
    current=""

    if (( status == 0 )); then
        record "$name" passed $(( SECONDS - currentStart ))
    else
        record "$name" "FAILED ($status)" $(( SECONDS - currentStart ))
    fi
}

summary()
{
    local status=$? i passed=0 failed=0

    # A run that was interrupted, or that broke outside a stage, says so too.
    [[ -z "$current" ]] || record "$current" "INTERRUPTED" $(( SECONDS - currentStart ))

    echo
    printf '%-28s %-12s %8s\n' "stage" "result" "seconds"
    for i in "${!stageNames[@]}"; do
        printf '%-28s %-12s %8d\n' "${stageNames[$i]}" "${stageResults[$i]}" "${stageSeconds[$i]}"
        case "${stageResults[$i]}" in
            passed) passed=$(( passed + 1 )) ;;
            skipped) ;;
            *) failed=$(( failed + 1 )) ;;
        esac
    done
    printf '%-28s %-12s %8d\n' "whole run" "" $(( SECONDS - started ))
    echo "stages: $passed passed, $failed failed"

    (( failed == 0 && status == 0 )) || exit 1
}
trap summary EXIT

# Each stage is one command, or a function whose steps are joined with &&.
build_debug()  { cmake --preset debug && cmake --build --preset debug; }

# A whole upload; then the pedal unplugged after 1,000 messages, for good, and
# back 3 s later.
person_run()
{
    local shots=build/debug/person-run
    xvfb_run scripts/run-as-user.sh build/debug "$shots" \
        && xvfb_run scripts/run-as-user.sh --unplug 1000 build/debug "$shots/unplugged" \
        && xvfb_run scripts/run-as-user.sh --unplug 1000:3000 build/debug "$shots/replugged"
}

stage "dependencies"        -             scripts/install-deps.sh --test
stage "debug build"         dependencies  build_debug
# Tests of windows and of the whole program need an X display: Xvfb gives one.
stage "unit tests"          "debug build" xvfb_run ctest --preset debug
$quick && exit 0
stage "person run"          "debug build" person_run
# The program on the real kernel's USB MIDI driver and alsa-lib, in an emulated
# machine, with a USB gadget as the pedal.
stage "real kernel"         "debug build" scripts/test-real-kernel.sh
stage "asan"                dependencies  scripts/sanitizers.sh asan
stage "tsan"                dependencies  scripts/sanitizers.sh tsan
stage "fuzzing"             dependencies  scripts/fuzz.sh 60
# The Windows program: cross-built with MinGW-w64 and its resources read back.
stage "windows build"       dependencies  scripts/build-windows.sh
# The Windows program under Wine, on the same real kernel and USB pedal.
stage "real kernel, Wine"   "windows build" scripts/test-real-kernel.sh build/debug wine
stage "packages"            "windows build" scripts/package.sh
stage "debian package"      packages      scripts/test-deb.sh
stage "windows installer"   packages      scripts/test-windows.sh
