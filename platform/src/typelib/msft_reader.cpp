// The MSFT type library format: a header, the offsets of the type records,
// a directory of fifteen segments (type records, imports, references, GUIDs,
// names, strings, type descriptions, array descriptions, values, ...) and the
// function and variable records of each type. The file comes from outside and
// is read as untrusted: every read is checked against its segment, every
// count against the bytes that could hold it, and chains of references are
// bounded, so a damaged file gives an error and never a fault.
#include "model.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "kernel/text_tables.h"

namespace platform::typelib {
namespace {

constexpr DWORD MsftMagic = 0x5446534D;  // "MSFT"
constexpr DWORD MsftVersion = 0x00010002;
constexpr size_t HeaderSize = 0x54;
constexpr DWORD HelpDllFlag = 0x100;
constexpr DWORD ImportByGuid = 0x00010000;
constexpr int MaxTypeDepth = 32;
constexpr size_t SegmentCount = 15;
constexpr size_t FuncFixedSize = 24;
constexpr size_t ParamSize = 12;
constexpr size_t VarFixedSize = 20;

enum SegmentId {
  TypeInfoSegment,
  ImportInfoSegment,
  ImportFileSegment,
  ReferenceSegment,
  GuidHashSegment,
  GuidSegment,
  NameHashSegment,
  NameSegment,
  StringSegment,
  TypeDescSegment,
  ArrayDescSegment,
  ValueSegment,
};

struct Damaged {
  HRESULT hr;
};

[[noreturn]] void damaged() { throw Damaged{TYPE_E_INVDATAREAD}; }

class Bytes {
 public:
  Bytes(const BYTE *data, size_t size) : data_(data), size_(size) {}

  void need(size_t offset, size_t count) const {
    if (offset > size_ || count > size_ - offset) damaged();
  }
  int32_t i32(size_t offset) const {
    need(offset, 4);
    int32_t v;
    std::memcpy(&v, data_ + offset, 4);
    return v;
  }
  int16_t i16(size_t offset) const {
    need(offset, 2);
    int16_t v;
    std::memcpy(&v, data_ + offset, 2);
    return v;
  }
  const BYTE *at(size_t offset, size_t count) const {
    need(offset, count);
    return data_ + offset;
  }
  size_t size() const { return size_; }

 private:
  const BYTE *data_;
  size_t size_;
};

// A segment: a window of the file; offsets are relative to its start.
class Segment {
 public:
  Segment() = default;
  Segment(const Bytes *bytes, size_t offset, size_t length) : bytes_(bytes), offset_(offset), length_(length) {}

  void need(size_t offset, size_t count) const {
    if (offset > length_ || count > length_ - offset) damaged();
  }
  int32_t i32(size_t offset) const {
    need(offset, 4);
    return bytes_->i32(offset_ + offset);
  }
  int16_t i16(size_t offset) const {
    need(offset, 2);
    return bytes_->i16(offset_ + offset);
  }
  const BYTE *at(size_t offset, size_t count) const {
    need(offset, count);
    return bytes_->at(offset_ + offset, count);
  }
  size_t length() const { return length_; }

 private:
  const Bytes *bytes_ = nullptr;
  size_t offset_ = 0;
  size_t length_ = 0;
};

Text widen(const BYTE *text, size_t length) {
  Text out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) out.push_back(platform::kernel::Cp1252ToWide(text[i]));
  return out;
}

class Reader {
 public:
  Reader(const BYTE *data, size_t size) : bytes_(data, size) {}

