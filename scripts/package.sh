#!/usr/bin/env bash
# Makes the packages that the pedal's owners download, in build/packages:
#
#   QuilletLooperSwUpdater-<version>-win64-setup.exe   the Windows installer (NSIS)
#   QuilletLooperSwUpdater-<version>-win64.zip         the portable Windows program
#   quillet-updater_<version>_amd64.deb                the Debian package (CPack)
#   SHA256SUMS                                         the checksums of the three
#
#   scripts/package.sh
#
# It builds what it packs first: the Linux Release program (build/release) and
# the Windows program (scripts/build-windows.sh, build/windows), each reusing
# what an earlier run left. packaging/ holds the installer's script, the zip's
# read-me and the Debian package's copyright, changelog and manual page.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/build/packages"
release="$root/build/release"
windows="$root/build/windows"

started=$SECONDS

"$root/scripts/require-packages.sh" "Packaging the updater" nsis zip dpkg-dev

#==============================================================================
# The Linux program and its Debian package.
"$root/scripts/install-deps.sh"
cmake --preset release -S "$root" >/dev/null
cmake --build "$release" -j 2

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$release/CMakeCache.txt")"
[[ -n "$version" ]] || { echo "no project version in $release/CMakeCache.txt" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"

(cd "$release" && cpack --config CPackConfig.cmake -B "$release/cpack" >/dev/null)
deb="quillet-updater_${version}_amd64.deb"
cp "$release/cpack/$deb" "$out/"

#==============================================================================
# The Windows program, its installer and the portable zip.
"$root/scripts/build-windows.sh"

exe="$windows/QuilletLooperSwUpdater_artefacts/Release/QuilletLooperSwUpdater.exe"
icon="$windows/windows-resources/QuilletLooperSwUpdater.ico"
stage="$windows/package"
name="QuilletLooperSwUpdater-${version}-win64"

# Windows' own editors want CRLF line ends.
rm -rf "$stage"
mkdir -p "$stage/$name"
cp "$exe" "$stage/$name/"
sed 's/$/\r/' "$root/LICENSE" > "$stage/$name/LICENSE.txt"
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$root/packaging/windows/README.txt" > "$stage/$name/README.txt"

makensis -V2 -NOCD \
    -DVERSION="$version" -DPROGRAM="$exe" -DICON="$icon" \
    -DLICENCE="$stage/$name/LICENSE.txt" -DOUTFILE="$out/$name-setup.exe" \
    "$root/packaging/windows/installer.nsi"

(cd "$stage" && zip -q -X -r "$out/$name.zip" "$name")

#==============================================================================
(cd "$out" && sha256sum "$name-setup.exe" "$name.zip" "$deb" > SHA256SUMS)

echo
echo "Packages in $out (made in $(( SECONDS - started )) s):"
(cd "$out" && stat -c '%8s bytes  %n' "$name-setup.exe" "$name.zip" "$deb")
