// The NDR names that MIDL- and widl-generated headers use. Only the C++
// declarations are used on this platform; the C vtable branch is never taken.
#pragma once

#include <rpc.h>

#ifndef __RPCNDR_H_VERSION__
#define __RPCNDR_H_VERSION__ 475
#endif

typedef unsigned char byte;
typedef unsigned char boolean;
typedef unsigned char cs_byte;
typedef int64_t hyper;
typedef uint64_t MIDL_uhyper;
typedef ULONG error_status_t;

#define __MIDL_CONST const
#define __RPCNDR_H__

#ifndef DECLSPEC_UUID
#define DECLSPEC_UUID(x)
#endif
#ifndef MIDL_INTERFACE
#define MIDL_INTERFACE(x) struct DECLSPEC_UUID(x) DECLSPEC_NOVTABLE
#endif

#ifndef interface
#define interface struct
#endif

#ifndef BEGIN_INTERFACE
#define BEGIN_INTERFACE
#define END_INTERFACE
#endif

#ifdef CONST_VTABLE
#define CONST_VTBL const
#else
#define CONST_VTBL
#endif

#define midl_user_allocate MIDL_user_allocate
#define midl_user_free MIDL_user_free
