// Prints the survey of this machine, one drive a line, with the volume
// behind each letter where the platform names one, after a tab. The
// platform's description writes a backslash and every control character
// in a mount point in octal, as findmnt does, so a line stays one line and
// a mount point cannot move the cursor or colour the terminal.
#include <cstdio>
#include <string>

#include "drives/volumes.h"
#include "survey/survey.h"

int main() {
  survey::TextTable table;
  const survey::Volumes volumes = survey::SurveyDrives(drives::PlatformQuery(), table);
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const std::string& volume = volumes[slot - 1];
    std::printf("Number of Free Megabytes on %s %s%s%s\n",
                std::string(survey::kDriveTable[slot - 1].letter).c_str(), table.Read(slot).c_str(),
                volume.empty() ? "" : "\t", volume.c_str());
  }
}
