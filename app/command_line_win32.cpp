// Windows: the program reads nothing from its command line. Before anything
// else it takes the current folder out of the search path for libraries, so
// a library planted in whatever folder it is started from is never loaded
// (the program's own loads name the system folder; this covers those of the
// system's libraries).
#include <windows.h>

#include "app/command_line.h"
#include "win32/bind.h"

namespace app {
namespace {

// Windows XP SP1 and later; before that there is nothing to call.
win32::Bound<BOOL(WINAPI*)(LPCWSTR)> setDllDirectory{"kernel32.dll", "SetDllDirectoryW"};

}  // namespace

std::optional<int> HandleCommandLine(int, char**) {
  setDllDirectory(L"");
  return std::nullopt;
}

}  // namespace app
