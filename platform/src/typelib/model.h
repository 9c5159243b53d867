// The contents of a type library as the platform holds them once read: plain
// data, immutable after loading, shared by the library object and every type
// information object handed out for it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform::typelib {

using Text = std::basic_string<WCHAR>;

// A type as a tree: a pointer or safe array holds its element type, a C array
// its element type and bounds, a user-defined type its reference.
struct Type {
  VARTYPE vt = VT_EMPTY;
  HREFTYPE href = 0;
  std::shared_ptr<const Type> inner;
  std::vector<SAFEARRAYBOUND> bounds;
};

// A VARIANT that owns its contents.
class Value {
 public:
  Value() { VariantInit(&value_); }
  Value(const Value &other) {
    VariantInit(&value_);
    VariantCopy(&value_, &other.value_);
  }
  Value &operator=(const Value &other) {
    if (this != &other) VariantCopy(&value_, &other.value_);
    return *this;
  }
  ~Value() { VariantClear(&value_); }
  VARIANT *get() { return &value_; }
  const VARIANT *get() const { return &value_; }

 private:
  VARIANT value_;
};

struct Param {
  Text name;  // empty when the parameter has none
  USHORT flags = 0;
  Type type;
  bool hasDefault = false;
  Value defaultValue;
};

struct Func {
  MEMBERID memid = MEMBERID_NIL;
  FUNCKIND kind = FUNC_PUREVIRTUAL;
  INVOKEKIND invkind = INVOKE_FUNC;
  CALLCONV callconv = CC_STDCALL;
  SHORT oVft = 0;
  SHORT cParamsOpt = 0;
  WORD flags = 0;
  Type result;
  std::vector<Param> params;
  Text name;
  Text doc;
  DWORD helpContext = 0;
};

struct Var {
  MEMBERID memid = MEMBERID_NIL;
  VARKIND kind = VAR_PERINSTANCE;
  WORD flags = 0;
  Type type;
  Value value;  // VAR_CONST
  ULONG oInst = 0;
  Text name;
  Text doc;
  DWORD helpContext = 0;
};

struct ImplType {
  HREFTYPE href = 0;
  INT flags = 0;
};

struct TypeData {
  TYPEKIND kind = TKIND_ENUM;
  GUID guid = {};
  WORD flags = 0;
  WORD major = 0;
  WORD minor = 0;
  ULONG size = 0;
  WORD alignment = 0;
  WORD cbSizeVft = 0;
  Text name;
  Text doc;
  DWORD helpContext = 0;
  std::vector<Func> funcs;
  std::vector<Var> vars;
  std::vector<ImplType> impls;  // a coclass's classes; an interface's base
  Type alias;                   // TKIND_ALIAS

  // A dual interface has two views: the dispatch interface that automation
  // clients see and the function table that the object implements.
  bool dual() const { return (flags & TYPEFLAG_FDUAL) && (kind == TKIND_DISPATCH || kind == TKIND_INTERFACE); }
};

// A type of another library that this library refers to.
struct Import {
  GUID library = {};
  WORD major = 0;
  WORD minor = 0;
  LCID lcid = 0;
  Text file;
  bool byGuid = true;
  GUID type = {};  // when byGuid
  UINT index = 0;  // otherwise: the type's position in that library
};

struct LibraryData {
  GUID guid = {};
  LCID lcid = 0;
  SYSKIND syskind = SYS_WIN64;
  WORD major = 0;
  WORD minor = 0;
  WORD flags = 0;
  Text name;
  Text doc;
  Text helpFile;
  DWORD helpContext = 0;
  std::vector<TypeData> types;
  std::map<HREFTYPE, Import> imports;  // by reference, low two bits cleared
  HREFTYPE dispatchRef = 0;            // the reference to IDispatch
};

// References. A type of the same library is referred to by its position
// times the size of a type record, as in the file; an odd reference names an
// import. Two values are reserved: the other view of a dual interface, and
// IDispatch when a library carries no reference of its own to it.
inline constexpr HREFTYPE TypeRecordSize = 0x64;
inline constexpr HREFTYPE DualHalfRef = 0xFFFFFFFE;
inline constexpr HREFTYPE StandardDispatchRef = 0xFFFFFFFD;
inline constexpr HREFTYPE localRef(UINT index) { return HREFTYPE(index) * TypeRecordSize; }

// The identity of the standard OLE type library that holds IUnknown and
// IDispatch.
inline constexpr GUID StandardLibraryId = {0x00020430, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Reads a type library in the MSFT format. Every offset and count is checked
// against the bytes given: damaged data yields TYPE_E_INVDATAREAD, a format
// this reader does not know TYPE_E_UNSUPFORMAT.
HRESULT readMsft(const BYTE *data, size_t size, LibraryData &library);

// IUnknown and IDispatch as the standard OLE library describes them.
std::shared_ptr<const LibraryData> standardLibrary();
// Their positions in the standard library as it is shipped, for references
// that name a type by position.
bool standardIndex(UINT shippedIndex, UINT *index);

// Case-insensitive comparison of member names, as automation compares them.
bool sameName(const WCHAR *a, const Text &b);

}  // namespace platform::typelib
