# The installed layout and the CMake package through which an outside
# project builds a host:
#
#   include/rvZedaZuvivurAzodav/        the contract header, PublishedTree.h
#   include/rvZedaZuvivurAzodav/sdk/    POSIX: the platform's SDK-named headers
#   lib/rvZedaZuvivurAzodav/            the static libraries; on POSIX also the
#                                       modules, the platform library and its tools
#   bin/                                the programs; on Windows also the modules
#   lib/cmake/rvZedaZuvivurAzodav/      the package
#
# On POSIX the platform's WinExec looks for regsvr32, lodctr and unlodctr
# beside the platform library, so those tools stay in its folder; a private
# folder also keeps the generic names (libplatform.so, reg, regsvr32) off the
# system's own. The modules and tools find the platform library through an
# $ORIGIN run path, the programs in bin/ through one relative to it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PACKAGE_NAME rvZedaZuvivurAzodav)
set(PACKAGE_LIBRARY_DIR ${CMAKE_INSTALL_LIBDIR}/${PACKAGE_NAME})
set(PACKAGE_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/${PACKAGE_NAME})
set(PACKAGE_SDK_INCLUDE_DIR ${PACKAGE_INCLUDE_DIR}/sdk)
set(PACKAGE_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${PACKAGE_NAME})
if(WIN32)
  set(PACKAGE_MODULE_DIR ${CMAKE_INSTALL_BINDIR})
else()
  set(PACKAGE_MODULE_DIR ${PACKAGE_LIBRARY_DIR})
endif()
file(RELATIVE_PATH programs_to_modules /${CMAKE_INSTALL_BINDIR} /${PACKAGE_MODULE_DIR})

# project_install(<kind> <target> [FILES <file>...])
#   MODULE   a module that the system loads by path (in-process server,
#            collector); FILES go beside it (its type library)
#   TOOL     a platform tool, beside the platform library
#   PROGRAM  a program for users, in bin/
#   LIBRARY  a library of the package, exported; FILES are its headers
# An import library of a module is not installed: nobody links a module.
function(project_install kind target)
  cmake_parse_arguments(ARG "" "" "FILES" ${ARGN})
  if(kind STREQUAL "LIBRARY")
    install(TARGETS ${target} EXPORT ${PACKAGE_NAME}Targets
      ARCHIVE DESTINATION ${PACKAGE_LIBRARY_DIR}
      LIBRARY DESTINATION ${PACKAGE_MODULE_DIR}
      RUNTIME DESTINATION ${PACKAGE_MODULE_DIR}
      INCLUDES DESTINATION ${PACKAGE_INCLUDE_DIR})
    if(ARG_FILES)
      install(FILES ${ARG_FILES} DESTINATION ${PACKAGE_INCLUDE_DIR})
    endif()
  elseif(kind STREQUAL "PROGRAM")
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${programs_to_modules}")
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  elseif(kind STREQUAL "MODULE" OR kind STREQUAL "TOOL")
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${target}
      RUNTIME DESTINATION ${PACKAGE_MODULE_DIR}
      LIBRARY DESTINATION ${PACKAGE_MODULE_DIR}
      ARCHIVE DESTINATION ${PACKAGE_LIBRARY_DIR} EXCLUDE_FROM_ALL)
    if(ARG_FILES)
      install(FILES ${ARG_FILES} DESTINATION ${PACKAGE_MODULE_DIR})
    endif()
  else()
    message(FATAL_ERROR "project_install: unknown kind ${kind}")
  endif()
endfunction()

# The package: the exported libraries under the rvZedaZuvivurAzodav::
# namespace, `host` bundling what a host links, and the places of the
# installed modules and tools, which a host registers or names in its
# definition file.
function(project_install_package)
  add_library(package_host INTERFACE)
  set_target_properties(package_host PROPERTIES EXPORT_NAME host)
  target_link_libraries(package_host INTERFACE contract publishing)
  if(WIN32)
    target_link_libraries(package_host INTERFACE ole32 oleaut32 uuid advapi32)
  else()
    target_link_libraries(package_host INTERFACE platform)
  endif()
  install(TARGETS package_host EXPORT ${PACKAGE_NAME}Targets)

  install(EXPORT ${PACKAGE_NAME}Targets NAMESPACE ${PACKAGE_NAME}:: DESTINATION ${PACKAGE_CONFIG_DIR})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PackageConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/${PACKAGE_NAME}Config.cmake
    INSTALL_DESTINATION ${PACKAGE_CONFIG_DIR}
    PATH_VARS PACKAGE_MODULE_DIR CMAKE_INSTALL_BINDIR)
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${PACKAGE_NAME}ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${PACKAGE_NAME}Config.cmake
                ${CMAKE_CURRENT_BINARY_DIR}/${PACKAGE_NAME}ConfigVersion.cmake
          DESTINATION ${PACKAGE_CONFIG_DIR})
endfunction()