  void read(LibraryData &lib) {
    if (bytes_.size() < 8 || DWORD(bytes_.i32(0)) != MsftMagic || DWORD(bytes_.i32(4)) != MsftVersion)
      throw Damaged{TYPE_E_UNSUPFORMAT};
    bytes_.need(0, HeaderSize);
    const int32_t libGuid = bytes_.i32(0x08);
    // The header holds two locales: the first is the one the library was
    // built with (widl always writes 0x409 there), the second the library's
    // own lcid attribute, 0 for a neutral library. The second is what the
    // library reports and what its registration is keyed by, as in Wine.
    const int32_t lcid = bytes_.i32(0x10);
    const DWORD varflags = DWORD(bytes_.i32(0x14));
    const int32_t version = bytes_.i32(0x18);
    const int32_t flags = bytes_.i32(0x1C);
    const int32_t typeCount = bytes_.i32(0x20);
    const int32_t helpString = bytes_.i32(0x24);
    const int32_t helpContext = bytes_.i32(0x2C);
    const int32_t nameOffset = bytes_.i32(0x38);
    const int32_t helpFile = bytes_.i32(0x3C);
    const int32_t dispatchRef = bytes_.i32(0x4C);

    size_t offset = HeaderSize + ((varflags & HelpDllFlag) ? 4 : 0);
    if (typeCount < 0) damaged();
    bytes_.need(offset, size_t(typeCount) * 4);
    std::vector<size_t> typeOffsets;
    typeOffsets.reserve(size_t(typeCount));
    for (int32_t i = 0; i < typeCount; ++i) {
      int32_t at = bytes_.i32(offset);
      if (at < 0) damaged();
      typeOffsets.push_back(size_t(at));
      offset += 4;
    }
    for (size_t s = 0; s < SegmentCount; ++s) {
      int32_t start = bytes_.i32(offset);
      int32_t length = bytes_.i32(offset + 4);
      offset += 16;
      if (s >= ValueSegment + 1) continue;
      if (start < 0 || length <= 0) {
        segments_[s] = Segment(&bytes_, 0, 0);
        continue;
      }
      bytes_.need(size_t(start), size_t(length));
      segments_[s] = Segment(&bytes_, size_t(start), size_t(length));
    }

    lib.guid = guid(libGuid);
    lib.lcid = LCID(lcid);
    lib.syskind = SYSKIND(varflags & 0xF);
    if (lib.syskind > SYS_WIN64) damaged();
    lib.major = WORD(version & 0xFFFF);
    lib.minor = WORD(DWORD(version) >> 16);
    lib.flags = WORD(flags & 0xFFFF);
    lib.name = name(nameOffset);
    lib.doc = string(helpString);
    lib.helpFile = string(helpFile);
    lib.helpContext = DWORD(helpContext);
    lib.dispatchRef = dispatchRef < 0 ? StandardDispatchRef : HREFTYPE(dispatchRef);

    readImports(lib);
    lib.types.resize(typeOffsets.size());
    for (size_t i = 0; i < typeOffsets.size(); ++i) readType(typeOffsets[i], lib.types[i]);
  }

 private:
  const Segment &segment(SegmentId id) const { return segments_[id]; }

  GUID guid(int32_t offset) const {
    if (offset < 0) return GUID{};
    GUID g;
    std::memcpy(&g, segment(GuidSegment).at(size_t(offset), sizeof(GUID)), sizeof(GUID));
    return g;
  }

  // A name: its reference and hash, then its length in the low byte of the
  // third word, then its 8-bit characters.
  Text name(int32_t offset) const {
    if (offset < 0) return Text();
    const Segment &names = segment(NameSegment);
    size_t length = size_t(names.i32(size_t(offset) + 8)) & 0xFF;
    return widen(names.at(size_t(offset) + 12, length), length);
  }

  // A string: a 16-bit length and 8-bit characters.
  Text string(int32_t offset) const {
    if (offset < 0) return Text();
    const Segment &strings = segment(StringSegment);
    size_t length = size_t(uint16_t(strings.i16(size_t(offset))));
    return widen(strings.at(size_t(offset) + 2, length), length);
  }

