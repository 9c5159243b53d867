// perf_exporter's parts that need no server, on both targets: the families
// of a hand-built data block in both text formats against golden files, the
// answers by path, method and Accept headers, the command line, and the
// program printing a collector's data once, read through the system's
// performance data query (under Wine, Wine's own).
#include <gtest/gtest.h>
#include <windows.h>
#include <winperf.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ExporterOptions.h"
#include "MetricFamilies.h"
#include "MetricsSite.h"
#include "NameTable.h"
#include "RunProgram.h"
#include "TestCollector.h"
#include "TextFormat.h"
#include "Bcrypt.h"
#include "BasicAuth.h"
#include "Worker.h"

using namespace perfdata;
using namespace exporter;

namespace {

// A REG_MULTI_SZ of index and text pairs, as "Counter 009" gives it.
NameTable nameTable(const std::vector<std::pair<DWORD, std::u16string>> &entries) {
  std::u16string text;
  for (const auto &[index, name] : entries) {
    for (char digit : std::to_string(index)) text += static_cast<char16_t>(digit);
    text += u'\0' + name + u'\0';
  }
  text += u'\0';
  NameTable table;
  std::string problem;
  EXPECT_TRUE(table.add(reinterpret_cast<const BYTE *>(text.data()), text.size() * sizeof(char16_t), problem))
      << problem;
  return table;
}

CounterDefinition counter(DWORD nameIndex, DWORD type, DWORD offset) {
  CounterDefinition definition;
  definition.nameIndex = nameIndex;
  definition.helpIndex = nameIndex + 1;
  definition.type = type;
  definition.size = counterDataSize(type, 8);
  definition.counterOffset = offset;
  return definition;
}

// A counter block of 48 bytes with these values at their offsets, each as
// wide as `width` says (4 or 8 bytes).
CounterBlock counterBlock(const std::vector<std::pair<DWORD, ULONGLONG>> &values, DWORD width) {
  CounterBlock block;
  block.bytes.resize(48);
  DWORD length = static_cast<DWORD>(block.bytes.size());
  memcpy(block.bytes.data(), &length, sizeof length);
  for (const auto &[offset, value] : values) memcpy(block.bytes.data() + offset, &value, width);
  return block;
}

Instance instance(const char16_t *name, CounterBlock counters) {
  Instance each;
  each.name = reinterpret_cast<const WCHAR *>(name);
  each.counters = std::move(counters);
  return each;
}

std::string fileText(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string gunzip(const std::string &packed) {
  z_stream stream{};
  EXPECT_EQ(Z_OK, inflateInit2(&stream, 15 + 16));
  std::string text(1 << 16, '\0');
  stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = reinterpret_cast<Bytef *>(text.data());
  stream.avail_out = static_cast<uInt>(text.size());
  EXPECT_EQ(Z_STREAM_END, inflate(&stream, Z_FINISH));
  text.resize(stream.total_out);
  inflateEnd(&stream);
  return text;
}

std::string header(const HttpResponse &response, const std::string &name) {
  for (const auto &[each, value] : response.headers)
    if (each == name) return value;
  return {};
}

// The page's lines that are not the exporter's own series.
std::string withoutOwnSeries(const std::string &page) {
  std::istringstream lines(page);
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (line.find("perf_exporter_") == std::string::npos) kept += line + "\n";
  }
  return kept;
}

int runExporter(const std::string &arguments, std::string &output) {
  return runProgram(std::string(EXPORTER_PROGRAM) + (arguments.empty() ? "" : " " + arguments), output);
}

}  // namespace

