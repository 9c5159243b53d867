// Tests that load a definition file and register it: a manager, a folder of
// the test's own in the temporary folder for the definition file and what
// registering writes, and a device name of the test's own. Afterwards the
// files, the folder and the device's service key are gone.
#pragma once
#include "ComponentFixture.h"

#include <initializer_list>
#include <string>

class RegistrationFixture : public ComponentFixture {
 protected:
  // Makes the folder <temp>\<folderPrefix>-<pid> and the device name
  // <devicePrefix><pid>, and a new manager.
  void prepare(const std::string &folderPrefix, const std::string &devicePrefix) {
    OLECHAR temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder = narrow(temp) + folderPrefix + "-" + std::to_string(GetCurrentProcessId());
    device = devicePrefix + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    create(CLSID_PerfMgr, IID_IPerfMgr, manager);
  }

  // Writes `definition` as the folder's RVCounters.xml, with the device name
  // in place of %DEVICE%, if it names one.
  void writeDefinition(std::string definition) {
    if (const size_t at = definition.find("%DEVICE%"); at != std::string::npos) definition.replace(at, 8, device);
    ASSERT_TRUE(writeFileText(folder + "\\RVCounters.xml", definition));
  }

  // Removes RVCounters.xml and `files` from the folder, the folder, and the
  // device's service key.
  void removeAll(std::initializer_list<const char *> files) {
    DeleteFileA((folder + "\\RVCounters.xml").c_str());
    for (const char *name : files) DeleteFileA((folder + "\\" + name).c_str());
    RemoveDirectoryA(folder.c_str());
    const std::string service = "SYSTEM\\CurrentControlSet\\Services\\" + device;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, service.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, service.c_str());
  }

  std::string folder, device;
  Ref<IPerfMgr> manager;
};
