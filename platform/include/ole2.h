// The OLE umbrella header: the COM library and OLE Automation.
#pragma once

#include <objbase.h>
#include <oleauto.h>