// An object with instances (a text counter left out, a counter without a
// name, two names that differ only in punctuation, a count named per second,
// instance names to escape, one name held twice, _Total), one without
// instances whose counter and gauge names meet at "_total" and whose names
// are punctuation, one without any installed name, and one with no instances
// now that repeats the first.
TEST(MetricFamilies, RenderAHandBuiltBlockInBothFormatsAsTheGoldenFiles) {
  NameTable names = nameTable({{5000, u"Web Service"},
                               {5002, u"Requests/sec"},
                               {5004, u"Bytes Sent"},
                               {5006, u"Current Connections"},
                               {5008, u"Current-Connections"},
                               {5010, u"Status"},
                               {7000, u"Queue"},
                               {7002, u"Items"},
                               {7004, u"Items Total"},
                               {7006, u"% Busy"},
                               {7008, u"%"}});
  NameTable help = nameTable({{5003, u"Requests served, counted as they \"arrive\"."},
                              {5005, u"Bytes sent to C:\\clients\r\nin total."},
                              {7003, u"Items queued."}});

  DataBlock block;
  Object web;
  web.nameIndex = 5000;
  web.counters = {counter(5002, PERF_COUNTER_COUNTER, 8),   counter(5004, PERF_COUNTER_BULK_COUNT, 16),
                  counter(5006, PERF_COUNTER_RAWCOUNT, 24), counter(5008, PERF_COUNTER_RAWCOUNT, 28),
                  counter(5010, PERF_COUNTER_TEXT, 32),     counter(5012, PERF_COUNTER_LARGE_RAWCOUNT, 40)};
  auto webValues = [](ULONGLONG base) {
    CounterBlock values = counterBlock({{8, base + 1}, {24, base + 3}, {28, base + 4}}, 4);
    ULONGLONG large[] = {base + 2, 0x0074786574ull, 0xFFFFFFFFFFFFFFFFull};  // 64-bit, "text", 64-bit
    memcpy(values.bytes.data() + 16, &large[0], 8);
    memcpy(values.bytes.data() + 32, &large[1], 8);
    memcpy(values.bytes.data() + 40, &large[2], 8);
    return values;
  };
  web.instances = {instance(u"worker", webValues(10)), instance(u"say \"hi\" at C:\\www\nnow", webValues(20)),
                   instance(u"worker", webValues(30)), instance(u"caf\u00e9", webValues(40)),
                   instance(u"_Total", webValues(100))};
  web.numInstances = static_cast<LONG>(web.instances.size());
  block.objects.push_back(web);

  Object queue;
  queue.nameIndex = 7000;
  queue.counters = {counter(7002, PERF_COUNTER_COUNTER, 8), counter(7004, PERF_COUNTER_RAWCOUNT, 12),
                    counter(7006, PERF_COUNTER_RAWCOUNT, 16), counter(7008, PERF_COUNTER_RAWCOUNT, 20)};
  queue.counterBlock = counterBlock({{8, 4294967295ull}, {12, 7}, {16, 50}, {20, 0}}, 4);
  block.objects.push_back(queue);

  Object unnamed;
  unnamed.nameIndex = 10000;
  unnamed.counters = {counter(10002, PERF_COUNTER_LARGE_RAWCOUNT, 8)};
  unnamed.counterBlock = counterBlock({{8, 1ull << 40}}, 8);
  block.objects.push_back(unnamed);

  // With no instance there now, the family is still named, after the
  // names the first object took.
  Object again;
  again.nameIndex = 5000;
  again.numInstances = 0;
  again.counters = {counter(5006, PERF_COUNTER_RAWCOUNT, 8)};
  block.objects.push_back(again);

  FamilyNames claimed;
  std::vector<MetricFamily> families = counterFamilies(block, names, help, FamilyOptions{}, claimed);
  EXPECT_EQ(fileText(TEST_DATA_DIR "/exporter/metrics.golden"), renderPage(families, TextFormat::OpenMetrics));
  EXPECT_EQ(fileText(TEST_DATA_DIR "/exporter/metrics-classic.golden"), renderPage(families, TextFormat::Classic));

  // Asked for, _Total comes back in its place; the exporter's own names are
  // never a counter's.
  FamilyNames claimedAgain;
  std::string withTotal =
      renderPage(counterFamilies(block, names, help, FamilyOptions{true}, claimedAgain), TextFormat::OpenMetrics);
  EXPECT_NE(std::string::npos, withTotal.find("perf_web_service_requests_total{perf_instance=\"caf\xc3\xa9\"} 41\n"
                                              "perf_web_service_requests_total{perf_instance=\"_Total\"} 101\n"));
  EXPECT_EQ("perf_exporter_build_info_2", claimedAgain.claim("perf_exporter_build_info", MetricType::Gauge));
}

