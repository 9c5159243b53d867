// Values: every type, sizes and short buffers, the 8-bit forms, names,
// enumeration order and the old default-value functions.
#include "RegistryTestSupport.h"

#include <cstring>

namespace {

struct Stored {
  LONG status;
  DWORD type;
  DWORD size;
  std::vector<BYTE> data;
};

Stored queryW(HKEY key, const WCHAR *name, DWORD capacity = 256) {
  Stored out{0, 0xdead, capacity, std::vector<BYTE>(capacity + 8, 0xcc)};
  out.status = RegQueryValueExW(key, name, nullptr, &out.type, out.data.data(), &out.size);
  if (out.status == ERROR_SUCCESS) out.data.resize(out.size);
  return out;
}

Stored queryA(HKEY key, const char *name, DWORD capacity = 256) {
  Stored out{0, 0xdead, capacity, std::vector<BYTE>(capacity + 8, 0xcc)};
  out.status = RegQueryValueExA(key, name, nullptr, &out.type, out.data.data(), &out.size);
  if (out.status == ERROR_SUCCESS) out.data.resize(out.size);
  return out;
}

}  // namespace

using RegistryValues = RegistryTest;

TEST_F(RegistryValues, EveryTypeReadsBackAsStored) {
  const WCHAR text[] = WIDE("some text");
  const WCHAR expand[] = WIDE("%TEMP%\\x");
  const WCHAR multi[] = WIDE("one\0two\0");
  const DWORD number = 0x12345678;
  const BYTE binary[] = {0, 1, 2, 0xff, 0x80};
  struct Case {
    const WCHAR *name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {WIDE("text"), REG_SZ, bytesOf(text, sizeof text)},
      {WIDE("expand"), REG_EXPAND_SZ, bytesOf(expand, sizeof expand)},
      {WIDE("multi"), REG_MULTI_SZ, bytesOf(multi, sizeof multi)},
      {WIDE("number"), REG_DWORD, bytesOf(&number, sizeof number)},
      {WIDE("binary"), REG_BINARY, bytesOf(binary, sizeof binary)},
      {WIDE("nothing"), REG_NONE, {}},
      {WIDE("empty binary"), REG_BINARY, {}},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(root.get(), c.name, 0, c.type, c.data.data(),
                                            static_cast<DWORD>(c.data.size())));
  }
  for (const Case &c : cases) {
    Stored stored = queryW(root.get(), c.name);
    EXPECT_EQ(ERROR_SUCCESS, stored.status);
    EXPECT_EQ(c.type, stored.type);
    EXPECT_EQ(c.data, stored.data);
  }

  // Setting a value again replaces its type and data; the default value has the empty name.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(root.get(), WIDE("NUMBER"), 0, REG_BINARY, binary, 2));
  Stored replaced = queryW(root.get(), WIDE("number"));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), replaced.type);
  EXPECT_EQ(bytesOf(binary, 2), replaced.data);
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(root.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                                          sizeof text));
  EXPECT_EQ(bytesOf(text, sizeof text), queryW(root.get(), WIDE("")).data);
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(root.get(), WIDE("")));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, queryW(root.get(), nullptr).status);

  // Missing values and data without a buffer.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, queryW(root.get(), WIDE("missing")).status);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(root.get(), WIDE("missing")));
  EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(root.get(), WIDE("x"), 0, REG_BINARY, nullptr, 4));
  // A value name is at most 16383 characters.
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(root.get(), std::string(16383, 'v').c_str(), 0, REG_BINARY, binary, 1));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegSetValueExA(root.get(), std::string(16384, 'v').c_str(), 0, REG_BINARY, binary, 1));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(root.get(), WIDE("TEXT")));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, queryW(root.get(), WIDE("text")).status);
}

TEST_F(RegistryValues, SizesAndShortBuffers) {
  const WCHAR text[] = WIDE("0123456789");
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(root.get(), WIDE("t"), 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                                          sizeof text));
  // No buffer asks for the size only.
  DWORD type = 0, size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(root.get(), WIDE("t"), nullptr, &type, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(sizeof text), size);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(root.get(), WIDE("t"), nullptr, nullptr, nullptr, nullptr));

  // A short buffer gets ERROR_MORE_DATA and the size needed.
  Stored shortBuffer = queryW(root.get(), WIDE("t"), 4);
  EXPECT_EQ(ERROR_MORE_DATA, shortBuffer.status);
  EXPECT_EQ(static_cast<DWORD>(sizeof text), shortBuffer.size);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), shortBuffer.type);
  Stored exact = queryW(root.get(), WIDE("t"), sizeof text);
  EXPECT_EQ(ERROR_SUCCESS, exact.status);

  // A buffer without a size is a parameter error.
  BYTE buffer[8];
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(root.get(), WIDE("t"), nullptr, nullptr, buffer, nullptr));

  // A string stored without its terminator reads back with one when there is
  // room, but the size still counts only what was stored.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(root.get(), WIDE("bare"), 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                                          3 * sizeof(WCHAR)));
  Stored bare = queryW(root.get(), WIDE("bare"), 32);
  ASSERT_EQ(ERROR_SUCCESS, bare.status);
  EXPECT_EQ(3 * sizeof(WCHAR), bare.size);
  std::vector<BYTE> withRoom(32, 0xcc);
  DWORD roomSize = 32;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(root.get(), WIDE("bare"), nullptr, nullptr, withRoom.data(), &roomSize));
  EXPECT_EQ(0, withRoom[6]);
  EXPECT_EQ(0, withRoom[7]);
}

