// unlodctr <driver>: removes the names and help texts that lodctr installed
// for a service, as Windows' unlodctr does: the service's index range (its
// Performance values First/Last Counter and First/Last Help) goes out of every
// language's Counter and Help tables, the four values go, and Perflib's Last
// Counter and Last Help step back below the range when it was the last one.
// Everything is read and checked before anything is written.
#include "ToolOptions.h"
#include "Utf8Text.h"
#include "tool_support.h"

#include <cstdio>
#include <list>
#include <string>

using commandline::fromUtf8;
using tools::check;
using tools::Failure;
using tools::NameEntry;
using tools::NameTable;
using tools::RegKey;
using tools::Wide;

namespace {

struct Range {
  DWORD firstCounter = 0, lastCounter = 0, firstHelp = 0, lastHelp = 0;
};

const char *const RangeValues[] = {"First Counter", "Last Counter", "First Help", "Last Help"};

// Keeps the entries outside [first, last]; true when any was removed.
bool removeRange(NameTable &table, DWORD first, DWORD last) {
  size_t before = table.size();
  std::erase_if(table, [&](const NameEntry &entry) { return entry.index >= first && entry.index <= last; });
  return table.size() != before;
}

void uninstall(const std::string &driver) {
  RegKey service;
  tools::openServiceKey(driver, service);
  RegKey performance;
  LONG status = tools::openKey(service.get(), fromUtf8("Performance"), KEY_ALL_ACCESS, performance);
  Range range;
  DWORD *fields[] = {&range.firstCounter, &range.lastCounter, &range.firstHelp, &range.lastHelp};
  for (size_t at = 0; at < 4 && status == ERROR_SUCCESS; ++at)
    status = tools::readDword(performance.get(), fromUtf8(RangeValues[at]), *fields[at]);
  if (status == ERROR_FILE_NOT_FOUND) throw Failure{status, "The counters of " + driver + " are not installed."};
  check(status, "Unable to read the counter range of " + driver);
  if (range.firstCounter > range.lastCounter || range.firstHelp > range.lastHelp)
    throw Failure{ERROR_INVALID_DATA, "The counter range of " + driver + " is not valid."};

  RegKey perflib;
  check(tools::openKey(HKEY_LOCAL_MACHINE, fromUtf8(tools::PerflibPath), KEY_ALL_ACCESS, perflib),
        "Unable to open Perflib");
  DWORD lastCounter = 0, lastHelp = 0;
  check(tools::readDword(perflib.get(), fromUtf8("Last Counter"), lastCounter), "Unable to read Last Counter");
  check(tools::readDword(perflib.get(), fromUtf8("Last Help"), lastHelp), "Unable to read Last Help");

  // Every language's tables are read and edited before any is written.
  struct Tables {
    std::string name;
    RegKey key;
    NameTable counters, help;
    bool changed = false;
  };
  std::list<Tables> languages;
  for (DWORD index = 0;; ++index) {
    WCHAR name[256];
    DWORD length = 256;
    status = RegEnumKeyExW(perflib.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    check(status, "Unable to list the languages of Perflib");
    Tables &tables = languages.emplace_back();
    tables.name = commandline::toUtf8(Wide(name, length));
    check(tools::openKey(perflib.get(), Wide(name, length), KEY_ALL_ACCESS, tables.key),
          "Unable to open Perflib\\" + tables.name);
    check(tools::readNameTable(tables.key.get(), fromUtf8("Counter"), tables.counters),
          "Unable to read Perflib\\" + tables.name + "\\Counter");
    check(tools::readNameTable(tables.key.get(), fromUtf8("Help"), tables.help),
          "Unable to read Perflib\\" + tables.name + "\\Help");
    bool counters = removeRange(tables.counters, range.firstCounter, range.lastCounter);
    bool help = removeRange(tables.help, range.firstHelp, range.lastHelp);
    tables.changed = counters || help;
  }

  for (Tables &tables : languages) {
    if (!tables.changed) continue;
    check(tools::writeNameTable(tables.key.get(), fromUtf8("Counter"), tables.counters),
          "Unable to write Perflib\\" + tables.name + "\\Counter");
    check(tools::writeNameTable(tables.key.get(), fromUtf8("Help"), tables.help),
          "Unable to write Perflib\\" + tables.name + "\\Help");
  }
  if (lastCounter == range.lastCounter && lastHelp == range.lastHelp) {
    check(tools::writeDword(perflib.get(), fromUtf8("Last Counter"), range.firstCounter - 2),
          "Unable to update Perflib");
    check(tools::writeDword(perflib.get(), fromUtf8("Last Help"), range.firstHelp - 2), "Unable to update Perflib");
  }
  for (const char *value : RangeValues)
    check(RegDeleteValueW(performance.get(), fromUtf8(value).c_str()), "Unable to remove the counter range");
}

}  // namespace

int main(int argc, char **argv) {
  return commandline::runProgram(tools::Unlodctr, argc, argv, tools::parseUnlodctr, [](const std::string &driver) {
    return tools::reportWork([&] {
      uninstall(driver);
      return "Successfully uninstalled the performance counters of " + driver;
    });
  });
}