// The site as a server hands it requests: the metrics in the format the
// Accept header prefers and gzip where taken, the landing page, 405 with
// Allow for other methods, 404 elsewhere.
TEST(MetricsSite, AnswersByPathMethodAndRequestHeaders) {
  bool memory = true;
  MetricsSite site([&memory](Delivery deliver) {
    if (!memory) return deliver(nullptr);
    auto reading = std::make_shared<Reading>();
    reading->succeeded = true;
    MetricFamily family;
    family.name = "perf_x_requests";
    family.help = "Requests";
    family.type = MetricType::Counter;
    family.metrics.push_back(Metric{{{instanceLabel, "a"}}, "5"});
    reading->families = {family};
    deliver(reading);
  });
  auto answer = [&site](const HttpRequest &request) {
    HttpResponse answered;
    site.answer(request, [&answered](HttpResponse response) { answered = std::move(response); });
    return answered;
  };
  const char classic[] =
      "# HELP perf_x_requests_total Requests\n# TYPE perf_x_requests_total counter\n"
      "perf_x_requests_total{perf_instance=\"a\"} 5\n";

  HttpResponse plain = answer({"GET", "/metrics", "", "", ""});
  EXPECT_EQ(200, plain.status);
  EXPECT_EQ("text/plain; version=0.0.4; charset=utf-8", plain.contentType);
  EXPECT_EQ(classic, plain.body);
  EXPECT_EQ("", header(plain, "Content-Encoding"));

  // What Prometheus 2.42 sends.
  HttpResponse scraped =
      answer({"GET", "/metrics",
              "application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;q=0.75,"
              "text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
              "gzip", ""});
  EXPECT_EQ(200, scraped.status);
  EXPECT_EQ("application/openmetrics-text; version=1.0.0; charset=utf-8", scraped.contentType);
  EXPECT_EQ("gzip", header(scraped, "Content-Encoding"));
  EXPECT_EQ(
      "# HELP perf_x_requests Requests\n# TYPE perf_x_requests counter\n"
      "perf_x_requests_total{perf_instance=\"a\"} 5\n# EOF\n",
      gunzip(scraped.body));

  struct Negotiation {
    const char *accept;
    TextFormat format;
  };
  for (const Negotiation &each : {Negotiation{"application/openmetrics-text", TextFormat::OpenMetrics},
                                  {"Application/OpenMetrics-Text; Version=1.0.0", TextFormat::OpenMetrics},
                                  {"text/plain;q=0.9, application/openmetrics-text;q=0.5", TextFormat::Classic},
                                  {"application/openmetrics-text;version=2.0.0", TextFormat::Classic},
                                  {"application/openmetrics-text;q=0", TextFormat::Classic},
                                  {"text/html,application/xhtml+xml,*/*;q=0.8", TextFormat::Classic},
                                  {",;q=,", TextFormat::Classic}}) {
    EXPECT_EQ(each.format, negotiateFormat(each.accept)) << each.accept;
  }
  for (const auto &[encoding, taken] :
       {std::pair{"gzip;q=0", false}, {"deflate, GZIP", true}, {"*", true}, {"identity", false}, {"", false}}) {
    EXPECT_EQ(taken, acceptsGzip(encoding)) << encoding;
  }

  HttpResponse landing = answer({"HEAD", "/", "", "gzip", ""});
  EXPECT_EQ(200, landing.status);
  EXPECT_EQ("text/html; charset=utf-8", landing.contentType);
  EXPECT_NE(std::string::npos, landing.body.find("<a href=\"/metrics\">"));

  for (const char *method : {"POST", "PUT", "DELETE", "OPTIONS"}) {
    HttpResponse refused = answer({method, "/metrics", "", "", ""});
    EXPECT_EQ(405, refused.status) << method;
    EXPECT_EQ("GET, HEAD", header(refused, "Allow")) << method;
  }
  for (const char *path : {"/metrics/", "/Metrics", "/favicon.ico", ""}) {
    EXPECT_EQ(404, answer({"GET", path, "", "", ""}).status) << path;
  }
  memory = false;
  EXPECT_EQ(500, answer({"GET", "/metrics", "", "", ""}).status);
}

// The graph page and the data it reads: the page's files as built in, the
// objects with their instances and counters, and each asked path's value as
// perfquery shows it (a rate from the second reading on), with what went
// wrong for paths that name nothing.
namespace {

// The answer to a request, made on whichever thread, and the thread it came
// from.
std::pair<HttpResponse, std::thread::id> answerOf(const MetricsSite &site, const HttpRequest &request) {
  std::promise<std::pair<HttpResponse, std::thread::id>> answered;
  auto arrived = answered.get_future();
  site.answer(request, [&answered](HttpResponse response) {
    answered.set_value({std::move(response), std::this_thread::get_id()});
  });
  return arrived.get();
}

}  // namespace

