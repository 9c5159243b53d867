#include "TRVPCollectionImpl.h"

namespace rv {

std::optional<Text> foldedName(BSTR name) {
  if (name == nullptr) return std::nullopt;
  std::string ansi = toAnsi(name, static_cast<size_t>(lstrlenW(name)));
  if (!ansi.empty()) CharUpperBuffA(ansi.data(), static_cast<DWORD>(ansi.size()));
  return toWide(ansi);
}

// FNV-1a over the folded code units, up to the first zero.
std::uint64_t NameIndex::hashOf(const OLECHAR *name) {
  std::uint64_t hash = 14695981039346656037ull;
  const auto mix = [&hash](OLECHAR unit) { hash = (hash ^ static_cast<std::uint16_t>(unit)) * 1099511628211ull; };
  if (name == nullptr) return hash;
  const OLECHAR *end = name;
  for (; *end != 0; ++end)
    if (*end >= 0x80) break;
  if (*end == 0) {
    for (const OLECHAR *unit = name; unit != end; ++unit)
      mix(*unit >= 'a' && *unit <= 'z' ? OLECHAR(*unit - 'a' + 'A') : *unit);
    return hash;
  }
  const std::optional<Text> folded = foldedName(const_cast<BSTR>(name));
  for (OLECHAR unit : *folded) {
    if (unit == 0) break;
    mix(unit);
  }
  return hash;
}

}  // namespace rv
