# Turns a compiled resource image (.res) into a C++ source that hands the
# image to the platform layer when the module is loaded, keyed by the module
# it is linked into. Run as: cmake -DINPUT=<file.res> -DOUTPUT=<file.cpp> -P
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n  " bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT}; do not edit.
#include <platform/resources.h>

namespace {
const unsigned char resource_image[${size}] = {
  ${bytes}
};

struct ResourceImageRegistration {
  ResourceImageRegistration() { PlatformRegisterResources(resource_image, resource_image, sizeof resource_image); }
  ~ResourceImageRegistration() { PlatformUnregisterResources(resource_image); }
} registration;
}
")
