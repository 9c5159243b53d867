#include "resource_image.h"

#include <cstring>

namespace platform {

namespace {

DWORD readDword(const unsigned char *p) {
  DWORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

WORD readWord(const unsigned char *p) {
  WORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

char16_t upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Reads a type or name field at `pos`: 0xFFFF and an id, or a
// zero-terminated UTF-16 text. Returns false when it runs past `end`.
bool readNameOrId(const unsigned char *image, size_t end, size_t &pos, bool &isId, WORD &id, std::u16string &text) {
  if (pos + 2 > end) return false;
  if (readWord(image + pos) == 0xFFFF) {
    if (pos + 4 > end) return false;
    isId = true;
    id = readWord(image + pos + 2);
    pos += 4;
    return true;
  }
  isId = false;
  for (;;) {
    if (pos + 2 > end) return false;
    char16_t c = readWord(image + pos);
    pos += 2;
    if (c == 0) return true;
    text.push_back(upper(c));
  }
}

bool matches(bool isId, WORD id, const std::u16string &text, LPCWSTR wanted) {
  if (IS_INTRESOURCE(wanted)) return isId && id == static_cast<WORD>(reinterpret_cast<ULONG_PTR>(wanted));
  if (wanted[0] == u'#') {
    unsigned value = 0;
    for (LPCWSTR p = wanted + 1; *p; ++p) {
      if (*p < u'0' || *p > u'9') return false;
      value = value * 10 + (*p - u'0');
      if (value > 0xFFFF) return false;
    }
    return isId && id == value;
  }
  if (isId) return false;
  size_t i = 0;
  for (; wanted[i]; ++i)
    if (i >= text.size() || upper(wanted[i]) != text[i]) return false;
  return i == text.size();
}

}  // namespace

std::vector<ResourceEntry> parseResourceImage(const unsigned char *image, size_t size) {
  std::vector<ResourceEntry> entries;
  size_t pos = 0;
  while (pos + 8 <= size) {
    const DWORD dataSize = readDword(image + pos);
    const DWORD headerSize = readDword(image + pos + 4);
    if (headerSize < 8 || headerSize > size - pos || dataSize > size - pos - headerSize) break;
    const size_t headerEnd = pos + headerSize;
    ResourceEntry entry;
    size_t field = pos + 8;
    if (!readNameOrId(image, headerEnd, field, entry.typeIsId, entry.typeId, entry.typeName)) break;
    if (!readNameOrId(image, headerEnd, field, entry.nameIsId, entry.nameId, entry.nameName)) break;
    field = (field + 3) & ~size_t(3);
    // DataVersion (4), MemoryFlags (2), LanguageId (2), Version (4), Characteristics (4)
    if (field + 16 > headerEnd) break;
    entry.language = readWord(image + field + 6);
    entry.data = image + headerEnd;
    entry.size = dataSize;
    // The image opens with an empty entry that only marks the format.
    if (dataSize != 0 || entry.typeIsId == false || entry.typeId != 0) entries.push_back(entry);
    pos = (headerEnd + dataSize + 3) & ~size_t(3);
  }
  return entries;
}

const ResourceEntry *findResource(const std::vector<ResourceEntry> &entries, LPCWSTR type, LPCWSTR name,
                                  WORD language) {
  const ResourceEntry *any = nullptr;
  for (const ResourceEntry &e : entries) {
    if (!matches(e.typeIsId, e.typeId, e.typeName, type) || !matches(e.nameIsId, e.nameId, e.nameName, name)) continue;
    if (language == 0 || e.language == language) return &e;
    if (any == nullptr) any = &e;
  }
  return any;
}

}  // namespace platform
