// sample_host: a small server that publishes its own performance counters,
// written as a host of the component would be.
//
// It loads the counter definitions (RVCounters.xml) and registers them with
// the system, then plays a server whose client sessions open, work and close.
// About once a second it sets the sessions' and the server's values, stamps
// the sessions whose client is still there, calculates _Total and publishes
// the tree, where the collector finds it for any reader of performance data.
// A client that vanishes without closing its session is no longer stamped;
// the manager's time-out sweep removes it. On stop the tree is withdrawn, so
// readers find no stale values.
//
// The component must be installed (regsvr32) beforehand: a host creates it,
// it does not register it.
#include <windows.h>
#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "PublishedTree.h"
#include "rvCounterTypes.h"
#include "rvZedaZuvivurAzodav.h"
#include "rvText.h"

#ifdef _WIN32
#include <shellapi.h>
#endif

namespace {

using rv::Text;

enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

const char usage[] =
    "Usage: sample_host [--definitions FOLDER] [--duration SECONDS] [--steady FACTOR]\n"
    "       sample_host --unregister [--definitions FOLDER]\n"
    "       sample_host --help\n"
    "\n"
    "Plays a server that publishes its own performance counters: it loads\n"
    "FOLDER\\RVCounters.xml (default: the folder sample beside the program),\n"
    "registers the counters (service key, header and INI files in FOLDER,\n"
    "lodctr), then opens and closes client sessions and publishes their values\n"
    "about once a second until stopped (Ctrl-C, SIGTERM) or for SECONDS. The tree\n"
    "is withdrawn on exit.\n"
    "One line per publish on standard output.\n"
    "\n"
    "  --definitions FOLDER  where RVCounters.xml is, and where Register writes\n"
    "  --duration SECONDS    stop after this many seconds (1 to 2000000)\n"
    "  --steady FACTOR       a load whose values are known (1 to 1000): sessions client-1\n"
    "                        to client-3 that never close; client-k has k x F active\n"
    "                        requests, completes 10 x k x F requests and sends\n"
    "                        1000 x k x F bytes a second, and answers in 100 x F + k ms;\n"
    "                        the heap holds F x 10^9 bytes, the cache 1000 x F entries\n"
    "  --unregister          run unlodctr for the device and remove its service key\n"
    "\n"
    "The component must be registered first: regsvr32 rvZedaZuvivurAzodav.dll\n"
    "(on POSIX, the platform's regsvr32 with rvZedaZuvivurAzodav.so).\n"
    "\n"
    "Exit status: 0 done, 1 failure, 2 wrong usage.\n";

// The object and counter names the host sets; the definition file must have them.
const WCHAR SessionsObject[] = OLESTR("RV Sample Sessions");
const WCHAR MemoryObject[] = OLESTR("RV Sample Memory");
const WCHAR ActiveRequests[] = OLESTR("Active Requests");
const WCHAR RequestsPerSecond[] = OLESTR("Requests/sec");
const WCHAR BytesPerSecond[] = OLESTR("Bytes Sent/sec");
const WCHAR ResponseTime[] = OLESTR("Response Time ms");
const WCHAR HeapBytes[] = OLESTR("Heap Bytes");
const WCHAR CacheEntries[] = OLESTR("Cache Entries");

// Own copies of commandline/'s helpers, down to finishOutput: sample_host builds against the installed package alone.
std::string toUtf8(const Text &text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
  return out;
}

Text fromUtf8(const std::string &text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  Text out(size > 0 ? static_cast<size_t>(size) : 0, 0);
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), size);
  return out;
}

// The arguments as UTF-16: on Windows from the command line itself, since
// the narrow argv is in the ANSI code page; on POSIX argv is UTF-8.
std::vector<Text> commandArguments(int argc, char **argv) {
  std::vector<Text> arguments;
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int index = 1; wide != nullptr && index < count; ++index) arguments.emplace_back(wide[index]);
  LocalFree(wide);
#else
  for (int index = 1; index < argc; ++index) arguments.push_back(fromUtf8(argv[index]));
#endif
  return arguments;
}