  // A type: a negative word holds a base type in its low bits; otherwise the
  // word is the offset of an entry in the type description table.
  Type type(int32_t word, int depth = 0) const {
    Type t;
    if (word < 0) {
      t.vt = VARTYPE(word & VT_TYPEMASK);
      return t;
    }
    if (depth > MaxTypeDepth) damaged();
    const Segment &descs = segment(TypeDescSegment);
    t.vt = VARTYPE(uint16_t(descs.i16(size_t(word))) & VT_TYPEMASK);
    const int32_t target = descs.i32(size_t(word) + 4);
    switch (t.vt) {
      case VT_PTR:
      case VT_SAFEARRAY:
        if (target < 0) {
          auto inner = std::make_shared<Type>();
          inner->vt = VARTYPE(target & VT_TYPEMASK);
          t.inner = inner;
        } else {
          t.inner = std::make_shared<Type>(type(target, depth + 1));
        }
        break;
      case VT_CARRAY: {
        const Segment &arrays = segment(ArrayDescSegment);
        if (target < 0) damaged();
        t.inner = std::make_shared<Type>(type(arrays.i32(size_t(target)), depth + 1));
        size_t dims = size_t(uint16_t(arrays.i16(size_t(target) + 4)));
        arrays.need(size_t(target) + 8, dims * 8);
        for (size_t d = 0; d < dims; ++d) {
          SAFEARRAYBOUND bound;
          bound.cElements = ULONG(arrays.i32(size_t(target) + 8 + d * 8));
          bound.lLbound = arrays.i32(size_t(target) + 12 + d * 8);
          t.bounds.push_back(bound);
        }
        break;
      }
      case VT_USERDEFINED: t.href = HREFTYPE(target); break;
      default: break;
    }
    return t;
  }

  // A value: a negative word holds a small value inline (its type in bits 26
  // to 30, the value in the 26 bits below); otherwise the word is the offset
  // of a typed value in the value segment.
  void value(int32_t word, VARIANT *out) const {
    VariantClear(out);
    if (word < 0) {
      V_VT(out) = VARTYPE((DWORD(word) & 0x7C000000) >> 26);
      V_I4(out) = word & 0x03FFFFFF;
      if (!storable(V_VT(out), 4)) damaged();
      return;
    }
    const Segment &values = segment(ValueSegment);
    const size_t at = size_t(word);
    const VARTYPE vt = VARTYPE(values.i16(at));
    if (vt == VT_BSTR) {
      int32_t length = values.i32(at + 2);
      V_VT(out) = VT_BSTR;
      if (length < 0) {
        V_BSTR(out) = nullptr;
        return;
      }
      Text text = widen(values.at(at + 6, size_t(length)), size_t(length));
      V_BSTR(out) = SysAllocStringLen(text.data(), UINT(text.size()));
      if (V_BSTR(out) == nullptr) throw std::bad_alloc();
      return;
    }
    if (vt == VT_EMPTY || vt == VT_NULL) {
      V_VT(out) = vt;
      return;
    }
    const size_t width = storable(vt, 4) ? 4 : storable(vt, 8) ? 8 : 0;
    if (width == 0) damaged();
    V_VT(out) = vt;
    V_I8(out) = 0;
    std::memcpy(&V_I8(out), values.at(at + 2, width), width);
  }

  static bool storable(VARTYPE vt, size_t width) {
    switch (vt) {
      case VT_I2:
      case VT_I4:
      case VT_R4:
      case VT_ERROR:
      case VT_BOOL:
      case VT_I1:
      case VT_UI1:
      case VT_UI2:
      case VT_UI4:
      case VT_INT:
      case VT_UINT: return width == 4;
      case VT_R8:
      case VT_CY:
      case VT_DATE:
      case VT_I8:
      case VT_UI8: return width == 8;
      default: return false;
    }
  }

  // Imports: records of three words (flags, import file, GUID or position);
  // an import file names the library by its GUID, locale and version,
  // followed by its file name.
  void readImports(LibraryData &lib) const {
    const Segment &infos = segment(ImportInfoSegment);
    const Segment &files = segment(ImportFileSegment);
    for (size_t at = 0; at + 12 <= infos.length(); at += 12) {
      Import import;
      const DWORD flags = DWORD(infos.i32(at));
      const int32_t file = infos.i32(at + 4);
      const int32_t target = infos.i32(at + 8);
      if (file < 0) damaged();
      import.library = guid(files.i32(size_t(file)));
      import.lcid = LCID(files.i32(size_t(file) + 4));
      const int32_t version = files.i32(size_t(file) + 8);
      import.major = WORD(version & 0xFFFF);
      import.minor = WORD(DWORD(version) >> 16);
      const size_t length = size_t(uint16_t(files.i16(size_t(file) + 12))) >> 2;
      import.file = widen(files.at(size_t(file) + 14, length), length);
      import.byGuid = (flags & ImportByGuid) != 0;
      if (import.byGuid) {
        import.type = guid(target);
      } else {
        if (target < 0) damaged();
        import.index = UINT(target);
      }
      lib.imports[HREFTYPE(at)] = import;
    }
  }

