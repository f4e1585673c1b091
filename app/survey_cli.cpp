// Prints the survey of this machine, one drive a line, with the volume
// behind each letter where the platform names one.
#include <cstdio>

#include "app/drives.h"
#include "report/survey.h"

int main() {
  report::TextTable table;
  report::SurveyDrives(app::PlatformQuery(), table);
  for (int slot = 1; slot <= report::kDrives; ++slot) {
    const std::string volume = app::DriveVolume(slot);
    std::printf("Number of Free Megabytes on %s %s%s%s\n",
                std::string(report::kDriveTable[slot - 1].letter).c_str(), table.Read(slot).c_str(),
                volume.empty() ? "" : "\t", volume.c_str());
  }
}
