#include "Serving.h"

#include <memory>

#include "HttpServer.h"
#include "MetricsSite.h"
#include "Scraper.h"
#include "WebConfig.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace exporter {
namespace {

#ifndef _WIN32
// Each connection is a descriptor: let the process hold as many as the
// server may accept.
void allowConnections(unsigned connections) {
  rlimit limit{};
  const rlim_t wanted = connections + 64;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted ? wanted : limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}
#endif

}  // namespace

int serve(const Options &options, StopRequest &stop, const Log &log, const std::function<void()> &running) {
  ServerLimits limits;
#ifndef _WIN32
  signal(SIGPIPE, SIG_IGN);
  allowConnections(limits.connections);
#endif
  WebConfig web;
  if (!options.webConfigFile.empty()) {
    std::string problem;
    if (!readWebConfig(options.webConfigFile, web, problem)) {
      log("--web.config.file " + problem);
      return Failure;
    }
    if (web.tls.enabled) {
      log("--web.config.file " + options.webConfigFile +
          ": tls_server_config: this perf_exporter serves plain HTTP only; put a TLS proxy in front of it");
      return Failure;
    }
  }
  Scraper scraper(options.families, log);
  MetricsSite site([&scraper](Delivery deliver) { scraper.request(std::move(deliver)); }, web.users);
  std::string failure;
  std::unique_ptr<HttpServer> server = startHttpServer(
      options.address, limits, [&site](const HttpRequest &request, Respond respond) { site.answer(request, respond); },
      failure);
  if (server == nullptr) {
    log("cannot listen on " + options.address.text() + ": " + failure);
    return Failure;
  }
  log("serving http://" + std::string(options.address.everyInterface() ? "*" : "") + options.address.text() +
      "/metrics");
  running();
  stop.wait();
  // No reading or graph data is handed to a connection once the server is
  // gone.
  scraper.stop();
  site.stop();
  server->stop();
  log("stopped");
  return Success;
}

}  // namespace exporter
