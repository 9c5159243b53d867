// The RPC base names that MIDL- and widl-generated files rely on.
#pragma once

#include <windef.h>
#include <winerror.h>
#include <guiddef.h>

#define __RPC_FAR
#define __RPC_API
#define __RPC_USER
#define __RPC_STUB
#define __RPC_CALLEE
#define RPC_ENTRY
#define RPC_VAR_ENTRY

typedef LONG RPC_STATUS;
typedef void *I_RPC_HANDLE;
typedef I_RPC_HANDLE RPC_BINDING_HANDLE;
typedef RPC_BINDING_HANDLE handle_t;
#define RPC_S_OK 0