TEST(MetricsSite, ServesTheGraphPageAndItsData) {
  NameTable names = nameTable({{5000, u"Web Service"},
                               {5002, u"Requests/sec"},
                               {5004, u"Current Connections"},
                               {5006, u"Hidden Base"},
                               {7000, u"Queue"},
                               {7002, u"Items"}});
  auto makeReading = [&names](ULONGLONG requests, LONGLONG perfTime) {
    auto block = std::make_shared<DataBlock>();
    block->systemName = reinterpret_cast<const WCHAR *>(u"HOST");
    block->perfTime = perfTime;
    block->perfFreq = 100;
    Object web;
    web.nameIndex = 5000;
    web.counters = {counter(5002, PERF_COUNTER_COUNTER, 8), counter(5004, PERF_COUNTER_RAWCOUNT, 12),
                    counter(5006, PERF_RAW_BASE, 16)};
    web.counters[1].defaultScale = -1;
    web.instances = {instance(u"worker", counterBlock({{8, requests}, {12, 3}}, 4)),
                     instance(u"worker", counterBlock({{8, requests}, {12, 4}}, 4))};
    web.numInstances = 2;
    block->objects.push_back(web);
    Object queue;
    queue.nameIndex = 7000;
    queue.counters = {counter(7002, PERF_COUNTER_LARGE_RAWCOUNT, 8)};
    queue.counterBlock = counterBlock({{8, 1ull << 40}}, 8);
    block->objects.push_back(queue);
    auto reading = std::make_shared<Reading>();
    reading->succeeded = true;
    reading->block = std::move(block);
    reading->names = names;
    return reading;
  };
  std::shared_ptr<Reading> next = makeReading(100, 1000);
  MetricsSite site([&next](Delivery deliver) { deliver(next); });
  auto answer = [&site](const std::string &path, const std::string &query = "", const char *method = "GET") {
    return answerOf(site, {method, path, "", "", query}).first;
  };

  HttpResponse page = answer("/graph");
  EXPECT_EQ(200, page.status);
  EXPECT_EQ("text/html; charset=utf-8", page.contentType);
  EXPECT_NE(std::string::npos, page.body.find("<script src=\"/graph/graph.js\">")) << page.body;
  EXPECT_EQ(std::string::npos, page.body.find("://")) << "the page loads nothing from elsewhere";
  HttpResponse script = answer("/graph/graph.js");
  EXPECT_EQ("text/javascript; charset=utf-8", script.contentType);
  EXPECT_NE(std::string::npos, script.body.find("fetch(\"/graph/data\"")) << script.body;
  EXPECT_EQ("text/css; charset=utf-8", answer("/graph/graph.css").contentType);
  EXPECT_NE(std::string::npos, answer("/").body.find("<a href=\"/graph\">"));
  const auto elsewhere = answer("/graph/other.js");
  EXPECT_EQ(404, elsewhere.status);
  EXPECT_EQ("Not found: the metrics are at /metrics, the graph at /graph\n", elsewhere.body);
  EXPECT_EQ(405, answer("/graph/data", "", "POST").status);

  const std::string objects =
      "\"objects\": [{\"name\": \"Web Service\", \"instances\": [\"worker\", \"worker#1\"], \"counters\": ["
      "{\"name\": \"Requests/sec\", \"type\": \"PERF_COUNTER_COUNTER\", \"scale\": 0}, "
      "{\"name\": \"Current Connections\", \"type\": \"PERF_COUNTER_RAWCOUNT\", \"scale\": -1}]}, "
      "{\"name\": \"Queue\", \"instances\": null, \"counters\": ["
      "{\"name\": \"Items\", \"type\": \"PERF_COUNTER_LARGE_RAWCOUNT\", \"scale\": 0}]}]";
  HttpResponse listed = answer("/graph/data");
  EXPECT_EQ(200, listed.status);
  EXPECT_EQ("application/json", listed.contentType);
  EXPECT_EQ("{\"machine\": \"HOST\", \"failure\": null, " + objects + ", \"lines\": [], \"problems\": []}\n",
            listed.body);

  // "+" and "%5C" as a browser's encodeURIComponent and forms send them.
  const std::string query =
      "path=%5CWeb%20Service(*)%5CRequests%2Fsec&path=%5CWeb+Service(worker%231)%5CCurrent+Connections"
      "&other=1&path=%5CQueue%5CItems&path=%5CQueue%5CNothing&path=Queue";
  const std::string lines =
      "{\"path\": \"\\\\\\\\HOST\\\\Web Service(worker)\\\\Requests/sec\", \"asked\": \"\\\\Web "
      "Service(*)\\\\Requests/sec\", "
      "\"type\": \"PERF_COUNTER_COUNTER\", \"scale\": 0, \"value\": %1}, "
      "{\"path\": \"\\\\\\\\HOST\\\\Web Service(worker#1)\\\\Requests/sec\", \"asked\": \"\\\\Web "
      "Service(*)\\\\Requests/sec\", "
      "\"type\": \"PERF_COUNTER_COUNTER\", \"scale\": 0, \"value\": %1}, "
      "{\"path\": \"\\\\\\\\HOST\\\\Web Service(worker#1)\\\\Current Connections\", "
      "\"asked\": \"\\\\Web Service(worker#1)\\\\Current Connections\", "
      "\"type\": \"PERF_COUNTER_RAWCOUNT\", \"scale\": -1, \"value\": 4}, "
      "{\"path\": \"\\\\\\\\HOST\\\\Queue\\\\Items\", \"asked\": \"\\\\Queue\\\\Items\", "
      "\"type\": \"PERF_COUNTER_LARGE_RAWCOUNT\", \"scale\": 0, \"value\": 1099511627776}], "
      "\"problems\": [{\"path\": \"\\\\Queue\\\\Nothing\", \"problem\": \"the object has no counter of that name\"}, "
      "{\"path\": \"Queue\", \"problem\": \"a counter path begins with a backslash: \\\\Object(Instance)\\\\Counter or "
      "\\\\Object\\\\Counter\"}]}\n";
  auto withValue = [&lines](const std::string &value) {
    std::string text = lines;
    for (size_t at; (at = text.find("%1")) != std::string::npos;) text.replace(at, 2, value);
    return text;
  };
  // A rate has no value on the first reading, then the change per second:
  // 10 more in 200 ticks of 100 a second.
  EXPECT_EQ("{\"machine\": \"HOST\", \"failure\": null, " + objects + ", \"lines\": [" + withValue("null"),
            answer("/graph/data", query).body);
  next = makeReading(110, 1200);
  EXPECT_EQ("{\"machine\": \"HOST\", \"failure\": null, " + objects + ", \"lines\": [" + withValue("5.000000"),
            answer("/graph/data", query).body);

  HttpResponse malformed = answer("/graph/data", "path=%5CQueue%5%5CItems");
  EXPECT_EQ(400, malformed.status);
  EXPECT_EQ("Bad query: '%' at 9 of '%5CQueue%5%5CItems' is not followed by two hex digits\n", malformed.body);

  next = std::make_shared<Reading>();
  next->failure = "reading performance data \"Global\" failed: access denied";
  EXPECT_EQ(
      "{\"machine\": null, \"failure\": \"reading performance data \\\"Global\\\" failed: access denied\", "
      "\"objects\": [], \"lines\": [], \"problems\": [{\"path\": \"\\\\Queue\\\\Items\", "
      "\"problem\": \"the performance data could not be read\"}]}\n",
      answer("/graph/data", "path=%5CQueue%5CItems").body);
  next = nullptr;
  EXPECT_EQ(500, answer("/graph/data").status);
}

