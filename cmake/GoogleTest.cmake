# GoogleTest: native builds link Debian's prebuilt library (libstdc++'s ABI, which both g++ and
# clang++ use here; the sanitizers need no instrumented copy of it). Cross-compilers build it from
# Debian's source package, and so do 32-bit builds: the package's version file refuses its 64-bit
# library to them.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest CONFIG QUIET)
endif()
if(NOT TARGET GTest::gtest_main)
  set(VOXLUM_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${VOXLUM_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
include(GoogleTest)
