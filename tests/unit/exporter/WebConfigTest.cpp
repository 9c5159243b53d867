// The web configuration file in the exporter toolkit's format: what a valid
// one gives, and the line and reason of every mistake a user makes in one.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "WebConfig.h"

using exporter::parseWebConfig;
using exporter::readWebConfig;
using exporter::WebConfig;

namespace {

const std::string Hash = "$2y$10$8nb1ezWVMgkU4P2ha9vXmOH6Tysyzs5N5y8CvUeGfhfucHLakoIka";

std::string problemOf(const std::string &text) {
  WebConfig config;
  std::string problem;
  EXPECT_FALSE(parseWebConfig(text, "/etc/perf/web.yml", config, problem)) << text;
  return problem;
}

}  // namespace

TEST(WebConfig, ReadsTheToolkitsFormatWithPathsFromTheFilesFolder) {
  const std::string text =
      "---\n"
      "# Served over TLS, to Prometheus only.\n"
      "tls_server_config:\n"
      "  cert_file: server.crt\n"
      "  key_file: \"/keys/server key.pem\"   # quoted: it holds a space\n"
      "  client_auth_type: RequireAndVerifyClientCert\n"
      "  client_ca_file: 'ca/clients.crt'\n"
      "  min_version: TLS13\n"
      "\n"
      "basic_auth_users:\n"
      "    prometheus: " +
      Hash +
      "\n"
      "    \"other user\": '" +
      Hash + "'\r\n";
  WebConfig config;
  std::string problem;
  ASSERT_TRUE(parseWebConfig(text, "/etc/perf/web.yml", config, problem)) << problem;
  EXPECT_TRUE(config.tls.enabled);
  EXPECT_EQ("/etc/perf/server.crt", config.tls.certFile);
  EXPECT_EQ("/keys/server key.pem", config.tls.keyFile);
  EXPECT_EQ("RequireAndVerifyClientCert", config.tls.clientAuthType);
  EXPECT_EQ("/etc/perf/ca/clients.crt", config.tls.clientCaFile);
  EXPECT_EQ("TLS13", config.tls.minVersion);
  EXPECT_EQ("TLS13", config.tls.maxVersion);
  const std::vector<std::pair<std::string, std::string>> users = {{"prometheus", Hash}, {"other user", Hash}};
  EXPECT_EQ(users, config.users);

  // Users alone: no TLS. A Windows path keeps its drive.
  ASSERT_TRUE(parseWebConfig("basic_auth_users:\n  a: " + Hash + "\n", "C:\\perf\\web.yml", config, problem));
  EXPECT_FALSE(config.tls.enabled);
  EXPECT_EQ(1u, config.users.size());
  ASSERT_TRUE(parseWebConfig("tls_server_config:\n  cert_file: c.pem\n  key_file: D:\\keys\\k.pem\n",
                             "C:\\perf\\web.yml", config, problem))
      << problem;
  EXPECT_EQ("C:\\perf\\c.pem", config.tls.certFile);
  EXPECT_EQ("D:\\keys\\k.pem", config.tls.keyFile);
  // An empty file asks for nothing.
  ASSERT_TRUE(parseWebConfig("# nothing yet\n", "web.yml", config, problem));
  EXPECT_FALSE(config.tls.enabled);
  EXPECT_TRUE(config.users.empty());
}

TEST(WebConfig, NamesTheLineAndTheMistake) {
  const std::string tls = "tls_server_config:\n  cert_file: c.pem\n  key_file: k.pem\n";
  const struct {
    std::string text, problem;
  } mistakes[] = {
      {"basic_auth_user:\n  a: " + Hash + "\n",
       "line 1: unknown key basic_auth_user (known: tls_server_config, basic_auth_users)"},
      {"http_server_config:\n  http2: false\n", "line 1: http_server_config is not supported by perf_exporter"},
      {"basic_auth_users: " + Hash + "\n", "line 1: basic_auth_users takes a mapping, not a value"},
      {"basic_auth_users:\n  a: secret\n",
       "line 2: the password of a: not a bcrypt hash ($2a$, $2b$ or $2y$, the cost, and 53 characters)"},
      {"basic_auth_users:\n  a: " + Hash + "\n  a: " + Hash + "\n", "line 3: the user a twice"},
      {"basic_auth_users:\n  a:\n", "line 2: a has no value"},
      {"basic_auth_users:\n  a: " + Hash + "\n   b: " + Hash + "\n", "line 3: indented unlike the lines above it"},
      {"basic_auth_users:\n\ta: " + Hash + "\n", "line 2: indented with a tab"},
      {"basic_auth_users:\n  a " + Hash + "\n", "line 2: not \"key: value\": a " + Hash},
      {"basic_auth_users:\n  a: \"" + Hash + "\n", "line 2: a quoted value does not end"},
      {"tls_server_config:\n  cert_file: [a, b]\n",
       "line 2: only plain or quoted values are understood here, not [a, b]"},
      {"tls_server_config:\n  cert_file: c.pem\n", "tls_server_config needs cert_file and key_file"},
      {tls + "  client_auth_type: RequireClientCert\n",
       "line 4: client_auth_type is one of NoClientCert, RequestClientCert, RequireAnyClientCert, "
       "VerifyClientCertIfGiven, RequireAndVerifyClientCert, not RequireClientCert"},
      {tls + "  client_auth_type: RequireAndVerifyClientCert\n",
       "client_auth_type RequireAndVerifyClientCert needs client_ca_file"},
      {tls + "  client_ca_file: ca.pem\n",
       "client_ca_file is used only with client_auth_type VerifyClientCertIfGiven or RequireAndVerifyClientCert"},
      {tls + "  min_version: TLS1.2\n", "line 4: min_version is one of TLS10, TLS11, TLS12, TLS13, not TLS1.2"},
      {tls + "  min_version: TLS13\n  max_version: TLS12\n", "min_version TLS13 is above max_version TLS12"},
      {tls + "  cipher_suites: TLS_AES_128_GCM_SHA256\n", "line 4: cipher_suites is not supported by perf_exporter"},
      {tls + "  cert: c.pem\n", "line 4: unknown key cert in tls_server_config"},
      {tls + "tls_server_config:\n", "line 4: tls_server_config twice"},
  };
  for (const auto &mistake : mistakes) EXPECT_EQ(mistake.problem, problemOf(mistake.text)) << mistake.text;
}

TEST(WebConfig, AFileThatCannotBeReadIsNamed) {
  WebConfig config;
  std::string problem;
  EXPECT_FALSE(readWebConfig("no-such-folder/web.yml", config, problem));
  EXPECT_EQ(0u, problem.find("no-such-folder/web.yml: cannot be read: ")) << problem;
}
