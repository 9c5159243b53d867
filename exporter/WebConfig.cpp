#include "WebConfig.h"

#include <sstream>

#include "Bcrypt.h"
#include "FileContents.h"
#include "SystemMessage.h"
#include "Utf8Text.h"

namespace exporter {
namespace {

// One line of the file that says something: its number, indentation, key,
// and value (empty for a key that opens a mapping).
struct Entry {
  size_t line = 0;
  size_t indent = 0;
  std::string key, value;
};

std::string trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A scalar as YAML writes it: plain (up to a comment), or in single or double
// quotes.
bool scalar(const std::string &text, std::string &value, std::string &problem) {
  const std::string rest = trimmed(text);
  value.clear();
  if (rest.empty()) return true;
  if (rest[0] == '\'' || rest[0] == '"') {
    const char quote = rest[0];
    size_t at = 1;
    for (; at < rest.size() && rest[at] != quote; ++at) {
      if (quote == '"' && rest[at] == '\\' && at + 1 < rest.size()) ++at;
      value += rest[at];
    }
    if (at >= rest.size()) {
      problem = "a quoted value does not end";
      return false;
    }
    const std::string after = trimmed(rest.substr(at + 1));
    if (!after.empty() && after[0] != '#') {
      problem = "something follows a quoted value: " + after;
      return false;
    }
    return true;
  }
  if (rest[0] == '[' || rest[0] == '{' || rest[0] == '-' || rest[0] == '&' || rest[0] == '*' || rest[0] == '!' ||
      rest[0] == '|' || rest[0] == '>') {
    problem = "only plain or quoted values are understood here, not " + rest;
    return false;
  }
  const size_t comment = rest.find(" #");
  value = trimmed(rest.substr(0, comment));
  return true;
}

bool entries(const std::string &text, std::vector<Entry> &out, std::string &problem) {
  std::istringstream lines(text);
  std::string line;
  for (size_t number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos || line[indent] == '#') continue;
    if (line.find('\t') < line.find_first_not_of(" \t")) {
      problem = "line " + std::to_string(number) + ": indented with a tab";
      return false;
    }
    if (number == 1 && line == "---") continue;
    // The key ends at the first ": " or at a ":" that ends the line.
    size_t colon = line.find(": ", indent);
    if (colon == std::string::npos && line.back() == ':') colon = line.size() - 1;
    if (colon == std::string::npos) {
      problem = "line " + std::to_string(number) + ": not \"key: value\": " + trimmed(line);
      return false;
    }
    Entry entry;
    entry.line = number;
    entry.indent = indent;
    std::string key;
    if (!scalar(line.substr(indent, colon - indent), key, problem) ||
        !scalar(line.substr(colon + 1), entry.value, problem)) {
      problem = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
    entry.key = key;
    out.push_back(entry);
  }
  return true;
}

std::string folderOf(const std::string &path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool absolute(const std::string &path) {
  return !path.empty() && (path[0] == '/' || path[0] == '\\' ||
                           (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')));
}

}  // namespace

bool parseWebConfig(const std::string &text, const std::string &path, WebConfig &config, std::string &problem) {
  config = WebConfig();
  std::vector<Entry> lines;
  if (!entries(text, lines, problem)) return false;
  const std::string folder = folderOf(path);
  auto fail = [&problem](const Entry &entry, const std::string &why) {
    problem = "line " + std::to_string(entry.line) + ": " + why;
    return false;
  };
  std::string section;
  size_t sectionIndent = 0;
  bool seenTls = false, seenUsers = false;
  for (const Entry &entry : lines) {
    if (entry.indent == 0) {
      if (!entry.value.empty()) return fail(entry, entry.key + " takes a mapping, not a value");
      section = entry.key;
      sectionIndent = 0;
      if (section == "tls_server_config") {
        if (seenTls) return fail(entry, "tls_server_config twice");
        seenTls = config.tls.enabled = true;
      } else if (section == "basic_auth_users") {
        if (seenUsers) return fail(entry, "basic_auth_users twice");
        seenUsers = true;
      } else if (section == "http_server_config") {
        return fail(entry, "http_server_config is not supported by perf_exporter");
      } else {
        return fail(entry, "unknown key " + entry.key + " (known: tls_server_config, basic_auth_users)");
      }
      continue;
    }
    if (sectionIndent == 0) sectionIndent = entry.indent;
    if (entry.indent != sectionIndent) return fail(entry, "indented unlike the lines above it");
    if (entry.value.empty()) return fail(entry, entry.key + " has no value");
    if (section == "basic_auth_users") {
      for (const auto &user : config.users)
        if (user.first == entry.key) return fail(entry, "the user " + entry.key + " twice");
      std::string why;
      if (!bcryptWellFormed(entry.value, why)) return fail(entry, "the password of " + entry.key + ": " + why);
      config.users.emplace_back(entry.key, entry.value);
      continue;
    }
    TlsServerConfig &tls = config.tls;
    auto file = [&](std::string &target) {
      target = absolute(entry.value) ? entry.value : folder + entry.value;
      return true;
    };
    if (entry.key == "cert_file") {
      file(tls.certFile);
    } else if (entry.key == "key_file") {
      file(tls.keyFile);
    } else if (entry.key == "client_ca_file") {
      file(tls.clientCaFile);
    } else if (entry.key == "client_auth_type") {
      static const char *const types[] = {"NoClientCert", "RequestClientCert", "RequireAnyClientCert",
                                          "VerifyClientCertIfGiven", "RequireAndVerifyClientCert"};
      bool known = false;
      for (const char *type : types) known = known || entry.value == type;
      if (!known)
        return fail(entry,
                    "client_auth_type is one of NoClientCert, RequestClientCert, RequireAnyClientCert, "
                    "VerifyClientCertIfGiven, RequireAndVerifyClientCert, not " +
                        entry.value);
      tls.clientAuthType = entry.value;
    } else if (entry.key == "min_version" || entry.key == "max_version") {
      if (entry.value != "TLS10" && entry.value != "TLS11" && entry.value != "TLS12" && entry.value != "TLS13")
        return fail(entry, entry.key + " is one of TLS10, TLS11, TLS12, TLS13, not " + entry.value);
      (entry.key == "min_version" ? tls.minVersion : tls.maxVersion) = entry.value;
    } else if (entry.key == "cipher_suites" || entry.key == "curve_preferences" ||
               entry.key == "prefer_server_cipher_suites" || entry.key == "client_allowed_sans") {
      return fail(entry, entry.key + " is not supported by perf_exporter");
    } else {
      return fail(entry, "unknown key " + entry.key + " in tls_server_config");
    }
  }
  if (!config.tls.enabled) return true;
  const TlsServerConfig &tls = config.tls;
  const bool verifies =
      tls.clientAuthType == "VerifyClientCertIfGiven" || tls.clientAuthType == "RequireAndVerifyClientCert";
  if (tls.certFile.empty() || tls.keyFile.empty()) {
    problem = "tls_server_config needs cert_file and key_file";
  } else if (verifies && tls.clientCaFile.empty()) {
    problem = "client_auth_type " + tls.clientAuthType + " needs client_ca_file";
  } else if (!verifies && !tls.clientCaFile.empty()) {
    problem = "client_ca_file is used only with client_auth_type VerifyClientCertIfGiven or RequireAndVerifyClientCert";
  } else if (tls.minVersion > tls.maxVersion) {
    problem = "min_version " + tls.minVersion + " is above max_version " + tls.maxVersion;
  } else {
    return true;
  }
  return false;
}

bool readWebConfig(const std::string &path, WebConfig &config, std::string &problem) {
  const commandline::FileContents contents = commandline::readFileContents(commandline::fromUtf8(path), 1 << 20);
  if (contents.error != ERROR_SUCCESS || contents.tooLarge) {
    problem = path + ": cannot be read: " +
              (contents.tooLarge ? std::string("it is larger than 1 MB") : commandline::systemReason(contents.error));
    return false;
  }
  if (!parseWebConfig(contents.bytes, path, config, problem)) {
    problem = path + ": " + problem;
    return false;
  }
  return true;
}

}  // namespace exporter
