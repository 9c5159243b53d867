#include "NameTable.h"

#include <cstdio>
#include <cstring>

namespace perfdata {
namespace {

bool parseDecimal(const WCHAR *digits, size_t length, DWORD &value) {
  if (length == 0 || length > 10) return false;
  ULONGLONG number = 0;
  for (size_t at = 0; at < length; ++at) {
    if (digits[at] < '0' || digits[at] > '9') return false;
    number = number * 10 + static_cast<ULONGLONG>(digits[at] - '0');
  }
  if (number > MAXDWORD) return false;
  value = static_cast<DWORD>(number);
  return true;
}

}  // namespace

bool NameTable::add(const BYTE *bytes, size_t size, std::string &problem) {
  size_t units = size / sizeof(WCHAR);
  std::vector<WCHAR> text(units);
  if (units != 0) memcpy(text.data(), bytes, units * sizeof(WCHAR));

  // The strings, each up to its terminator or the end of the bytes.
  size_t at = 0;
  auto next = [&](const WCHAR *&start, size_t &length) {
    length = 0;
    if (at >= units) return false;
    start = text.data() + at;
    while (at + length < units && text[at + length] != 0) ++length;
    at += length + 1;
    return length != 0;
  };

  const WCHAR *start = nullptr;
  size_t length = 0;
  for (size_t entry = 1; next(start, length); entry += 2) {
    DWORD index = 0;
    if (!parseDecimal(start, length, index)) {
      char number[16];
      snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(entry));
      problem = std::string("name table entry ") + number + ": the index is not a decimal number of 32 bits";
      return false;
    }
    const WCHAR *name = nullptr;
    size_t nameLength = 0;
    if (!next(name, nameLength)) {
      char number[16];
      snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(index));
      problem = std::string("name table: index ") + number + " has no text after it";
      return false;
    }
    texts_[index] = Text(name, nameLength);
  }
  problem.clear();
  return true;
}

Text NameTable::name(DWORD index) const {
  auto found = texts_.find(index);
  return found != texts_.end() ? found->second : indexText(index);
}

std::vector<DWORD> NameTable::indicesNamed(const Text &text) const {
  std::vector<DWORD> indices;
  for (const auto &[index, name] : texts_) {
    if (lstrcmpiW(name.c_str(), text.c_str()) == 0) indices.push_back(index);
  }
  return indices;
}

bool parseIndex(const Text &text, DWORD &index) {
  size_t skip = !text.empty() && text[0] == '#' ? 1 : 0;
  return parseDecimal(text.data() + skip, text.size() - skip, index);
}

Text indexText(DWORD index) {
  char digits[16];
  int length = snprintf(digits, sizeof digits, "#%lu", static_cast<unsigned long>(index));
  return Text(digits, digits + length);
}

}  // namespace perfdata