// The system's text for a code, without its line end; empty where the system
// has none (the XML parser's codes, for one: their texts live in MSXML).
std::string systemMessage(HRESULT code) {
  LPWSTR buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  Text text = buffer != nullptr ? Text(buffer, length) : Text();
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return toUtf8(text);
}

// A step that failed: what the host was doing, the code, and the component's
// own description where it gave one.
struct HostFailure {
  std::string what;
  HRESULT code;
  std::string description;
};

std::string takeErrorDescription() {
  IErrorInfo *info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return {};
  BSTR description = nullptr;
  info->GetDescription(&description);
  std::string text = description != nullptr ? toUtf8(Text(description, SysStringLen(description))) : "";
  SysFreeString(description);
  info->Release();
  return text;
}

void check(HRESULT hr, const std::string &what) {
  if (FAILED(hr)) throw HostFailure{what, hr, takeErrorDescription()};
}

// The failure on standard error: the code with the system's text for it,
// then the component's description, which for a file it could not read says
// why, and where.
int report(const HostFailure &failure) {
  std::string text = systemMessage(failure.code);
  if (text.empty() && failure.description.empty()) text = "the system has no text for this code";
  std::fprintf(stderr, "sample_host: %s failed: error 0x%08lX%s%s\n", failure.what.c_str(),
               static_cast<unsigned long>(static_cast<ULONG>(failure.code)), text.empty() ? "" : ": ", text.c_str());
  if (!failure.description.empty()) std::fprintf(stderr, "sample_host: %s\n", failure.description.c_str());
  return Failure;
}

template <typename T> class Com {
 public:
  Com() = default;
  Com(const Com &other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  Com &operator=(Com other) {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Com() {
    if (p_) p_->Release();
  }
  T **put() {
    if (p_) p_->Release();
    p_ = nullptr;
    return &p_;
  }
  T *get() const { return p_; }
  T *operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T *p_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const Text &text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr() = default;
  Bstr(const Bstr &) = delete;
  Bstr &operator=(const Bstr &) = delete;
  ~Bstr() { SysFreeString(value_); }
  BSTR get() const { return value_; }
  BSTR *put() {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }
  Text text() const { return value_ != nullptr ? Text(value_, SysStringLen(value_)) : Text(); }

 private:
  BSTR value_ = nullptr;
};

VARIANT integer(LONG n) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = n;
  return v;
}

// Counts beyond 32 bits travel as doubles, which the collector rounds to the
// counter's 64-bit data.
VARIANT real(double d) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = d;
  return v;
}

void set(const Com<IPerfCounter> &counter, VARIANT value, const char *what) {
  check(counter->put_Value(value), std::string("setting ") + what);
}

// The time the manager's sweep compares stamps with: local time as a DATE.
DATE localNow() {
  SYSTEMTIME time = {};
  GetLocalTime(&time);
  DATE now = 0.0;
  SystemTimeToVariantTime(&time, &now);
  return now;
}

Com<IPerfObject> objectNamed(IPerfMgr *manager, const WCHAR *name) {
  Com<IPerfObjects> objects;
  check(manager->get_PerfObjects(objects.put()), "reading the objects");
  Com<IPerfObject> object;
  check(objects->get_ItemByName(Bstr(name).get(), object.put()), "looking up an object");
  if (!object) throw HostFailure{"finding object \"" + toUtf8(name) + "\" in the definition file", E_INVALIDARG, ""};
  return object;
}

Com<IPerfCounter> counterNamed(IPerfCounters *counters, const WCHAR *name) {
  Com<IPerfCounter> counter;
  check(counters->get_ItemByName(Bstr(name).get(), counter.put()), "looking up a counter");
  if (!counter) throw HostFailure{"finding counter \"" + toUtf8(name) + "\" in the definition file", E_INVALIDARG, ""};
  return counter;
}

// One client session: its instance, its counters, and the running counts
// behind its rate counters (a rate counter carries a count; readers divide
// the difference of two samples by the time between them).
struct Session {
  Text name;
  Com<IPerfInstance> instance;
  Com<IPerfCounter> active, requests, bytes, responseTime;
  double requestsDone = 0.0, bytesSent = 0.0;
  double closesAt = 0.0;  // seconds since the start
  bool vanished = false;  // its client went away without closing: no more stamps
};

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

