#include "StopRequest.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#else
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace exporter {

#ifdef _WIN32

namespace {

// The console's handler has no context: the one request it sets.
std::atomic<HANDLE> consoleEvent{nullptr};

// A user logging off is no stop for a service, which outlives the session;
// for a program in a console the system's own handler ends it.
BOOL WINAPI consoleStop(DWORD event) {
  HANDLE requested = consoleEvent.load();
  if (requested == nullptr || event == CTRL_LOGOFF_EVENT) return FALSE;
  SetEvent(requested);
  return TRUE;
}

}  // namespace

StopRequest::StopRequest() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  consoleEvent.store(event_);
  SetConsoleCtrlHandler(consoleStop, TRUE);
}

StopRequest::~StopRequest() {
  SetConsoleCtrlHandler(consoleStop, FALSE);
  consoleEvent.store(nullptr);
  CloseHandle(event_);
}

void StopRequest::wait() { WaitForSingleObject(event_, INFINITE); }

void StopRequest::request() { SetEvent(event_); }

#else

namespace {

sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

StopRequest::StopRequest() {
  sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopRequest::~StopRequest() = default;

void StopRequest::wait() {
  sigset_t signals = stopSignals();
  int received = 0;
  sigwait(&signals, &received);
}

void StopRequest::request() { kill(getpid(), SIGTERM); }

#endif

}  // namespace exporter
