// Keys: names and paths, enumeration, deletion, and the classes root.
#include "RegistryTestSupport.h"

namespace {

std::vector<std::string> subKeyNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  DWORD length = sizeof name;
  for (DWORD index = 0; RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++index, length = sizeof name) {
    names.emplace_back(name, length);
  }
  return names;
}

}  // namespace

using RegistryKeys = RegistryTest;

TEST_F(RegistryKeys, NamesIgnoreCaseKeepTheirOwnAndHaveALengthLimit) {
  Key deep, again, wide;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, create("Alpha\\Caf\xe9\\Gamma", deep, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  // Every level exists now, under any case (Windows-1252 letters included),
  // and keeps the case it was made with.
  ASSERT_EQ(ERROR_SUCCESS, create("ALPHA\\CAF\xc9\\gamma", again, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root.get(), WIDE("aLpHa"), 0, KEY_READ, wide.out()));
  EXPECT_EQ(std::vector<std::string>{"Caf\xe9"}, subKeyNames(wide.get()));
  EXPECT_EQ(std::vector<std::string>{"Alpha"}, subKeyNames(root.get()));
  ASSERT_EQ(ERROR_SUCCESS, create("alpha\\caf\xe9\\Delta", again, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition) << "a new leaf under an existing path";

  // A trailing separator and empty parts are accepted; a leading one is no relative path.
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), "Alpha\\\\Caf\xe9\\", 0, KEY_READ, again.out()));
  EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(root.get(), "\\Alpha", 0, KEY_READ, again.out()));
  EXPECT_EQ(ERROR_BAD_PATHNAME, create("\\Alpha", again));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(root.get(), "Nothing\\Gamma", 0, KEY_READ, again.out()));

  // Windows documents 255 characters as the longest key name; Wine takes
  // 256, and so does the platform layer.
  EXPECT_EQ(ERROR_SUCCESS, create(std::string(256, 'k').c_str(), again));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, create(std::string(257, 'k').c_str(), again));
}

TEST_F(RegistryKeys, SubkeysAreListedInCaseInsensitiveOrderWithinBounds) {
  for (const char *name : {"delta", "Bravo", "alpha", "Charlie", "ECHO_long_name"}) {
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, create(name, key));
  }
  EXPECT_EQ((std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta", "ECHO_long_name"}),
            subKeyNames(root.get()));

  // A name buffer one short of the terminator is too small; past the end there is nothing.
  char name[8];
  DWORD length = 5;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(root.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  WCHAR wideName[32];
  DWORD wideLength = 32;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExW(root.get(), 1, wideName, &wideLength, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(WideString(WIDE("Bravo")), WideString(wideName, wideLength));
  wideLength = 32;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS,
            RegEnumKeyExW(root.get(), 5, wideName, &wideLength, nullptr, nullptr, nullptr, nullptr));

  DWORD subKeys = 0, maxSubKey = 0, values = 7;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(root.get(), nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                                            &values, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(5u, subKeys);
  EXPECT_EQ(14u, maxSubKey);
  EXPECT_EQ(0u, values);
}

TEST_F(RegistryKeys, DeletingKeysAndTrees) {
  Key key, child;
  ASSERT_EQ(ERROR_SUCCESS, create("Parent\\Child\\Grandchild", key));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), "Parent\\Child", 0, KEY_ALL_ACCESS, child.out()));
  DWORD one = 1;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(child.get(), "v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4));

  // A key with subkeys cannot be deleted by itself; a missing one is not found.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(root.get(), "Parent"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(root.get(), "Parent\\Nothing"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root.get(), "PARENT\\child\\GRANDCHILD"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(root.get(), WIDE("Parent\\Child")));

  // An open handle to the deleted key answers "deleted", and can still be closed.
  DWORD size = sizeof one;
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(child.get(), "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_KEY_DELETED,
            RegCreateKeyExA(child.get(), "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr));
  child.reset();

  // A tree goes at once, with its values; without a subkey only the contents go.
  ASSERT_EQ(ERROR_SUCCESS, create("Tree\\A\\B", key));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4));
  ASSERT_EQ(ERROR_SUCCESS, create("Tree", key));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(key.get(), nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(root.get(), "Tree\\A", 0, KEY_READ, child.out()));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), "Tree", 0, KEY_READ, child.out()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(root.get(), "Nothing"));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "")) << "the root of a hive stays";
}

TEST_F(RegistryKeys, ClassesRootIsTheMachineClassesKey) {
  const std::string name = "PlatformRegistryClasses_" + std::to_string(GetCurrentProcessId());
  Key classes, machine;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, (name + "\\CLSID").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, classes.out(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(classes.get(), "", REG_SZ, "through HKCR", 0));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\" + name + "\\clsid").c_str(), 0,
                                         KEY_READ, machine.out()));
  char text[32];
  LONG size = sizeof text;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueA(machine.get(), nullptr, text, &size));
  EXPECT_STREQ("through HKCR", text);

  classes.reset();
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CLASSES_ROOT, name.c_str()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\" + name).c_str(), 0, KEY_READ, machine.out()));
}
