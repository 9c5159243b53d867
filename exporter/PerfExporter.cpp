// perf_exporter: serves the performance data that the system publishes
// (HKEY_PERFORMANCE_DATA, read as perfquery reads it) as an OpenMetrics page
// for Prometheus, or prints that page once.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "MetricsServer.h"
#include "NameTable.h"
#include "OpenMetricsPage.h"
#include "PerfData.h"
#include "PerfReader.h"
#include "Utf8Text.h"

using namespace perfdata;

namespace {

enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

const char defaultAddress[] = "127.0.0.1:9464";

const char usage[] =
    "Usage:\n"
    "  perf_exporter [--listen ADDR:PORT]  serve the performance data at http://ADDR:PORT/metrics\n"
    "  perf_exporter --once                print the page once on standard output\n"
    "  perf_exporter --help                show this text\n"
    "\n"
    "The page is in the OpenMetrics text format that Prometheus scrapes. Every\n"
    "counter of every performance object is one metric family,\n"
    "perf_<object>_<counter>, named after the installed names in lower case\n"
    "(an index where none is installed: perf_10000_10002); instances are the\n"
    "label instance. Counts that only grow are counters (samples end in _total),\n"
    "everything else is a gauge; values are the raw counter data.\n"
    "\n"
    "ADDR:PORT defaults to 127.0.0.1:9464; an IPv6 address is written in\n"
    "brackets, [::1]:9464. Serving goes on until interrupted (Ctrl+C, SIGTERM).\n"
    "\n"
    "Exit status: 0 done, 1 failure (the address cannot be listened on, the\n"
    "performance data cannot be read), 2 wrong usage.\n";

struct Request {
  bool help = false;
  bool once = false;
  exporter::ListenAddress address;
};

bool usageError(const std::string &text) {
  fprintf(stderr, "perf_exporter: %s\nTry 'perf_exporter --help'.\n", text.c_str());
  return false;
}

bool parseRequest(int argc, char **argv, Request &request) {
  bool listenGiven = false;
  std::string address = defaultAddress;
  for (int at = 1; at < argc; ++at) {
    std::string argument = argv[at];
    if (argument == "--help" || argument == "-h") {
      request.help = true;
      return true;
    }
    if (argument == "--once") {
      if (request.once) return usageError("--once is given twice");
      request.once = true;
    } else if (argument == "--listen" || argument.rfind("--listen=", 0) == 0) {
      if (listenGiven) return usageError("--listen is given twice");
      listenGiven = true;
      if (argument == "--listen") {
        if (at + 1 == argc) return usageError("option --listen needs an address, ADDR:PORT");
        address = argv[++at];
      } else {
        address = argument.substr(sizeof "--listen=" - 1);
      }
    } else if (!argument.empty() && argument[0] == '-') {
      return usageError("unknown option '" + argument + "'");
    } else {
      return usageError("unexpected argument '" + argument + "'");
    }
  }
  if (request.once && listenGiven) return usageError("--once prints the page and listens nowhere: drop --listen");
  if (!exporter::parseListenAddress(address, request.address)) {
    return usageError("--listen needs HOST:PORT or [IPv6]:PORT with a port from 1 to 65535, not '" + address + "'");
  }
  return true;
}

// The system's text for an error code, without its line end.
std::string systemMessage(LONG code) {
  LPWSTR buffer = nullptr;
  DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  Text text = buffer != nullptr ? Text(buffer, length) : Text();
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.empty() ? std::string("no text for this code") : toUtf8(text);
}

std::string queryFailure(const char *what, LONG code) {
  return std::string("reading performance data \"") + what + "\" failed: error " + std::to_string(code) + ": " +
         systemMessage(code);
}

// Reads the names and the data and renders the page. One reader serves
// every scrape, one at a time: it keeps HKEY_PERFORMANCE_DATA open, so the
// collector libraries stay loaded between scrapes as they do for a monitor.
class Scraper {
 public:
  exporter::Scrape scrape() {
    std::lock_guard<std::mutex> hold(lock_);
    exporter::Scrape result;
    NameTable names, help;
    if (!loadNames("Counter 009", names, result.text) || !loadNames("Help 009", help, result.text)) return result;
    std::vector<BYTE> bytes;
    if (LONG code = reader_.queryData(OLESTR("Global"), bytes); code != ERROR_SUCCESS) {
      result.text = queryFailure("Global", code);
      return result;
    }
    DataBlock block;
    std::string problem;
    if (!parseDataBlock(bytes.data(), bytes.size(), block, problem)) {
      result.text = "the performance data is malformed: " + problem;
      return result;
    }
    result.text = exporter::renderOpenMetrics(block, names, help);
    result.succeeded = true;
    return result;
  }

 private:
  // A table that is not installed leaves the names empty; a damaged one is
  // used as far as it reads, with a warning when its damage is new.
  bool loadNames(const char *what, NameTable &names, std::string &failure) {
    std::vector<BYTE> bytes;
    LONG code = reader_.queryText(fromUtf8(what).c_str(), bytes);
    if (code == ERROR_FILE_NOT_FOUND) return true;
    if (code != ERROR_SUCCESS) {
      failure = queryFailure(what, code);
      return false;
    }
    std::string problem;
    if (!names.add(bytes.data(), bytes.size(), problem) && problem != lastWarning_) {
      fprintf(stderr, "perf_exporter: warning: \"%s\": %s\n", what, problem.c_str());
      lastWarning_ = problem;
    }
    return true;
  }

  std::mutex lock_;
  PerfReader reader_;
  std::string lastWarning_;
};

}  // namespace

int main(int argc, char **argv) {
  Request request;
  if (!parseRequest(argc, argv, request)) return UsageError;
  if (request.help) {
    printf("%s", usage);
    return Success;
  }
  Scraper scraper;
  if (request.once) {
    exporter::Scrape result = scraper.scrape();
    if (!result.succeeded) {
      fprintf(stderr, "perf_exporter: %s\n", result.text.c_str());
      return Failure;
    }
    fwrite(result.text.data(), 1, result.text.size(), stdout);
    return fflush(stdout) == 0 ? Success : Failure;
  }
  return exporter::serveMetrics(request.address, exporter::openMetricsContentType, [&] {
    exporter::Scrape result = scraper.scrape();
    if (!result.succeeded) fprintf(stderr, "perf_exporter: %s\n", result.text.c_str());
    return result;
  });
}