TEST_F(RegistryValues, AnsiFormsConvertThroughTheSystemCodePage) {
  // "café" with its terminator, in Windows-1252: stored as UTF-16.
  const char cafe[] = "caf\xe9";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.get(), "Ansi", 0, REG_SZ, reinterpret_cast<const BYTE *>(cafe),
                                          sizeof cafe));
  const WCHAR wideCafe[] = WIDE("caf\u00e9");
  Stored wide = queryW(root.get(), WIDE("ansi"));
  EXPECT_EQ(ERROR_SUCCESS, wide.status);
  EXPECT_EQ(bytesOf(wideCafe, sizeof wideCafe), wide.data);

  // Read back through the 8-bit form: 8-bit text and 8-bit sizes.
  Stored narrow = queryA(root.get(), "ANSI");
  EXPECT_EQ(ERROR_SUCCESS, narrow.status);
  EXPECT_EQ(bytesOf(cafe, sizeof cafe), narrow.data);
  DWORD size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(root.get(), "Ansi", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(sizeof cafe), size);
  Stored shortNarrow = queryA(root.get(), "Ansi", 2);
  EXPECT_EQ(ERROR_MORE_DATA, shortNarrow.status);
  EXPECT_EQ(static_cast<DWORD>(sizeof cafe), shortNarrow.size);

  // A wide value read through the 8-bit form, and multi-strings both ways.
  const WCHAR euro[] = WIDE("\u20ac 5");
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(root.get(), WIDE("Euro"), 0, REG_EXPAND_SZ,
                                          reinterpret_cast<const BYTE *>(euro), sizeof euro));
  Stored euroA = queryA(root.get(), "euro");
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), euroA.type);
  EXPECT_EQ(bytesOf("\x80 5", 4), euroA.data);
  const char multi[] = "a\0bc\0";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.get(), "Multi", 0, REG_MULTI_SZ,
                                          reinterpret_cast<const BYTE *>(multi), sizeof multi));
  const WCHAR wideMulti[] = WIDE("a\0bc\0");
  EXPECT_EQ(bytesOf(wideMulti, sizeof wideMulti), queryW(root.get(), WIDE("Multi")).data);
  EXPECT_EQ(bytesOf(multi, sizeof multi), queryA(root.get(), "Multi").data);

  // Numbers and bytes pass through unchanged; value names convert too.
  DWORD number = 0xfeedface;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.get(), "N\xfamero", 0, REG_DWORD, reinterpret_cast<BYTE *>(&number),
                                          sizeof number));
  Stored numberW = queryW(root.get(), WIDE("N\u00daMERO"));
  EXPECT_EQ(bytesOf(&number, sizeof number), numberW.data);
  EXPECT_EQ(bytesOf(&number, sizeof number), queryA(root.get(), "n\xfamero").data);
}

TEST_F(RegistryValues, EnumerationListsValuesByName) {
  DWORD number = 7;
  for (const char *name : {"zeta", "Alpha", "mid", ""}) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.get(), name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&number), 4));
  }
  // Setting an existing value again, under another case, keeps its name. Wine
  // lists values ordered by name, ignoring case (Windows in the order they
  // were first set), and the platform layer lists them as Wine does.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(root.get(), "ZETA", 0, REG_SZ, reinterpret_cast<const BYTE *>("longer!"), 8));
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[32];
    DWORD length = sizeof name, type = 0, size = 0;
    LONG status = RegEnumValueA(root.get(), index, name, &length, nullptr, &type, nullptr, &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, status);
    EXPECT_EQ(strlen(name), length);
    EXPECT_EQ(index == 3 ? 8u : 4u, size);
    names.emplace_back(name);
  }
  EXPECT_EQ((std::vector<std::string>{"", "Alpha", "mid", "zeta"}), names);

  // The wide form, data included; then a name buffer too short, and a data buffer too short.
  WCHAR name[32];
  DWORD length = 32, type = 0, size = 64;
  BYTE data[64];
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(root.get(), 3, name, &length, nullptr, &type, data, &size));
  EXPECT_EQ(WideString(WIDE("zeta")), WideString(name, length));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(16u, size);
  EXPECT_EQ(WideString(WIDE("longer!")), WideString(reinterpret_cast<WCHAR *>(data)));
  length = 4;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(root.get(), 3, name, &length, nullptr, nullptr, nullptr, nullptr));
  length = 32;
  size = 3;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(root.get(), 3, name, &length, nullptr, nullptr, data, &size));
  EXPECT_EQ(16u, size);

  DWORD values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(root.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                            &maxName, &maxData, nullptr, nullptr));
  EXPECT_EQ(4u, values);
  EXPECT_EQ(5u, maxName);
  EXPECT_EQ(16u, maxData);
}

TEST_F(RegistryValues, OldDefaultValueFunctions) {
  // RegSetValue creates the subkey and sets its default value from the text,
  // whatever size it is given.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(root.get(), "Sub\\Key", REG_SZ, "hello", 1));
  char text[32];
  LONG size = sizeof text;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueA(root.get(), "sub\\key", text, &size));
  EXPECT_STREQ("hello", text);
  EXPECT_EQ(6, size);
  WCHAR wide[32];
  LONG wideSize = sizeof wide;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueW(root.get(), WIDE("Sub\\Key"), wide, &wideSize));
  EXPECT_EQ(WideString(WIDE("hello")), WideString(wide));
  EXPECT_EQ(12, wideSize);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegSetValueA(root.get(), "Sub", REG_DWORD, "x", 2));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueW(root.get(), nullptr, REG_SZ, WIDE("top"), 0));
  Stored top = queryA(root.get(), "");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), top.type);
  EXPECT_EQ(bytesOf("top", 4), top.data);

  // A key without a default value reads as an empty text; a missing key is not found.
  size = sizeof text;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueA(root.get(), "Sub", text, &size));
  EXPECT_STREQ("", text);
  EXPECT_EQ(1, size);
  size = sizeof text;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueA(root.get(), "Nothing", text, &size));
}
