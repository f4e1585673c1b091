// The program has no start procedure of its own: the toolkit creates, loads
// and shows the start-up window, then runs until no window is loaded. Only
// --help and --version (Linux) end it before the toolkit starts.
#include "app/command_line.h"
#include "notice/form1.h"
#include "toolkit/references.h"
#include "toolkit/toolkit.h"

int main(int argc, char** argv) {
  if (const std::optional<int> status = app::HandleCommandLine(argc, argv)) return *status;
  return tk::Run(argc, argv, [] { tk::Use<Form1>().Show(); });
}
