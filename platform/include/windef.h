#pragma once
#include <winnt.h>

#define MAX_PATH 260
#define far
#define near
#define FAR
#define NEAR
