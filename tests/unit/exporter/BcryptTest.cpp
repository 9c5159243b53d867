// Passwords against bcrypt hashes: hashes made by other bcrypts (OpenBSD's
// test vectors, libxcrypt's), the 72 bytes that count, malformed hashes
// with what is wrong with them, and, on POSIX, agreement with the system's
// crypt for passwords and salts of every kind.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <crypt.h>
#endif

#include <random>
#include <string>

#include "Bcrypt.h"

using exporter::bcryptHash;
using exporter::bcryptParts;
using exporter::BcryptParts;
using exporter::bcryptVerify;

TEST(Bcrypt, AcceptsThePasswordOfHashesOtherBcryptsMadeAndNothingElse) {
  const struct {
    std::string password, hash;
  } made[] = {
      {"U*U", "$2a$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW"},
      {"U*U*", "$2a$05$CCCCCCCCCCCCCCCCCCCCC.VGOzA784oUp/Z0DY336zx7pLYAy0lwK"},
      {"", "$2b$06$DCq7YPn5Rq63x1Lad4cll.TV4S6ytwfsfvkgY8jIucDrjc8deX1s."},
      {"correct horse battery staple", "$2y$10$8nb1ezWVMgkU4P2ha9vXmOH6Tysyzs5N5y8CvUeGfhfucHLakoIka"},
      {"Caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87", "$2b$05$0123456789ABCDEFGHIJKORjlMNpnmMua6OYuTq3U7XMH6sq.9lRi"},
      // A salt whose last character carries bits that no salt has: ignored.
      {std::string(72, 'a'), "$2b$04$abcdefghijklmnopqrstuuBzzIgyKkz7xMWYSzkIjUSnxEQFQ0WNe"},
  };
  for (const auto &each : made) {
    EXPECT_TRUE(bcryptVerify(each.password, each.hash)) << each.hash;
    if (each.password.size() < 72) {
      EXPECT_FALSE(bcryptVerify(each.password + "x", each.hash)) << each.hash;
    }
    EXPECT_FALSE(bcryptVerify(each.password.empty() ? "U" : each.password.substr(1), each.hash)) << each.hash;
  }
  // Only the first 72 bytes count.
  EXPECT_TRUE(bcryptVerify(std::string(72, 'a') + "tail", made[5].hash));
  EXPECT_FALSE(bcryptVerify(std::string(71, 'a'), made[5].hash));
  // A hash made here reads back, and differs with the salt.
  const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const std::string mine = bcryptHash("secret", salt, 4);
  EXPECT_EQ(60u, mine.size());
  EXPECT_EQ(0u, mine.find("$2b$04$"));
  EXPECT_TRUE(bcryptVerify("secret", mine));
  uint8_t other[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17};
  EXPECT_NE(mine.substr(29), bcryptHash("secret", other, 4).substr(29));
}

TEST(Bcrypt, SaysWhatIsWrongWithAMalformedHash) {
  const struct {
    std::string hash, problem;
  } malformed[] = {
      {"", "not a bcrypt hash ($2a$, $2b$ or $2y$, the cost, and 53 characters)"},
      {"secret", "not a bcrypt hash ($2a$, $2b$ or $2y$, the cost, and 53 characters)"},
      {"$2x$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW",
       "not a bcrypt hash ($2a$, $2b$ or $2y$, the cost, and 53 characters)"},
      {"$2a$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOe",
       "not a bcrypt hash ($2a$, $2b$ or $2y$, the cost, and 53 characters)"},
      {"$2a$5a$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW", "the cost of a bcrypt hash is two digits"},
      {"$2a$03$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW",
       "the cost of a bcrypt hash is from 04 to 31, not 03"},
      {"$2a$32$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW",
       "the cost of a bcrypt hash is from 04 to 31, not 32"},
      {"$2a$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyO+W",
       "a bcrypt hash's salt and digest are 53 characters of ./A-Za-z0-9"},
  };
  for (const auto &each : malformed) {
    BcryptParts parts;
    std::string problem;
    EXPECT_FALSE(bcryptParts(each.hash, parts, problem)) << each.hash;
    EXPECT_EQ(each.problem, problem) << each.hash;
    EXPECT_FALSE(bcryptVerify("U*U", each.hash)) << each.hash;
  }
}

#ifndef _WIN32
// The system's crypt (libxcrypt) and this bcrypt agree on passwords of every
// length around the 72 that count, of every byte, and on random salts.
TEST(Bcrypt, AgreesWithTheSystemsCrypt) {
  std::mt19937 random(20261209);
  const char alphabet[] = "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  crypt_data data{};
  for (int round = 0; round < 40; ++round) {
    std::string password;
    const size_t length = round < 10 ? static_cast<size_t>(round) : 60 + random() % 20;
    for (size_t at = 0; at < length; ++at) password += static_cast<char>(1 + random() % 255);
    std::string setting = round % 2 ? "$2b$04$" : "$2y$05$";
    for (int at = 0; at < 21; ++at) setting += alphabet[random() % 64];
    setting += ".Oeu"[random() % 4];  // a last character with no bits left over
    const char *made = crypt_r(password.c_str(), setting.c_str(), &data);
    ASSERT_NE(nullptr, made);
    const std::string hash = made;
    ASSERT_EQ(60u, hash.size()) << hash;
    EXPECT_TRUE(bcryptVerify(password, hash)) << hash << " of " << length << " bytes";
    BcryptParts parts;
    std::string problem;
    ASSERT_TRUE(bcryptParts(hash, parts, problem)) << problem;
    EXPECT_EQ(hash, bcryptHash(password, parts.salt, parts.cost, hash[2])) << length;
  }
}
#endif