// The server: sessions that open and close as the load rises and falls over
// a minute, and memory that follows them.
class SampleServer {
 public:
  SampleServer(IPerfMgr *manager, unsigned steady)
      : manager_(manager), random_(static_cast<unsigned>(GetTickCount())), steady_(steady) {
    sessions_ = objectNamed(manager, SessionsObject);
    check(sessions_->get_PerfInstances(instances_.put()), "reading the session instances");
    Com<IPerfObject> memory = objectNamed(manager, MemoryObject);
    Com<IPerfCounters> counters;
    check(memory->get_PerfCounters(counters.put()), "reading the memory counters");
    heap_ = counterNamed(counters.get(), HeapBytes);
    cache_ = counterNamed(counters.get(), CacheEntries);
    check(manager->get_InstanceCleannupPolling(&sweepSeconds_), "reading InstanceCleannupPolling");
  }

  struct Tick {
    int opened = 0, closed = 0, timedOut = 0;
    LONG sessions = 0;
    double requestsPerSecond = 0.0, heapBytes = 0.0;
  };

  // One second of the server's life, up to the calculated totals.
  Tick advance(double now, double elapsed) {
    Tick tick;
    if (steady_ != 0) {
      playSteady(now, tick);
    } else {
      playVarying(now, elapsed, tick);
    }
    check(manager_->CalcTotalInstances(), "CalcTotalInstances");
    if (sweepSeconds_ > 0 && now - lastSweep_ >= sweepSeconds_) {
      lastSweep_ = now;
      tick.timedOut = sweep();
    }
    check(instances_->get_Count(&tick.sessions), "counting the sessions");
    --tick.sessions;  // _Total
    return tick;
  }

  std::vector<Session> sessions;

 private:
  // Sessions that open and close as the load rises and falls over a minute,
  // with values that vary around it.
  void playVarying(double now, double elapsed, Tick &tick) {
    const double load = 0.55 + 0.45 * std::sin(now * 2.0 * 3.14159265358979 / 60.0);
    closeFinished(now, tick);
    const size_t wanted = 2 + static_cast<size_t>(std::lround(5.0 * load));
    // Three clients are there from the start; later ones arrive one at a time
    // while the load asks for more.
    if (opened_ == 0) {
      for (int first = 0; first < 3; ++first) open(now);
      tick.opened = 3;
    } else if (liveSessions() < wanted && chance(0.6)) {
      open(now);
      ++tick.opened;
    }
    if (liveSessions() > 1 && chance(0.05)) vanishOne();

    const DATE stamp = localNow();
    for (Session &session : sessions) {
      if (session.vanished) continue;
      const double rate = (5.0 + 30.0 * load) * between(0.7, 1.3);
      session.requestsDone += rate * elapsed;
      session.bytesSent += rate * elapsed * between(2.0e4, 6.0e4);
      tick.requestsPerSecond += rate;
      set(session.active, integer(static_cast<LONG>(std::lround(rate * between(0.05, 0.25)))), "Active Requests");
      set(session.requests, real(std::floor(session.requestsDone)), "Requests/sec");
      set(session.bytes, real(std::floor(session.bytesSent)), "Bytes Sent/sec");
      set(session.responseTime, integer(static_cast<LONG>(std::lround((20.0 + 90.0 * load) * between(0.8, 1.2)))),
          "Response Time ms");
      check(session.instance->put_TimeStamp(stamp), "stamping a session");
    }
    tick.heapBytes = 4.4e9 + 0.35e9 * static_cast<double>(sessions.size()) + between(0.0, 5.0e7);
    set(heap_, real(std::floor(tick.heapBytes)), "Heap Bytes");
    cacheEntries_ = std::min(50000.0, cacheEntries_ + tick.requestsPerSecond * elapsed * 0.4);
    if (cacheEntries_ >= 50000.0) cacheEntries_ = 30000.0;  // the cache trims itself
    set(cache_, integer(static_cast<LONG>(cacheEntries_)), "Cache Entries");
  }

