# objdump_lines(<list> <objdump arguments>...): the lines objdump prints, as a CMake list.
# Brackets and semicolons become "_": in table titles and demangled names they would keep CMake
# from splitting the output into lines.
function(objdump_lines out)
  execute_process(COMMAND ${OBJDUMP} ${ARGN} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} ${ARGN} failed")
  endif()
  string(REGEX REPLACE "[][;]" "_" dump "${dump}")
  string(REPLACE "\n" ";" lines "${dump}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()
