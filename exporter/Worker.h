// A thread of its own for work that must not hold back the scraper's thread
// (the graph page's data, which a client can make large), with a queue of
// bounded length so that a burst of such requests costs a refusal, not
// memory.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace exporter {

class Worker {
 public:
  explicit Worker(size_t queueLimit);
  // Stops, if stop() was not called.
  ~Worker();
  Worker(const Worker &) = delete;
  Worker &operator=(const Worker &) = delete;

  // Queues `job`; false, and `job` dropped, when queueLimit jobs wait
  // already or the worker has stopped.
  bool post(std::function<void()> job);

  // Drops the jobs still queued, here on the caller's thread, then ends the
  // thread once the job under way is done: what the jobs hold (a connection
  // waiting for its answer) goes before whatever it needs. Never called on
  // the worker's own thread: jobs do not own it.
  void stop();

 private:
  void run();

  const size_t queueLimit_;
  std::mutex lock_;
  std::condition_variable woken_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace exporter
