#!/usr/bin/env bash
# Builds the plug-in and the tests for 32- and 64-bit Windows with MinGW-w64, runs the 64-bit
# tests under Wine, and inspects the images of both builds: the 32-bit programs cannot run
# here (no 32-bit Wine), so that build is checked by its export table, imports and code.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
WIN32_DIR=${WIN32_DIR:-build/win32}
WIN64_DIR=${WIN64_DIR:-build/win64}

configure_and_build() {
    local folder=$1 toolchain=$2
    cmake -S . -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$toolchain.cmake" \
        -DVOXLUM_WERROR=ON -DVOXLUM_BUILD_TOOLS=OFF
    cmake --build "$folder" -j "$JOBS"
}

configure_and_build "$WIN32_DIR" mingw-i686
ctest --test-dir "$WIN32_DIR" --output-on-failure

configure_and_build "$WIN64_DIR" mingw-x86_64
# One Wine server serves the whole run. Left to itself it quits a few seconds after its last
# client, and a test that starts just then loses its connection ("recvmsg: Connection reset
# by peer"); a prefix created by two tests at once races the same way. So the prefix is set
# up first, the server is kept until the end, and it is stopped on the way out.
export WINEPREFIX="$PWD/$WIN64_DIR/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
WINESERVER=/usr/lib/wine/wineserver
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
mkdir -p "$WINEPREFIX"
"$WINESERVER" -p
/usr/lib/wine/wine64 wineboot --init
ctest --test-dir "$WIN64_DIR" -j "$JOBS" --timeout 300 --output-on-failure
