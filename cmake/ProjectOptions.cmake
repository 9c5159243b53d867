# Warnings and link options that every target of our own shares.
add_library(project_options INTERFACE)
target_compile_options(project_options INTERFACE -Wall -Wextra)

if(WIN32)
  # Everything that runs under Wine carries its C and C++ runtime inside, so
  # that a module or a test loads with no other DLL beside it.
  target_link_options(project_options INTERFACE -static -static-libgcc -static-libstdc++)
  target_compile_definitions(project_options INTERFACE UNICODE _UNICODE)
endif()
