// Resource identifiers of the module, shared by the resource script and the code.
#pragma once

#define IDS_PROJNAME 100

#define IDR_PERFCOUNTER 101
#define IDR_PERFOBJECT 102
#define IDR_PERFCOUNTERS 103
#define IDR_PERFOBJECTS 104
#define IDR_PERFMGR 105
#define IDR_PERFINSTANCE 106
#define IDR_PERFINSTANCES 107

#define IDS_INVALID_OBJECT 601
#define IDS_DUPLICATE_ID 602
#define IDS_INDEX_OUT_OF_BOUNDS 603
#define IDS_INVALID_BLOB_TYPE 615

#define IDR_TYPELIB 1