  void readType(size_t offset, TypeData &t) const {
    const Segment &records = segment(TypeInfoSegment);
    records.need(offset, TypeRecordSize);
    auto word = [&](size_t field) { return records.i32(offset + field); };
    const DWORD kind = DWORD(word(0x00));
    const int32_t members = word(0x04);
    const DWORD counts = DWORD(word(0x18));
    t.kind = TYPEKIND(kind & 0xF);
    if (t.kind >= TKIND_MAX) damaged();
    t.alignment = WORD((kind >> 11) & 0x1F);
    t.guid = guid(word(0x2C));
    t.flags = WORD(word(0x30) & 0xFFFF);
    t.name = name(word(0x34));
    const int32_t version = word(0x38);
    t.major = WORD(version & 0xFFFF);
    t.minor = WORD(DWORD(version) >> 16);
    t.doc = string(word(0x3C));
    t.helpContext = DWORD(word(0x44));
    const size_t implCount = size_t(uint16_t(records.i16(offset + 0x4C)));
    t.cbSizeVft = WORD(records.i16(offset + 0x4E));
    t.size = ULONG(word(0x50));
    const int32_t datatype = word(0x54);

    switch (t.kind) {
      case TKIND_COCLASS: readImplementedTypes(datatype, implCount, t); break;
      case TKIND_INTERFACE:
      case TKIND_DISPATCH:
        if (datatype != -1) t.impls.push_back({HREFTYPE(datatype), 0});
        break;
      case TKIND_ALIAS: t.alias = type(datatype); break;
      default: break;
    }
    readMembers(members, counts & 0xFFFF, counts >> 16, t);
  }

  // A coclass lists its classes in a chain of reference records (reference,
  // flags, custom data, next), at most as many as it declares.
  void readImplementedTypes(int32_t first, size_t count, TypeData &t) const {
    const Segment &refs = segment(ReferenceSegment);
    int32_t at = first;
    for (size_t i = 0; i < count && at != -1; ++i) {
      if (at < 0) damaged();
      t.impls.push_back({HREFTYPE(refs.i32(size_t(at))), refs.i32(size_t(at) + 4)});
      at = refs.i32(size_t(at) + 12);
    }
  }

  // The member block: its length, the function records and then the variable
  // records, followed by three arrays over all members: member ids, name
  // offsets and record offsets (relative to the first record).
  void readMembers(int32_t block, size_t funcCount, size_t varCount, TypeData &t) const {
    const size_t count = funcCount + varCount;
    if (count == 0) return;
    if (block < 0) damaged();
    const int32_t length = bytes_.i32(size_t(block));
    if (length < 0) damaged();
    const size_t first = size_t(block) + 4;
    const Segment recordArea(&bytes_, first, size_t(length));
    bytes_.need(first, size_t(length));
    const size_t tables = first + size_t(length);
    bytes_.need(tables, count * 12);
    t.funcs.reserve(funcCount);
    t.vars.reserve(varCount);
    for (size_t i = 0; i < count; ++i) {
      const MEMBERID memid = bytes_.i32(tables + i * 4);
      const int32_t nameOffset = bytes_.i32(tables + (count + i) * 4);
      const int32_t record = bytes_.i32(tables + (2 * count + i) * 4);
      if (record < 0) damaged();
      const size_t size = size_t(recordArea.i32(size_t(record))) & 0xFFFF;
      recordArea.need(size_t(record), size);
      if (i < funcCount) {
        t.funcs.push_back(readFunc(recordArea, size_t(record), size));
        t.funcs.back().memid = memid;
        t.funcs.back().name = name(nameOffset);
      } else {
        t.vars.push_back(readVar(recordArea, size_t(record), size));
        t.vars.back().memid = memid;
        t.vars.back().name = name(nameOffset);
      }
    }
  }

