# voxlum_host_api: what the node and the plug-in compile and link against. By default that is
# the stand-in host in host/; with MAYA_LOCATION set it is a real Maya devkit, so the very
# same sources build the plug-in the real host loads. Included before any target is made: a
# devkit build's conventions hold for every target.
add_library(voxlum_host_api INTERFACE)
add_library(voxlum::host_api ALIAS voxlum_host_api)
if(MAYA_LOCATION)
  find_path(MAYA_INCLUDE_DIR maya/MFnPlugin.h
            PATHS ${MAYA_LOCATION}/include ${MAYA_LOCATION}/devkit/include NO_DEFAULT_PATH REQUIRED)
  find_library(MAYA_OPENMAYA_LIBRARY OpenMaya PATHS ${MAYA_LOCATION}/lib NO_DEFAULT_PATH REQUIRED)
  find_library(MAYA_FOUNDATION_LIBRARY Foundation PATHS ${MAYA_LOCATION}/lib NO_DEFAULT_PATH REQUIRED)
  target_include_directories(voxlum_host_api SYSTEM INTERFACE ${MAYA_INCLUDE_DIR})
  target_link_libraries(voxlum_host_api INTERFACE ${MAYA_OPENMAYA_LIBRARY} ${MAYA_FOUNDATION_LIBRARY})
  target_compile_definitions(voxlum_host_api INTERFACE REQUIRE_IOSTREAM _BOOL
                             $<$<PLATFORM_ID:Windows>:NT_PLUGIN> $<$<PLATFORM_ID:Linux>:LINUX>
                             $<$<PLATFORM_ID:Darwin>:OSMac_>)
  # The host and its devkit use the DLL runtime (/MD); a plug-in on another runtime cannot
  # share its C++ objects.
  set(CMAKE_MSVC_RUNTIME_LIBRARY MultiThreadedDLL)
else()
  target_link_libraries(voxlum_host_api INTERFACE voxlum::host)
endif()
