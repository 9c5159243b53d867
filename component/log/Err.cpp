#include "Err.h"

#include <cstdarg>

#include "MessageText.h"
#include "server/Text.h"

RV_SOURCE_UNIT("logHelperImpl")

namespace rv {

namespace {

// Reads a BSTR-returning getter of an error information object.
template <typename Getter> std::string errorInfoText(IErrorInfo *info, Getter getter) {
  Bstr text;
  if (info == nullptr || FAILED((info->*getter)(text.put()))) return {};
  return toAnsi(text.get());
}

}  // namespace

// ---- the automation exception ---------------------------------------------

ComError ComError::withThreadErrorInfo(HRESULT code) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK) info.reset();
  return ComError(code, std::move(info));
}

std::string ComError::message() const {
  LPSTR buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
      static_cast<DWORD>(code_), LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (length != 0 && buffer != nullptr) {
    std::string text(buffer, length);
    LocalFree(buffer);
    if (text.size() >= 1 && text.back() == '\n') {
      text.pop_back();
      if (!text.empty() && text.back() == '\r') text.pop_back();
    }
    return text;
  }
  const ULONG code = static_cast<ULONG>(code_);
  if (code >= 0x80040200u && code <= 0x8004FFFFu && code != 0x80040200u)
    return format("IDispatch error #%d", static_cast<int>(code - 0x80040200u));
  return format("Unknown error 0x%0lX", static_cast<unsigned long>(code));
}

HRESULT checked(HRESULT hr) {
  if (FAILED(hr)) throw ComError::withThreadErrorInfo(hr);
  return hr;
}

// ---- Err ------------------------------------------------------------------

