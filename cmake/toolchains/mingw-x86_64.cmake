# 64-bit Windows with Debian's MinGW-w64 cross-compiler; the tests run under Wine:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VOXLUM_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Wine's 64-bit loader, in a prefix of the build's own so every build starts from a fresh
# Windows installation. Mono and Gecko are left out: no test needs them and their installers
# would ask questions.
find_program(VOXLUM_WINE NAMES wine64 wine PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    ${VOXLUM_WINE})
