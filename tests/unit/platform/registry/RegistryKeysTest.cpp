// Keys: creation, opening, enumeration, deletion and handles.
#include "RegistryTestSupport.h"

namespace {

std::vector<std::string> subKeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD length = sizeof name;
    LONG status = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(ERROR_SUCCESS, status);
    if (status != ERROR_SUCCESS) break;
    EXPECT_EQ(strlen(name), length);
    names.emplace_back(name, length);
  }
  return names;
}

}  // namespace

using RegistryKeys = RegistryTest;

TEST_F(RegistryKeys, CreateMakesWholePathsOpensExistingOnesAndIgnoresCase) {
  Key deep;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, create("Alpha\\Beta\\Gamma", deep, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);

  // Every level exists now, under any case, and keeps the case it was made with.
  Key again;
  ASSERT_EQ(ERROR_SUCCESS, create("ALPHA\\beta\\gamma", again, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  Key middle;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), "aLpHa\\BETA", 0, KEY_READ, middle.out()));
  EXPECT_EQ(std::vector<std::string>{"Gamma"}, subKeyNames(middle.get()));
  EXPECT_EQ(std::vector<std::string>{"Alpha"}, subKeyNames(root.get()));

  // Creating a new leaf under an existing path reports a new key.
  Key leaf;
  ASSERT_EQ(ERROR_SUCCESS, create("alpha\\beta\\Delta", leaf, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);

  // A trailing separator is accepted; a leading one is not a relative path.
  Key trailing;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), "Alpha\\", 0, KEY_READ, trailing.out()));
  Key leading;
  EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(root.get(), "\\Alpha", 0, KEY_READ, leading.out()));
  EXPECT_EQ(ERROR_BAD_PATHNAME, create("\\Alpha", leading));

  // Empty path parts are skipped. Windows documents 255 characters as the
  // longest key name; Wine takes 256, and so does the platform layer.
  Key doubled;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), "Alpha\\\\Beta", 0, KEY_READ, doubled.out()));
  Key longest;
  EXPECT_EQ(ERROR_SUCCESS, create(std::string(256, 'k').c_str(), longest));
  Key tooLong;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, create(std::string(257, 'k').c_str(), tooLong));

  // Paths are relative to the handle given, and the predefined roots work as handles.
  Key absolute;
  EXPECT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, (path + "\\Alpha\\Beta\\Gamma").c_str(), 0, KEY_READ, absolute.out()));
  Key missing;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(root.get(), "Alpha\\Nothing", 0, KEY_READ, missing.out()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(root.get(), "Nothing\\Gamma", 0, KEY_READ, missing.out()));

  // The wide forms see the same keys.
  Key wide;
  DWORD wideDisposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root.get(), WIDE("alpha\\BETA\\gamma"), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, wide.out(), &wideDisposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), wideDisposition);
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root.get(), WIDE("Alpha\\Beta"), 0, KEY_READ, wide.out()));
}

TEST_F(RegistryKeys, NamesIgnoreTheCaseOfWindows1252Letters) {
  Key accented;
  ASSERT_EQ(ERROR_SUCCESS, create("Caf\xe9", accented));
  Key upper;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, create("CAF\xc9", upper, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  Key wide;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root.get(), WIDE("CAF\u00c9"), 0, KEY_READ, wide.out()));
  EXPECT_EQ(std::vector<std::string>{"Caf\xe9"}, subKeyNames(root.get()));
}

