// The null GUID, as the SDK's cguid.h offers it.
#pragma once
#include <guiddef.h>
