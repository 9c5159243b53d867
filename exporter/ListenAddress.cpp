#include "ListenAddress.h"

namespace exporter {

std::string ListenAddress::text() const {
  bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool parseListenAddress(const std::string &text, ListenAddress &address) {
  std::string host, port;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    host = text.substr(1, close - 1);
    if (host.empty()) return false;
    port = text.substr(close + 2);
  } else {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    // An IPv6 address needs its brackets, or its last group reads as the port.
    if (host.find(':') != std::string::npos) return false;
  }
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  int number = std::stoi(port);
  if (number < 1 || number > 65535) return false;
  address.host = host;
  address.port = number;
  return true;
}

}  // namespace exporter
