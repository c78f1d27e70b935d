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
  # The framework is no part of what the tests check, and its time in a test is small: built
  # unoptimised, it compiles in well under half the time a release build's optimiser takes.
  if(NOT MSVC)
    target_compile_options(gtest PRIVATE -O0)
    target_compile_options(gtest_main PRIVATE -O0)
  endif()
endif()
include(GoogleTest)
