// OLE control interfaces; this platform offers the automation part only.
#pragma once

#include <oaidl.h>