// A client may ask for the graph data of a large tree, many times at once:
// what one request may ask is bounded, and the answer is made where it holds
// back no scrape of the metrics.
TEST(MetricsSite, GraphDataAreBoundedAndMadeOffTheReadingsThread) {
  auto block = std::make_shared<DataBlock>();
  block->systemName = reinterpret_cast<const WCHAR *>(u"HOST");
  block->perfFreq = 100;
  Object web;
  web.nameIndex = 5000;
  web.counters = {counter(5002, PERF_COUNTER_RAWCOUNT, 8)};
  // Lines of some 200 bytes for every instance pass the limit; the objects'
  // list alone does not.
  const size_t instances = GraphAnswerLimit / 100;
  for (size_t at = 0; at < instances; ++at) web.instances.push_back(instance(u"worker", counterBlock({{8, at}}, 4)));
  web.numInstances = static_cast<LONG>(instances);
  block->objects.push_back(web);
  auto reading = std::make_shared<Reading>();
  reading->succeeded = true;
  reading->block = std::move(block);
  reading->names = nameTable({{5000, u"Web Service"}, {5002, u"Requests/sec"}});
  std::thread::id delivering;
  MetricsSite site([&](Delivery deliver) {
    delivering = std::this_thread::get_id();
    deliver(reading);
  });
  auto graphData = [&site](const std::string &query) { return answerOf(site, {"GET", "/graph/data", "", "", query}); };

  const std::string one = "path=%5CWeb+Service(worker%237)%5CRequests%2Fsec";
  const auto [answered, made] = graphData(one);
  EXPECT_EQ(200, answered.status);
  EXPECT_NE(std::string::npos, answered.body.find("\"value\": 7}")) << answered.body.substr(0, 200);
  EXPECT_NE(delivering, made) << "the graph data are made on the thread that delivered the reading";
  const auto [metrics, rendered] = answerOf(site, {"GET", "/metrics", "", "", ""});
  EXPECT_EQ(200, metrics.status);
  EXPECT_EQ(delivering, rendered);

  const auto [all, unused] = graphData("path=%5CWeb+Service(*)%5CRequests%2Fsec");
  EXPECT_EQ(413, all.status);
  EXPECT_EQ("The graph data asked for would pass 1024 KB; ask for fewer counters\n", all.body);

  std::string paths = one;
  for (size_t more = 1; more < GraphPathsLimit; ++more) paths += "&" + one;
  EXPECT_EQ(200, graphData(paths).first.status);
  const auto [tooMany, refused] = graphData(paths + "&" + one);
  EXPECT_EQ(400, tooMany.status);
  EXPECT_EQ("Bad query: 65 paths; at most 64 at once\n", tooMany.body);
}

