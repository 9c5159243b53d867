// The HTTP side of perf_exporter, one small interface apart from the pages:
// a server that takes requests and hands them to a handler, within limits
// that keep clients which send slowly, or not at all, from holding it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ListenAddress.h"

namespace exporter {

struct HttpRequest {
  std::string method;  // "GET", "HEAD", ...
  std::string path;    // without the query
  std::string accept;
  std::string acceptEncoding;
  std::string query;               // after the "?" of the target, as sent
  std::string authorization = {};  // the Authorization header, as sent
};

struct HttpResponse {
  int status = 200;
  std::string contentType;
  std::string body;  // left out for HEAD by the server
  std::vector<std::pair<std::string, std::string>> headers;
};

// Takes the answer to a request, from any thread, once.
using Respond = std::function<void(HttpResponse)>;

// Called from the server's threads, several at once; answers through
// `respond`, at once or later from another thread.
using HttpHandler = std::function<void(const HttpRequest &, Respond respond)>;

// How much a client may take of the server.
struct ServerLimits {
  // A request's headers must be in within this many seconds of the
  // connection opening or of the previous answer on it; so an idle
  // keep-alive connection closes after it too.
  unsigned requestSeconds = 10;
  // A connection on which nothing moves for this long closes (a client that
  // stops reading an answer).
  unsigned inactiveSeconds = 30;
  // Connections held at once, and by one client address. A newcomer past
  // either takes the place of the connection that has waited longest for a
  // request (of that address, when it is the address's share that is full),
  // so that a client hoarding idle connections cannot lock others out; it is
  // refused only when every connection it could take is busy.
  unsigned connections = 1000;
  unsigned connectionsPerClient = 250;
};

class HttpServer {
 public:
  virtual ~HttpServer() = default;
  // Closes every connection and returns once no handler runs any more.
  virtual void stop() = 0;
};

// Listens on `address` and serves `handler` until stopped. Null, with the
// system's reason in `failure`, when the address cannot be listened on.
std::unique_ptr<HttpServer> startHttpServer(const ListenAddress &address, const ServerLimits &limits,
                                            HttpHandler handler, std::string &failure);

}  // namespace exporter
