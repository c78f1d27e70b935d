# Per-target build settings shared by every folder: warnings and sanitizers.

add_library(voxlum_options INTERFACE)
add_library(voxlum::options ALIAS voxlum_options)
if(MSVC)
  target_compile_options(voxlum_options INTERFACE /W4 $<$<BOOL:${VOXLUM_WERROR}>:/WX>)
else()
  target_compile_options(voxlum_options INTERFACE -Wall -Wextra -Wpedantic
                                                  $<$<BOOL:${VOXLUM_WERROR}>:-Werror>)
endif()

if(VOXLUM_SANITIZE)
  target_compile_options(voxlum_options INTERFACE -fsanitize=${VOXLUM_SANITIZE}
                                                  -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(voxlum_options INTERFACE -fsanitize=${VOXLUM_SANITIZE})
endif()
