// What the command line asks of the program before the toolkit starts.
#pragma once

#include <optional>

namespace app {

// Empty when the program is to start as usual; otherwise the exit status,
// after the text it asked for has been printed. Called before the toolkit
// starts, so nothing here touches a display.
std::optional<int> HandleCommandLine(int argc, char** argv);

}  // namespace app
