# voxlum_add_plugin_module(<target> ENTRY_POINTS <source> [SOURCES <source>...]
#                          [LIBRARIES <library>...])
#
# A loadable plug-in module as the host expects one: the platform's plug-in suffix, no "lib"
# prefix, and exactly the two entry points and MApiVersion exported. ENTRY_POINTS is the one
# source that defines initializePlugin and uninitializePlugin (and includes MFnPlugin.h).
# The libraries linked into the module say their own visibility (hidden, in their folders), so
# that two plug-ins in one host process never bind to each other's same-named internals.

# The names the host looks the entry points up by, and their C++ names as g++ mangles them
# against the stand-in, whose MObject is in no namespace. A real devkit may put MObject in a
# versioned namespace, so on Linux the exports are matched by pattern, not by these names.
set(VOXLUM_PLUGIN_ENTRY_POINTS initializePlugin uninitializePlugin)
set(VOXLUM_PLUGIN_ENTRY_POINT_SYMBOLS _Z16initializePlugin7MObject _Z18uninitializePlugin7MObject)

function(voxlum_add_plugin_module target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ENTRY_POINTS" "SOURCES;LIBRARIES")
  add_library(${target} MODULE ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES})
  set_target_properties(${target} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)

  if(WIN32)
    # The devkit's MFnPlugin.h defines the module's DllMain when NT_PLUGIN is set.
    set_target_properties(${target} PROPERTIES SUFFIX ".mll")
    target_compile_definitions(${target} PRIVATE NT_PLUGIN)
  elseif(APPLE)
    set_target_properties(${target} PROPERTIES SUFFIX ".bundle")
  endif()

  if(MSVC)
    # As the devkit's own projects link plug-ins: the linker finds each C++ entry point by its
    # plain name.
    target_sources(${target} PRIVATE ${arg_ENTRY_POINTS})
    foreach(name IN LISTS VOXLUM_PLUGIN_ENTRY_POINTS ITEMS MApiVersion)
      target_link_options(${target} PRIVATE "/export:${name}")
    endforeach()
  elseif(MINGW)
    _voxlum_mingw_exports(${target} "${arg_ENTRY_POINTS}" "${arg_LIBRARIES}")
  elseif(NOT APPLE)
    _voxlum_elf_exports(${target} "${arg_ENTRY_POINTS}")
  endif()
endfunction()

# GNU ld on Windows: the devkit header declares the entry points dllexport, so ld would export
# their mangled names beside the plain ones. Their object goes in without its export directives
# and the export table comes from a module-definition file alone.
function(_voxlum_mingw_exports target entry_points libraries)
  add_library(${target}_entry_points OBJECT ${entry_points})
  target_link_libraries(${target}_entry_points PRIVATE ${libraries})
  target_compile_definitions(${target}_entry_points PRIVATE NT_PLUGIN)
  set(stripped ${CMAKE_CURRENT_BINARY_DIR}/${target}-entry-points-without-exports.obj)
  add_custom_command(OUTPUT ${stripped}
    COMMAND ${CMAKE_OBJCOPY} --remove-section=.drectve $<TARGET_OBJECTS:${target}_entry_points>
            ${stripped}
    DEPENDS ${target}_entry_points $<TARGET_OBJECTS:${target}_entry_points>
    COMMENT "Dropping the export directives of ${target}'s entry points" VERBATIM)

  set(definitions "EXPORTS\n")
  foreach(name symbol IN ZIP_LISTS VOXLUM_PLUGIN_ENTRY_POINTS VOXLUM_PLUGIN_ENTRY_POINT_SYMBOLS)
    string(APPEND definitions "    ${name}=${symbol}\n")
  endforeach()
  string(APPEND definitions "    MApiVersion DATA\n")
  set(def_file ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
  file(CONFIGURE OUTPUT ${def_file} CONTENT "${definitions}")
  target_sources(${target} PRIVATE ${stripped} ${def_file})
endfunction()

# ELF: a version script keeps the entry points and MApiVersion and makes everything else local.
# Against the stand-in the link gives the entry points their plain names, and only those are
# kept. The real host looks them up under their C++ names, which a pattern keeps whatever
# namespace the devkit puts MObject in.
function(_voxlum_elf_exports target entry_points)
  target_sources(${target} PRIVATE ${entry_points})
  set(script "{\n  global:\n")
  foreach(name IN LISTS VOXLUM_PLUGIN_ENTRY_POINTS)
    if(MAYA_LOCATION)
      string(APPEND script "    *${name}*;\n")
    else()
      string(APPEND script "    ${name};\n")
    endif()
  endforeach()
  string(APPEND script "    MApiVersion;\n  local:\n    *;\n};\n")
  set(version_script ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.map)
  file(CONFIGURE OUTPUT ${version_script} CONTENT "${script}")
  target_link_options(${target} PRIVATE "LINKER:--version-script=${version_script}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${version_script})
  if(NOT MAYA_LOCATION)
    foreach(name symbol IN ZIP_LISTS VOXLUM_PLUGIN_ENTRY_POINTS VOXLUM_PLUGIN_ENTRY_POINT_SYMBOLS)
      target_link_options(${target} PRIVATE "LINKER:--defsym=${name}=${symbol}")
    endforeach()
  endif()
endfunction()
