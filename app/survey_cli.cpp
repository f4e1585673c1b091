// Prints the survey of this machine, one drive a line, with the volume
// behind each letter where the platform names one.
#include <cstdio>

#include "app/drives.h"
#include "app/module1.h"
#include "report/survey.h"

int main() {
  report::TextTable table;
  report::SurveyDrives(
      [](const std::string& root, std::int32_t& a, std::int32_t& b, std::int32_t& c,
         std::int32_t& d) { return Module1::GetDiskFreeSpaceA(root.c_str(), a, b, c, d); },
      table);
  for (int slot = 1; slot <= report::kDrives; ++slot) {
    const std::string volume = app::DriveVolume(slot);
    std::printf("Number of Free Megabytes on %s %s%s%s\n",
                std::string(report::kDriveTable[slot - 1].letter).c_str(), table.Read(slot).c_str(),
                volume.empty() ? "" : "\t", volume.c_str());
  }
}