// Once users are configured, every page, an unknown one included, asks for
// one of them and its password; nothing else passes.
TEST(MetricsSite, AsksEveryPageForAUserAndItsPassword) {
  const uint8_t salt[16] = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
  auto reading = std::make_shared<Reading>();
  reading->succeeded = true;
  MetricsSite site([&reading](Delivery deliver) { deliver(reading); },
                   {{"prometheus", bcryptHash("right", salt, 4)}, {"colon", bcryptHash("pa:ss", salt, 4)}});
  auto answer = [&site](const std::string &path, const std::string &authorization) {
    return answerOf(site, {"GET", path, "", "", "", authorization}).first;
  };
  const std::string right = "Basic cHJvbWV0aGV1czpyaWdodA==";  // prometheus:right
  for (const char *path : {"/", "/metrics", "/graph", "/graph/data", "/nothing"}) {
    const HttpResponse refused = answer(path, "");
    EXPECT_EQ(401, refused.status) << path;
    ASSERT_EQ(1u, refused.headers.size()) << path;
    EXPECT_EQ("WWW-Authenticate", refused.headers[0].first);
    EXPECT_EQ("Basic realm=\"perf_exporter\", charset=\"UTF-8\"", refused.headers[0].second);
    EXPECT_EQ(std::string(path) == "/nothing" ? 404 : 200, answer(path, right).status) << path;
  }
  for (const char *wrong :
       {"Basic cHJvbWV0aGV1czp3cm9uZw==",  // prometheus:wrong
        "Basic bm9ib2R5OnJpZ2h0",          // nobody:right
        "Basic cHJvbWV0aGV1c3JpZ2h0",      // prometheusright
        "Bearer cHJvbWV0aGV1czpyaWdodA==", "Basic !cHJvbWV0aGV1czpyaWdodA==", "Basic", "BasiccHJvbWV0aGV1czpyaWdodA=="})
    EXPECT_EQ(401, answer("/metrics", wrong).status) << wrong;
  // The scheme in any case, spaces after it, and a password with a colon.
  EXPECT_EQ(200, answer("/metrics", "basic   cHJvbWV0aGV1czpyaWdodA").status);
  EXPECT_EQ(200, answer("/metrics", "Basic Y29sb246cGE6c3M=").status);  // colon:pa:ss

  std::string bytes;
  for (auto [text, decoded] : {std::pair{"", ""}, {"YQ==", "a"}, {"YQ", "a"}, {"YWI=", "ab"}, {"YWJj", "abc"}}) {
    EXPECT_TRUE(decodeBase64(text, bytes)) << text;
    EXPECT_EQ(decoded, bytes) << text;
  }
  for (const char *bad : {"Y", "YQ=", "Y===", "YQ==YQ==", "@@@@", "YW J"})
    EXPECT_FALSE(decodeBase64(bad, bytes)) << bad;
}

// Jobs run in order on the worker's own thread; past the queue's length a
// job is refused at once, not kept.
TEST(Worker, RunsJobsInOrderAndRefusesPastItsQueue) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::vector<int> ran;
  std::mutex ranLock;
  std::promise<void> last;
  {
    Worker worker(2);
    std::promise<std::thread::id> started;
    ASSERT_TRUE(worker.post([&] {
      started.set_value(std::this_thread::get_id());
      released.wait();
    }));
    EXPECT_NE(std::this_thread::get_id(), started.get_future().get());
    for (int job : {1, 2}) {
      EXPECT_TRUE(worker.post([&, job] {
        std::lock_guard<std::mutex> hold(ranLock);
        ran.push_back(job);
        if (job == 2) last.set_value();
      }));
    }
    EXPECT_FALSE(worker.post([&] { ran.push_back(3); })) << "two wait already";
    release.set_value();
    last.get_future().wait();
    // A job that throws loses its own answer only; the thread goes on.
    EXPECT_TRUE(worker.post([] { throw std::runtime_error("no answer"); }));
    std::promise<void> after;
    EXPECT_TRUE(worker.post([&] { after.set_value(); }));
    after.get_future().wait();
  }
  EXPECT_EQ((std::vector<int>{1, 2}), ran);

  // Stopping drops what waits, on the stopping thread, and takes no more.
  Worker worker(2);
  std::promise<void> unblock, busy;
  std::shared_future<void> unblocked = unblock.get_future().share();
  ASSERT_TRUE(worker.post([&] {
    busy.set_value();
    unblocked.wait();
  }));
  busy.get_future().wait();
  auto held = std::make_shared<int>(0);
  bool ranAfterStop = false;
  ASSERT_TRUE(worker.post([held, &ranAfterStop] { ranAfterStop = true; }));
  std::thread stopping([&worker] { worker.stop(); });
  while (held.use_count() > 1) std::this_thread::yield();
  EXPECT_FALSE(worker.post([] {}));
  unblock.set_value();
  stopping.join();
  EXPECT_FALSE(ranAfterStop);
  EXPECT_EQ(1, held.use_count()) << "the job that waited is dropped, with what it held";
  EXPECT_FALSE(worker.post([] {}));
}

