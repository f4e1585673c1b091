// Starting a program and the file test on Windows, through the wide (W)
// functions so no character of a path is lost to the ANSI code page.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "toolkit/system.h"
#include "toolkit/toolkit.h"
#include "win32/text.h"

namespace tk::system {
namespace {

using win32::Utf8;
using win32::Wide;

// "C:\..." or a UNC name "\\server\share\..." (also "\\?\" and "\\.\"):
// a path that names one file wherever the program runs. "tool.exe",
// "bin\tool.exe", "\tool.exe" and "C:tool.exe" all depend on the current
// drive or folder.
bool FullyQualified(const std::string& path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
      path[1] == ':' && separator(path[2])) {
    return true;
  }
  return path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
}

}  // namespace

int Launch(const std::string& programPath) {
  // The path is the program itself: never split at spaces, never a shell,
  // and never a name the current folder (or the search path) resolves.
  if (!FullyQualified(programPath)) return kFileNotFound;
  const std::wstring application = Wide(programPath);
  std::wstring commandLine = L"\"" + application + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return kFileNotFound;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

std::string FileName(const std::string& path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(Wide(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  std::string name;
  do {
    // Normal files only: no folders, hidden or system files.
    constexpr DWORD kExcluded =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if ((found.dwFileAttributes & kExcluded) == 0) {
      name = Utf8(found.cFileName);
      break;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return name;
}

}  // namespace tk::system
