// The request to stop serving: Ctrl+C or SIGTERM from the console, a stop
// from the service control manager, or a failure of the server itself.
#pragma once

namespace exporter {

class StopRequest {
 public:
  // On POSIX, SIGINT and SIGTERM are blocked from here on, in this thread
  // and the threads it starts, so that wait() alone takes them: make the
  // request before starting any thread. On Windows, Ctrl+C and the console's
  // other stop events come to the request.
  StopRequest();
  ~StopRequest();
  StopRequest(const StopRequest &) = delete;
  StopRequest &operator=(const StopRequest &) = delete;

  // Returns once a stop is asked for.
  void wait();

  // Asks for the stop, from any thread.
  void request();

 private:
  void *event_ = nullptr;  // Windows: the event the requests set
};

}  // namespace exporter
