// Prints the survey of this machine, one drive a line, with the volume
// behind each letter where the platform names one.
#include <cstdio>
#include <string>

#include "drives/volumes.h"
#include "survey/survey.h"

namespace {

// One volume per line, after a tab: a newline, tab or backslash in a
// mount point is written as findmnt writes it, in octal (\012, \011, \134).
std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n')
      out += "\\012";
    else if (c == '\t')
      out += "\\011";
    else if (c == '\\')
      out += "\\134";
    else
      out += c;
  }
  return out;
}

}  // namespace

int main() {
  survey::TextTable table;
  survey::SurveyDrives(drives::PlatformQuery(), table);
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const std::string volume = Printable(drives::DriveVolume(slot));
    std::printf("Number of Free Megabytes on %s %s%s%s\n",
                std::string(survey::kDriveTable[slot - 1].letter).c_str(), table.Read(slot).c_str(),
                volume.empty() ? "" : "\t", volume.c_str());
  }
}
