// rvCompanion registered beside the component: the component's failing
// calls reach the error log file, tracing switched on in the registry
// reaches the viewer file, the branding folder
// comes from the registry or the install folder, and unregistration takes
// every class away again.
#include "ClassesKeys.h"
#include "rvOutsideComponents.h"
#include "CompanionModule.h"
#include "ComponentFixture.h"

#include <vector>

namespace {

const OLECHAR SettingsKey[] = OLESTR("SOFTWARE\\rvZedaZuvivurAzodav");

std::string temporaryFolder() {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  return folder;
}

std::vector<std::string> split(const std::string &text, const std::string &separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size())
    parts.push_back(text.substr(start, at - start));
  if (start < text.size()) parts.push_back(text.substr(start));
  return parts;
}

// The records of a file: one line each, its fields split at tabs.
std::vector<std::vector<std::string>> recordsOf(const std::string &path) {
  std::vector<std::vector<std::string>> records;
  for (const std::string &line : split(fileText(path), "\r\n")) records.push_back(split(line, "\t"));
  return records;
}

void setValue(const OLECHAR *subkey, const char *name, DWORD type, const void *data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (Text(SettingsKey) + OLESTR("\\") + subkey).c_str(), 0,
                                           nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, wide(name).c_str(), 0, type, static_cast<const BYTE *>(data), size));
  RegCloseKey(key);
}

void setNumber(const OLECHAR *subkey, const char *name, DWORD value) {
  setValue(subkey, name, REG_DWORD, &value, sizeof value);
}

void setText(const OLECHAR *subkey, const char *name, const std::string &value) {
  const Text text = wide(value);
  setValue(subkey, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(OLECHAR)));
}

bool sameFolder(const std::string &a, const std::string &b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

class Companion : public ComponentFixture {
 protected:
  // The settings are written before the component first asks for them: it
  // reads the trace level once for the life of the module.
  static void SetUpTestSuite() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, SettingsKey);
    folder_ = temporaryFolder() + "rvCompanionTest." + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder_.c_str(), nullptr);
    setNumber(OLESTR("Trace"), "Level", 5);
    setNumber(OLESTR("Trace"), "Viewer", 1);
    setText(OLESTR("Trace"), "ViewerFile", viewerFile());
    setText(OLESTR("ErrorLog"), "File", errorFile());
    ComponentFixture::SetUpTestSuite();
    companion_ = LoadLibraryA(COMPANION_MODULE);
    ASSERT_NE(nullptr, companion_);
    ASSERT_EQ(S_OK, companionEntry("DllRegisterServer")());
  }

  static void TearDownTestSuite() {
    companionEntry("DllUnregisterServer")();
    ComponentFixture::TearDownTestSuite();
    for (const std::string &file : {viewerFile(), errorFile()}) DeleteFileA(file.c_str());
    RemoveDirectoryA(folder_.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, SettingsKey);
  }

  static Entry companionEntry(const char *name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(companion_, name)));
  }

  static std::string viewerFile() { return folder_ + "\\viewer.txt"; }
  static std::string errorFile() { return folder_ + "\\errors.txt"; }

  // A call of the component that fails and is logged: a definition file
  // that is not there.
  static HRESULT failOnce(IPerfMgr *manager) {
    TestBstr missing(folder_ + "\\no such folder");
    const HRESULT hr = manager->Load(missing.value);
    EXPECT_TRUE(FAILED(hr));
    takeError();
    return hr;
  }

  static std::string folder_;
  static HMODULE companion_;
};

std::string Companion::folder_;
HMODULE Companion::companion_ = nullptr;

TEST_F(Companion, FailingCallsAreLoggedOneLineEach) {
  DeleteFileA(errorFile().c_str());
  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  const HRESULT failure = failOnce(manager.p);
  const size_t perCall = recordsOf(errorFile()).size();
  ASSERT_GE(perCall, 1u);
  failOnce(manager.p);
  const auto records = recordsOf(errorFile());
  ASSERT_EQ(2 * perCall, records.size());
  for (const auto &fields : records) {
    ASSERT_EQ(14u, fields.size());
    EXPECT_EQ(fields[1].substr(0, 2), "0x");
    EXPECT_EQ(std::to_string(static_cast<LONG>(std::stoul(fields[1], nullptr, 16))), fields[2]);
    EXPECT_NE(std::string::npos, fields[4].find("no such folder")) << fields[4];
    EXPECT_EQ("rvZedaZuvivurAzodav", fields[5]);
    EXPECT_EQ("default", fields[7]);
    EXPECT_EQ("PerfMgr", fields[8]);
    EXPECT_EQ("Load", fields[9]);
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), fields[12]);
  }

  // A file that cannot be written fails the record, not the caller: the
  // component's call fails with its own code as before.
  setText(OLESTR("ErrorLog"), "File", folder_ + "\\missing\\errors.txt");
  Ref<rv::IErrorLog> log;
  create(rv::CLSID_ErrorLog, rv::IID_IErrorLog, log);
  TestBstr text("text");
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
            log->LogError(text.value, E_FAIL, text.value, 1, text.value, text.value, text.value, text.value, text.value,
                          0, 1));
  TestBstr missing(folder_ + "\\no such folder");
  EXPECT_EQ(failure, manager->Load(missing.value));
  EXPECT_NE(std::string::npos, takeError().description.find("no such folder"));
  setText(OLESTR("ErrorLog"), "File", errorFile());
  EXPECT_EQ(2 * perCall, recordsOf(errorFile()).size());
}

