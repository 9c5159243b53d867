// What perf_exporter answers, apart from the server that carries it: a
// landing page at "/", the metrics at "/metrics" in the format and encoding
// the request asks for, the graph page at "/graph" with its files and the
// data it reads at "/graph/data", 405 with "Allow" for other methods, 404
// elsewhere.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BasicAuth.h"
#include "GraphData.h"
#include "HttpServer.h"
#include "MetricFamilies.h"
#include "Scraper.h"
#include "TextFormat.h"
#include "Worker.h"

namespace exporter {

// OpenMetrics when the request's Accept header takes it at least as gladly
// as plain text (by its q values), the classic text format otherwise, as
// Prometheus' client libraries decide.
TextFormat negotiateFormat(const std::string &accept);

// Whether an Accept-Encoding header takes gzip.
bool acceptsGzip(const std::string &acceptEncoding);

// Graph data requests that may wait for the graph's thread; more answer 503.
constexpr size_t GraphRequestsWaiting = 16;

// Where the pages' readings come from: the scraper's request, or a test's.
using ReadingSource = std::function<void(Delivery)>;

class MetricsSite {
 public:
  // `users`: the names and bcrypt hashes that every page asks for, if any.
  explicit MetricsSite(ReadingSource readings, std::vector<std::pair<std::string, std::string>> users = {})
      : readings_(std::move(readings)), auth_(std::make_shared<BasicAuth>(std::move(users))) {}

  // Answers at once, or for the metrics once their reading is made (on the
  // thread that made it), or for the graph data on a thread of their own
  // once the reading is made. Safe from several threads at once.
  void answer(const HttpRequest &request, const Respond &respond) const;

  // Ends the graph data's thread, dropping the requests that wait for it;
  // before the server stops, whose connections those requests hold.
  void stop() { graphWorker_->stop(); }

 private:
  void answerGraphData(const HttpRequest &request, const Respond &respond) const;

  ReadingSource readings_;
  std::shared_ptr<const BasicAuth> auth_;
  // Shared with the readings under way, which may outlive a request.
  std::shared_ptr<GraphData> graph_ = std::make_shared<GraphData>();
  // Where the graph data are made: a client that asks for much of them
  // holds back neither the scraper's thread nor, past a few waiting, memory.
  std::shared_ptr<Worker> graphWorker_ = std::make_shared<Worker>(GraphRequestsWaiting);
};

}  // namespace exporter