  // A load whose values are known at every moment: three sessions that
  // never close; the k-th has k x F active requests, completes 10 x k x F
  // requests and sends 1000 x k x F bytes a second, and answers in
  // 100 x F + k ms; the heap holds F x 10^9 bytes and the cache 1000 x F
  // entries (F the steady factor).
  void playSteady(double now, Tick &tick) {
    if (opened_ == 0) {
      for (int first = 0; first < 3; ++first) open(now);
      tick.opened = 3;
    }
    const DATE stamp = localNow();
    const double factor = steady_;
    for (size_t at = 0; at < sessions.size(); ++at) {
      Session &session = sessions[at];
      const double k = static_cast<double>(at + 1);
      tick.requestsPerSecond += 10.0 * k * factor;
      set(session.active, integer(static_cast<LONG>(k * factor)), "Active Requests");
      set(session.requests, real(std::floor(10.0 * k * factor * now)), "Requests/sec");
      set(session.bytes, real(std::floor(1000.0 * k * factor * now)), "Bytes Sent/sec");
      set(session.responseTime, integer(static_cast<LONG>(100.0 * factor + k)), "Response Time ms");
      check(session.instance->put_TimeStamp(stamp), "stamping a session");
    }
    tick.heapBytes = factor * 1.0e9;
    set(heap_, real(tick.heapBytes), "Heap Bytes");
    set(cache_, integer(static_cast<LONG>(1000.0 * factor)), "Cache Entries");
  }

  bool chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < p; }
  double between(double low, double high) { return std::uniform_real_distribution<double>(low, high)(random_); }

  size_t liveSessions() const {
    return static_cast<size_t>(
        std::count_if(sessions.begin(), sessions.end(), [](const Session &s) { return !s.vanished; }));
  }

  void open(double now) {
    Session session;
    session.name = fromUtf8("client-" + std::to_string(++opened_));
    check(sessions_->CreateInstance(Bstr(session.name).get(), session.instance.put()), "CreateInstance");
    Com<IPerfCounters> counters;
    check(session.instance->get_PerfCounters(counters.put()), "reading a session's counters");
    session.active = counterNamed(counters.get(), ActiveRequests);
    session.requests = counterNamed(counters.get(), RequestsPerSecond);
    session.bytes = counterNamed(counters.get(), BytesPerSecond);
    session.responseTime = counterNamed(counters.get(), ResponseTime);
    session.closesAt = now + between(8.0, 40.0);
    sessions.push_back(session);
  }

  void vanishOne() {
    for (Session &session : sessions)
      if (!session.vanished) {
        session.vanished = true;
        return;
      }
  }

  // The position of a session's instance in the collection, 0 when it is no
  // longer there.
  LONG positionOf(const Text &name) {
    LONG count = 0;
    check(instances_->get_Count(&count), "counting the sessions");
    for (LONG position = 1; position <= count; ++position) {
      Com<IPerfInstance> instance;
      check(instances_->get_Item(position, instance.put()), "reading a session");
      Bstr found;
      check(instance->get_Name(found.put()), "reading a session's name");
      if (found.text() == name) return position;
    }
    return 0;
  }

  void closeFinished(double now, Tick &tick) {
    for (auto at = sessions.begin(); at != sessions.end();) {
      if (at->vanished || now < at->closesAt) {
        ++at;
        continue;
      }
      if (LONG position = positionOf(at->name)) check(instances_->Remove(position), "closing a session");
      at = sessions.erase(at);
      ++tick.closed;
    }
  }

  // The manager removes the sessions not stamped within their time-out; the
  // server forgets those whose instance went.
  int sweep() {
    check(manager_->RemoveTimedOutInstances(), "RemoveTimedOutInstances");
    int removed = 0;
    for (auto at = sessions.begin(); at != sessions.end();) {
      if (positionOf(at->name) != 0) {
        ++at;
        continue;
      }
      at = sessions.erase(at);
      ++removed;
    }
    return removed;
  }

  IPerfMgr *manager_;
  Com<IPerfObject> sessions_;
  Com<IPerfInstances> instances_;
  Com<IPerfCounter> heap_, cache_;
  std::mt19937 random_;
  unsigned steady_;  // the factor of a steady load, 0 for a varying one
  LONG sweepSeconds_ = 0;
  double lastSweep_ = 0.0, cacheEntries_ = 12000.0;
  unsigned opened_ = 0;
};

