# Shared part of the MinGW-w64 cross toolchains; the per-target files set VOXLUM_MINGW_TRIPLE
# and include this one.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix compilers: their thread model gives std::mutex and std::condition_variable.
set(CMAKE_C_COMPILER ${VOXLUM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOXLUM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VOXLUM_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VOXLUM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A plug-in (a module) links every compiler runtime in, winpthread too, so it needs nothing
# beyond the system's DLLs and the host's library. The host's side, its DLL and the programs,
# shares winpthread's DLL as a real host process shares its runtime: with a copy in each of
# them, threads ending at exit deadlock the process.
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Windows has no rpath: a program finds its DLLs in its own folder, so every program and DLL of
# the build goes to one.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Test programs are listed when CTest runs rather than after each link, so a build never needs
# to run what it builds.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
