// A loadable module that is not an in-process server: it has no
// DllGetClassObject.
#include <windows.h>

EXTERN_C DWORD WINAPI NotAServer(void) { return 0; }
