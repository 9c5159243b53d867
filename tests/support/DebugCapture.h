// Collects what the process writes with OutputDebugString while it lives.
// Over the platform layer through its listener; on Windows (and Wine) the
// way a debug viewer does, through the DBWIN_BUFFER section and its two
// events, which carry 8-bit text.
#pragma once
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#ifdef _WIN32
#include <atomic>
#include <thread>
#else
#include <platform/debug_output.h>
#endif

class DebugCapture {
 public:
  DebugCapture() {
#ifdef _WIN32
    bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    view_ = static_cast<const char *>(MapViewOfFile(section_, FILE_MAP_READ, 0, 0, 4096));
    reader_ = std::thread([this] {
      while (!stop_) {
        SetEvent(bufferReady_);
        if (WaitForSingleObject(dataReady_, 50) == WAIT_OBJECT_0) {
          // The writer's process id, then its text.
          std::string text(view_ + sizeof(DWORD));
          std::lock_guard<std::mutex> guard(lock_);
          lines_.push_back(text);
        }
        ++cycles_;
      }
    });
#else
    PlatformSetDebugOutputListener(
        [](void *context, LPCWSTR text) {
          auto *self = static_cast<DebugCapture *>(context);
          std::string narrow;
          for (; *text; ++text) narrow.push_back(*text < 0x100 ? static_cast<char>(*text) : '?');
          std::lock_guard<std::mutex> guard(self->lock_);
          self->lines_.push_back(narrow);
        },
        this);
#endif
  }
  DebugCapture(const DebugCapture &) = delete;
  DebugCapture &operator=(const DebugCapture &) = delete;
  ~DebugCapture() {
#ifdef _WIN32
    stop_ = true;
    reader_.join();
    UnmapViewOfFile(view_);
    for (HANDLE handle : {section_, dataReady_, bufferReady_}) CloseHandle(handle);
#else
    PlatformSetDebugOutputListener(nullptr, nullptr);
#endif
  }

  // The texts written so far, each as it was given.
  std::vector<std::string> lines() {
#ifdef _WIN32
    // A text handed over just now is read within two turns of the reader.
    const unsigned start = cycles_;
    while (cycles_ < start + 2) Sleep(1);
#endif
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;
#ifdef _WIN32
  HANDLE bufferReady_ = nullptr, dataReady_ = nullptr, section_ = nullptr;
  const char *view_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<unsigned> cycles_{0};
  std::thread reader_;
#endif
};
