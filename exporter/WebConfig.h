// The web configuration file that Prometheus exporters take with
// --web.config.file, in the exporter toolkit's format (YAML):
//
//   tls_server_config:
//     cert_file: server.crt          # relative paths: from the file's folder
//     key_file: server.key
//     client_auth_type: RequireAndVerifyClientCert
//     client_ca_file: clients.crt
//     min_version: TLS12
//   basic_auth_users:
//     prometheus: $2y$10$...         # bcrypt hashes (htpasswd -nBC 10 "")
//
// Read once at start: a file that cannot be read, a key this exporter does
// not know or support, or a hash that is not bcrypt's is a failure that
// names the file and line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace exporter {

struct TlsServerConfig {
  bool enabled = false;
  std::string certFile, keyFile;
  std::string clientAuthType = "NoClientCert";
  std::string clientCaFile;
  std::string minVersion = "TLS12", maxVersion = "TLS13";
};

struct WebConfig {
  TlsServerConfig tls;
  // User names and their bcrypt hashes, in the file's order; none: no
  // authentication.
  std::vector<std::pair<std::string, std::string>> users;
};

// Reads `text`, the content of the file at `path` (whose folder relative
// paths start from). False, with `problem` naming the line, when it is not a
// web configuration this exporter can serve by.
bool parseWebConfig(const std::string &text, const std::string &path, WebConfig &config, std::string &problem);

// Reads the file at `path`; false, with `problem`, when it cannot be read or
// parsed.
bool readWebConfig(const std::string &path, WebConfig &config, std::string &problem);

}  // namespace exporter
