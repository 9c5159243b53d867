// The HTTP server, the same on both targets: Boost.Beast over Boost.Asio. A
// few threads run every connection's reads, writes and timers (epoll on
// POSIX, completion ports on Windows), so a connection costs a little memory
// and no thread while its client dawdles, and every wait has a deadline.
//
// A request's headers must be in within ServerLimits::requestSeconds of the
// connection opening or of the previous answer on it; an answer must leave
// within inactiveSeconds. A request that comes with a body is answered and
// its connection closed, since the exporter takes no bodies.
//
// The server knows which connections wait for a request, longest first, and
// how many each client address holds, so that a newcomer past a limit can
// take an idle connection's place.
#include "HttpServer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace exporter {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// Threads that run the connections. A reading of the performance data holds
// one of them while it lasts; the others go on serving.
constexpr unsigned servingThreads = 4;

// Headers beyond this answer 431.
constexpr std::uint32_t headerLimit = 32 * 1024;

std::string reason(const beast::error_code &error) {
  return "error " + std::to_string(error.value()) + ": " + error.message();
}

class BeastServer;

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, std::string client, BeastServer &server);
  ~Session();

  void readRequest();
  // Closes the connection from another strand, for a newcomer.
  void evict();

  const std::string &client() const { return client_; }
  // Kept by the server under its lock: where the connection stands in the
  // list of those waiting for a request, and whether it still counts.
  std::list<Session *>::iterator waitingAt;
  bool waiting = false;
  bool counted = true;

 private:
  void answer(const beast::error_code &error);
  void send(const HttpResponse &answer, bool head, bool keepAlive);
  void close();

  beast::tcp_stream stream_;
  const std::string client_;
  BeastServer &server_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::empty_body>> parser_;
  http::response<http::string_body> response_;
};

class BeastServer final : public HttpServer {
 public:
  BeastServer(HttpHandler handler, const ServerLimits &limits) : handler_(std::move(handler)), limits_(limits) {}

  ~BeastServer() override { stop(); }

  bool listen(const ListenAddress &address, std::string &failure) {
    beast::error_code error;
    std::vector<tcp::endpoint> endpoints;
    if (address.everyInterface()) {
      endpoints = {tcp::endpoint(tcp::v6(), static_cast<unsigned short>(address.port)),
                   tcp::endpoint(tcp::v4(), static_cast<unsigned short>(address.port))};
    } else {
      tcp::resolver resolver(*io_);
      auto found = resolver.resolve(address.host, std::to_string(address.port), tcp::resolver::passive, error);
      if (error) {
        failure = "the host cannot be resolved: " + reason(error);
        return false;
      }
      for (const auto &each : found) endpoints.push_back(each.endpoint());
    }
    for (const tcp::endpoint &endpoint : endpoints) {
      acceptor_.emplace(*io_);
      if (open(endpoint, address.everyInterface(), error)) return true;
    }
    acceptor_.reset();
    failure = reason(error);
    return false;
  }

  void start() {
    accept();
    for (unsigned each = 0; each < servingThreads; ++each) threads_.emplace_back([this] { io_->run(); });
  }

  void stop() override {
    if (!io_) return;
    io_->stop();
    for (std::thread &thread : threads_) thread.join();
    threads_.clear();
    // Gone with their context: the listening socket, every connection, and
    // every wait still pending on one.
    acceptor_.reset();
    retry_.reset();
    io_.reset();
  }

  void handle(const HttpRequest &request, const Respond &respond) {
    try {
      handler_(request, respond);
    } catch (...) {
      respond(HttpResponse{500, "text/plain; charset=utf-8", "The exporter could not make this answer\n", {}});
    }
  }

  const ServerLimits &limits() const { return limits_; }

  // A connection begins or ends its wait for a request.
  void waiting(Session &session, bool waits) {
    std::lock_guard<std::mutex> hold(connections_);
    if (waits == session.waiting || !session.counted) return;
    if (waits) {
      session.waitingAt = waitingList_.insert(waitingList_.end(), &session);
    } else {
      waitingList_.erase(session.waitingAt);
    }
    session.waiting = waits;
  }

  void ended(Session &session) {
    std::lock_guard<std::mutex> hold(connections_);
    release(session);
  }

 private:
  // Takes a connection out of the counts, under the lock: it is closing.
  void release(Session &session) {
    if (!session.counted) return;
    if (session.waiting) waitingList_.erase(session.waitingAt);
    session.waiting = false;
    session.counted = false;
    --held_;
    auto client = perClient_.find(session.client());
    if (--client->second == 0) perClient_.erase(client);
  }

  // Whether a connection from `client` may be served, once the connection
  // whose place it takes, if it needs one, is closing.
  bool admit(const std::string &client) {
    std::shared_ptr<Session> evicted;
    {
      std::lock_guard<std::mutex> hold(connections_);
      auto held = perClient_.find(client);
      const bool clientFull = held != perClient_.end() && held->second >= limits_.connectionsPerClient;
      if (clientFull || held_ >= limits_.connections) {
        // A connection in the list is alive until it takes itself out under
        // this lock; one whose last owner is gone is ending already.
        for (auto at = waitingList_.begin(); at != waitingList_.end() && !evicted; ++at) {
          if (!clientFull || (*at)->client() == client) evicted = (*at)->weak_from_this().lock();
        }
        if (!evicted) return false;
        release(*evicted);
      }
      ++held_;
      ++perClient_[client];
    }
    if (evicted) evicted->evict();
    return true;
  }

