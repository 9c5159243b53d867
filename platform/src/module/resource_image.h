// A compiled resource image (.res): a sequence of entries, each a header
// naming type, name and language, followed by the data, both DWORD-aligned.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

struct ResourceEntry {
  bool typeIsId = false;
  WORD typeId = 0;
  std::u16string typeName;  // upper-cased, as Windows compares names
  bool nameIsId = false;
  WORD nameId = 0;
  std::u16string nameName;
  WORD language = 0;
  const BYTE *data = nullptr;
  DWORD size = 0;
};

// Parses `image`; entries that would run past its end are dropped, so a
// damaged image yields the entries before the damage and nothing else.
std::vector<ResourceEntry> parseResourceImage(const unsigned char *image, size_t size);

// Finds the entry of the given type and name (an id when IS_INTRESOURCE, else
// a text compared without regard to case; "#123" names id 123), preferring
// `language` when it is not 0, then any language.
const ResourceEntry *findResource(const std::vector<ResourceEntry> &entries, LPCWSTR type, LPCWSTR name, WORD language);

}  // namespace platform
