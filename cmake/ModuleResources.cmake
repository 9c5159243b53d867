# The resources of a module, from its resource script: its type library,
# version, string table and registration scripts. On Windows the resource
# compiler builds the script into the target. On POSIX windres compiles the
# same script into a .res image, and EmbedResources.cmake turns the image
# into a source that hands it to the platform layer when the module loads.
#
#   module_resources(<target> <script.rc>
#                    [INCLUDES <folder>...]           where the script's includes are found
#                    [DEPENDS <file or target>...])   what the script includes or needs built first
function(module_resources target script)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "INCLUDES;DEPENDS")
  get_filename_component(script ${script} ABSOLUTE)
  get_filename_component(name ${script} NAME_WE)
  set(files)
  foreach(dependency IN LISTS arg_DEPENDS)
    if(TARGET ${dependency})
      add_dependencies(${target} ${dependency})
    else()
      list(APPEND files ${dependency})
    endif()
  endforeach()

  if(WIN32)
    set_source_files_properties(${script} PROPERTIES OBJECT_DEPENDS "${files}")
    target_sources(${target} PRIVATE ${script})
    target_include_directories(${target} PRIVATE ${arg_INCLUDES})
    return()
  endif()

  find_program(WINDRES_EXECUTABLE NAMES x86_64-w64-mingw32-windres windres REQUIRED)
  set(image ${CMAKE_CURRENT_BINARY_DIR}/${name}.res)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}_res.cpp)
  set(include_flags)
  foreach(folder IN LISTS arg_INCLUDES)
    list(APPEND include_flags -I ${folder})
  endforeach()
  add_custom_command(
    OUTPUT ${image}
    COMMAND ${WINDRES_EXECUTABLE} -O res ${include_flags} -i ${script} -o ${image}
    DEPENDS ${script} ${arg_DEPENDS}
    VERBATIM)
  add_custom_command(
    OUTPUT ${source}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${image} -DOUTPUT=${source} -P ${PROJECT_SOURCE_DIR}/cmake/EmbedResources.cmake
    DEPENDS ${image} ${PROJECT_SOURCE_DIR}/cmake/EmbedResources.cmake ${PROJECT_SOURCE_DIR}/cmake/ByteArray.cmake
    VERBATIM)
  target_sources(${target} PRIVATE ${source})
  target_link_libraries(${target} PRIVATE platform)
endfunction()
