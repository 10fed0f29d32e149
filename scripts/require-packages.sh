#!/usr/bin/env bash
# Makes sure Debian packages are installed.
#
#   scripts/require-packages.sh "WHAT THEY ARE FOR" PACKAGE...
#
# As root it installs the missing ones with apt-get; otherwise it prints the
# exact apt-get line to run. Either way, when a package is still missing it
# says what cannot run and fails.
set -euo pipefail

purpose="$1"
shift

missing=()
for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

[[ ${#missing[@]} -eq 0 ]] && exit 0

line="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"

if [[ $(id -u) -ne 0 ]]; then
    echo "$purpose cannot run: these Debian packages are missing: ${missing[*]}" >&2
    echo "Install them as root with:" >&2
    echo "  sudo sh -c '$line'" >&2
    exit 1
fi

echo "Installing for $purpose: ${missing[*]}"
if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"; }; then
    echo "$purpose cannot run: installing ${missing[*]} failed." >&2
    exit 1
fi
