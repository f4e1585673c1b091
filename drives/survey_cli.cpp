// Prints the survey of this machine, one drive a line, with the volume
// behind each letter where the platform names one.
#include <cstdio>

#include "drives/volumes.h"
#include "survey/survey.h"

int main() {
  survey::TextTable table;
  survey::SurveyDrives(drives::PlatformQuery(), table);
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const std::string volume = drives::DriveVolume(slot);
    std::printf("Number of Free Megabytes on %s %s%s%s\n",
                std::string(survey::kDriveTable[slot - 1].letter).c_str(), table.Read(slot).c_str(),
                volume.empty() ? "" : "\t", volume.c_str());
  }
}
