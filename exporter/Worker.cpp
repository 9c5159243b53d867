#include "Worker.h"

#include <utility>

namespace exporter {

Worker::Worker(size_t queueLimit) : queueLimit_(queueLimit), thread_([this] { run(); }) {}

Worker::~Worker() { stop(); }

void Worker::stop() {
  {
    std::deque<std::function<void()>> dropped;
    {
      std::lock_guard<std::mutex> hold(lock_);
      stopping_ = true;
      dropped.swap(jobs_);
    }
    woken_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

bool Worker::post(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_ || jobs_.size() >= queueLimit_) return false;
    jobs_.push_back(std::move(job));
  }
  woken_.notify_one();
  return true;
}

void Worker::run() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> hold(lock_);
      woken_.wait(hold, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    // A job that throws loses its own answer only.
    try {
      job();
    } catch (...) {
    }
  }
}

}  // namespace exporter
