// Where the platform keeps its state, and how Windows paths map to POSIX ones.
//
// Paths are presented the Windows way, as Wine does: drive Z: is the POSIX
// root, so /opt/app/x.so is Z:\opt\app\x.so; every other drive letter is a
// folder of the platform's root folder (C:\perf is <root>/c/perf). Functions
// that take a path accept the Windows form, a plain POSIX path, or a mix of
// both separators.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <type_traits>

namespace platform::kernel {

// The environment variable that chooses the root folder.
inline constexpr const char *RootVariable = "WINPLATFORM_ROOT";

// The root folder: $WINPLATFORM_ROOT, else $XDG_STATE_HOME/winplatform, else
// $HOME/.local/state/winplatform, where without HOME the home folder is the
// one the user database gives. Made (private to the user) on first use; what
// keeps state in it checks first that it may be trusted (trusted_paths.h).
std::string rootFolder();

// The POSIX path for a Windows, POSIX or mixed path (UTF-8 in and out).
std::string toPosixPath(std::string_view path);

// The Windows form of a POSIX path: absolute paths get their drive letter,
// relative ones only backslashes.
std::string toWindowsPath(std::string_view posixPath);

// Plain ASCII, as nearly every name and path is, reads the same in UTF-8 and
// UTF-16, unit for unit, so the conversions below copy it as it stands.
template <typename Unit> bool isAscii(const Unit *text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (static_cast<std::make_unsigned_t<Unit>>(text[i]) >= 0x80) return false;
  return true;
}

std::string utf8FromWide(const WCHAR *text, size_t length);
std::string utf8FromWide(const WCHAR *text);
std::basic_string<WCHAR> wideFromUtf8(std::string_view text);

// UTF-8 for a terminated 8-bit text in the system code page (Windows-1252).
std::string utf8FromAnsi(const char *text);

}  // namespace platform::kernel
