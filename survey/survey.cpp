#include "survey/survey.h"

#include <stdexcept>

#include "format/format.h"

namespace survey {
namespace {

constexpr std::string_view kZeroText = "0.00MB";
constexpr std::string_view kNotAvailable = "n/a";
constexpr int kZeroTextSlot = 0;  // no slot: the comparand is the literal "0.00MB"

struct Step {
  int tested;
  int comparand;  // a slot, or kZeroTextSlot
};

// Each drive from C: on against every earlier one, nearest first back to C:,
// then A:, then B:; only A: and B: against the zero text.
constexpr std::array<Step, 38> kMarkingSteps = {{
    {1, kZeroTextSlot},
    {2, 1},
    {2, kZeroTextSlot},
    {3, 1},
    {3, 2},
    {4, 3},
    {4, 1},
    {4, 2},
    {5, 4},
    {5, 3},
    {5, 1},
    {5, 2},
    {6, 5},
    {6, 4},
    {6, 3},
    {6, 1},
    {6, 2},
    {7, 6},
    {7, 5},
    {7, 4},
    {7, 3},
    {7, 1},
    {7, 2},
    {8, 7},
    {8, 6},
    {8, 5},
    {8, 4},
    {8, 3},
    {8, 1},
    {8, 2},
    {9, 8},
    {9, 7},
    {9, 6},
    {9, 5},
    {9, 4},
    {9, 3},
    {9, 1},
    {9, 2},
}};

}  // namespace

double Megabytes(const FreeSpaceCounters& c) {
  // A product of two 32-bit counters that fits in 32 bits is exact in double
  // precision too; one that does not fit is carried on in double precision
  // instead of overflowing. Double arithmetic gives both at once.
  const double bytesPerCluster =
      static_cast<double>(c.sectorsPerCluster) * static_cast<double>(c.bytesPerSector);
  const double freeBytes = bytesPerCluster * static_cast<double>(c.freeClusters);
  return freeBytes / 1024.0 / 1024.0;
}

FreeSpaceQuery::Ask FreeSpaceQuery::AskByRootPath(RootPathCall call) {
  return [call = std::move(call)](int slot, FreeSpaceCounters& c, const WhileWaiting&) {
    return Answer{call(std::string(kDriveTable.at(slot - 1).rootPath), c.sectorsPerCluster,
                       c.bytesPerSector, c.freeClusters, c.totalClusters),
                  {}};
  };
}

Volumes SurveyDrives(const FreeSpaceQuery& query, ResultTable& table) {
  FreeSpaceCounters counters;  // carried from drive to drive on purpose
  std::string sString;
  Volumes volumes;
  query.begin(query.whileWaiting);
  for (int slot = 1; slot <= kDrives; ++slot) {
    const Drive& drive = kDriveTable[slot - 1];
    // The result is not examined: a failed query leaves the previous drive's
    // counters, and the marking below recognises the repeat.
    volumes[slot - 1] = query.ask(slot, counters, query.whileWaiting).volume;
    const auto number = format::Format(Megabytes(counters), drive.pattern);
    // Megabytes of 32-bit counters are always finite, and both patterns are known.
    if (!number) throw std::logic_error("drive survey: unformattable free space");
    sString += *number;
    sString += "MB";
    table.Replace(slot, sString);
    sString.clear();
  }
  MarkUnavailable(table);
  return volumes;
}

void MarkUnavailable(ResultTable& table) {
  for (const Step& step : kMarkingSteps) {
    const std::string comparand =
        step.comparand == kZeroTextSlot ? std::string(kZeroText) : table.Read(step.comparand);
    if (table.Read(step.tested) == comparand)
      table.Replace(step.tested, std::string(kNotAvailable));
  }
}

}  // namespace survey
