# Builds the sampler digest program for this machine and writes its digest to DIGEST_FILE.
#   cmake -DBUILD_DIR=... -DDIGEST_FILE=... -P NativeDigest.cmake
foreach(step configure build run)
  if(step STREQUAL "configure")
    set(command ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${BUILD_DIR}
                -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  elseif(step STREQUAL "build")
    set(command ${CMAKE_COMMAND} --build ${BUILD_DIR} --target sampler_digest)
  else()
    set(command ${BUILD_DIR}/sampler_digest)
  endif()
  execute_process(COMMAND ${command} RESULT_VARIABLE failed OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(failed)
    message(FATAL_ERROR "native digest: ${step} failed:\n${output}")
  endif()
endforeach()
file(WRITE ${DIGEST_FILE} "${output}")
message(STATUS "native build: ${output}")
