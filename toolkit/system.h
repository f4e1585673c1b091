// What the windows ask of the operating system besides windows: start
// another program, and the file-existence test. CMake compiles
// system_posix.cpp or system_win32.cpp beside it.
#pragma once

#include <string>

namespace tk::system {

// Starts the program at `programPath` in a normal window; 0, or
// kFileNotFound where it cannot start.
int Launch(const std::string& programPath);
// The file-name part of `path` if it names an existing normal file, else "".
std::string FileName(const std::string& path);

}  // namespace tk::system
