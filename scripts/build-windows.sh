#!/usr/bin/env bash
# Cross-builds the Windows x64 program with Debian's MinGW-w64 and checks the
# resources of the .exe it produces.
#
#   scripts/build-windows.sh
#
# The program lands in build/windows/QuilletLooperSwUpdater_artefacts/Release/
# QuilletLooperSwUpdater.exe: one file, linked statically, no DLLs beside it.
#
# Everything it prepares is kept under build/windows and reused by the next run:
#   deps/     static libpng and libjpeg for Windows, built from Debian's source
#             packages (this distribution's JUCE uses the system's libraries,
#             and Debian ships zlib for MinGW but not these two)
#   host/     a host build of the firmware tool, which generates and checks the
#             image that the .exe embeds
# As root it installs missing Debian packages itself; otherwise it prints the
# apt-get line to run and stops.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/windows"
deps="$build/deps"
host="$build/host"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"

jobs=2
started=$SECONDS

#==============================================================================
# Packages: the host build's, then the cross toolchain's.
"$root/scripts/install-deps.sh"

"$root/scripts/require-packages.sh" "The Windows build" \
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev \
    dpkg-dev python3 python3-pefile imagemagick

launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$root"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

#==============================================================================
# libpng and libjpeg for Windows, from the source packages of the Debian
# release this machine runs, fetched through a private apt configuration so
# the system's sources stay as they are.
fetch_debian_sources()
{
    local apt="$deps/apt"
    local codename uri
    codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
    uri="$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' \
               | awk -v suite="$codename" '$2 == suite { print $1; exit }')"

    if [[ -z "$uri" ]]; then
        echo "The Windows build cannot run: no Debian archive for '$codename' is configured for apt." >&2
        exit 1
    fi

    rm -rf "$apt" "$deps/src"
    mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$deps/src"
    echo "deb-src $uri $codename main" > "$apt/sources.list"

    local options=(
        -o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache::Archives=$apt/archives"
        -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
    )
    [[ $(id -u) -eq 0 ]] && options+=(-o APT::Sandbox::User=root)

    echo "Fetching the libpng and libjpeg source packages from $uri"
    if ! { apt-get -qq "${options[@]}" update \
           && (cd "$deps/src" && apt-get -qq "${options[@]}" source --download-only libpng1.6 libjpeg-turbo); }; then
        echo "The Windows build cannot run: the libpng1.6 and libjpeg-turbo source packages could not be fetched from $uri." >&2
        exit 1
    fi
}

build_windows_library()
{
    local name="$1"
    shift
    local dsc
    dsc="$(ls "$deps/src/${name}"_*.dsc)"

    rm -rf "$deps/src/$name" "$deps/build-$name"
    dpkg-source --no-check -x "$dsc" "$deps/src/$name" >/dev/null

    if [[ "$name" == libjpeg-turbo ]]; then
        # JUCE reads libjpeg's types inside a namespace of its own, after
        # <windows.h>: jconfig.h must declare boolean there even when rpcndr.h
        # already has, and as the unsigned char that the library is built with.
        sed -i '/^#ifndef __RPCNDR_H__/,/^#endif/c typedef unsigned char boolean;' \
            "$deps/src/$name/win/jconfig.h.in"
        grep -q '^typedef unsigned char boolean;' "$deps/src/$name/win/jconfig.h.in"
    fi

    cmake -Wno-dev -S "$deps/src/$name" -B "$deps/build-$name" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$deps/prefix" "${launcher[@]}" "$@" >/dev/null
    cmake --build "$deps/build-$name" -j "$jobs" >/dev/null
    cmake --install "$deps/build-$name" >/dev/null

    if [[ "$name" == libjpeg-turbo ]]; then
        # JUCE's loader asks libjpeg for its internal declarations too.
        cp "$deps/src/$name/jpegint.h" "$deps/prefix/include/"
    fi
}

stamp="$deps/prefix/.complete"
if [[ ! -f "$stamp" ]]; then
    fetch_debian_sources
    rm -rf "$deps/prefix"

    build_windows_library libpng1.6 \
        -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
        -DZLIB_USE_STATIC_LIBS=ON
    build_windows_library libjpeg-turbo \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF

    ls "$deps/src"/*.dsc | xargs -n1 basename > "$stamp"
    echo "Built for Windows: $(tr '\n' ' ' < "$stamp")"
fi

#==============================================================================
# The firmware tool, built for this machine.
cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF \
    "${launcher[@]}" >/dev/null
cmake --build "$host" --target quillet-firmware-tool -j "$jobs"

#==============================================================================
# The Windows program.
cmake --preset windows -S "$root" "${launcher[@]}" >/dev/null
cmake --build "$build" --target QuilletLooperSwUpdater -j "$jobs"

exe="$build/QuilletLooperSwUpdater_artefacts/Release/QuilletLooperSwUpdater.exe"
# Debian's python3, which has python3-pefile.
/usr/bin/python3 "$root/tests/windows/check_pe_resources.py" "$exe"

echo "Windows program: $exe ($(stat -c %s "$exe") bytes), built in $((SECONDS - started)) s"
