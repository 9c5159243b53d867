#include "ExporterOptions.h"

#include <windows.h>

#include <cstdio>
#include <iterator>

namespace exporter {
namespace {

const char defaultAddress[] = "127.0.0.1:9464";

enum class FlagId { ListenAddress, WebConfigFile, WithTotal, Action, ServiceAccount };

struct Flag {
  FlagId id;
  Action action;  // what the program does, for an Action flag
  const char *name;
  const char *synonym;  // or null
  const char *value;    // the value's name, null for a flag without one
  const char *help;     // null for a flag users do not type
  bool windowsOnly;
  bool serving;  // whether a service keeps it
};

const Flag flags[] = {
    {FlagId::ListenAddress, Action::Serve, "--web.listen-address", "--listen", "ADDRESS",
     "where to serve: HOST:PORT, [IPv6]:PORT, or :PORT for every interface (default 127.0.0.1:9464)", false, true},
    {FlagId::WebConfigFile, Action::Serve, "--web.config.file", nullptr, "FILE",
     "the web configuration, in the exporter toolkit's format: basic_auth_users (bcrypt hashes) that every page "
     "asks for",
     false, true},
    {FlagId::WithTotal, Action::Serve, "--with-total", nullptr, nullptr,
     "show the _Total instances too (left out by default)", false, true},
    {FlagId::Action, Action::Once, "--once", nullptr, nullptr,
     "print the page once on standard output (OpenMetrics) and exit", false, false},
    {FlagId::Action, Action::InstallService, "--install-service", nullptr, nullptr,
     "install perf_exporter as the Windows service perf_exporter, started with the system, with the other options "
     "given here",
     true, false},
    {FlagId::ServiceAccount, Action::InstallService, "--service-account", nullptr, "ACCOUNT",
     "with --install-service: the account the service runs as (default NT AUTHORITY\\LocalService), made a member "
     "of Performance Monitor Users; one that needs no password: NT AUTHORITY\\NetworkService, the virtual account "
     "NT SERVICE\\perf_exporter or a managed service account DOMAIN\\NAME$",
     true, false},
    {FlagId::Action, Action::UninstallService, "--uninstall-service", nullptr, nullptr, "stop and remove that service",
     true, false},
    {FlagId::Action, Action::RunService, "--service", nullptr, nullptr, nullptr, true, false},
};

const char about[] =
    "Every counter of every performance object is one metric family,\n"
    "perf_<object>_<counter>, named after the installed names in lower case (an\n"
    "index where none is installed: perf_10000_10002); instances are the label\n"
    "perf_instance. Counts that only grow are counters (samples end in _total),\n"
    "everything else is a gauge; values are the raw counter data. The page also\n"
    "holds perf_exporter_build_info, perf_exporter_collection_duration_seconds\n"
    "and perf_exporter_collection_success.\n"
    "\n"
    "Serving goes on until interrupted (Ctrl+C, SIGTERM, a service stop).\n"
    "\n"
    "Exit status: 0 done, 1 failure (the address cannot be listened on, the\n"
    "performance data cannot be read), 2 wrong usage.\n";

#ifdef _WIN32
constexpr bool onWindows = true;
#else
constexpr bool onWindows = false;
#endif

const Flag *findFlag(const std::string &argument, std::string &value, bool &valueAttached) {
  for (const Flag &flag : flags) {
    for (const char *name : {flag.name, flag.synonym}) {
      if (name == nullptr) continue;
      const std::string spelled = name;
      if (argument == spelled) {
        valueAttached = false;
        return &flag;
      }
      if (flag.value != nullptr && argument.rfind(spelled + "=", 0) == 0) {
        value = argument.substr(spelled.size() + 1);
        valueAttached = true;
        return &flag;
      }
    }
  }
  return nullptr;
}

}  // namespace

const commandline::Program Program{"perf_exporter", usageText};

commandline::Parsed<Options> parseOptions(const commandline::Arguments &arguments) {
  using Parsed = commandline::Parsed<Options>;
  if (commandline::asksForHelp(arguments)) return Parsed::help();
  Options options;
  std::vector<const Flag *> given;
  std::string address = defaultAddress;
  bool addressGiven = false;
  for (size_t at = 0; at < arguments.size(); ++at) {
    const std::string &argument = arguments[at];
    std::string value;
    bool valueAttached = false;
    const Flag *flag = findFlag(argument, value, valueAttached);
    if (flag == nullptr || (flag->windowsOnly && !onWindows)) {
      if (flag != nullptr) return Parsed::wrong(std::string(flag->name) + " is for the Windows build only");
      if (!argument.empty() && argument[0] == '-') return Parsed::wrong("unknown option '" + argument + "'");
      return Parsed::wrong("unexpected argument '" + argument + "'");
    }
    for (const Flag *before : given) {
      if (before == flag) return Parsed::wrong(std::string(flag->name) + " is given twice");
    }
    given.push_back(flag);
    if (flag->value != nullptr && !valueAttached) {
      if (at + 1 == arguments.size()) {
        return Parsed::wrong(std::string("option ") + flag->name + " needs a value, " + flag->value);
      }
      value = arguments[++at];
    }
    if (flag->serving) {
      options.servingArguments.push_back(flag->name);
      if (flag->value != nullptr) options.servingArguments.push_back(value);
    }
    switch (flag->id) {
      case FlagId::ListenAddress:
        address = value;
        addressGiven = true;
        break;
      case FlagId::WebConfigFile:
        if (value.empty()) return Parsed::wrong("--web.config.file needs a file's path");
        options.webConfigFile = value;
        break;
      case FlagId::WithTotal: options.families.withTotal = true; break;
      case FlagId::ServiceAccount:
        if (value.empty()) return Parsed::wrong("--service-account needs an account's name");
        options.serviceAccount = value;
        break;
      case FlagId::Action:
        if (options.action != Action::Serve) {
          return Parsed::wrong(std::string("choose one of --once, --install-service, --uninstall-service, not ") +
                               flag->name + " too");
        }
        options.action = flag->action;
    }
  }
  if (!parseListenAddress(address, options.address)) {
    return Parsed::wrong(
        "--web.listen-address needs HOST:PORT, [IPv6]:PORT or :PORT with a port from 1 to 65535, "
        "not '" +
        address + "'");
  }
  if (options.action == Action::Once && (addressGiven || !options.webConfigFile.empty())) {
    return Parsed::wrong(std::string("--once prints the page and listens nowhere: drop ") +
                         (addressGiven ? "--web.listen-address" : "--web.config.file"));
  }
  // The service starts in the system's folder, not in this one.
  const std::string &file = options.webConfigFile;
  const bool fullPath = file.size() > 2 && ((file[1] == ':' && (file[2] == '\\' || file[2] == '/')) ||
                                            (file[0] == '\\' && file[1] == '\\'));
  if (options.action == Action::InstallService && !file.empty() && !fullPath) {
    return Parsed::wrong(
        "--web.config.file needs a full path (C:\\...) with --install-service: the service starts "
        "in another folder, not '" +
        file + "'");
  }
  if (!options.serviceAccount.empty() && options.action != Action::InstallService) {
    return Parsed::wrong("--service-account goes with --install-service");
  }
  if (options.action == Action::InstallService && options.serviceAccount.empty()) {
    options.serviceAccount = DefaultServiceAccount;
  }
  if (options.action == Action::UninstallService && !options.servingArguments.empty()) {
    return Parsed::wrong("--uninstall-service takes no other options");
  }
  return Parsed::run(std::move(options));
}

std::string usageText() {
  std::string text =
      "Usage:\n"
      "  perf_exporter [OPTIONS]         serve the performance data at http://ADDRESS/metrics\n"
      "  perf_exporter --once [OPTIONS]  print the page once\n";
  if (onWindows) {
    text +=
        "  perf_exporter --install-service [OPTIONS]\n"
        "  perf_exporter --uninstall-service\n";
  }
  text += "\nOptions:\n";
  for (const Flag &flag : flags) {
    if (flag.help == nullptr || (flag.windowsOnly && !onWindows)) continue;
    std::string spelled = std::string("  ") + flag.name;
    if (flag.value != nullptr) spelled += std::string(" ") + flag.value;
    if (flag.synonym != nullptr) {
      spelled += std::string(", ") + flag.synonym;
      if (flag.value != nullptr) spelled += std::string(" ") + flag.value;
    }
    text += spelled + "\n      " + flag.help + "\n";
  }
  return text + "  --help, -h, /?\n      show this text\n\n" + about;
}

}  // namespace exporter
