// HTTP basic authentication against the users of the web configuration:
// every page asks for a user and its password once users are configured.
// A bcrypt check takes tens of milliseconds by design, so each pair that
// passed is remembered (in memory only, a bounded number of them), and
// checks of pairs not remembered run one at a time, so that wrong passwords
// cannot take every serving thread at once.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace exporter {

class BasicAuth {
 public:
  explicit BasicAuth(std::vector<std::pair<std::string, std::string>> users) : users_(std::move(users)) {}

  // Whether any user is configured: without, every request is allowed.
  bool required() const { return !users_.empty(); }

  // Whether an Authorization header's value ("Basic " and base64 of
  // "user:password") names a configured user with its password. Safe from
  // several threads at once.
  bool allows(const std::string &authorization) const;

 private:
  const std::vector<std::pair<std::string, std::string>> users_;
  mutable std::mutex rememberedLock_;
  mutable std::set<std::string> remembered_;  // "user:password" pairs that passed
  mutable std::mutex checking_;
};

// The bytes of standard base64 (RFC 4648, padded or not); false for
// anything else.
bool decodeBase64(const std::string &text, std::string &bytes);

}  // namespace exporter
