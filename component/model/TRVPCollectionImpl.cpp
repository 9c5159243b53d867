#include "TRVPCollectionImpl.h"

namespace rv {

std::optional<Text> foldedName(BSTR name) {
  if (name == nullptr) return std::nullopt;
  std::string ansi = toAnsi(name, static_cast<size_t>(lstrlenW(name)));
  if (!ansi.empty()) CharUpperBuffA(ansi.data(), static_cast<DWORD>(ansi.size()));
  return toWide(ansi);
}

}  // namespace rv
