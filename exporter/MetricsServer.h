// The HTTP side of perf_exporter: cpp-httplib serving one page at /metrics.
// Kept apart from the Windows headers that the reading side includes.
#pragma once

#include <functional>
#include <string>

namespace exporter {

struct ListenAddress {
  std::string host;  // without the brackets of an IPv6 address
  int port = 0;

  // "127.0.0.1:9464", "[::1]:9464".
  std::string text() const;
};

// Reads "HOST:PORT" or "[IPv6]:PORT", the port from 1 to 65535; false for
// anything else. The host is not resolved here.
bool parseListenAddress(const std::string &text, ListenAddress &address);

// One reading of the page: the page itself, or why there is none.
struct Scrape {
  bool succeeded = false;
  std::string text;
};

// Serves the page that `scrape` makes at /metrics (404 anywhere else, 500
// with the reason when the reading fails) until SIGINT or SIGTERM arrives;
// then returns 0. When the address cannot be listened on, writes so to
// standard error, naming the address and the system's error text, and
// returns 1. `scrape` may be called from several threads at once.
int serveMetrics(const ListenAddress &address, const char *contentType, const std::function<Scrape()> &scrape);

}  // namespace exporter