struct Options {
  Text folder;
  ULONGLONG durationMilliseconds = 0;  // 0: until stopped
  unsigned steady = 0;                 // 0: a varying load
  bool unregister = false, help = false;
};

bool usageError(const std::string &text) {
  std::fprintf(stderr, "sample_host: %s\nTry 'sample_host --help'.\n", text.c_str());
  return false;
}

bool parseOptions(const std::vector<Text> &arguments, Options &options) {
  for (size_t at = 0; at < arguments.size(); ++at) {
    const std::string argument = toUtf8(arguments[at]);
    if (argument == "--help" || argument == "-h" || argument == "/?") {
      options.help = true;
      return true;
    }
    if (argument == "--unregister") {
      options.unregister = true;
      continue;
    }
    if (argument != "--definitions" && argument != "--duration" && argument != "--steady")
      return usageError("unknown argument '" + argument + "'");
    if (at + 1 == arguments.size()) return usageError(argument + " needs a value");
    const Text &value = arguments[++at];
    if (argument == "--definitions") {
      if (value.empty()) return usageError("--definitions needs a folder");
      options.folder = value;
      continue;
    }
    const std::string digits = toUtf8(value);
    if (argument == "--steady") {
      if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string::npos ||
          std::strtoul(digits.c_str(), nullptr, 10) < 1 || std::strtoul(digits.c_str(), nullptr, 10) > 1000)
        return usageError("--steady needs a whole number from 1 to 1000, not '" + digits + "'");
      options.steady = static_cast<unsigned>(std::strtoul(digits.c_str(), nullptr, 10));
      continue;
    }
    if (digits.empty() || digits.size() > 7 || digits.find_first_not_of("0123456789") != std::string::npos ||
        std::strtoul(digits.c_str(), nullptr, 10) < 1 || std::strtoul(digits.c_str(), nullptr, 10) > 2000000)
      return usageError("--duration needs a whole number of seconds from 1 to 2000000, not '" + digits + "'");
    options.durationMilliseconds = std::strtoull(digits.c_str(), nullptr, 10) * 1000;
  }
  if (options.unregister && (options.durationMilliseconds != 0 || options.steady != 0))
    return usageError("--unregister takes no --duration or --steady");
  return true;
}

// The folder sample beside the program, where the build puts RVCounters.xml:
// a folder of its own, so that the component's Load without a folder, which
// looks beside the component module, does not find the sample's file.
Text defaultDefinitions() {
  WCHAR path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  Text folder(path, length < MAX_PATH ? length : 0);
  const size_t slash = folder.find_last_of(OLESTR("\\/"));
  return (slash == Text::npos ? Text(OLESTR(".")) : folder.substr(0, slash)) + OLESTR("\\sample");
}

// Load reports a file it cannot read as an XML error; a missing or locked
// file is told here with the system's own reason.
void checkReadable(const Text &file) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    throw HostFailure{"opening the definition file " + toUtf8(file), HRESULT_FROM_WIN32(GetLastError()), ""};
  CloseHandle(handle);
}

bool knownCounterType(const Text &name) {
  return std::any_of(std::begin(rv::CounterTypeNames), std::end(rv::CounterTypeNames),
                     [&](const rv::CounterTypeName &row) { return lstrcmpW(name.c_str(), row.name) == 0; });
}