  // Every interface is one IPv6 socket that takes IPv4 too, or IPv4 alone
  // where the system has no IPv6. SO_REUSEADDR on POSIX only: there a
  // restart finds its port free while old connections linger, but a second
  // exporter on a port in use fails; on Windows the option would let it
  // take the port.
  bool open(const tcp::endpoint &endpoint, bool everyInterface, beast::error_code &error) {
    acceptor_->open(endpoint.protocol(), error);
    if (error) return false;
#ifndef _WIN32
    acceptor_->set_option(asio::socket_base::reuse_address(true), error);
#endif
    if (everyInterface && endpoint.protocol() == tcp::v6()) acceptor_->set_option(asio::ip::v6_only(false), error);
    acceptor_->bind(endpoint, error);
    if (!error) acceptor_->listen(asio::socket_base::max_listen_connections, error);
    return !error;
  }

  void accept() {
    acceptor_->async_accept(asio::make_strand(*io_), [this](beast::error_code error, tcp::socket socket) {
      if (error == asio::error::operation_aborted) return;
      if (error) {
        // Out of descriptors or memory for now: try again in a while,
        // rather than at once and in a loop.
        retry_->expires_after(std::chrono::milliseconds(100));
        retry_->async_wait([this](beast::error_code waited) {
          if (!waited) accept();
        });
        return;
      }
      // Past the limits, with no idle connection whose place it can take, a
      // connection is closed at once, unanswered.
      beast::error_code unknown;
      std::string client = socket.remote_endpoint(unknown).address().to_string();
      if (!unknown && admit(client))
        std::make_shared<Session>(std::move(socket), std::move(client), *this)->readRequest();
      accept();
    });
  }

  HttpHandler handler_;
  ServerLimits limits_;
  std::optional<asio::io_context> io_{std::in_place};
  std::optional<tcp::acceptor> acceptor_;
  std::optional<asio::steady_timer> retry_{std::in_place, *io_};
  std::vector<std::thread> threads_;

  std::mutex connections_;
  unsigned held_ = 0;
  std::unordered_map<std::string, unsigned> perClient_;
  std::list<Session *> waitingList_;  // longest waiting first
};

Session::Session(tcp::socket socket, std::string client, BeastServer &server)
    : stream_(std::move(socket)), client_(std::move(client)), server_(server) {}

Session::~Session() { server_.ended(*this); }

void Session::evict() {
  asio::post(stream_.get_executor(), [self = shared_from_this()] { self->close(); });
}

void Session::readRequest() {
  server_.waiting(*this, true);
  parser_.emplace();
  parser_->header_limit(headerLimit);
  buffer_.clear();
  stream_.expires_after(std::chrono::seconds(server_.limits().requestSeconds));
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) { self->answer(error); });
}

void Session::answer(const beast::error_code &error) {
  server_.waiting(*this, false);
  if (error == http::error::header_limit) {
    send(HttpResponse{431, "text/plain; charset=utf-8", "Request header fields too large\n", {}}, false, false);
    return;
  }
  if (error == http::error::end_of_stream || error == beast::error::timeout || error == asio::error::eof ||
      error == asio::error::connection_reset || error == asio::error::operation_aborted) {
    close();
    return;
  }
  if (error) {
    send(HttpResponse{400, "text/plain; charset=utf-8", "Bad request\n", {}}, false, false);
    return;
  }
  const auto &asked = parser_->get();
  HttpRequest request;
  request.method = std::string(asked.method_string());
  std::string target(asked.target());
  const size_t question = target.find('?');
  request.path = target.substr(0, question);
  if (question != std::string::npos) request.query = target.substr(question + 1);
  request.accept = std::string(asked[http::field::accept]);
  request.acceptEncoding = std::string(asked[http::field::accept_encoding]);
  request.authorization = std::string(asked[http::field::authorization]);
  const bool body = parser_->chunked() || parser_->content_length().value_or(0) != 0;
  const bool head = asked.method() == http::verb::head, keepAlive = asked.keep_alive() && !body;
  // The answer may come from another thread: it is sent from this
  // connection's strand.
  server_.handle(request, [self = shared_from_this(), head, keepAlive](HttpResponse response) {
    asio::post(self->stream_.get_executor(),
               [self, head, keepAlive, response = std::move(response)] { self->send(response, head, keepAlive); });
  });
}

// A HEAD answer carries the length of the body it leaves out.
void Session::send(const HttpResponse &answer, bool head, bool keepAlive) {
  response_ = {};
  response_.version(11);
  response_.result(static_cast<unsigned>(answer.status));
  response_.set(http::field::content_type, answer.contentType);
  for (const auto &[name, value] : answer.headers) response_.set(name, value);
  response_.keep_alive(keepAlive);
  if (head) {
    response_.content_length(answer.body.size());
  } else {
    response_.body() = answer.body;
    response_.prepare_payload();
  }
  stream_.expires_after(std::chrono::seconds(server_.limits().inactiveSeconds));
  http::async_write(stream_, response_, [self = shared_from_this(), keepAlive](beast::error_code error, std::size_t) {
    if (error || !keepAlive) {
      self->close();
    } else {
      self->readRequest();
    }
  });
}

void Session::close() {
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.socket().close(ignored);
}

}  // namespace

std::unique_ptr<HttpServer> startHttpServer(const ListenAddress &address, const ServerLimits &limits,
                                            HttpHandler handler, std::string &failure) {
  auto server = std::make_unique<BeastServer>(std::move(handler), limits);
  if (!server->listen(address, failure)) return nullptr;
  server->start();
  return server;
}

}  // namespace exporter
