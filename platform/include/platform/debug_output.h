// Where OutputDebugStringA/W text goes besides the environment switch
// WINPLATFORM_DEBUG_OUTPUT: one listener per process, for tests and hosts
// that show debug output.
#pragma once

#include <winnt.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives every text given to OutputDebugStringA/W, as UTF-16 and as given
// (a text normally ends in its own line feed). Called on the thread that
// wrote the text; output written from inside the listener does not reach it
// again.
typedef void (*PlatformDebugOutputListener)(void *context, LPCWSTR text);

// Attaches `listener` (NULL detaches it) and returns when no call of the
// previous listener is running any more, so that its context may be freed.
// A listener must not call this function itself.
void PlatformSetDebugOutputListener(PlatformDebugOutputListener listener, void *context);

#ifdef __cplusplus
}
#endif
