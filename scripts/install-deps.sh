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
        xvfb xauth xdotool x11-utils imagemagick
        clang libclang-rt-dev ccache
    )
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

line="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"

if [[ $(id -u) -ne 0 ]]; then
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "Install them as root with:" >&2
    echo "  sudo sh -c '$line'" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
