// Values: the 8-bit and wide forms against each other for every type, sizes
// and short buffers, names, and enumeration order.
#include "RegistryTestSupport.h"

#include <cstring>

namespace {

struct Stored {
  LONG status;
  DWORD type;
  DWORD size;
  std::vector<BYTE> data;
};

// Queries through the 8-bit or the wide form; a capacity of 0 asks for the size only.
template <typename Char> Stored query(HKEY key, const Char *name, DWORD capacity = 256) {
  Stored out{0, 0xdead, capacity, std::vector<BYTE>(capacity + 8, 0xcc)};
  BYTE *data = capacity == 0 ? nullptr : out.data.data();
  if constexpr (sizeof(Char) == 1) {
    out.status = RegQueryValueExA(key, name, nullptr, &out.type, data, &out.size);
  } else {
    out.status = RegQueryValueExW(key, name, nullptr, &out.type, data, &out.size);
  }
  out.data.resize(out.status == ERROR_SUCCESS && data != nullptr ? out.size : 0);
  return out;
}

}  // namespace

using RegistryValues = RegistryTest;

// Each value is set through one form and read through both, then the other
// way round: text converts through the system code page (Windows-1252), names
// too, and sizes count the form's own units; numbers and bytes pass unchanged.
TEST_F(RegistryValues, EightBitAndWideFormsAgreeForEveryType) {
  const DWORD number = 0x12345678;
  const BYTE binary[] = {0, 1, 2, 0xff, 0x80};
  const struct {
    const char *nameA;
    const WCHAR *nameW;
    DWORD type;
    std::vector<BYTE> dataA, dataW;
  } cases[] = {
      {"Text", WIDE("TEXT"), REG_SZ, bytesOf("caf\xe9", 5), bytesOf(WIDE("caf\u00e9"), 5 * sizeof(WCHAR))},
      {"Expand", WIDE("expand"), REG_EXPAND_SZ, bytesOf("%TEMP%\\\x80 5", 11),
       bytesOf(WIDE("%TEMP%\\\u20ac 5"), 11 * sizeof(WCHAR))},
      {"Multi", WIDE("Multi"), REG_MULTI_SZ, bytesOf("a\0bc\0", 6), bytesOf(WIDE("a\0bc\0"), 6 * sizeof(WCHAR))},
      {"", WIDE(""), REG_SZ, bytesOf("def", 4), bytesOf(WIDE("def"), 4 * sizeof(WCHAR))},  // the default value
      {"N\xfamero", WIDE("N\u00daMERO"), REG_DWORD, bytesOf(&number, 4), bytesOf(&number, 4)},
      {"Binary", WIDE("binary"), REG_BINARY, bytesOf(binary, 5), bytesOf(binary, 5)},
      {"Empty", WIDE("Empty"), REG_BINARY, {}, {}},
      {"Nothing", WIDE("Nothing"), REG_NONE, {}, {}},
  };
  for (const auto &c : cases) {
    for (bool throughWide : {false, true}) {
      SCOPED_TRACE(testing::Message() << "\"" << c.nameA << "\" set through the " << (throughWide ? "wide" : "8-bit")
                                      << " form");
      ASSERT_EQ(ERROR_SUCCESS, throughWide ? RegSetValueExW(root.get(), c.nameW, 0, c.type, c.dataW.data(),
                                                            static_cast<DWORD>(c.dataW.size()))
                                           : RegSetValueExA(root.get(), c.nameA, 0, c.type, c.dataA.data(),
                                                            static_cast<DWORD>(c.dataA.size())));
      Stored wide = query(root.get(), c.nameW), narrow = query(root.get(), c.nameA);
      EXPECT_EQ(ERROR_SUCCESS, wide.status);
      EXPECT_EQ(c.type, wide.type);
      EXPECT_EQ(c.dataW, wide.data);
      EXPECT_EQ(ERROR_SUCCESS, narrow.status);
      EXPECT_EQ(c.type, narrow.type);
      EXPECT_EQ(c.dataA, narrow.data);
      EXPECT_EQ(c.dataW.size(), query(root.get(), c.nameW, 0).size);
      EXPECT_EQ(c.dataA.size(), query(root.get(), c.nameA, 0).size);
      if (c.dataA.size() > 1) {
        // A short buffer gets ERROR_MORE_DATA and the size needed.
        Stored shortWide = query(root.get(), c.nameW, 1), shortNarrow = query(root.get(), c.nameA, 1);
        EXPECT_EQ(ERROR_MORE_DATA, shortWide.status);
        EXPECT_EQ(c.dataW.size(), shortWide.size);
        EXPECT_EQ(ERROR_MORE_DATA, shortNarrow.status);
        EXPECT_EQ(c.dataA.size(), shortNarrow.size);
      }
      EXPECT_EQ(ERROR_SUCCESS,
                throughWide ? RegDeleteValueA(root.get(), c.nameA) : RegDeleteValueW(root.get(), c.nameW));
      EXPECT_EQ(ERROR_FILE_NOT_FOUND, query(root.get(), c.nameW).status);
    }
  }
}

