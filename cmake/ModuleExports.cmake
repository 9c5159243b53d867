# module_exports(<target> <def file>) exports exactly the names of a module
# definition file: on Windows the .def itself, on POSIX a linker version
# script made from it, so that a module shows the same entry points on both
# targets and nothing else.
function(module_exports target def_file)
  get_filename_component(def_file ${def_file} ABSOLUTE)
  if(WIN32)
    target_sources(${target} PRIVATE ${def_file})
    return()
  endif()
  file(STRINGS ${def_file} def_lines REGEX "^[ \t]+[A-Za-z_]")
  set(exported)
  foreach(line ${def_lines})
    string(REGEX REPLACE "^[ \t]+([A-Za-z_][A-Za-z0-9_]*).*" "\\1;" name "${line}")
    string(APPEND exported "${name}")
  endforeach()
  set(version_script ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  file(WRITE ${version_script} "{\n  global: ${exported}\n  local: *;\n};\n")
  target_link_options(${target} PRIVATE -Wl,--version-script=${version_script})
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${version_script})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file})
endfunction()