TEST_F(Companion, TracingSwitchedOnInTheRegistryReachesTheViewerFile) {
  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  DeleteFileA(viewerFile().c_str());
  BSTR location = nullptr;
  ASSERT_EQ(S_OK, manager->get_InstallLocation(&location));
  SysFreeString(location);
  auto records = recordsOf(viewerFile());
  ASSERT_EQ(1u, records.size()) << fileText(viewerFile());
  ASSERT_EQ(6u, records[0].size());
  EXPECT_EQ("5", records[0][1]);
  EXPECT_EQ("rvZedaZuvivurAzodav", records[0][2]);
  EXPECT_EQ("default", records[0][3]);
  EXPECT_EQ("get_InstallLocation", records[0][4]);

  // Level 1 in the registry: from now on the entry records are not shown,
  // the errors are, without a restart.
  setNumber(OLESTR("Trace"), "Level", 1);
  location = nullptr;
  ASSERT_EQ(S_OK, manager->get_InstallLocation(&location));
  SysFreeString(location);
  EXPECT_EQ(1u, recordsOf(viewerFile()).size()) << fileText(viewerFile());
  failOnce(manager.p);
  records = recordsOf(viewerFile());
  ASSERT_GE(records.size(), 2u);
  for (size_t at = 1; at < records.size(); ++at) {
    ASSERT_EQ(6u, records[at].size());
    EXPECT_EQ("1", records[at][1]);
    EXPECT_EQ("Load", records[at][4]);
  }
  setNumber(OLESTR("Trace"), "Level", 5);
}

TEST_F(Companion, BrandingFolderFromTheRegistryOrTheInstallFolder) {
  // Where the current folder holds no definition file, the component looks
  // in the branding folder.
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
  const std::string branded = folder_ + "\\branded";
  CreateDirectoryA(branded.c_str(), nullptr);
  const std::string definition = branded + "\\RVCounters.xml";
  ASSERT_TRUE(writeFileText(definition, "<?xml version=\"1.0\"?><PerfData Enabled=\"1\"/>"));

  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  setText(OLESTR("Branding"), "Folder", branded + "\\");
  // Wine 8's msxml3 reports a missing file as E_FAIL, not as an object not
  // found, so there the component never asks for the branding folder.
#ifndef _WIN32
  RVPerformanceSetting setting = pmUnknown;
  EXPECT_EQ(S_OK, manager->get_PerformanceSetting(&setting));
  EXPECT_EQ(pmEnabled, setting);
#endif
  Ref<rv::IFolderBranding> branding;
  create(rv::CLSID_FolderBranding, rv::IID_IFolderBranding, branding);
  EXPECT_TRUE(sameFolder(branded, readText([&](BSTR *t) { return branding->GetFolder(t); })));

  // Without the value: the component's install folder while it is
  // registered, else the companion's own folder.
  ASSERT_EQ(S_OK, branding->SetFolder(nullptr));
  const std::string installed = readText([&](BSTR *t) { return manager->get_InstallLocation(t); });
  EXPECT_TRUE(sameFolder(installed, readText([&](BSTR *t) { return branding->GetFolder(t); })));
  OLECHAR clsid[40];
  StringFromGUID2(CLSID_PerfMgr, clsid, 40);
  {
    ClassesKey elsewhere(Text(OLESTR("CLSID\\")) + clsid + OLESTR("\\InprocServer32"),
                         wide(branded + "\\rvZedaZuvivurAzodav.dll").c_str());
    EXPECT_TRUE(sameFolder(branded, readText([&](BSTR *t) { return branding->GetFolder(t); })));
  }
  char own[MAX_PATH] = {};
  GetModuleFileNameA(companion_, own, MAX_PATH);
  const std::string ownFolder = std::string(own).substr(0, std::string(own).find_last_of('\\'));
  EXPECT_TRUE(sameFolder(ownFolder, readText([&](BSTR *t) { return branding->GetFolder(t); })));
  ASSERT_EQ(S_OK, entry("DllRegisterServer")());

  SetCurrentDirectoryA(previous);
  DeleteFileA(definition.c_str());
  RemoveDirectoryA(branded.c_str());
}

// Callers built apart from this project reach the outside components by
// their position in the method table, as a C client does through lpVtbl. The
// members are called here through raw slots (IUnknown takes 0 to 2,
// IDispatch 3 to 6), so a member moved, added or dropped in the one
// declaration that the component, this module and the doubles share fails
// here although all three would still agree with each other.
template <typename... Args> HRESULT callSlot(IUnknown *object, size_t slot, Args... args) {
  using Method = HRESULT(STDMETHODCALLTYPE *)(IUnknown *, Args...);
  void *const *table = *reinterpret_cast<void *const *const *>(object);
  return reinterpret_cast<Method>(table[slot])(object, args...);
}