std::string fileOfUnit(const std::string &path) {
  const size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Err::Err(HRESULT hr, std::string source, std::string description, std::string module, const std::string &filePath,
         std::string procedure, LONG line, LONG level) {
  assign(hr, std::move(source), std::move(description), std::move(module), filePath, std::move(procedure), line, level);
}

void Err::assign(HRESULT newHr, std::string newSource, std::string newDescription, std::string newModule,
                 const std::string &filePath, std::string newProcedure, LONG newLine, LONG newLevel) {
  hr = newHr;
  source = std::move(newSource);
  description = std::move(newDescription);
  module = std::move(newModule);
  file = fileOfUnit(filePath);
  procedure = std::move(newProcedure);
  line = newLine;
  level = newLevel;
}

void Err::assignFrom(const ComError &error, std::string newModule, const std::string &filePath,
                     std::string newProcedure, LONG newLine, LONG newLevel) {
  try {
    IErrorInfo *info = error.errorInfo();
    std::string newDescription = errorInfoText(info, &IErrorInfo::GetDescription);
    if (newDescription.empty()) newDescription = error.message();
    assign(error.code(), errorInfoText(info, &IErrorInfo::GetSource), std::move(newDescription), std::move(newModule),
           filePath, std::move(newProcedure), newLine, newLevel);
  } catch (...) {
    assign(E_FAIL, "", "failed to convert _com_error to Err", "", rvSourceUnit, "Err::assignFrom", 98, 1);
  }
}

Err Err::at(HRESULT hr, const Site &site) {
  return Err(hr, "", "", ModuleName, site.unit, site.operation, site.line, 1);
}

void Err::logAndClear() {
  log(true, true);
  ComPtr<IErrorInfo> discarded;
  GetErrorInfo(0, discarded.put());
}

void Err::report() {
  try {
    log(true, true);
    if (!setErrorInformation()) hr = E_FAIL;
  } catch (...) {
    hr = E_FAIL;
  }
}

bool Err::setErrorInformation() const {
  try {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return false;
    Bstr wideSource = toBstr(source);
    Bstr wideDescription = toBstr(description);
    ComPtr<IErrorInfo> info;
    return SUCCEEDED(create->SetGUID(GUID_NULL)) && SUCCEEDED(create->SetSource(wideSource.get())) &&
           SUCCEEDED(create->SetDescription(wideDescription.get())) && SUCCEEDED(create.query(IID_IErrorInfo, info)) &&
           SUCCEEDED(SetErrorInfo(0, info.get()));
  } catch (...) {
    return false;
  }
}

void Err::toXml(std::string &text) const {
  text = format(
      "<errorInformation><applicationErrorSource>%s:%s:%u</applicationErrorSource><applicationErrorParameters>"
      "</applicationErrorParameters><componentErrorNumber><hex>0x%8.8X</hex><decimal>%d</decimal>"
      "</componentErrorNumber><componentErrorDescription>%s</componentErrorDescription></errorInformation>",
      file.c_str(), procedure.c_str(), static_cast<unsigned>(line), static_cast<unsigned>(hr), static_cast<int>(hr),
      description.empty() ? "not specified" : description.c_str());
}

void Err::setDescription(std::string text) { description = std::move(text); }

void Err::setInternalCondition() { description = "Invalid internal condition"; }

void Err::setNullPointer() {
  description = "NULL pointer: QI failed? function failed? out of memory? out of resources?";
}

void Err::setResultText() {
  description = format("Failed HRESULT [0x%08X]: %s", static_cast<unsigned>(hr), resultCodeText(hr).c_str());
}

void Err::setFailedResultText(const std::string &text) {
  description = format("Failed HRESULT [0x%08X] :", static_cast<unsigned>(hr)) + text;
}

void Err::setLastSystemError() { description = systemErrorText(GetLastError()); }

void Err::setSystemError(DWORD code) { description = systemErrorText(code); }

// ---- raise forms -----------------------------------------------------------

void raiseMessage(const Site &site, const std::string &text) {
  Err e = Err::at(E_FAIL, site);
  e.setDescription(text);
  throw e;
}

void raiseInternalCondition(const Site &site) {
  Err e = Err::at(E_FAIL, site);
  e.setInternalCondition();
  throw e;
}

void raiseNullPointer(const Site &site) {
  Err e = Err::at(E_FAIL, site);
  e.setNullPointer();
  throw e;
}

void raiseResult(const Site &site, HRESULT hr) {
  Err e = Err::at(hr, site);
  e.setResultText();
  throw e;
}

void raiseFailedResult(const Site &site, HRESULT hr, const std::string &text) {
  Err e = Err::at(hr, site);
  e.setFailedResultText(text);
  throw e;
}

// The thread's error information is read and put back as it was, so that
// whoever looks next still finds it.
void raiseWithErrorInfo(const Site &site, HRESULT hr) {
  Err e = Err::at(hr, site);
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    GUID guid = GUID_NULL;
    DWORD helpContext = 0;
    Bstr helpFile, source, description;
    info->GetGUID(&guid);
    info->GetHelpContext(&helpContext);
    info->GetHelpFile(helpFile.put());
    info->GetSource(source.put());
    info->GetDescription(description.put());
    e.setDescription(toAnsi(description.get()));
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IErrorInfo> copy;
    if (SUCCEEDED(CreateErrorInfo(create.put()))) {
      create->SetGUID(guid);
      create->SetHelpContext(helpContext);
      create->SetHelpFile(helpFile.get());
      create->SetSource(source.get());
      create->SetDescription(description.get());
      if (SUCCEEDED(create.query(IID_IErrorInfo, copy))) SetErrorInfo(0, copy.get());
    }
  }
  throw e;
}

void raiseLastSystemError(const Site &site) {
  Err e = Err::at(E_FAIL, site);
  e.setLastSystemError();
  throw e;
}

void raiseSystemError(const Site &site, DWORD code) {
  Err e = Err::at(E_FAIL, site);
  e.setSystemError(code);
  throw e;
}

void logMessage(const Site &site, LONG level, const char *pattern, ...) {
  try {
    va_list arguments;
    va_start(arguments, pattern);
    std::string text = formatList(pattern, arguments);
    va_end(arguments);
    Err e(0, "", std::move(text), ModuleName, site.unit, site.operation, site.line, level);
    e.log(false, false);
  } catch (...) {
  }
}

}  // namespace rv
