// The clock: calendar time from CLOCK_REALTIME (local time through the C
// library's time zone), ticks and the performance counter from
// CLOCK_MONOTONIC.
#include <windows.h>

#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace {

SYSTEMTIME systemTimeOf(const struct tm &fields, long nanoseconds) {
  SYSTEMTIME time;
  time.wYear = static_cast<WORD>(fields.tm_year + 1900);
  time.wMonth = static_cast<WORD>(fields.tm_mon + 1);
  time.wDayOfWeek = static_cast<WORD>(fields.tm_wday);
  time.wDay = static_cast<WORD>(fields.tm_mday);
  time.wHour = static_cast<WORD>(fields.tm_hour);
  time.wMinute = static_cast<WORD>(fields.tm_min);
  // A leap second reads as the last second of its minute.
  time.wSecond = static_cast<WORD>(fields.tm_sec > 59 ? 59 : fields.tm_sec);
  time.wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
  return time;
}

ULONGLONG monotonicMilliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<ULONGLONG>(now.tv_sec) * 1000 + static_cast<ULONGLONG>(now.tv_nsec) / 1000000;
}

}  // namespace

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm fields;
  gmtime_r(&now.tv_sec, &fields);
  *lpSystemTime = systemTimeOf(fields, now.tv_nsec);
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm fields;
  localtime_r(&now.tv_sec, &fields);
  *lpSystemTime = systemTimeOf(fields, now.tv_nsec);
}

// 100-nanosecond intervals since 1 January 1601 (UTC).
void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
  constexpr ULONGLONG SecondsFrom1601To1970 = 11644473600ull;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const ULONGLONG intervals = (static_cast<ULONGLONG>(now.tv_sec) + SecondsFrom1601To1970) * 10000000ull +
                              static_cast<ULONGLONG>(now.tv_nsec) / 100;
  lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(intervals);
  lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(intervals >> 32);
}

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(monotonicMilliseconds()); }

ULONGLONG WINAPI GetTickCount64(void) { return monotonicMilliseconds(); }

// 100-nanosecond ticks, the frequency Windows 10 and Wine report, so that
// counts convert to time without a division that loses precision.
constexpr LONGLONG PerformanceFrequency = 10000000;

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *lpPerformanceCount) {
  if (lpPerformanceCount == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  lpPerformanceCount->QuadPart =
      static_cast<LONGLONG>(now.tv_sec) * PerformanceFrequency + static_cast<LONGLONG>(now.tv_nsec) / 100;
  return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *lpFrequency) {
  if (lpFrequency == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  lpFrequency->QuadPart = PerformanceFrequency;
  return TRUE;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == INFINITE) {
    for (;;) pause();
  }
  // Sleep(0) gives the rest of the time slice to another thread.
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  struct timespec left = {static_cast<time_t>(dwMilliseconds / 1000),
                          static_cast<long>(dwMilliseconds % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
