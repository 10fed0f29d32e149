# Cross-building the Windows x64 program on Linux with Debian's MinGW-w64
# (g++-mingw-w64-x86-64-posix: the POSIX thread model, which std::thread needs).
#
# QUILLET_MINGW_PREFIX names the folder where scripts/build-windows.sh installs
# the static libpng and libjpeg built for Windows; it is searched like the
# toolchain's own sysroot.

set (CMAKE_SYSTEM_NAME Windows)
set (CMAKE_SYSTEM_PROCESSOR x86_64)

set (quillet_mingw_triple x86_64-w64-mingw32)

set (CMAKE_C_COMPILER   ${quillet_mingw_triple}-gcc-posix)
set (CMAKE_CXX_COMPILER ${quillet_mingw_triple}-g++-posix)
set (CMAKE_ASM_COMPILER ${quillet_mingw_triple}-gcc-posix)
set (CMAKE_RC_COMPILER  ${quillet_mingw_triple}-windres)

set (CMAKE_FIND_ROOT_PATH /usr/${quillet_mingw_triple})
if (QUILLET_MINGW_PREFIX)
    list (PREPEND CMAKE_FIND_ROOT_PATH "${QUILLET_MINGW_PREFIX}")
endif ()

# Programs run on the build machine; headers, libraries and packages come
# from the Windows side only.
set (CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set (CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set (CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set (CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C and C++ runtimes and winpthread are linked in,
# and zlib is taken as a static archive rather than through its import library.
# A release .exe carries no symbol table.
set (CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set (CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set (ZLIB_USE_STATIC_LIBS ON)

# JUCE's CMake package belongs to the build machine (module sources and the
# juceaide helper, which runs here), so it is found outside the Windows root.
if (NOT JUCE_DIR)
    file (GLOB quillet_juce_dirs LIST_DIRECTORIES true /usr/lib/*/cmake/JUCE-* /usr/lib/cmake/JUCE-*)
    if (quillet_juce_dirs)
        list (GET quillet_juce_dirs 0 quillet_juce_dir)
        set (JUCE_DIR "${quillet_juce_dir}" CACHE PATH "JUCE's CMake package on the build machine")
    endif ()
endif ()
