#include "BasicAuth.h"

#include "Bcrypt.h"

namespace exporter {
namespace {

// Pairs that passed, kept at most: enough for every scraper of a machine.
constexpr size_t RememberedLimit = 64;

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool decodeBase64(const std::string &text, std::string &bytes) {
  bytes.clear();
  size_t length = text.size();
  while (length > 0 && text[length - 1] == '=' && text.size() - length < 2) --length;
  if (length != text.size() && text.size() % 4 != 0) return false;
  if (length % 4 == 1) return false;
  uint32_t bits = 0;
  int held = 0;
  for (size_t at = 0; at < length; ++at) {
    const int value = base64Value(text[at]);
    if (value < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    held += 6;
    if (held >= 8) {
      held -= 8;
      bytes += static_cast<char>((bits >> held) & 0xff);
    }
  }
  return true;
}

bool BasicAuth::allows(const std::string &authorization) const {
  if (!required()) return true;
  // The scheme's name is case-insensitive; one or more spaces follow it.
  if (authorization.size() < 6) return false;
  std::string scheme = authorization.substr(0, 5);
  for (char &c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (scheme != "basic" || authorization[5] != ' ') return false;
  const size_t start = authorization.find_first_not_of(' ', 5);
  std::string pair;
  if (start == std::string::npos || !decodeBase64(authorization.substr(start), pair)) return false;
  const size_t colon = pair.find(':');
  if (colon == std::string::npos) return false;
  const std::string user = pair.substr(0, colon), password = pair.substr(colon + 1);
  // A user nobody configured costs a check all the same, so that the time
  // of the answer does not tell which users exist.
  const std::string *hash = nullptr;
  for (const auto &configured : users_)
    if (configured.first == user) hash = &configured.second;
  if (hash == nullptr) {
    std::lock_guard<std::mutex> one(checking_);
    bcryptVerify(password, users_.front().second);
    return false;
  }
  {
    std::lock_guard<std::mutex> hold(rememberedLock_);
    if (remembered_.count(pair) != 0) return true;
  }
  bool passed = false;
  {
    std::lock_guard<std::mutex> one(checking_);
    passed = bcryptVerify(password, *hash);
  }
  if (passed) {
    std::lock_guard<std::mutex> hold(rememberedLock_);
    if (remembered_.size() >= RememberedLimit) remembered_.clear();
    remembered_.insert(pair);
  }
  return passed;
}

}  // namespace exporter
