// Reads the performance data the system publishes (HKEY_PERFORMANCE_DATA,
// read as perfquery reads it) into the families of one page.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MetricFamilies.h"
#include "NameTable.h"
#include "PerfData.h"
#include "PerfReader.h"

namespace exporter {

// One reading: the page's families (the exporter's own series first), and
// why the performance data, or some device's part of them, could not be
// read.
struct Reading {
  bool succeeded = false;  // the data were read, every device's included
  std::string failure;     // why not, when not
  std::vector<MetricFamily> families;
  // The data the families were made of, for pages that show counters by
  // their paths: null when the data could not be read.
  std::shared_ptr<const perfdata::DataBlock> block;
  perfdata::NameTable names;

  // The data held at least one object.
  bool anyData() const { return block != nullptr && !block->objects.empty(); }
};

// Takes a reading on whatever thread makes it; a null reading when there
// was no memory for one.
using Delivery = std::function<void(std::shared_ptr<const Reading>)>;

class Scraper {
 public:
  // `log` takes a message for the user: a failure, a damaged name table, and
  // the recovery after a failure, each once when it begins. The scraper's
  // thread starts here.
  Scraper(FamilyOptions options, std::function<void(const std::string &)> log);
  ~Scraper();
  Scraper(const Scraper &) = delete;
  Scraper &operator=(const Scraper &) = delete;

  // Hands `deliver` a reading, from the scraper's own thread: the reading
  // under way when the request came, or the next one. Every request that
  // comes during a reading shares it, so a burst of requests costs one or
  // two readings however many they are, and the requests wait for no
  // thread of their own. Safe from several threads at once.
  void request(Delivery deliver);

  // Waits for a reading, for a program that reads once.
  std::shared_ptr<const Reading> readNow();

  // Finishes the reading under way and ends the thread; requests not yet
  // served are dropped, their deliveries destroyed here.
  void stop();

 private:
  void run();
  std::shared_ptr<const Reading> readSafely();
  Reading readOnce();
  bool collect(Reading &reading, std::vector<MetricFamily> &counters);
  bool loadNames(const char *what, perfdata::NameTable &names, std::string &failure);
  void tell(const std::string &message, std::string &last);

  FamilyOptions options_;
  std::function<void(const std::string &)> log_;

  std::mutex lock_;
  std::condition_variable woken_;
  bool stopping_ = false;
  std::vector<Delivery> waiting_;

  // Used by the scraper's thread only. The reader keeps
  // HKEY_PERFORMANCE_DATA open, so the collector libraries stay loaded
  // between scrapes as they do for a monitor.
  perfdata::PerfReader reader_;
  std::string lastFailure_, lastWarning_;

  std::thread thread_;
};

}  // namespace exporter
