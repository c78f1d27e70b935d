# 32-bit x86 Linux with the system compiler's multilib support (Debian: g++-multilib); the
# programs run on this machine, so the build is no cross build:
#   cmake -S . -B build-linux32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/linux-i686.cmake
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)

# A kernel without IA-32 emulation (or with it switched off) runs no 32-bit program; there the
# tests run under QEMU's user-mode emulator. The 32-bit C library's loader tells which. QEMU's
# own 32-bit processor has SSE2 and no AVX, so the tests take the kernels the 32-bit Windows
# module has; QEMU 7.2 also misreads AVX2 gathers indexed by xmm4 in 32-bit code.
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE runs_natively
                OUTPUT_QUIET ERROR_QUIET)
if(NOT runs_natively EQUAL 0)
  find_program(VOXLUM_QEMU_I386 qemu-i386 REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VOXLUM_QEMU_I386} -cpu qemu32)
endif()