TEST_F(RegistryKeys, SubkeysAreListedInCaseInsensitiveOrderWithTheirCounts) {
  for (const char *name : {"delta", "Bravo", "alpha", "Charlie", "ECHO_long_name"}) {
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, create(name, key));
  }
  EXPECT_EQ((std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta", "ECHO_long_name"}),
            subKeyNames(root.get()));

  // A name buffer one short of the terminator is too small.
  char name[8];
  DWORD length = 5;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(root.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  WCHAR wideName[32];
  DWORD wideLength = 32;
  FILETIME written{};
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExW(root.get(), 1, wideName, &wideLength, nullptr, nullptr, nullptr, &written));
  EXPECT_EQ(WideString(WIDE("Bravo")), WideString(wideName, wideLength));
  EXPECT_NE(0u, written.dwHighDateTime);
  wideLength = 32;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExW(root.get(), 5, wideName, &wideLength, nullptr, nullptr, nullptr, nullptr));

  DWORD subKeys = 0, maxSubKey = 0, values = 7, maxValueName = 7, maxValue = 7;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(root.get(), nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                                            &values, &maxValueName, &maxValue, nullptr, nullptr));
  EXPECT_EQ(5u, subKeys);
  EXPECT_EQ(14u, maxSubKey);
  EXPECT_EQ(0u, values);
  EXPECT_EQ(0u, maxValueName);
  EXPECT_EQ(0u, maxValue);
}

TEST_F(RegistryKeys, DeletingKeysAndTrees) {
  Key key;
  ASSERT_EQ(ERROR_SUCCESS, create("Parent\\Child\\Grandchild", key));
  key.reset();
  DWORD one = 1;
  Key child;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), "Parent\\Child", 0, KEY_ALL_ACCESS, child.out()));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(child.get(), "v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4));

  // A key with subkeys cannot be deleted by itself; a missing one is not found.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(root.get(), "Parent"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(root.get(), "Parent\\Nothing"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root.get(), "PARENT\\child\\GRANDCHILD"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(root.get(), WIDE("Parent\\Child")));

  // The open handle to the deleted key now answers "deleted" and can still be closed.
  DWORD size = sizeof one;
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(child.get(), "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(child.get(), "w", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4));
  char name[16];
  DWORD length = sizeof name;
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumValueA(child.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  Key below;
  EXPECT_EQ(ERROR_KEY_DELETED,
            RegCreateKeyExA(child.get(), "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, below.out(), nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child.release()));

  // A tree goes at once, with its values; without a subkey only the contents go.
  ASSERT_EQ(ERROR_SUCCESS, create("Tree\\A\\B", key));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4));
  key.reset();
  ASSERT_EQ(ERROR_SUCCESS, create("Tree\\C", key));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(root.get(), "Tree\\A"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(root.get(), "Tree\\A", 0, KEY_READ, key.out()));
  Key tree;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), "Tree", 0, KEY_ALL_ACCESS, tree.out()));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(tree.get(), "kept?", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(tree.get(), nullptr));
  DWORD subKeys = 9, values = 9;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(tree.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                            nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(0u, subKeys);
  EXPECT_EQ(0u, values);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(root.get(), "Nothing"));

  // The roots of the hives cannot be deleted.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""));
}

TEST_F(RegistryKeys, HandlesCarryTheirRightsAndBadHandlesAreRefused) {
  DWORD one = 1, size = sizeof one;
  Key readOnly;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, readOnly.out()));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(readOnly.get(), "v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(readOnly.get(), "v"));
  Key writeOnly;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_WRITE, writeOnly.out()));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(writeOnly.get(), "v", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(writeOnly.get(), "v", nullptr, nullptr, nullptr, &size));
  char name[16];
  DWORD length = sizeof name;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExA(writeOnly.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(readOnly.get(), "v", nullptr, nullptr, nullptr, &size));

  // A closed handle, a made-up one and the null handle are all invalid.
  HKEY closed = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &closed));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(closed));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(closed));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(closed, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
  Key none;
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(nullptr, "Software", 0, KEY_READ, none.out()));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegFlushKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7ff0))));
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(root.get()));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));

  // The old forms: no subkey gives back the same handle.
  HKEY same = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(root.get(), "", &same));
  EXPECT_EQ(root.get(), same);
  Key created;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyA(root.get(), "Old\\Style", created.out()));
  Key opened;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyW(root.get(), WIDE("old\\style"), opened.out()));
}

TEST_F(RegistryKeys, ClassesRootIsTheMachineClassesKey) {
  std::string name = testKeyPath("PlatformRegistryClasses");
  name = name.substr(name.find('\\') + 1);
  Key classes;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, (name + "\\CLSID").c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, classes.out(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(classes.get(), "", REG_SZ, "through HKCR", 0));
  Key machine;
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