TEST_F(RegistryValues, TerminatorsNameLimitsAndBadArguments) {
  // A string stored without its terminator reads back with one when there is
  // room, but the size still counts only what was stored.
  const WCHAR text[] = WIDE("0123456789");
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(root.get(), WIDE("bare"), 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                                          3 * sizeof(WCHAR)));
  std::vector<BYTE> withRoom(32, 0xcc);
  DWORD size = 32;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(root.get(), WIDE("bare"), nullptr, nullptr, withRoom.data(), &size));
  EXPECT_EQ(3 * sizeof(WCHAR), size);
  EXPECT_EQ(0, withRoom[6]);
  EXPECT_EQ(0, withRoom[7]);

  // A value name is at most 16383 characters.
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(root.get(), std::string(16383, 'v').c_str(), 0, REG_BINARY, withRoom.data(), 1));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegSetValueExA(root.get(), std::string(16384, 'v').c_str(), 0, REG_BINARY, withRoom.data(), 1));

  // Data without a buffer, a buffer without a size, a missing value.
  EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(root.get(), WIDE("x"), 0, REG_BINARY, nullptr, 4));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegQueryValueExW(root.get(), WIDE("bare"), nullptr, nullptr, withRoom.data(), nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, query(root.get(), WIDE("missing")).status);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(root.get(), WIDE("missing")));
}

TEST_F(RegistryValues, EnumerationListsValuesByNameWithinBounds) {
  DWORD number = 7;
  for (const char *name : {"zeta", "Alpha", "mid", ""}) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.get(), name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&number), 4));
  }
  // Setting an existing value again, under another case, keeps its name. Wine
  // lists values ordered by name, ignoring case (Windows in the order they
  // were first set), and the platform layer lists them as Wine does.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.get(), "ZETA", 0, REG_SZ, reinterpret_cast<const BYTE *>("longer!"), 8));
  std::vector<std::string> names;
  char name[32];
  for (DWORD index = 0, length = sizeof name, size = 0;
       RegEnumValueA(root.get(), index, name, &length, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
       ++index, length = sizeof name) {
    EXPECT_EQ(std::strlen(name), length);
    EXPECT_EQ(index == 3 ? 8u : 4u, size);
    names.emplace_back(name);
  }
  EXPECT_EQ((std::vector<std::string>{"", "Alpha", "mid", "zeta"}), names);

  // The wide form; then a name and a data buffer too short, and past the end.
  WCHAR wideName[32];
  DWORD length = 32, size = 64;
  BYTE data[64];
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(root.get(), 3, wideName, &length, nullptr, nullptr, data, &size));
  EXPECT_EQ(WideString(WIDE("zeta")), WideString(wideName, length));
  EXPECT_EQ(WideString(WIDE("longer!")), WideString(reinterpret_cast<WCHAR *>(data)));
  length = 4;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(root.get(), 3, wideName, &length, nullptr, nullptr, nullptr, nullptr));
  length = 32;
  size = 3;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(root.get(), 3, wideName, &length, nullptr, nullptr, data, &size));
  EXPECT_EQ(16u, size);
  length = 32;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueW(root.get(), 4, wideName, &length, nullptr, nullptr, nullptr, nullptr));

  DWORD values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(root.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                            &maxName, &maxData, nullptr, nullptr));
  EXPECT_EQ(4u, values);
  EXPECT_EQ(5u, maxName);
  EXPECT_EQ(16u, maxData);
}
