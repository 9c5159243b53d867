#include "Scraper.h"

#include <windows.h>

#include <chrono>
#include <future>

#include "CollectorServices.h"
#include "PerfData.h"
#include "SystemMessage.h"
#include "Utf8Text.h"

namespace exporter {
namespace {

std::string queryFailure(const char *what, LONG code) {
  return std::string("reading performance data \"") + what +
         "\" failed: " + commandline::systemReason(static_cast<DWORD>(code));
}

}  // namespace

Scraper::Scraper(FamilyOptions options, std::function<void(const std::string &)> log)
    : options_(options), log_(std::move(log)), thread_([this] { run(); }) {}

Scraper::~Scraper() { stop(); }

void Scraper::request(Delivery deliver) {
  std::lock_guard<std::mutex> hold(lock_);
  if (stopping_) return;
  waiting_.push_back(std::move(deliver));
  woken_.notify_one();
}

std::shared_ptr<const Reading> Scraper::readNow() {
  std::promise<std::shared_ptr<const Reading>> promised;
  std::future<std::shared_ptr<const Reading>> reading = promised.get_future();
  request([&promised](std::shared_ptr<const Reading> made) { promised.set_value(std::move(made)); });
  return reading.get();
}

void Scraper::stop() {
  std::vector<Delivery> dropped;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    woken_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> hold(lock_);
  dropped.swap(waiting_);
}

void Scraper::run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    woken_.wait(hold, [this] { return stopping_ || !waiting_.empty(); });
    if (stopping_) return;
    hold.unlock();
    std::shared_ptr<const Reading> reading = readSafely();
    hold.lock();
    std::vector<Delivery> served;
    served.swap(waiting_);
    hold.unlock();
    for (Delivery &deliver : served) {
      try {
        deliver(reading);
      } catch (...) {
        // A request that cannot take its reading (no memory for its answer)
        // goes unanswered; its connection closes.
      }
    }
    served.clear();
    hold.lock();
  }
}

// No reading at all when one cannot be made (no memory for it): the
// requests are told so.
std::shared_ptr<const Reading> Scraper::readSafely() {
  try {
    return std::make_shared<const Reading>(readOnce());
  } catch (...) {
    return nullptr;
  }
}

Reading Scraper::readOnce() {
  const auto start = std::chrono::steady_clock::now();
  Reading reading;
  std::vector<MetricFamily> counters;
  reading.succeeded = collect(reading, counters);
  CollectionReport report;
  report.succeeded = reading.succeeded;
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  reading.families = exporterFamilies(report);
  for (MetricFamily &family : counters) reading.families.push_back(std::move(family));

  if (!reading.succeeded) {
    tell(reading.failure, lastFailure_);
  } else if (!lastFailure_.empty()) {
    lastFailure_.clear();
    log_("the performance data can be read again");
  }
  return reading;
}

bool Scraper::collect(Reading &reading, std::vector<MetricFamily> &counters) {
  std::string &failure = reading.failure;
  perfdata::NameTable &names = reading.names;
  perfdata::NameTable help;
  if (!loadNames("Counter 009", names, failure) || !loadNames("Help 009", help, failure)) return false;
  std::vector<BYTE> bytes;
  if (LONG code = reader_.queryData(OLESTR("Global"), bytes); code != ERROR_SUCCESS) {
    failure = queryFailure("Global", code);
    return false;
  }
  auto block = std::make_shared<perfdata::DataBlock>();
  std::string problem;
  if (!perfdata::parseDataBlock(bytes.data(), bytes.size(), *block, problem)) {
    failure = "the performance data is malformed: " + problem;
    return false;
  }
  FamilyNames claimed;
  counters = counterFamilies(*block, names, help, options_, claimed);
  reading.block = std::move(block);
  // A device whose tree the collector cannot read shows no objects; the
  // page says that the reading failed, and the log which device and why.
  for (const rv::collector::DeviceReport &report : rv::collector::reportDevices()) {
    if (report.state != rv::collector::DeviceReport::State::Unreadable) continue;
    failure += (failure.empty() ? "" : "; ") + std::string("device ") + commandline::toUtf8(report.device) +
               " shows no data: " + report.reason +
               (FAILED(report.failure) ? ": " + commandline::systemReason(static_cast<DWORD>(report.failure)) : "");
  }
  return failure.empty();
}

// A table that is not installed leaves the names empty; a damaged one is
// used as far as it reads, with a warning when its damage is new.
bool Scraper::loadNames(const char *what, perfdata::NameTable &names, std::string &failure) {
  std::vector<BYTE> bytes;
  LONG code = reader_.queryText(commandline::fromUtf8(what).c_str(), bytes);
  if (code == ERROR_FILE_NOT_FOUND) return true;
  if (code != ERROR_SUCCESS) {
    failure = queryFailure(what, code);
    return false;
  }
  std::string problem;
  if (!names.add(bytes.data(), bytes.size(), problem))
    tell(std::string("warning: \"") + what + "\": " + problem, lastWarning_);
  return true;
}

void Scraper::tell(const std::string &message, std::string &last) {
  if (message == last) return;
  last = message;
  log_(message);
}

}  // namespace exporter
