// Windows: the program reads nothing from its command line.
#include "app/command_line.h"

namespace app {

std::optional<int> HandleCommandLine(int, char**) { return std::nullopt; }

}  // namespace app
