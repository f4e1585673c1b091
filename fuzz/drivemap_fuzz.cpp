// Arbitrary mount-table text through libmount into the drive map, then the
// query over that map. Besides the sanitizers, it checks what the map
// promises: C: is "/", floppies sit on A:/B:, D: on are filled without gaps,
// no volume has two letters, nothing unaskable has one.
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "drives/drive_query_posix.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckMap(const drives::DriveMap& map) {
  if (map[0]) Check(map[0]->source == "/dev/fd0");
  if (map[1]) Check(map[1]->source == "/dev/fd1");
  if (map[2]) Check(map[2]->target == "/");
  std::set<dev_t> devices;
  bool gap = false;
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const auto& volume = map[slot - 1];
    if (slot >= 4) {
      Check(!(gap && volume));
      gap = gap || !volume;
    }
    if (!volume) {
      Check(drives::DescribeSlot(map, slot).rfind("No volume has the letter ", 0) == 0);
      continue;
    }
    Check(!volume->target.empty() && volume->target.front() == '/');
    if (slot != 3) {
      Check(volume->target != "/");
      for (const char* type : {"autofs", "tmpfs", "ramfs", "squashfs", "proc", "sysfs"})
        Check(volume->fstype != type);
    }
    if (volume->device != 0) Check(devices.insert(volume->device).second);
    // One line of printable text, whose only opening parenthesis is the one
    // before the source: what a mount point holds is escaped.
    const std::string described = drives::DescribeSlot(map, slot);
    for (const char c : described)
      Check(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) != 0x7f);
    const std::size_t open = described.find('(');
    if (volume->source.empty()) {
      Check(open == std::string::npos);
    } else {
      Check(open != std::string::npos && open >= 1 && described[open - 1] == ' ');
      Check(described.find('(', open + 1) == std::string::npos && described.back() == ')');
    }
  }
}

void CheckCounters(const survey::FsStats& stats) {
  const auto counters = survey::CountersFromStats(stats);
  if (!counters) return;
  Check(counters->sectorsPerCluster > 0 && counters->bytesPerSector > 0);
  Check(counters->freeClusters >= 0 && counters->totalClusters >= 0);
  const double cluster =
      static_cast<double>(counters->sectorsPerCluster) * counters->bytesPerSector;
  const double unit = static_cast<double>(stats.fragmentSize);
  // True to within one cluster (and a little for double rounding).
  Check(unit * stats.blocks - cluster * counters->totalClusters <= cluster * 1.000001);
  Check(unit * stats.blocks >= cluster * counters->totalClusters * 0.999999);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first 24 bytes, when there are that many, double as statfs numbers.
  survey::FsStats stats;
  if (size >= 24) {
    std::memcpy(&stats.fragmentSize, data, 8);
    std::memcpy(&stats.blocks, data + 8, 8);
    std::memcpy(&stats.blocksAvailable, data + 16, 8);
    CheckCounters(stats);
  }

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto map = drives::DriveMapFromText(text);
  if (!map) return 0;
  CheckMap(*map);

  // A survey over the map, for one input in 64: each volume is asked in a
  // child, which costs far more than the map. Every volume answers with the
  // fuzzed figures: what is fuzzed is the map, the descriptions and the
  // counters, not the volumes themselves.
  if (size % 64 != 0) return 0;
  const drives::DriveMap fixed = *map;
  drives::DriveQuery query(
      {[] { return false; }, [&fixed] { return std::optional(fixed); }},
      [&stats](const drives::Volume&) { return std::optional(stats); },
      std::chrono::milliseconds(1000));
  query.BeginSurvey();
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    survey::FreeSpaceCounters counters{-1, -2, -3, -4};
    const survey::Answer answer = query.Ask(slot, counters, {});
    Check(answer.volume == drives::DescribeSlot(fixed, slot));
    Check(answer.volume.find('\n') == std::string::npos);
    if (!fixed.at(slot - 1)) Check(answer.result == 0);
    if (answer.result == 0)
      Check(counters.sectorsPerCluster == -1 && counters.bytesPerSector == -2 &&
            counters.freeClusters == -3 && counters.totalClusters == -4);
  }
  return 0;
}
