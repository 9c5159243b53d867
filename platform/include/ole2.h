// The OLE umbrella header: the COM library and OLE Automation.
#pragma once

#include <objbase.h>
#include <oleauto.h>

// OLE on top of the COM library: OleInitialize opens a single-threaded
// apartment; OleRun puts an object into its running state.
WINOLEAPI OleInitialize(LPVOID pvReserved);
WINOLEAPI_(void) OleUninitialize(void);
WINOLEAPI OleRun(LPUNKNOWN pUnknown);
