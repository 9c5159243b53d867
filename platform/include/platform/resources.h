// How a module built for the platform layer hands its compiled resources
// (the .res image that windres makes from the module's .rc file) to the
// platform: a generated source in the module registers the image when the
// module is loaded, keyed by the module that contains `anchor`.
#pragma once
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void PlatformRegisterResources(const void *anchor, const unsigned char *image, size_t size);
void PlatformUnregisterResources(const void *anchor);

#ifdef __cplusplus
}
#endif
