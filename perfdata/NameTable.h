// The names and help texts of performance objects and counters, by index, as
// "Counter 009" and "Help 009" give them: a REG_MULTI_SZ of alternating
// decimal index and text.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "rvText.h"

namespace perfdata {

using rv::Text;

class NameTable {
 public:
  // Adds the pairs of a REG_MULTI_SZ of `size` bytes. Returns false, with
  // `problem` saying which entry is wrong, when an index is not a decimal
  // number of at most 32 bits or the last index has no text; the pairs
  // before that entry are kept. An odd last byte and text after the closing
  // empty string are ignored, as registry readers do.
  bool add(const BYTE *bytes, size_t size, std::string &problem);

  // The installed text for `index`, or "#index" when there is none (Wine
  // installs no names, so every index of a collector's counters reads so).
  Text name(DWORD index) const;

  // Whether `index` has a text.
  bool has(DWORD index) const { return texts_.count(index) != 0; }

  // Every index whose text equals `text`, ignoring case, in increasing order.
  std::vector<DWORD> indicesNamed(const Text &text) const;

 private:
  std::map<DWORD, Text> texts_;
};

// Reads `text` as an object or counter index written "#1234" or "1234";
// false for anything else.
bool parseIndex(const Text &text, DWORD &index);

// The "#1234" form of an index.
Text indexText(DWORD index);

}  // namespace perfdata