  // A function record: size, return type, flags, vtable offset, kind bits,
  // argument counts, then a variable number of optional words (help context,
  // help string, ...), the default values when there are any, and last the
  // parameters (type, name, flags).
  Func readFunc(const Segment &area, size_t at, size_t size) const {
    if (size < FuncFixedSize) damaged();
    Func f;
    f.result = type(area.i32(at + 4));
    f.flags = WORD(area.i32(at + 8) & 0xFFFF);
    f.oVft = area.i16(at + 12);
    const DWORD bits = DWORD(area.i32(at + 16));
    f.kind = FUNCKIND(bits & 0x7);
    f.invkind = INVOKEKIND((bits >> 3) & 0xF);
    f.callconv = CALLCONV((bits >> 8) & 0xF);
    const bool defaults = (bits & 0x1000) != 0;
    const int16_t paramCount = area.i16(at + 20);
    f.cParamsOpt = area.i16(at + 22);
    if (f.kind > FUNC_DISPATCH || f.callconv >= CC_MAX || paramCount < 0) damaged();
    const size_t params = size_t(paramCount);
    const size_t tail = params * ParamSize + (defaults ? params * 4 : 0);
    if (size < FuncFixedSize + tail) damaged();
    const size_t optional = (size - FuncFixedSize - tail) / 4;
    if (optional > 0) f.helpContext = DWORD(area.i32(at + FuncFixedSize));
    if (optional > 1) f.doc = string(area.i32(at + FuncFixedSize + 4));
    const size_t paramStart = at + size - params * ParamSize;
    const size_t defaultStart = paramStart - (defaults ? params * 4 : 0);
    f.params.resize(params);
    for (size_t p = 0; p < params; ++p) {
      Param &param = f.params[p];
      const size_t rec = paramStart + p * ParamSize;
      param.type = type(area.i32(rec));
      param.name = name(area.i32(rec + 4));
      param.flags = USHORT(area.i32(rec + 8) & 0xFFFF);
      if (defaults && (param.flags & PARAMFLAG_FHASDEFAULT)) {
        param.hasDefault = true;
        value(area.i32(defaultStart + p * 4), param.defaultValue.get());
      }
    }
    return f;
  }

  // A variable record: size, type, flags, kind, value or offset, then the
  // optional help context and help string.
  Var readVar(const Segment &area, size_t at, size_t size) const {
    if (size < VarFixedSize) damaged();
    Var v;
    v.type = type(area.i32(at + 4));
    v.flags = WORD(area.i32(at + 8) & 0xFFFF);
    // Checked as a number first: a word outside the enumeration's values is
    // no VARKIND at all, and converting it first would make one.
    const int16_t kind = area.i16(at + 12);
    if (kind < VAR_PERINSTANCE || kind > VAR_DISPATCH) damaged();
    v.kind = VARKIND(kind);
    const int32_t valueWord = area.i32(at + 16);
    if (v.kind == VAR_CONST)
      value(valueWord, v.value.get());
    else
      v.oInst = ULONG(valueWord);
    if (size >= VarFixedSize + 4) v.helpContext = DWORD(area.i32(at + 20));
    if (size >= VarFixedSize + 8) v.doc = string(area.i32(at + 24));
    return v;
  }

  Bytes bytes_;
  Segment segments_[ValueSegment + 1];
};

}  // namespace

HRESULT readMsft(const BYTE *data, size_t size, LibraryData &library) {
  if (data == nullptr && size != 0) return E_INVALIDARG;
  try {
    Reader(data, size).read(library);
    return S_OK;
  } catch (const Damaged &error) {
    return error.hr;
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
}

// Names are almost always ASCII; only other characters need the case tables.
bool sameName(const WCHAR *a, const Text &b) {
  auto upper = [](WCHAR c) -> WCHAR {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? WCHAR(c - 32) : c;
    return platform::kernel::ToUpperWide(c);
  };
  size_t i = 0;
  for (; a[i] != 0 && i < b.size(); ++i)
    if (a[i] != b[i] && upper(a[i]) != upper(b[i])) return false;
  return a[i] == 0 && i == b.size();
}

}  // namespace platform::typelib
