// The error log component: every record becomes one line of a UTF-8 text
// file, fields separated by tabs, so that it reads in an editor, greps and
// imports as a table. The file is the ErrorLog key's File value, by default
// rvZedaZuvivurAzodav.ErrorLog.txt in the temporary folder, beside the file
// the component falls back to when this component is not installed.
#include "rvOutsideComponents.h"
#include "CompanionModule.h"

#include <iterator>

namespace rv::companion {

namespace {

const OLECHAR DefaultFileName[] = OLESTR("rvZedaZuvivurAzodav.ErrorLog.txt");

Text logFilePath() {
  return readText(settingsKey(OLESTR("ErrorLog")), OLESTR("File")).value_or(inTemporaryFolder(DefaultFileName));
}

Text hexadecimal(LONG value) {
  OLECHAR text[16];
  wsprintfW(text, OLESTR("0x%08X"), static_cast<unsigned>(value));
  return text;
}

// Leaves the record as the calling thread's error information, as a caller
// that asks for it reads it back.
void leaveErrorInfo(BSTR source, BSTR description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return;
  create->SetGUID(GUID_NULL);
  create->SetSource(source);
  create->SetDescription(description);
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.query(IID_IErrorInfo, info))) SetErrorInfo(0, info.get());
}

class ErrorLog final : public Object<IErrorLog, rv::IID_IErrorLog> {
 public:
  // The line: time, code in hexadecimal and decimal, source, description,
  // component, version, module, file, procedure, line, whether the caller
  // raises it, process and thread. A file that cannot be written (a full
  // disk, no access) fails the call with the file system's code and keeps
  // nothing, which the caller treats as a record that went nowhere.
  HRESULT STDMETHODCALLTYPE LogError(BSTR source, LONG hr, BSTR description, LONG line, BSTR component, BSTR version,
                                     BSTR module, BSTR file, BSTR procedure, SHORT setErrorInfo,
                                     SHORT raised) override {
    return inproc::boundary([&] {
      return log(source, hr, description, line, component, version, module, file, procedure, setErrorInfo, raised);
    });
  }

 private:
  static HRESULT log(BSTR source, LONG hr, BSTR description, LONG line, BSTR component, BSTR version, BSTR module,
                     BSTR file, BSTR procedure, SHORT setErrorInfo, SHORT raised) {
    const OLECHAR tab[] = {'\t', 0};
    const Text fields[] = {timestamp(),
                           hexadecimal(hr),
                           decimal(hr),
                           oneLine(source),
                           oneLine(description),
                           oneLine(component),
                           oneLine(version),
                           oneLine(module),
                           oneLine(file),
                           oneLine(procedure),
                           decimal(line),
                           raised != 0 ? OLESTR("raised") : OLESTR("logged"),
                           decimal(static_cast<LONG>(GetCurrentProcessId())),
                           decimal(static_cast<LONG>(GetCurrentThreadId()))};
    Text record = fields[0];
    for (size_t i = 1; i < std::size(fields); ++i) record += tab + fields[i];
    const HRESULT written = appendLine(logFilePath(), record);
    if (setErrorInfo != 0) leaveErrorInfo(source, description);
    return written;
  }
};

}  // namespace

HRESULT createErrorLog(IUnknown *outer, REFIID riid, void **object) {
  return ErrorLog::create<ErrorLog>(outer, riid, object);
}

}  // namespace rv::companion
