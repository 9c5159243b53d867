#include "MetricsServer.h"

#include <httplib.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace exporter {
namespace {

// Only SO_REUSEADDR, so that a restart finds its port free while old
// connections linger, but a second exporter on a port in use fails. The
// library's default, SO_REUSEPORT, would let both listen and share the
// connections between them.
void reuseAddressOnly(int socket) {
  int yes = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

// Why the address cannot be listened on. The library only says that it
// failed, so the same resolution, bind and listen are done again here, with
// the same socket option, to learn the system's reason.
std::string listenFailure(const ListenAddress &address) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo *found = nullptr;
  std::string port = std::to_string(address.port);
  if (int code = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); code != 0) {
    return "the host cannot be resolved: " + std::string(gai_strerror(code));
  }
  int error = 0;
  for (addrinfo *each = found; each != nullptr; each = each->ai_next) {
    int sock = socket(each->ai_family, each->ai_socktype, each->ai_protocol);
    if (sock < 0) {
      error = errno;
      continue;
    }
    reuseAddressOnly(sock);
    bool listening = bind(sock, each->ai_addr, each->ai_addrlen) == 0 && listen(sock, 1) == 0;
    if (!listening) error = errno;
    close(sock);
    if (listening) {
      error = 0;
      break;
    }
  }
  freeaddrinfo(found);
  if (error == 0) return "the HTTP server could not start there";
  return "error " + std::to_string(error) + ": " + strerror(error);
}

}  // namespace

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
    port = text.substr(close + 2);
  } else {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    // An IPv6 address needs its brackets, or its last group reads as the port.
    if (host.find(':') != std::string::npos) return false;
  }
  if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  int number = std::stoi(port);
  if (number < 1 || number > 65535) return false;
  address.host = host;
  address.port = number;
  return true;
}

int serveMetrics(const ListenAddress &address, const char *contentType, const std::function<Scrape()> &scrape) {
  // The signals that end serving are taken by this thread alone, with
  // sigwait; the server's threads, started after this, inherit the mask.
  // SIGUSR1 is how the serving thread says that it stopped by itself.
  sigset_t stopping;
  sigemptyset(&stopping);
  sigaddset(&stopping, SIGINT);
  sigaddset(&stopping, SIGTERM);
  sigaddset(&stopping, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
  signal(SIGPIPE, SIG_IGN);

  httplib::Server server;
  server.set_socket_options(reuseAddressOnly);
  server.Get("/metrics", [&](const httplib::Request &, httplib::Response &response) {
    Scrape result = scrape();
    if (result.succeeded) {
      response.set_content(result.text, contentType);
    } else {
      response.status = 500;
      response.set_content(result.text + "\n", "text/plain; charset=utf-8");
    }
  });
  server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
    if (response.status == 404) {
      response.set_content("Not found: the metrics are at /metrics\n", "text/plain; charset=utf-8");
    }
  });

  if (!server.bind_to_port(address.host, address.port)) {
    fprintf(stderr, "perf_exporter: cannot listen on %s: %s\n", address.text().c_str(),
            listenFailure(address).c_str());
    return 1;
  }
  fprintf(stderr, "perf_exporter: serving http://%s/metrics (Ctrl+C stops)\n", address.text().c_str());

  std::thread serving([&] {
    server.listen_after_bind();
    kill(getpid(), SIGUSR1);
  });
  int received = 0;
  sigwait(&stopping, &received);
  server.stop();
  serving.join();
  if (received == SIGUSR1) {
    fprintf(stderr, "perf_exporter: the HTTP server on %s stopped by itself\n", address.text().c_str());
    return 1;
  }
  fprintf(stderr, "perf_exporter: stopped\n");
  return 0;
}

}  // namespace exporter
