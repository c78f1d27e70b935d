# Per-target build settings shared by every folder: warnings, sanitizers and, on 32-bit x86,
# SSE2 arithmetic.

add_library(voxlum_options INTERFACE)
add_library(voxlum::options ALIAS voxlum_options)
if(MSVC)
  target_compile_options(voxlum_options INTERFACE /W4 $<$<BOOL:${VOXLUM_WERROR}>:/WX>)
else()
  # Clang's -Wconversion also warns of every signed/unsigned mix, which GCC's leaves out and
  # which would drown the index arithmetic in casts.
  target_compile_options(voxlum_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                  $<$<CXX_COMPILER_ID:Clang>:-Wno-sign-conversion>
                                                  $<$<BOOL:${VOXLUM_WERROR}>:-Werror>)
endif()

if(VOXLUM_SANITIZE)
  target_compile_options(voxlum_options INTERFACE -fsanitize=${VOXLUM_SANITIZE}
                                                  -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(voxlum_options INTERFACE -fsanitize=${VOXLUM_SANITIZE})
endif()

# 32-bit x86: float and double arithmetic in SSE2 registers, as on x86-64. The x87 unit keeps
# intermediate results in extended precision, so samples would differ in their last bits from
# other builds'; VoxelVolume.h refuses to compile that way. Stated even where the compiler
# defaults to it (MSVC since 2012): this comes after CMAKE_CXX_FLAGS, so it wins over them.
if(MSVC)
  if(CMAKE_CXX_COMPILER_ARCHITECTURE_ID STREQUAL "X86")
    target_compile_options(voxlum_options INTERFACE /arch:SSE2)
  endif()
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4
       AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86)$")
  target_compile_options(voxlum_options INTERFACE -msse2 -mfpmath=sse)
endif()

# The 32-bit Windows build serves hosts that ran on Windows XP: declaring XP keeps newer
# functions out of reach, so a direct call of one does not compile; they are looked up at run
# time instead.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(voxlum_options INTERFACE _WIN32_WINNT=0x0501 WINVER=0x0501)
endif()