Text attribute(IXMLDOMElement *element, const OLECHAR *name) {
  VARIANT value;
  VariantInit(&value);
  Text text;
  if (element->getAttribute(Bstr(name).get(), &value) == S_OK && V_VT(&value) == VT_BSTR)
    text.assign(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
  VariantClear(&value);
  return text;
}

// The component names an unknown counter type and nothing else. The host
// knows the file: it names each counter there whose type is not known, and
// the types that are.
void explainCounterTypes(const Text &file) {
  // The MSXML DOM document class; mingw-w64's libraries lack its identifier.
  const CLSID domDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
  Com<IXMLDOMDocument> document;
  if (FAILED(CoCreateInstance(domDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                              reinterpret_cast<void **>(document.put()))))
    return;
  VARIANT source;
  V_VT(&source) = VT_BSTR;
  V_BSTR(&source) = SysAllocStringLen(file.data(), static_cast<UINT>(file.size()));
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT read = document->load(source, &loaded);
  VariantClear(&source);
  Com<IXMLDOMNodeList> counters;
  if (FAILED(read) || loaded != VARIANT_TRUE ||
      FAILED(document->getElementsByTagName(Bstr(OLESTR("Counter")).get(), counters.put())) || !counters)
    return;
  LONG count = 0;
  counters->get_length(&count);
  for (LONG index = 0; index < count; ++index) {
    Com<IXMLDOMNode> node;
    Com<IXMLDOMElement> counter;
    if (counters->get_item(index, node.put()) != S_OK ||
        FAILED(node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void **>(counter.put()))))
      continue;
    const Text type = attribute(counter.get(), OLESTR("counterType"));
    if (knownCounterType(type)) continue;
    Com<IXMLDOMNode> parent;
    Com<IXMLDOMElement> object;
    Text objectName;
    if (node->get_parentNode(parent.put()) == S_OK &&
        SUCCEEDED(parent->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void **>(object.put()))))
      objectName = attribute(object.get(), OLESTR("name"));
    std::fprintf(stderr, "sample_host: in %s, counter \"%s\" of object \"%s\" has counterType \"%s\"\n",
                 toUtf8(file).c_str(), toUtf8(attribute(counter.get(), OLESTR("name"))).c_str(),
                 toUtf8(objectName).c_str(), toUtf8(type).c_str());
  }
  std::string known;
  for (const rv::CounterTypeName &row : rv::CounterTypeNames) known += (known.empty() ? "" : ", ") + toUtf8(row.name);
  std::fprintf(stderr, "sample_host: the counter types a definition file may use: %s\n", known.c_str());
}

Com<IPerfMgr> createManager() {
  Com<IPerfMgr> manager;
  const HRESULT hr = CoCreateInstance(CLSID_PerfMgr, nullptr, CLSCTX_INPROC_SERVER, IID_IPerfMgr,
                                      reinterpret_cast<void **>(manager.put()));
  if (FAILED(hr))
    throw HostFailure{"creating rvZedaZuvivurAzodav_83.PerfMgr (is the component registered? regsvr32 it first)", hr,
                      ""};
  return manager;
}

// Runs a system tool to its end; its exit code, or -1 when it did not start.
long runTool(const Text &commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  Text command = commandLine;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<long>(code);
}

// Takes the device's counter names out (unlodctr) and removes the service
// key that Register made. The header and INI files stay in the folder.
int unregisterDevice(IPerfMgr *manager) {
  Bstr device;
  check(manager->get_DeviceName(device.put()), "reading the device name");
  const Text service = Text(OLESTR("SYSTEM\\CurrentControlSet\\Services\\")) + device.text();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, service.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    std::printf("%s is not registered; nothing to remove\n", toUtf8(device.text()).c_str());
    return Success;
  }
  RegCloseKey(key);
  const long unloaded = runTool(Text(OLESTR("unlodctr \"")) + device.text() + OLESTR("\""));
  if (unloaded != 0) std::fprintf(stderr, "sample_host: warning: unlodctr ended with %ld\n", unloaded);
  LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, service.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
    status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, service.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    throw HostFailure{"removing HKLM\\" + toUtf8(service), HRESULT_FROM_WIN32(status), ""};
  std::printf("unregistered %s\n", toUtf8(device.text()).c_str());
  return Success;
}

