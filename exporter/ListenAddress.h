// Where perf_exporter listens, as exporters write it: "HOST:PORT",
// "[IPv6]:PORT", or ":PORT" for every interface.
#pragma once

#include <string>

namespace exporter {

struct ListenAddress {
  std::string host;  // without the brackets of an IPv6 address; empty for every interface
  int port = 0;

  bool everyInterface() const { return host.empty(); }

  // "127.0.0.1:9464", "[::1]:9464", ":9464".
  std::string text() const;
};

// Reads an address with a port from 1 to 65535; false for anything else. The
// host is not resolved here.
bool parseListenAddress(const std::string &text, ListenAddress &address);

}  // namespace exporter