TEST_F(Companion, MembersKeepTheirSlots) {
  // ITraceSettings: 7 TraceRecord, 8 to 11 the record's origin, then the
  // level and the viewer switch, each stored, then read.
  Ref<rv::ITraceSettings> trace;
  create(rv::CLSID_TraceSettings, rv::IID_ITraceSettings, trace);
  TestBstr component("SlotCheck"), origin("origin");
  ASSERT_EQ(S_OK, callSlot(trace.p, 8, component.value));
  for (size_t slot : {9, 10, 11}) EXPECT_EQ(S_OK, callSlot(trace.p, slot, origin.value));
  ASSERT_EQ(S_OK, callSlot(trace.p, 12, LONG{3}));
  LONG level = 0;
  ASSERT_EQ(S_OK, callSlot(trace.p, 13, &level));
  EXPECT_EQ(3, level);
  VARIANT_BOOL show = VARIANT_FALSE;
  ASSERT_EQ(S_OK, callSlot(trace.p, 7, origin.value, LONG{1}, LONG{3}, &show));
  EXPECT_EQ(VARIANT_TRUE, show);
  ASSERT_EQ(S_OK, callSlot(trace.p, 7, origin.value, LONG{1}, LONG{4}, &show));
  EXPECT_EQ(VARIANT_FALSE, show);
  // The shared setting switches the viewer on; the key of the component
  // named in slot 8 now switches it off.
  ASSERT_EQ(S_OK, callSlot(trace.p, 14, VARIANT_BOOL{VARIANT_FALSE}));
  VARIANT_BOOL on = VARIANT_TRUE;
  ASSERT_EQ(S_OK, callSlot(trace.p, 15, &on));
  EXPECT_EQ(VARIANT_FALSE, on);
  const Text ownKey = Text(SettingsKey) + OLESTR("\\Trace\\SlotCheck");
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, ownKey.c_str()));

  // IFolderBranding: 7 SetFolder, 8 GetFolder.
  Ref<rv::IFolderBranding> branding;
  create(rv::CLSID_FolderBranding, rv::IID_IFolderBranding, branding);
  TestBstr folder("C:\\slot check");
  ASSERT_EQ(S_OK, callSlot(branding.p, 7, folder.value));
  EXPECT_EQ("C:\\slot check", readText([&](BSTR *text) { return callSlot(branding.p, 8, text); }));
  ASSERT_EQ(S_OK, callSlot(branding.p, 7, BSTR{nullptr}));

  // IErrorLog: 7 LogError, every argument in its place.
  DeleteFileA(errorFile().c_str());
  Ref<rv::IErrorLog> log;
  create(rv::CLSID_ErrorLog, rv::IID_IErrorLog, log);
  TestBstr source("source"), text("description"), version("version"), module("module"), file("file"),
      procedure("procedure");
  ASSERT_EQ(S_OK, callSlot(log.p, 7, source.value, LONG{E_FAIL}, text.value, LONG{12}, component.value, version.value,
                           module.value, file.value, procedure.value, SHORT{0}, SHORT{1}));
  const auto records = recordsOf(errorFile());
  ASSERT_EQ(1u, records.size());
  const std::vector<std::string> expected = {std::to_string(LONG{E_FAIL}),
                                             "source",
                                             "description",
                                             "SlotCheck",
                                             "version",
                                             "module",
                                             "file",
                                             "procedure",
                                             "12",
                                             "raised"};
  ASSERT_EQ(14u, records[0].size());
  EXPECT_EQ(expected, std::vector<std::string>(records[0].begin() + 2, records[0].begin() + 12));
}

TEST_F(Companion, UnregistrationRemovesEveryClass) {
  const CLSID *classes[] = {&rv::CLSID_ErrorLog, &rv::CLSID_TraceSettings, &rv::companion::CLSID_ViewerHelper,
                            &rv::CLSID_FolderBranding};
  for (const CLSID *clsid : classes) {
    Ref<IDispatch> object;
    EXPECT_EQ(S_OK, CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.putVoid()));
  }
  ASSERT_EQ(S_OK, companionEntry("DllUnregisterServer")());
  for (const CLSID *clsid : classes) {
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, classKeyPath(*clsid).c_str(), 0, KEY_READ, &key));
    Ref<IDispatch> object;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.putVoid()));
  }
  HKEY key = nullptr;
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("TraceConsole_83.ViewerHelper"), 0, KEY_READ, &key));

  // The component goes on without them: its errors go to its own file.
  DeleteFileA(errorFile().c_str());
  Ref<IPerfMgr> manager;
  create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  failOnce(manager.p);
  EXPECT_EQ("<missing>", fileText(errorFile()));
  ASSERT_EQ(S_OK, companionEntry("DllRegisterServer")());
}

}  // namespace
