// lodctr <ini file>: installs the names and help texts of a service's
// performance counters, as Windows' lodctr does for a legacy INI file.
//
// The INI file names the service ([info] drivername=) and the symbol header
// ([info] symbolfile=, relative to the INI file's folder unless absolute),
// lists languages ([languages] 009=English) and gives each text as
// SYMBOL_LANGUAGE_NAME= or SYMBOL_LANGUAGE_HELP= in [text]. The header gives
// each symbol its offset (#define SYMBOL offset). The service's block of
// indexes starts after Perflib's Last Counter and Last Help: a name gets
// First Counter + offset, a help text First Help + offset (offsets are even,
// so names are even and help texts odd). Everything is read and checked
// before anything is written, so bad input changes nothing.
#include "kernel/paths.h"
#include "ToolOptions.h"
#include "Utf8Text.h"
#include "tool_support.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

using commandline::fromUtf8;
using tools::check;
using tools::Failure;
using tools::NameEntry;
using tools::NameTable;
using tools::RegKey;
using tools::Wide;

namespace {

std::string trim(const std::string &text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string upper(std::string text) {
  for (char &c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Counter definitions take a few kilobytes; a file past this size is no
// INI or header file of a performance library (a device such as /dev/zero
// would otherwise be read without end).
constexpr std::streamsize LargestFile = 16 * 1024 * 1024;

// The file's bytes; nothing when it cannot be opened. A file past
// LargestFile is refused, named as `shownPath`.
std::optional<std::string> readFile(const std::string &path, const std::string &shownPath) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string content(static_cast<size_t>(LargestFile) + 1, '\0');
  file.read(content.data(), LargestFile + 1);
  if (file.gcount() > LargestFile)
    throw Failure{ERROR_INVALID_DATA, "The file " + shownPath + " is larger than " +
                                          std::to_string(LargestFile / (1024 * 1024)) +
                                          " MB; counter definitions never are."};
  content.resize(static_cast<size_t>(file.gcount()));
  return content;
}

std::vector<std::string> lines(const std::string &content) {
  std::vector<std::string> out;
  std::istringstream stream(content);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

// An INI file as the profile functions read it: section and key names
// ignore case, blanks around names and values are dropped, and the first of
// two equal keys counts. Lines without '=' carry no entry.
struct Ini {
  struct Entry {
    std::string key;
    std::string value;
  };
  std::map<std::string, std::vector<Entry>> sections;

  explicit Ini(const std::string &content) {
    std::vector<Entry> *section = nullptr;
    for (const std::string &raw : lines(content)) {
      std::string line = trim(raw);
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        size_t close = line.find(']');
        section = &sections[upper(trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)))];
        continue;
      }
      size_t equals = line.find('=');
      if (section == nullptr || equals == std::string::npos) continue;
      section->push_back(Entry{trim(line.substr(0, equals)), trim(line.substr(equals + 1))});
    }
  }

  const std::vector<Entry> *section(const char *name) const {
    auto found = sections.find(name);
    return found == sections.end() ? nullptr : &found->second;
  }

  std::optional<std::string> value(const char *sectionName, const char *key) const {
    if (const auto *entries = section(sectionName)) {
      for (const Entry &entry : *entries)
        if (upper(entry.key) == key) return entry.value;
    }
    return std::nullopt;
  }
};

// The symbols of a header file: #define NAME offset, decimal or 0x hex.
std::map<std::string, DWORD> readSymbols(const std::string &path, const std::string &shownPath) {
  std::optional<std::string> content = readFile(path, shownPath);
  if (!content) throw Failure{ERROR_FILE_NOT_FOUND, "Unable to open the symbol file " + shownPath + "."};
  std::map<std::string, DWORD> symbols;
  int number = 0;
  for (const std::string &raw : lines(*content)) {
    ++number;
    std::istringstream line(raw);
    std::string directive, name, value;
    line >> directive;
    if (directive != "#define") continue;
    line >> name >> value;
    char *end = nullptr;
    unsigned long offset = value.empty() ? 0 : std::strtoul(value.c_str(), &end, 0);
    if (name.empty() || value.empty() || *end != 0 || offset > 0x7fffffff)
      throw Failure{ERROR_INVALID_DATA, "Line " + std::to_string(number) + " of the symbol file " + shownPath +
                                            " is not a definition of a symbol with a number: " + raw};
    symbols.emplace(name, static_cast<DWORD>(offset));
  }
  return symbols;
}

// One text of the [text] section: the symbol's offset, whether it is a help
// text, and the text.
struct Text {
  DWORD offset;
  bool help;
  Wide text;
};

struct Install {
  std::string driver;
  // Per language: its texts, in the order of the INI file.
  std::map<std::string, std::vector<Text>> languages;
  DWORD lastOffset = 0;
};

Install readIni(const std::string &iniPath) {
  std::optional<std::string> content = readFile(platform::kernel::toPosixPath(iniPath), iniPath);
  if (!content) throw Failure{ERROR_FILE_NOT_FOUND, "Unable to open the file " + iniPath + "."};
  Ini ini(*content);
  Install install;
  std::optional<std::string> driver = ini.value("INFO", "DRIVERNAME");
  if (!driver || driver->empty())
    throw Failure{ERROR_BAD_FORMAT, "The file " + iniPath + " names no driver ([info] drivername=)."};
  install.driver = *driver;
  std::optional<std::string> symbolFile = ini.value("INFO", "SYMBOLFILE");
  if (!symbolFile || symbolFile->empty())
    throw Failure{ERROR_BAD_FORMAT, "The file " + iniPath + " names no symbol file ([info] symbolfile=)."};

  // The symbol file is found beside the INI file unless its path is absolute.
  std::string symbolPath = platform::kernel::toPosixPath(*symbolFile);
  if (symbolPath.empty() || symbolPath[0] != '/') {
    std::string iniFolder = platform::kernel::toPosixPath(iniPath);
    size_t slash = iniFolder.rfind('/');
    iniFolder = slash == std::string::npos ? std::string(".") : iniFolder.substr(0, slash);
    symbolPath = iniFolder + "/" + symbolPath;
  }
  std::map<std::string, DWORD> symbols = readSymbols(symbolPath, *symbolFile);

  const auto *languages = ini.section("LANGUAGES");
  if (languages == nullptr || languages->empty())
    throw Failure{ERROR_BAD_FORMAT, "The file " + iniPath + " lists no language ([languages])."};
  for (const Ini::Entry &language : *languages) install.languages[upper(language.key)];

  if (const auto *texts = ini.section("TEXT")) {
    for (const Ini::Entry &entry : *texts) {
      // SYMBOL_LANGUAGE_NAME or SYMBOL_LANGUAGE_HELP; the symbol may hold
      // underscores of its own.
      std::string key = upper(entry.key);
      size_t kindAt = key.rfind('_');
      size_t languageAt = kindAt == std::string::npos || kindAt == 0 ? std::string::npos : key.rfind('_', kindAt - 1);
      std::string kind = kindAt == std::string::npos ? std::string() : key.substr(kindAt + 1);
      if (languageAt == std::string::npos || languageAt == 0 || (kind != "NAME" && kind != "HELP")) {
        std::fprintf(stderr, "lodctr: ignoring the entry %s of [text], which is not SYMBOL_LANGUAGE_NAME or _HELP.\n",
                     entry.key.c_str());
        continue;
      }
      std::string symbol = entry.key.substr(0, languageAt);
      std::string language = key.substr(languageAt + 1, kindAt - languageAt - 1);
      auto defined = symbols.find(symbol);
      if (defined == symbols.end())
        throw Failure{ERROR_INVALID_DATA,
                      "The symbol " + symbol + " of " + entry.key + " is not defined in " + *symbolFile + "."};
      auto texts = install.languages.find(language);
      if (texts == install.languages.end()) continue;  // a language the file does not install
      // An empty text would end the name table early, so it is left out.
      if (entry.value.empty()) continue;
      texts->second.push_back(Text{defined->second, kind == "HELP", commandline::fromCodePage(CP_ACP, entry.value)});
      install.lastOffset = std::max(install.lastOffset, defined->second);
    }
  }
  bool anyText = std::any_of(install.languages.begin(), install.languages.end(),
                             [](const auto &language) { return !language.second.empty(); });
  if (!anyText) throw Failure{ERROR_BAD_FORMAT, "The file " + iniPath + " gives no text to install ([text])."};
  return install;
}

void install(const Install &plan) {
  RegKey service;
  tools::openServiceKey(plan.driver, service);
  RegKey performance;
  check(tools::createKey(service.get(), fromUtf8("Performance"), performance),
        "Unable to open the Performance key of " + plan.driver);
  DWORD existing = 0;
  LONG status = tools::readDword(performance.get(), fromUtf8("First Counter"), existing);
  if (status == ERROR_SUCCESS)
    throw Failure{ERROR_ALREADY_EXISTS, "The counters of " + plan.driver +
                                            " are already installed; remove them first with unlodctr " + plan.driver +
                                            "."};

  // The next free block: names even, help texts odd, after both last indexes.
  RegKey perflib;
  check(tools::createKey(HKEY_LOCAL_MACHINE, fromUtf8(tools::PerflibPath), perflib), "Unable to open Perflib");
  DWORD lastCounter = tools::BaseLastCounter, lastHelp = tools::BaseLastHelp;
  status = tools::readDword(perflib.get(), fromUtf8("Last Counter"), lastCounter);
  if (status != ERROR_FILE_NOT_FOUND) check(status, "Unable to read Perflib's Last Counter");
  status = tools::readDword(perflib.get(), fromUtf8("Last Help"), lastHelp);
  if (status != ERROR_FILE_NOT_FOUND) check(status, "Unable to read Perflib's Last Help");
  DWORD firstCounter = std::max(lastCounter, lastHelp - 1) + 2;
  firstCounter += firstCounter % 2;
  DWORD firstHelp = firstCounter + 1;

  // Read every table first, so that a broken one stops before any change.
  struct Tables {
    RegKey key;
    NameTable counters, help;
  };
  std::map<std::string, Tables> tables;
  for (const auto &[language, texts] : plan.languages) {
    if (texts.empty()) continue;
    Tables &table = tables[language];
    check(tools::createKey(perflib.get(), commandline::fromCodePage(CP_ACP, language), table.key),
          "Unable to open Perflib\\" + language);
    check(tools::readNameTable(table.key.get(), fromUtf8("Counter"), table.counters),
          "Unable to read Perflib\\" + language + "\\Counter");
    check(tools::readNameTable(table.key.get(), fromUtf8("Help"), table.help),
          "Unable to read Perflib\\" + language + "\\Help");
  }
  for (auto &[language, table] : tables) {
    for (const Text &text : plan.languages.at(language)) {
      if (text.help) {
        table.help.push_back(NameEntry{firstHelp + text.offset, text.text});
      } else {
        table.counters.push_back(NameEntry{firstCounter + text.offset, text.text});
      }
    }
    check(tools::writeNameTable(table.key.get(), fromUtf8("Counter"), table.counters),
          "Unable to write Perflib\\" + language + "\\Counter");
    check(tools::writeNameTable(table.key.get(), fromUtf8("Help"), table.help),
          "Unable to write Perflib\\" + language + "\\Help");
  }
  DWORD driverLastCounter = firstCounter + plan.lastOffset, driverLastHelp = firstHelp + plan.lastOffset;
  check(tools::writeDword(perflib.get(), fromUtf8("Last Counter"), driverLastCounter), "Unable to update Perflib");
  check(tools::writeDword(perflib.get(), fromUtf8("Last Help"), driverLastHelp), "Unable to update Perflib");
  check(tools::writeDword(performance.get(), fromUtf8("First Counter"), firstCounter), "Unable to write the range");
  check(tools::writeDword(performance.get(), fromUtf8("First Help"), firstHelp), "Unable to write the range");
  check(tools::writeDword(performance.get(), fromUtf8("Last Counter"), driverLastCounter), "Unable to write the range");
  check(tools::writeDword(performance.get(), fromUtf8("Last Help"), driverLastHelp), "Unable to write the range");
}

}  // namespace

int main(int argc, char **argv) {
  return commandline::runProgram(tools::Lodctr, argc, argv, tools::parseLodctr, [](const std::string &iniPath) {
    return tools::reportWork([&] {
      install(readIni(iniPath));
      return "Successfully installed performance counters for " + iniPath;
    });
  });
}
