#include "MetricsSite.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>

#include "EmbeddedFile.h"
#include "Gzip.h"

namespace exporter {
namespace {

const char landingPage[] =
    "<!DOCTYPE html>\n"
    "<html><head><meta charset=\"utf-8\"><title>perf_exporter</title></head>\n"
    "<body><h1>perf_exporter</h1>\n"
    "<p>The performance counters of this machine for Prometheus: <a href=\"/metrics\">/metrics</a></p>\n"
    "<p>Chosen counters drawn live: <a href=\"/graph\">/graph</a></p>\n"
    "</body></html>\n";

const char allowed[] = "GET, HEAD";

std::string lower(std::string text) {
  for (char &c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::string trimmed(const std::string &text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// One element of a list header: its value and parameters, lower case.
struct Element {
  std::string value;
  double q = 1.0;
  std::string version;  // the "version" parameter, if any
};

std::vector<Element> listElements(const std::string &header) {
  std::vector<Element> elements;
  size_t start = 0;
  while (start <= header.size()) {
    size_t end = header.find(',', start);
    if (end == std::string::npos) end = header.size();
    std::string part = header.substr(start, end - start);
    start = end + 1;
    Element element;
    size_t semicolon = part.find(';');
    element.value = lower(trimmed(part.substr(0, semicolon)));
    while (semicolon != std::string::npos) {
      size_t next = part.find(';', semicolon + 1);
      std::string parameter = part.substr(semicolon + 1, next == std::string::npos ? next : next - semicolon - 1);
      semicolon = next;
      size_t equals = parameter.find('=');
      if (equals == std::string::npos) continue;
      std::string name = lower(trimmed(parameter.substr(0, equals)));
      std::string value = trimmed(parameter.substr(equals + 1));
      if (name == "q") {
        char *stop = nullptr;
        double q = std::strtod(value.c_str(), &stop);
        element.q = (stop != value.c_str() && *stop == '\0' && q >= 0 && q <= 1) ? q : 0;
      } else if (name == "version") {
        element.version = value;
      }
    }
    if (!element.value.empty()) elements.push_back(element);
  }
  return elements;
}

// The graph page's file at `path`, with its type; null elsewhere.
const EmbeddedFile *graphFile(const std::string &path, const char *&type) {
  static const struct {
    const char *path, *name, *type;
  } files[] = {{"/graph", "graph.html", "text/html; charset=utf-8"},
               {"/graph/graph.js", "graph.js", "text/javascript; charset=utf-8"},
               {"/graph/graph.css", "graph.css", "text/css; charset=utf-8"}};
  for (const auto &file : files) {
    if (path != file.path) continue;
    for (size_t at = 0; at < graphFilesCount; ++at) {
      if (std::string(graphFiles[at].name) != file.name) continue;
      type = file.type;
      return &graphFiles[at];
    }
  }
  return nullptr;
}

HttpResponse plain(int status, const std::string &text) {
  HttpResponse response;
  response.status = status;
  response.contentType = "text/plain; charset=utf-8";
  response.body = text;
  return response;
}

}  // namespace

TextFormat negotiateFormat(const std::string &accept) {
  double openMetrics = 0, text = 0;
  for (const Element &element : listElements(accept)) {
    if (element.value == "application/openmetrics-text") {
      if (element.version.empty() || element.version == "1.0.0" || element.version == "0.0.1") {
        openMetrics = std::max(openMetrics, element.q);
      }
    } else if (element.value == "text/plain" || element.value == "text/*" || element.value == "*/*") {
      text = std::max(text, element.q);
    }
  }
  return openMetrics > 0 && openMetrics >= text ? TextFormat::OpenMetrics : TextFormat::Classic;
}

bool acceptsGzip(const std::string &acceptEncoding) {
  for (const Element &element : listElements(acceptEncoding)) {
    if ((element.value == "gzip" || element.value == "x-gzip" || element.value == "*") && element.q > 0) return true;
  }
  return false;
}

void MetricsSite::answer(const HttpRequest &request, const Respond &respond) const {
  if (!auth_->allows(request.authorization)) {
    HttpResponse refused = plain(401, "Unauthorized: this exporter asks for a user and its password\n");
    refused.headers.emplace_back("WWW-Authenticate", "Basic realm=\"perf_exporter\", charset=\"UTF-8\"");
    respond(refused);
    return;
  }
  const bool metrics = request.path == "/metrics", graphData = request.path == "/graph/data";
  const char *fileType = nullptr;
  const EmbeddedFile *file = graphFile(request.path, fileType);
  if (!metrics && !graphData && file == nullptr && request.path != "/") {
    respond(plain(404, "Not found: the metrics are at /metrics, the graph at /graph\n"));
    return;
  }
  if (request.method != "GET" && request.method != "HEAD") {
    HttpResponse refused = plain(405, "Method not allowed: " + request.method + " (" + allowed + ")\n");
    refused.headers.emplace_back("Allow", allowed);
    respond(refused);
    return;
  }
  if (file != nullptr) {
    respond(HttpResponse{200, fileType, std::string(reinterpret_cast<const char *>(file->bytes), file->size), {}});
    return;
  }
  if (graphData) {
    answerGraphData(request, respond);
    return;
  }
  if (!metrics) {
    respond(HttpResponse{200, "text/html; charset=utf-8", landingPage, {}});
    return;
  }
  const TextFormat format = negotiateFormat(request.accept);
  const bool packed = acceptsGzip(request.acceptEncoding);
  readings_([format, packed, respond](std::shared_ptr<const Reading> reading) {
    if (reading == nullptr) {
      respond(plain(500, "The exporter had no memory for a reading\n"));
      return;
    }
    HttpResponse response;
    response.contentType = contentType(format);
    response.body = renderPage(reading->families, format);
    response.headers.emplace_back("Vary", "Accept, Accept-Encoding");
    std::string compressed;
    if (packed && gzip(response.body, compressed)) {
      response.body = std::move(compressed);
      response.headers.emplace_back("Content-Encoding", "gzip");
    }
    respond(std::move(response));
  });
}

void MetricsSite::answerGraphData(const HttpRequest &request, const Respond &respond) const {
  std::vector<std::string> paths;
  std::string problem;
  if (!queryValues(request.query, "path", paths, problem)) {
    respond(plain(400, "Bad query: " + problem + "\n"));
    return;
  }
  if (paths.size() > GraphPathsLimit) {
    respond(plain(400, "Bad query: " + std::to_string(paths.size()) + " paths; at most " +
                           std::to_string(GraphPathsLimit) + " at once\n"));
    return;
  }
  readings_([graph = graph_, worker = graphWorker_, paths = std::move(paths),
             respond](std::shared_ptr<const Reading> reading) {
    if (reading == nullptr) {
      respond(plain(500, "The exporter had no memory for a reading\n"));
      return;
    }
    const bool queued = worker->post([graph, reading, paths, respond] {
      std::optional<std::string> json;
      try {
        json = graph->answer(*reading, paths);
      } catch (const std::bad_alloc &) {
        respond(plain(500, "The exporter had no memory for the graph data\n"));
        return;
      }
      if (!json) {
        respond(plain(413, "The graph data asked for would pass " + std::to_string(GraphAnswerLimit / 1024) +
                               " KB; ask for fewer counters\n"));
        return;
      }
      HttpResponse response{200, "application/json", std::move(*json), {}};
      response.headers.emplace_back("Cache-Control", "no-store");
      respond(std::move(response));
    });
    if (!queued) {
      HttpResponse busy = plain(503, "The graph data are being made for too many requests; try again\n");
      busy.headers.emplace_back("Retry-After", "1");
      respond(std::move(busy));
    }
  });
}

}  // namespace exporter