TEST(ExporterOptions, ReadTheCommandLineAsExportersDo) {
  struct Line {
    std::vector<std::string> arguments;
    const char *error;  // the start of the usage error, null for a line that runs
    Action action = Action::Serve;
    const char *address = "";
    bool withTotal = false;
  };
  const Line lines[] = {
      {{}, nullptr, Action::Serve, "127.0.0.1:9464", false},
      {{"--web.listen-address", ":9100"}, nullptr, Action::Serve, ":9100", false},
      {{"--listen=[::1]:80", "--with-total"}, nullptr, Action::Serve, "[::1]:80", true},
      {{"--web.listen-address=0.0.0.0:65535"}, nullptr, Action::Serve, "0.0.0.0:65535", false},
      {{"--once", "--with-total"}, nullptr, Action::Once, "127.0.0.1:9464", true},
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--listen", ":9100", "--web.listen-address", ":9200"}, "--web.listen-address is given twice"},
      {{"--web.listen-address"}, "option --web.listen-address needs a value, ADDRESS"},
      {{"--web.listen-address", "::1:80"}, "--web.listen-address needs HOST:PORT"},
      {{"--web.listen-address", ":0"}, "--web.listen-address needs HOST:PORT"},
      {{"--once", "--listen", ":9100"}, "--once prints the page and listens nowhere"},
      {{"metrics"}, "unexpected argument 'metrics'"},
      {{"--web.config.file", "web.yml"}, nullptr, Action::Serve, "127.0.0.1:9464", false},
      {{"--web.config.file="}, "--web.config.file needs a file's path"},
      {{"--once", "--web.config.file", "web.yml"},
       "--once prints the page and listens nowhere: drop --web.config.file"},
#ifdef _WIN32
      {{"--install-service", "--listen", ":9100"}, nullptr, Action::InstallService, ":9100", false},
      {{"--uninstall-service", "--with-total"}, "--uninstall-service takes no other options"},
      {{"--install-service", "--once"}, "choose one of --once, --install-service, --uninstall-service, not --once"},
      {{"--service-account", "NT AUTHORITY\\NetworkService"}, "--service-account goes with --install-service"},
      {{"--uninstall-service", "--service-account=LocalSystem"}, "--service-account goes with --install-service"},
      {{"--install-service", "--service-account="}, "--service-account needs an account's name"},
      {{"--install-service", "--web.config.file", "web.yml"}, "--web.config.file needs a full path (C:\\...)"},
      {{"--install-service", "--web.config.file", "C:\\perf\\web.yml"},
       nullptr,
       Action::InstallService,
       "127.0.0.1:9464",
       false},
#else
      {{"--install-service"}, "--install-service is for the Windows build only"},
      {{"--service-account", "x"}, "--service-account is for the Windows build only"},
#endif
  };
  for (const Line &line : lines) {
    std::string shown;
    for (const std::string &argument : line.arguments) shown += argument + " ";
    const commandline::Parsed<Options> parsed = parseOptions(line.arguments);
    if (line.error != nullptr) {
      ASSERT_EQ(commandline::Parsed<Options>::Outcome::UsageError, parsed.outcome) << shown;
      EXPECT_EQ(0u, parsed.error.rfind(line.error, 0)) << shown << ": " << parsed.error;
      continue;
    }
    ASSERT_EQ(commandline::Parsed<Options>::Outcome::Run, parsed.outcome) << shown << parsed.error;
    EXPECT_EQ(line.action, parsed.options.action) << shown;
    EXPECT_EQ(line.address, parsed.options.address.text()) << shown;
    EXPECT_EQ(line.withTotal, parsed.options.families.withTotal) << shown;
  }
  const commandline::Parsed<Options> installing = parseOptions({"--listen=:9100", "--with-total"});
  EXPECT_EQ((std::vector<std::string>{"--web.listen-address", ":9100", "--with-total"}),
            installing.options.servingArguments);
#ifdef _WIN32
  // The service's account is the installer's, not one the service serves with.
  EXPECT_EQ(DefaultServiceAccount, parseOptions({"--install-service"}).options.serviceAccount);
  const commandline::Parsed<Options> virtualAccount =
      parseOptions({"--install-service", "--service-account", "NT SERVICE\\perf_exporter", "--with-total"});
  EXPECT_EQ("NT SERVICE\\perf_exporter", virtualAccount.options.serviceAccount);
  EXPECT_EQ((std::vector<std::string>{"--with-total"}), virtualAccount.options.servingArguments);
#endif
}

