// Object interfaces of the COM library that this platform offers.
#pragma once

#include <unknwn.h>
