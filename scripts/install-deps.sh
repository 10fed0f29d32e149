#!/usr/bin/env bash
# Installs the Debian 12 packages the updater needs to build, run and test.
# As root it runs apt-get itself; otherwise it prints the exact line to run.
#
#   scripts/install-deps.sh          what building and running need
#   scripts/install-deps.sh --test   also what the tests need (Xvfb, xdotool, ...)
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    juce-modules-source libasound2-dev libfreetype-dev
    fonts-dejavu-core
)

if [[ "${1:-}" == "--test" ]]; then
    packages+=(
        googletest libgtest-dev
        xvfb xauth xdotool x11-utils imagemagick tesseract-ocr tesseract-ocr-eng
        clang libclang-rt-dev ccache gdb
    )
fi

purpose="Building and running the updater"
[[ "${1:-}" == "--test" ]] && purpose="Testing the updater"

exec "$(dirname "${BASH_SOURCE[0]}")/require-packages.sh" "$purpose" "${packages[@]}"
