// The program has no start procedure of its own: the toolkit creates, loads
// and shows the start-up window, then runs until no window is loaded.
#include "notice/form1.h"
#include "toolkit/references.h"
#include "toolkit/toolkit.h"

int main(int argc, char** argv) {
  return tk::Run(argc, argv, [] { tk::Use<Form1>().Show(); });
}
