# Turns a compiled resource image (.res) into a C++ source that hands the
# image to the platform layer when the module is loaded, keyed by the module
# it is linked into. Run as: cmake -DINPUT=<file.res> -DOUTPUT=<file.cpp> -P
include(${CMAKE_CURRENT_LIST_DIR}/ByteArray.cmake)
byte_array(${INPUT} bytes size)
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
