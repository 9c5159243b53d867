// The MSFT reader fed damaged copies of the component's type library: cut
// short, with words overwritten by extreme values, with random bytes changed,
// and with loops in its references. Every copy either loads or fails with a
// type library error; whatever loads can be walked completely without a fault.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "typelib/type_info.h"

namespace {

using platform::typelib::LibraryData;
using platform::typelib::TypeLibrary;

std::vector<BYTE> contractBytes() {
  std::ifstream file(CONTRACT_TLB, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
void putWord(std::vector<BYTE> &bytes, size_t at, uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); }
uint32_t word(const std::vector<BYTE> &bytes, size_t at) {
  uint32_t value;
  return std::memcpy(&value, bytes.data() + at, 4), value;
}

// Reads a type that another refers to: enough to show that the reference
// resolves. Pointers and arrays are followed to the type they hold.
void touch(ITypeInfo *info, HREFTYPE href) {
  ITypeInfo *target = nullptr;
  if (info->GetRefTypeInfo(href, &target) != S_OK) return;
  TYPEATTR *attr = nullptr;
  if (target->GetTypeAttr(&attr) == S_OK) target->ReleaseTypeAttr(attr);
  BSTR name = nullptr;
  target->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
  SysFreeString(name);
  target->Release();
}
void follow(ITypeInfo *info, const TYPEDESC *t) {
  for (int hops = 0; hops < 8 && t && (t->vt == VT_PTR || t->vt == VT_SAFEARRAY); ++hops) t = t->lptdesc;
  if (t != nullptr && t->vt == VT_USERDEFINED) touch(info, t->hreftype);
}

// Every query of a type, and of the types it refers to.
void walkInfo(ITypeInfo *info) {
  TYPEATTR *attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  BSTR name = nullptr, doc = nullptr, names[4] = {};
  for (UINT f = 0; f < attr->cFuncs; ++f) {
    FUNCDESC *desc = nullptr;
    ASSERT_EQ(S_OK, info->GetFuncDesc(f, &desc));
    follow(info, &desc->elemdescFunc.tdesc);
    for (SHORT p = 0; p < desc->cParams; ++p) follow(info, &desc->lprgelemdescParam[p].tdesc);
    UINT count = 0;
    MEMBERID ids[4];
    if (info->GetNames(desc->memid, names, 4, &count) == S_OK && count > 0) info->GetIDsOfNames(names, count, ids);
    for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
    info->GetDocumentation(desc->memid, &name, &doc, nullptr, nullptr);
    SysFreeString(name);
    SysFreeString(doc);
    info->ReleaseFuncDesc(desc);
  }
  for (UINT v = 0; v < attr->cVars; ++v) {
    VARDESC *desc = nullptr;
    ASSERT_EQ(S_OK, info->GetVarDesc(v, &desc));
    follow(info, &desc->elemdescVar.tdesc);
    info->ReleaseVarDesc(desc);
  }
  for (UINT i = 0; i < attr->cImplTypes; ++i) {
    HREFTYPE href = 0;
    INT flags = 0;
    info->GetImplTypeFlags(i, &flags);
    if (info->GetRefTypeOfImplType(i, &href) == S_OK) touch(info, href);
  }
  info->ReleaseTypeAttr(attr);
}

// Loads `bytes`; a failure must be a type library error, a success walkable,
// both views of every type.
HRESULT loadAndWalk(const std::vector<BYTE> &bytes) {
  auto data = std::make_shared<LibraryData>();
  const HRESULT hr = platform::typelib::readMsft(bytes.data(), bytes.size(), *data);
  if (hr != S_OK) {
    EXPECT_TRUE(hr == TYPE_E_INVDATAREAD || hr == TYPE_E_UNSUPFORMAT) << std::hex << hr;
    return hr;
  }
  ITypeLib *lib = TypeLibrary::create(data);
  for (UINT i = 0; i < lib->GetTypeInfoCount() && !testing::Test::HasFatalFailure(); ++i) {
    ITypeInfo *info = nullptr, *half = nullptr;
    EXPECT_EQ(S_OK, lib->GetTypeInfo(i, &info));
    if (info == nullptr) break;
    walkInfo(info);
    HREFTYPE href = 0;
    if (info->GetRefTypeOfImplType(UINT(-1), &href) == S_OK && info->GetRefTypeInfo(href, &half) == S_OK) {
      walkInfo(half);
      half->Release();
    }
    info->Release();
  }
  lib->Release();
  return hr;
}

TEST(MsftReader, CutShortOrOfAnotherFormat) {
  const std::vector<BYTE> bytes = contractBytes();
  ASSERT_GT(bytes.size(), 0x100u);
  EXPECT_EQ(S_OK, loadAndWalk(bytes));
  for (size_t length :
       {size_t(0), size_t(3), size_t(7), size_t(8), size_t(0x53), size_t(0x54), size_t(0x100), bytes.size() / 2}) {
    EXPECT_EQ(length < 8 ? TYPE_E_UNSUPFORMAT : TYPE_E_INVDATAREAD,
              loadAndWalk(std::vector<BYTE>(bytes.begin(), bytes.begin() + long(length))))
        << length;
  }
  for (size_t length = bytes.size() / 2; length < bytes.size(); length += 7)
    loadAndWalk(std::vector<BYTE>(bytes.begin(), bytes.begin() + long(length)));
  std::vector<BYTE> other = bytes;
  putWord(other, 4, 0x00020002);  // a version of the format this reader does not know
  EXPECT_EQ(TYPE_E_UNSUPFORMAT, loadAndWalk(other));
}

// Each word in turn gets a huge offset or count, the "none" marker, or a
// count just short of the 16-bit limits; the header, the type offsets and
// the segment directory get all three.
TEST(MsftReader, EveryWordOverwrittenWithExtremes) {
  const std::vector<BYTE> bytes = contractBytes();
  const uint32_t values[] = {0x7FFFFFFFu, 0xFFFFFFFFu, 0x0000FFF0u};
  const size_t directoryEnd = 0x54 + 4 * 16 + 15 * 16;
  for (size_t at = 8; at + 4 <= bytes.size(); at += 4) {
    for (size_t v = 0; v < 3; ++v) {
      if (at >= directoryEnd && v != (at / 4) % 3) continue;
      std::vector<BYTE> damaged = bytes;
      putWord(damaged, at, values[v]);
      loadAndWalk(damaged);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(MsftReader, RandomBytesChanged) {
  const std::vector<BYTE> bytes = contractBytes();
  std::mt19937 random(20240601);
  std::uniform_int_distribution<size_t> position(8, bytes.size() - 1);
  std::uniform_int_distribution<int> value(0, 255), count(1, 8);
  for (int round = 0; round < 1000 && !HasFatalFailure(); ++round) {
    std::vector<BYTE> damaged = bytes;
    for (int n = count(random); n > 0; --n) damaged[position(random)] = BYTE(value(random));
    loadAndWalk(damaged);
  }
}

// A type description that points at itself, and an interface that derives
// from itself, end in an error or a bounded walk instead of a loop.
TEST(MsftReader, LoopsInReferences) {
  const std::vector<BYTE> bytes = contractBytes();
  const size_t directory = 0x54 + 4 * word(bytes, 0x20);
  const size_t typeDescs = word(bytes, directory + 9 * 16);
  std::vector<BYTE> selfPointer = bytes;
  putWord(selfPointer, typeDescs, VT_PTR);
  putWord(selfPointer, typeDescs + 4, 0);
  EXPECT_EQ(TYPE_E_INVDATAREAD, loadAndWalk(selfPointer));

  // IPerfCounter is the third type; its base reference sits at 0x54.
  std::vector<BYTE> selfBase = bytes;
  const size_t counter = word(bytes, directory) + word(bytes, 0x54 + 4 * 2);
  putWord(selfBase, counter + 0x54, 2 * 0x64);
  EXPECT_EQ(S_OK, loadAndWalk(selfBase));
}

}  // namespace