int serve(IPerfMgr *manager, const Text &folder, const Options &options) {
  const ULONGLONG durationMilliseconds = options.durationMilliseconds;
  Bstr device;
  check(manager->get_DeviceName(device.put()), "reading the device name");
  // Register takes the device's counters out and installs them again: while
  // another host publishes the device, its readers would lose the names, and
  // this host could not publish anyway. So that is found out first.
  std::vector<BYTE> published;
  if (rv::publishing::readPublishedTree(device.text().c_str(), published) == S_OK) {
    std::fprintf(stderr,
                 "sample_host: %s is published by another host already; stop that one first, or give this one "
                 "a deviceName of its own in %s\\RVCounters.xml\n",
                 toUtf8(device.text()).c_str(), toUtf8(folder).c_str());
    return Failure;
  }
  // Register's tools speak for themselves: unlodctr says "not installed" on
  // a first start, which is no failure.
  std::printf(
      "sample_host: registering %s: unlodctr takes out counters installed before, if any, then lodctr "
      "installs them\n",
      toUtf8(device.text()).c_str());
  std::fflush(stdout);
  check(manager->Register(Bstr(folder).get()), "Register");
  check(manager->CreateTotalInstances(), "CreateTotalInstances");
  SampleServer server(manager, options.steady);
  rv::publishing::TreePublisher publisher(device.text().c_str());
  std::printf("sample_host: publishing %s; stop with Ctrl-C\n", toUtf8(device.text()).c_str());
  std::fflush(stdout);

  const ULONGLONG start = GetTickCount64();
  ULONGLONG last = start;
  int result = Success;
  try {
    for (ULONG published = 1; !stopRequested; ++published) {
      const ULONGLONG now = GetTickCount64();
      const SampleServer::Tick tick =
          server.advance(static_cast<double>(now - start) / 1000.0, static_cast<double>(now - last) / 1000.0);
      last = now;
      check(publisher.publish(manager), "publishing the tree");
      std::printf("[%5.1fs] publish %lu: %ld sessions (+%d -%d, %d timed out), %.0f requests/s, heap %.2f GB\n",
                  static_cast<double>(now - start) / 1000.0, static_cast<unsigned long>(published),
                  static_cast<long>(tick.sessions), tick.opened, tick.closed, tick.timedOut, tick.requestsPerSecond,
                  tick.heapBytes / 1.0e9);
      std::fflush(stdout);
      // Waits for the next second in short steps, so that a stop is prompt.
      const ULONGLONG next = start + static_cast<ULONGLONG>(published) * 1000;
      while (!stopRequested && GetTickCount64() < next) {
        if (durationMilliseconds != 0 && GetTickCount64() - start >= durationMilliseconds) stopRequested = 1;
        Sleep(50);
      }
      if (durationMilliseconds != 0 && GetTickCount64() - start >= durationMilliseconds) break;
    }
  } catch (const HostFailure &failure) {
    result = report(failure);
  }
  publisher.withdraw();
  std::printf("sample_host: withdrawn after %lu seconds\n",
              static_cast<unsigned long>((GetTickCount64() - start) / 1000));
  return result;
}

// The apartment, for as long as the host runs.
struct Apartment {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~Apartment() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }
};

// The exit code once standard output is flushed: output that could not be
// written (a full disk, a pipe nobody reads) fails the run, said on standard
// error.
int finishOutput(int code) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
  const int error = errno;
  std::fprintf(stderr, "sample_host: cannot write to standard output: %s\n",
               error != 0 ? std::strerror(error) : "the stream failed");
  return code == Success ? Failure : code;
}

int run(int argc, char **argv) {
  Options options;
  if (!parseOptions(commandArguments(argc, argv), options)) return UsageError;
  if (options.help) {
    std::printf("%s", usage);
    return Success;
  }
  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
  const Text folder = options.folder.empty() ? defaultDefinitions() : options.folder;

  Apartment apartment;
  if (FAILED(apartment.hr)) return report({"CoInitializeEx", apartment.hr, ""});
  try {
    const Text file = folder + OLESTR("\\RVCounters.xml");
    checkReadable(file);
    Com<IPerfMgr> manager = createManager();
    const HRESULT loaded = manager->Load(Bstr(folder).get());
    if (FAILED(loaded)) {
      const HostFailure failure{"loading " + toUtf8(file), loaded, takeErrorDescription()};
      report(failure);
      if (failure.description.find("Invalid Object Type: ") != std::string::npos) explainCounterTypes(file);
      return Failure;
    }
    return options.unregister ? unregisterDevice(manager.get()) : serve(manager.get(), folder, options);
  } catch (const HostFailure &failure) {
    return report(failure);
  }
}

}  // namespace

int main(int argc, char **argv) { return finishOutput(run(argc, argv)); }
