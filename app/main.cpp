// The program has no start procedure of its own: the toolkit creates, loads
// and shows the start-up window, then runs until no window is loaded.
#include "app/toolkit.h"
#include "app/windows.h"
#include "notice/form1.h"

int main(int argc, char** argv) {
  return tk::Run(argc, argv, [] { app::Use<Form1>().Show(); });
}
