# byte_array(FILE BYTES SIZE): the bytes of FILE as the body of a C array
# ("0x3c,0x21, ..." in rows of 24) and their count, for the scripts that
# build files into programs.
function(byte_array file bytes_var size_var)
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n  " bytes "${bytes}")
  set(${bytes_var} "${bytes}" PARENT_SCOPE)
  set(${size_var} ${size} PARENT_SCOPE)
endfunction()
