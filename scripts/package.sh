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
# read-me, the introduction of the Windows program's third-party notices and
# the Debian package's copyright, changelog and manual page.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/build/packages"
release="$root/build/release"
windows="$root/build/windows"

started=$SECONDS

# The Debian packages whose code the .exe holds, each named with its copyright
# file's package: libpng and libjpeg-turbo are built for Windows from the
# source packages of libpng16-16 and libjpeg62-turbo.
noticePackages=(
    "JUCE:juce-modules-source"
    "libpng:libpng16-16"
    "libjpeg-turbo:libjpeg62-turbo"
    "zlib:libz-mingw-w64-dev"
    "MinGW-w64 runtime and winpthreads:mingw-w64-x86-64-dev"
    "libgcc and libstdc++:gcc-mingw-w64-base"
)

"$root/scripts/require-packages.sh" "Packaging the updater" nsis zip dpkg-dev "${noticePackages[@]#*:}"

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

# The introduction, then each package's copyright file as Debian ships it.
third_party_notices()
{
    local entry heading
    cat "$root/packaging/windows/THIRD-PARTY-NOTICES.txt"
    for entry in "${noticePackages[@]}"; do
        heading="${entry%%:*}: Debian's /usr/share/doc/${entry#*:}/copyright"
        printf '\n\n%s\n%s\n\n' "$heading" "${heading//?/=}"
        cat "/usr/share/doc/${entry#*:}/copyright"
    done
}

# Windows' own editors want CRLF line ends.
rm -rf "$stage"
mkdir -p "$stage/$name"
cp "$exe" "$stage/$name/"
sed 's/$/\r/' "$root/LICENSE" > "$stage/$name/LICENSE.txt"
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$root/packaging/windows/README.txt" > "$stage/$name/README.txt"
third_party_notices | sed 's/$/\r/' > "$stage/$name/THIRD-PARTY-NOTICES.txt"

makensis -V2 -NOCD \
    -DVERSION="$version" -DPROGRAM="$exe" -DICON="$icon" \
    -DLICENCE="$stage/$name/LICENSE.txt" -DNOTICES="$stage/$name/THIRD-PARTY-NOTICES.txt" \
    -DOUTFILE="$out/$name-setup.exe" \
    "$root/packaging/windows/installer.nsi"

(cd "$stage" && zip -q -X -r "$out/$name.zip" "$name")

#==============================================================================
(cd "$out" && sha256sum "$name-setup.exe" "$name.zip" "$deb" > SHA256SUMS)

echo
echo "Packages in $out (made in $(( SECONDS - started )) s):"
(cd "$out" && stat -c '%8s bytes  %n' "$name-setup.exe" "$name.zip" "$deb")
