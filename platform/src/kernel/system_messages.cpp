// The system message table: the English text of every system error code and
// result code the platform knows, with the trailing line break Windows stores.
// Texts are the ones Wine's FormatMessage returns, so that both targets answer
// alike; where Wine has no text for a code that Windows has, the text is
// Microsoft's documented message text and the entry says so.
//
// Windows Sockets codes (10000-11999) are deliberately absent: callers fall
// back to their own names for them.
//
// A result code of facility Win32 (0x8007xxxx) is looked up by its low word,
// so it needs no entry of its own. Keep the table sorted by code.
#include "kernel/system_messages.h"

#include <algorithm>
#include <iterator>

namespace platform::kernel {
namespace {

struct SystemMessage {
  DWORD code;
  const WCHAR *text;
};

constexpr SystemMessage system_messages[] = {
    {0x00000000u, u"Success.\r\n"},                                      // ERROR_SUCCESS
    {0x00000001u, u"Invalid function.\r\n"},                             // ERROR_INVALID_FUNCTION
    {0x00000002u, u"File not found.\r\n"},                               // ERROR_FILE_NOT_FOUND
    {0x00000003u, u"Path not found.\r\n"},                               // ERROR_PATH_NOT_FOUND
    {0x00000004u, u"Too many open files.\r\n"},                          // ERROR_TOO_MANY_OPEN_FILES
    {0x00000005u, u"Access denied.\r\n"},                                // ERROR_ACCESS_DENIED
    {0x00000006u, u"Invalid handle.\r\n"},                               // ERROR_INVALID_HANDLE
    {0x00000007u, u"Memory trashed.\r\n"},                               // ERROR_ARENA_TRASHED
    {0x00000008u, u"Not enough memory.\r\n"},                            // ERROR_NOT_ENOUGH_MEMORY
    {0x0000000Bu, u"Bad format.\r\n"},                                   // ERROR_BAD_FORMAT
    {0x0000000Cu, u"Invalid access.\r\n"},                               // ERROR_INVALID_ACCESS
    {0x0000000Du, u"Invalid data.\r\n"},                                 // ERROR_INVALID_DATA
    {0x0000000Eu, u"Out of memory.\r\n"},                                // ERROR_OUTOFMEMORY
    {0x0000000Fu, u"Invalid drive.\r\n"},                                // ERROR_INVALID_DRIVE
    {0x00000012u, u"No more files.\r\n"},                                // ERROR_NO_MORE_FILES
    {0x00000013u, u"Write protected.\r\n"},                              // ERROR_WRITE_PROTECT
    {0x00000015u, u"Not ready.\r\n"},                                    // ERROR_NOT_READY
    {0x0000001Fu, u"General failure.\r\n"},                              // ERROR_GEN_FAILURE
    {0x00000020u, u"Sharing violation.\r\n"},                            // ERROR_SHARING_VIOLATION
    {0x00000021u, u"Lock violation.\r\n"},                               // ERROR_LOCK_VIOLATION
    {0x00000026u, u"End of file.\r\n"},                                  // ERROR_HANDLE_EOF
    {0x00000027u, u"Disk full.\r\n"},                                    // ERROR_HANDLE_DISK_FULL
    {0x00000032u, u"Request not supported.\r\n"},                        // ERROR_NOT_SUPPORTED
    {0x00000050u, u"File exists.\r\n"},                                  // ERROR_FILE_EXISTS
    {0x00000052u, u"Cannot create.\r\n"},                                // ERROR_CANNOT_MAKE
    {0x00000057u, u"Invalid parameter.\r\n"},                            // ERROR_INVALID_PARAMETER
    {0x0000006Eu, u"Open failed.\r\n"},                                  // ERROR_OPEN_FAILED
    {0x00000070u, u"Disk full.\r\n"},                                    // ERROR_DISK_FULL
    {0x00000078u, u"Call not implemented.\r\n"},                         // ERROR_CALL_NOT_IMPLEMENTED
    {0x0000007Au, u"Insufficient buffer.\r\n"},                          // ERROR_INSUFFICIENT_BUFFER
    {0x0000007Bu, u"Invalid name.\r\n"},                                 // ERROR_INVALID_NAME
    {0x0000007Eu, u"Module not found.\r\n"},                             // ERROR_MOD_NOT_FOUND
    {0x0000007Fu, u"Procedure not found.\r\n"},                          // ERROR_PROC_NOT_FOUND
    {0x00000091u, u"Directory is not empty.\r\n"},                       // ERROR_DIR_NOT_EMPTY
    {0x000000A1u, u"Path is invalid.\r\n"},                              // ERROR_BAD_PATHNAME
    {0x000000B7u, u"File already exists.\r\n"},                          // ERROR_ALREADY_EXISTS
    {0x000000CEu, u"File name is too long.\r\n"},                        // ERROR_FILENAME_EXCED_RANGE
    {0x000000EAu, u"More data available.\r\n"},                          // ERROR_MORE_DATA
    {0x00000103u, u"No more data available.\r\n"},                       // ERROR_NO_MORE_ITEMS
    {0x0000010Bu, u"Directory name invalid.\r\n"},                       // ERROR_DIRECTORY
    {0x0000013Du, u"Message 0x%1 not found in file %2.\r\n"},            // ERROR_MR_MID_NOT_FOUND
    {0x000001E7u, u"Invalid address.\r\n"},                              // ERROR_INVALID_ADDRESS
    {0x000003E3u, u"I/O operation aborted.\r\n"},                        // ERROR_OPERATION_ABORTED
    {0x000003E5u, u"Overlapped I/O pending.\r\n"},                       // ERROR_IO_PENDING
    {0x000003E6u, u"No access to memory location.\r\n"},                 // ERROR_NOACCESS
    {0x000003ECu, u"Invalid flags.\r\n"},                                // ERROR_INVALID_FLAGS
    {0x000003F1u, u"Registry corrupt.\r\n"},                             // ERROR_BADDB
    {0x000003F2u, u"Invalid key.\r\n"},                                  // ERROR_BADKEY
    {0x000003F3u, u"Can't open registry key.\r\n"},                      // ERROR_CANTOPEN
    {0x000003F4u, u"Can't read registry key.\r\n"},                      // ERROR_CANTREAD
    {0x000003F5u, u"Can't write registry key.\r\n"},                     // ERROR_CANTWRITE
    {0x000003F7u, u"Registry is corrupt.\r\n"},                          // ERROR_REGISTRY_CORRUPT
    {0x000003FAu, u"Key deleted.\r\n"},                                  // ERROR_KEY_DELETED
    {0x00000459u, u"No Unicode translation.\r\n"},                       // ERROR_NO_UNICODE_TRANSLATION
    {0x0000046Cu, u"Incorrect alignment.\r\n"},                          // ERROR_MAPPED_ALIGNMENT
    {0x00000490u, u"Element not found.\r\n"},                            // ERROR_NOT_FOUND
    {0x00000570u, u"File or directory corrupt.\r\n"},                    // ERROR_FILE_CORRUPT
    {0x00000714u, u"Resource data not found.\r\n"},                      // ERROR_RESOURCE_DATA_NOT_FOUND
    {0x00000715u, u"Resource type not found.\r\n"},                      // ERROR_RESOURCE_TYPE_NOT_FOUND
    {0x00000716u, u"Resource name not found.\r\n"},                      // ERROR_RESOURCE_NAME_NOT_FOUND
    {0x00000717u, u"Resource language not found.\r\n"},                  // ERROR_RESOURCE_LANG_NOT_FOUND
    {0x00003AFCu, u"The resource loader failed to find MUI file.\r\n"},  // ERROR_MUI_FILE_NOT_FOUND (Wine has no text)
    {0x8000000Au,
     u"The data necessary to complete this operation is not yet available.\r\n"},  // E_PENDING (Wine has no text)
    {0x80004001u, u"Not implemented.\r\n"},                                        // E_NOTIMPL
    {0x80004002u, u"No such interface supported\r\n"},                             // E_NOINTERFACE (Wine has no text)
    {0x80004003u, u"Invalid pointer\r\n"},                                         // E_POINTER (Wine has no text)
    {0x80004004u, u"Operation aborted\r\n"},                                       // E_ABORT (Wine has no text)
    {0x80004005u, u"Call failed.\r\n"},                                            // E_FAIL
    {0x8000FFFFu, u"Catastrophic failure\r\n"},                                    // E_UNEXPECTED (Wine has no text)
    {0x80010106u, u"Cannot change thread mode after it is set.\r\n"},  // RPC_E_CHANGED_MODE (Wine has no text)
    {0x8001010Eu,
     u"The application called an interface that was marshalled for a different thread.\r\n"},  // RPC_E_WRONG_THREAD
                                                                                               // (Wine has no text)
    {0x80020001u, u"Unknown interface.\r\n"},                     // DISP_E_UNKNOWNINTERFACE (Wine has no text)
    {0x80020003u, u"Member not found.\r\n"},                      // DISP_E_MEMBERNOTFOUND (Wine has no text)
    {0x80020004u, u"Parameter not found.\r\n"},                   // DISP_E_PARAMNOTFOUND (Wine has no text)
    {0x80020005u, u"Type mismatch.\r\n"},                         // DISP_E_TYPEMISMATCH (Wine has no text)
    {0x80020006u, u"Unknown name.\r\n"},                          // DISP_E_UNKNOWNNAME (Wine has no text)
    {0x80020007u, u"No named arguments.\r\n"},                    // DISP_E_NONAMEDARGS (Wine has no text)
    {0x80020008u, u"Bad variable type.\r\n"},                     // DISP_E_BADVARTYPE (Wine has no text)
    {0x80020009u, u"Exception occurred.\r\n"},                    // DISP_E_EXCEPTION (Wine has no text)
    {0x8002000Au, u"Out of present range.\r\n"},                  // DISP_E_OVERFLOW (Wine has no text)
    {0x8002000Bu, u"Invalid index.\r\n"},                         // DISP_E_BADINDEX (Wine has no text)
    {0x8002000Cu, u"Unknown language.\r\n"},                      // DISP_E_UNKNOWNLCID (Wine has no text)
    {0x8002000Du, u"Memory is locked.\r\n"},                      // DISP_E_ARRAYISLOCKED (Wine has no text)
    {0x8002000Eu, u"Invalid number of parameters.\r\n"},          // DISP_E_BADPARAMCOUNT (Wine has no text)
    {0x8002000Fu, u"Parameter not optional.\r\n"},                // DISP_E_PARAMNOTOPTIONAL (Wine has no text)
    {0x80020010u, u"Invalid callee.\r\n"},                        // DISP_E_BADCALLEE (Wine has no text)
    {0x80020011u, u"Does not support a collection.\r\n"},         // DISP_E_NOTACOLLECTION (Wine has no text)
    {0x80020012u, u"Division by zero.\r\n"},                      // DISP_E_DIVBYZERO (Wine has no text)
    {0x80020013u, u"Buffer too small\r\n"},                       // DISP_E_BUFFERTOOSMALL (Wine has no text)
    {0x80028016u, u"Buffer too small.\r\n"},                      // TYPE_E_BUFFERTOOSMALL (Wine has no text)
    {0x80028017u, u"Field name not defined in the record.\r\n"},  // TYPE_E_FIELDNOTFOUND (Wine has no text)
    {0x80028018u, u"Old format or invalid type library.\r\n"},    // TYPE_E_INVDATAREAD (Wine has no text)
    {0x80028019u, u"Old format or invalid type library.\r\n"},    // TYPE_E_UNSUPFORMAT (Wine has no text)
    {0x8002801Cu, u"Error accessing the OLE registry.\r\n"},      // TYPE_E_REGISTRYACCESS (Wine has no text)
    {0x8002801Du, u"Library not registered.\r\n"},                // TYPE_E_LIBNOTREGISTERED (Wine has no text)
    {0x80028027u, u"Bound to unknown type.\r\n"},                 // TYPE_E_UNDEFINEDTYPE (Wine has no text)
    {0x80028028u, u"Qualified name disallowed.\r\n"},             // TYPE_E_QUALIFIEDNAMEDISALLOWED (Wine has no text)
    {0x80028029u,
     u"Invalid forward reference, or reference to uncompiled type.\r\n"},  // TYPE_E_INVALIDSTATE (Wine has no text)
    {0x8002802Au, u"Type mismatch.\r\n"},                                  // TYPE_E_WRONGTYPEKIND (Wine has no text)
    {0x8002802Bu, u"Element not found.\r\n"},                              // TYPE_E_ELEMENTNOTFOUND (Wine has no text)
    {0x8002802Cu, u"Ambiguous name.\r\n"},                                 // TYPE_E_AMBIGUOUSNAME (Wine has no text)
    {0x8002802Du, u"Name already exists in the library.\r\n"},             // TYPE_E_NAMECONFLICT (Wine has no text)
    {0x8002802Eu, u"Unknown LCID.\r\n"},                                   // TYPE_E_UNKNOWNLCID (Wine has no text)
    {0x8002802Fu, u"Function not defined in specified DLL.\r\n"},  // TYPE_E_DLLFUNCTIONNOTFOUND (Wine has no text)
    {0x800288BDu, u"Wrong module kind for the operation.\r\n"},    // TYPE_E_BADMODULEKIND (Wine has no text)
    {0x800288C5u, u"Size may not exceed 64K.\r\n"},                // TYPE_E_SIZETOOBIG (Wine has no text)
    {0x800288C6u, u"Duplicate ID in inheritance hierarchy.\r\n"},  // TYPE_E_DUPLICATEID (Wine has no text)
    {0x800288CFu, u"Incorrect inheritance depth in standard OLE hmember.\r\n"},  // TYPE_E_INVALIDID (Wine has no text)
    {0x80028CA0u, u"Type mismatch.\r\n"},                    // TYPE_E_TYPEMISMATCH (Wine has no text)
    {0x80028CA1u, u"Invalid number of arguments.\r\n"},      // TYPE_E_OUTOFBOUNDS (Wine has no text)
    {0x80028CA2u, u"I/O Error.\r\n"},                        // TYPE_E_IOERROR (Wine has no text)
    {0x80028CA3u, u"Error creating unique tmp file.\r\n"},   // TYPE_E_CANTCREATETMPFILE (Wine has no text)
    {0x80029C4Au, u"Error loading type library/DLL.\r\n"},   // TYPE_E_CANTLOADLIBRARY (Wine has no text)
    {0x80029C83u, u"Inconsistent property functions.\r\n"},  // TYPE_E_INCONSISTENTPROPFUNCS (Wine has no text)
    {0x80029C84u, u"Circular dependency between types/modules.\r\n"},  // TYPE_E_CIRCULARTYPE (Wine has no text)
    {0x80030002u, u"%1 could not be found.\r\n"},                      // STG_E_FILENOTFOUND (Wine has no text)
    {0x80030003u, u"The path %1 could not be found.\r\n"},             // STG_E_PATHNOTFOUND (Wine has no text)
    {0x80030005u, u"Access Denied.\r\n"},                              // STG_E_ACCESSDENIED (Wine has no text)
    {0x80030008u, u"There is insufficient memory available to complete operation.\r\n"},  // STG_E_INSUFFICIENTMEMORY
                                                                                          // (Wine has no text)
    {0x800300FBu, u"The file %1 is not a valid compound file.\r\n"},  // STG_E_INVALIDHEADER (Wine has no text)
    {0x80040110u, u"Class does not support aggregation (or class object is remote)\r\n"},  // CLASS_E_NOAGGREGATION
                                                                                           // (Wine has no text)
    {0x80040111u, u"ClassFactory cannot supply requested class\r\n"},  // CLASS_E_CLASSNOTAVAILABLE (Wine has no text)
    {0x80040112u, u"Class is not licensed for use\r\n"},               // CLASS_E_NOTLICENSED (Wine has no text)
    {0x80040150u, u"Could not read key from registry\r\n"},            // REGDB_E_READREGDB (Wine has no text)
    {0x80040151u, u"Could not write key to registry\r\n"},             // REGDB_E_WRITEREGDB (Wine has no text)
    {0x80040152u, u"Could not find the key in the registry\r\n"},      // REGDB_E_KEYMISSING (Wine has no text)
    {0x80040153u, u"Invalid value for registry\r\n"},                  // REGDB_E_INVALIDVALUE (Wine has no text)
    {0x80040154u, u"Class not registered\r\n"},                        // REGDB_E_CLASSNOTREG (Wine has no text)
    {0x80040155u, u"Interface not registered\r\n"},                    // REGDB_E_IIDNOTREG (Wine has no text)
    {0x80040156u, u"Threading model entry is not valid\r\n"},          // REGDB_E_BADTHREADINGMODEL (Wine has no text)
    {0x800401E4u, u"Invalid syntax\r\n"},                              // MK_E_SYNTAX (Wine has no text)
    {0x800401F0u, u"CoInitialize has not been called.\r\n"},           // CO_E_NOTINITIALIZED (Wine has no text)
    {0x800401F1u, u"CoInitialize has already been called.\r\n"},       // CO_E_ALREADYINITIALIZED (Wine has no text)
    {0x800401F2u, u"Class of object cannot be determined\r\n"},        // CO_E_CANTDETERMINECLASS (Wine has no text)
    {0x800401F3u, u"Invalid class string\r\n"},                        // CO_E_CLASSSTRING (Wine has no text)
    {0x800401F4u, u"Invalid interface string\r\n"},                    // CO_E_IIDSTRING (Wine has no text)
    {0x800401F5u, u"Application not found\r\n"},                       // CO_E_APPNOTFOUND (Wine has no text)
    {0x800401F8u, u"DLL for class not found\r\n"},                     // CO_E_DLLNOTFOUND (Wine has no text)
    {0x800401F9u, u"Error in the DLL\r\n"},                            // CO_E_ERRORINDLL (Wine has no text)
    {0x800401FBu, u"Object is not registered\r\n"},                    // CO_E_OBJNOTREG (Wine has no text)
    {0x800401FCu, u"Object is already registered\r\n"},                // CO_E_OBJISREG (Wine has no text)
    {0x800401FDu, u"Object is not connected to server\r\n"},           // CO_E_OBJNOTCONNECTED (Wine has no text)
    {0x800401FFu, u"Object has been released\r\n"},                    // CO_E_RELEASED (Wine has no text)
};

static_assert(std::is_sorted(std::begin(system_messages), std::end(system_messages),
                             [](const SystemMessage &a, const SystemMessage &b) { return a.code < b.code; }),
              "the system message table must stay sorted by code");

}  // namespace

const WCHAR *FindSystemMessage(DWORD code) {
  auto found = std::lower_bound(std::begin(system_messages), std::end(system_messages), code,
                                [](const SystemMessage &entry, DWORD wanted) { return entry.code < wanted; });
  if (found == std::end(system_messages) || found->code != code) return nullptr;
  return found->text;
}

}  // namespace platform::kernel