// The test collector's object, named by installed names where the system
// installs them (Wine installs none: indices), printed once through the
// system's performance data query; then help and a usage error as a user
// sees them.
TEST(PerfExporterProgram, PrintsACollectorsDataOnce) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE,
                                         "SYSTEM\\CurrentControlSet\\Services\\" GOOD_SERVICE "\\Performance", &key));
#ifdef _WIN32
  std::string library = COLLECTOR_NAME;
#else
  std::string library = std::string("Z:") + COLLECTOR_PATH;
#endif
  for (auto [name, text] : {std::pair{"Library", library.c_str()},
                            {"Open", "OpenCollector"},
                            {"Collect", "CollectGood"},
                            {"Close", "CloseCollector"}}) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), std::strlen(text) + 1);
  }
  CollectorSettings settings{9000, 42, 1234567890123ull, FaultNone};
  RegSetValueExA(key, "Test Object", 0, REG_BINARY, reinterpret_cast<const BYTE *>(&settings), sizeof settings);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", &key));
  const char counters[] =
      "9000\0Test Object\0"
      "9002\0Count\0"
      "9004\0Total\0";
  RegSetValueExA(key, "Counter", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(counters), sizeof counters);
  RegCloseKey(key);

  std::string page;
  int code = runExporter("--once", page);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" GOOD_SERVICE);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" GOOD_SERVICE);
  ASSERT_EQ(0, code) << page;
  const bool named = page.find("perf_test_object_count") != std::string::npos;
  const std::string object = named ? "perf_test_object" : "perf_9000";
  const std::string count = object + (named ? "_count" : "_9002"), total = object + (named ? "_total" : "_9004");
  const std::string countName = named ? "Count" : "#9002", totalName = named ? "Total" : "#9004";
  const std::string objectName = named ? "Test Object" : "#9000";
  EXPECT_NE(std::string::npos,
            withoutOwnSeries(page).find("# HELP " + count + " " + countName + " of " + objectName +
                                        " (no help text is installed)\n"
                                        "# TYPE " +
                                        count + " gauge\n" + count +
                                        "{perf_instance=\"Alpha\"} 42\n"
                                        "# HELP " +
                                        total + " " + totalName + " of " + objectName +
                                        " (no help text is installed)\n"
                                        "# TYPE " +
                                        total + " gauge\n" + total + "{perf_instance=\"Alpha\"} 1234567890123\n"))
      << page;
  EXPECT_NE(std::string::npos, page.find("\nperf_exporter_collection_success 1\n")) << page;
#ifdef _WIN32
  const char platform[] = "windows";
#else
  const char platform[] = "posix";
#endif
  EXPECT_NE(std::string::npos,
            page.find(std::string("\nperf_exporter_build_info{version=\"" PROJECT_VERSION_TEXT "\",platform=\"") +
                      platform + "\"} 1\n"))
      << page;
  EXPECT_EQ(page.size() - 6, page.rfind("# EOF\n")) << page;

  // A web configuration that cannot be served by: it says why, and exits 1
  // before it listens (where nothing could listen anyway).
  const struct {
    const char *content;  // null: no such file
    const char *said;
  } configurations[] = {
      {nullptr, "perf_exporter: --web.config.file exporter-web.yml: cannot be read: "},
      {"basic_auth_users:\n  prometheus: secret\n",
       "perf_exporter: --web.config.file exporter-web.yml: line 2: the password of prometheus: not a bcrypt hash"},
      {"tls_server_config:\n  cert_file: c.pem\n  key_file: k.pem\n",
       "perf_exporter: --web.config.file exporter-web.yml: tls_server_config: this perf_exporter serves plain HTTP "
       "only; put a TLS proxy in front of it"},
  };
  for (const auto &configuration : configurations) {
    std::remove("exporter-web.yml");
    if (configuration.content != nullptr) std::ofstream("exporter-web.yml") << configuration.content;
    std::string said;
    EXPECT_EQ(1, runExporter("--web.listen-address 192.0.2.1:9 --web.config.file exporter-web.yml", said)) << said;
    EXPECT_NE(std::string::npos, said.find(configuration.said)) << said;
  }
  std::remove("exporter-web.yml");

  std::string help;
  EXPECT_EQ(0, runExporter("--help", help));
  EXPECT_NE(std::string::npos, help.find("--web.listen-address ADDRESS, --listen ADDRESS")) << help;
  std::string misuse;
  EXPECT_EQ(2, runExporter("--web.listen-address=[::1]:65536", misuse));
  EXPECT_NE(std::string::npos, misuse.find("not '[::1]:65536'")) << misuse;
}
