# widl writes optional text parameters as C++ default arguments (= L""). A wide
# literal is not an OLECHAR string on every target, and binding it to a
# non-const BSTR is ill-formed, so the defaults are dropped from the header;
# callers pass every argument, as automation callers do anyway.
# Run as: cmake -DHEADER=<file.h> -P
file(READ ${HEADER} text)
string(REPLACE " = L\"\"" "" text "${text}")
file(WRITE ${HEADER} "${text}")
