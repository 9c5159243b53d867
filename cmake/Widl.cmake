# widl turns the IDL contract into the C++ header, the interface identifiers
# and the binary type library, for either target. Imports come from Wine's
# IDL files and the standard OLE type library from Wine's stdole2.tlb.
find_program(WIDL_EXECUTABLE NAMES x86_64-w64-mingw32-widl widl REQUIRED)
find_path(WINE_IDL_DIR oaidl.idl
  PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(WINE_TLB_DIR stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)

# widl_generate(<idl> <output dir> <base name>) sets <base name>_HEADER,
# <base name>_IIDS and <base name>_TLB in the caller's scope.
function(widl_generate idl out_dir base)
  set(header ${out_dir}/${base}.h)
  set(iids ${out_dir}/${base}_i.c)
  set(tlb ${out_dir}/${base}.tlb)
  add_custom_command(
    OUTPUT ${header} ${iids} ${tlb}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND ${WIDL_EXECUTABLE} --win64 -I${WINE_IDL_DIR} -L${WINE_TLB_DIR}
            -h -H ${header} -u -U ${iids} -t -T ${tlb} ${idl}
    COMMAND ${CMAKE_COMMAND} -DHEADER=${header} -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/WidlHeaderFixup.cmake
    DEPENDS ${idl} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/WidlHeaderFixup.cmake
    COMMENT "widl ${base}.idl"
    VERBATIM)
  set(${base}_HEADER ${header} PARENT_SCOPE)
  set(${base}_IIDS ${iids} PARENT_SCOPE)
  set(${base}_TLB ${tlb} PARENT_SCOPE)
endfunction()
