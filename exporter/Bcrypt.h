// Passwords checked against bcrypt hashes, as the web configuration of
// Prometheus exporters keeps them ("$2y$10$..." made by htpasswd -B, or any
// bcrypt library): $2a$, $2b$ and $2y$, costs 04 to 31. The same code on
// both targets, since the Windows build has no bcrypt of the system's.
#pragma once

#include <cstdint>
#include <string>

namespace exporter {

struct BcryptParts {
  char variant = 'b';  // the letter after "$2"
  int cost = 0;
  uint8_t salt[16] = {};
  uint8_t digest[23] = {};
};

// Whether `hash` is a bcrypt hash; false with `problem` saying what is wrong.
bool bcryptParts(const std::string &hash, BcryptParts &parts, std::string &problem);
bool bcryptWellFormed(const std::string &hash, std::string &problem);

// The hash of `password` (its first 72 bytes count) with `salt` at `cost`.
std::string bcryptHash(const std::string &password, const uint8_t (&salt)[16], int cost, char variant = 'b');

// Whether `password` is the one `hash` was made of; false for a malformed
// hash. Takes the hash's cost in time (2^cost rounds), whatever the answer.
bool bcryptVerify(const std::string &password, const std::string &hash);

}  // namespace exporter
