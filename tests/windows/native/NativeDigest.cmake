# Writes the digest of the sampler digest program for this machine to DIGEST_FILE. PROGRAM names
# one a native build has made; where it names none that exists, the program is built in BUILD_DIR.
#   cmake -DBUILD_DIR=... -DDIGEST_FILE=... [-DPROGRAM=...] -P NativeDigest.cmake
set(steps configure build run)
if(PROGRAM AND EXISTS "${PROGRAM}")
  set(steps run)
else()
  set(PROGRAM ${BUILD_DIR}/sampler_digest)
endif()
foreach(step ${steps})
  if(step STREQUAL "configure")
    set(command ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${BUILD_DIR}
                -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  elseif(step STREQUAL "build")
    set(command ${CMAKE_COMMAND} --build ${BUILD_DIR} --target sampler_digest)
  else()
    set(command ${PROGRAM})
  endif()
  execute_process(COMMAND ${command} RESULT_VARIABLE failed OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(failed)
    message(FATAL_ERROR "native digest: ${step} failed:\n${output}")
  endif()
endforeach()
file(WRITE ${DIGEST_FILE} "${output}")
message(STATUS "native build (${PROGRAM}): ${output}")
