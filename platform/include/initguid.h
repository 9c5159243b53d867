// Makes every DEFINE_GUID that follows a definition instead of a declaration.
#ifndef INITGUID
#define INITGUID
#endif
#include <guiddef.h>
