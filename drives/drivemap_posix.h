// The Linux drive letters: which mounted volume answers for A: to I:, and
// the free-space query over that map. The map comes from the kernel's mount
// table through libmount; the query turns statvfs numbers into the four
// 32-bit counters. Every piece takes its inputs from outside (a libmount
// table, a mount-table source, a statvfs function) so it can be driven from
// fixtures as well as from the live system.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "drives/timed_call_posix.h"
#include "survey/counters.h"
#include "survey/survey.h"

struct libmnt_table;

namespace drives {

// The volume behind one drive letter.
struct Volume {
  std::string target;  // mount point, escapes decoded
  std::string source;  // "/dev/sdb1", "server:/export"; may be empty
  std::string fstype;
  dev_t device = 0;
  bool network = false;  // queried with a time limit
};

// Index slot-1 for slots 1 (A:) to 9 (I:); empty where no volume has the letter.
using DriveMap = std::array<std::optional<Volume>, survey::kDrives>;

// Letters the volumes of `table`, taken in mount order: /dev/fd0 and
// /dev/fd1 are A: and B:, "/" is C:, and D: to I: go to the further volumes
// a user keeps files on. A null table gives an empty map.
DriveMap BuildDriveMap(libmnt_table* table);

// The map of a mount table given as text or as a file (mountinfo, or the
// mtab/fstab layout). Lines libmount cannot read are skipped; nullopt only
// where the text or file cannot be read at all.
std::optional<DriveMap> DriveMapFromText(std::string_view mountTable);
std::optional<DriveMap> DriveMapFromFile(const std::string& path);

// "/media/usb (/dev/sdb1)", or "No volume has the letter D:".
std::string DescribeSlot(const DriveMap& map, int slot);

// Slot 1 to 9 for the root paths "a:\" to "i:\" (either case), else 0.
int SlotOfRootPath(const char* rootPath);

// survey::FsStats and survey::CountersFromStats are shared with Windows (survey/counters.h).

// statvfs of a path; nullopt where it fails.
std::optional<survey::FsStats> StatPath(const std::string& path);
using StatFunction = std::function<std::optional<survey::FsStats>(const std::string& path)>;

// Where the query gets its map: whether the mount table changed since the
// last look, and a fresh read of it.
struct MountSource {
  std::function<bool()> changed;
  std::function<std::optional<DriveMap>()> read;
};

// The kernel's table of this process's mount namespace, /proc/self/mountinfo
// (or another file of that kind). A change shows as POLLPRI on the open file.
MountSource KernelMountTable(const std::string& path = "/proc/self/mountinfo");

inline constexpr std::chrono::milliseconds kNetworkTimeout{5000};

// The free-space query over a drive map that follows the mount table.
class DriveQuery {
 public:
  DriveQuery(MountSource source, StatFunction stat,
             std::chrono::milliseconds networkTimeout = kNetworkTimeout);

  // The query of survey::FreeSpaceQuery. The mount table is looked at when
  // a new round of queries begins (a letter at or before the previous one,
  // as A: after I: in the survey), so one survey reads the table at most
  // once and all nine letters come from the same map.
  std::int32_t Query(const char* rootPath, std::int32_t& sectorsPerCluster,
                     std::int32_t& bytesPerSector, std::int32_t& freeClusters,
                     std::int32_t& totalClusters);

  // The map of the most recent read (read now if there was none).
  DriveMap Map();

 private:
  void RefreshFor(int slot);  // with mutex_ held

  std::mutex mutex_;
  MountSource source_;
  StatFunction stat_;
  std::chrono::milliseconds networkTimeout_;
  TimedCalls<survey::FsStats> networkCalls_;
  std::optional<DriveMap> map_;
  int lastSlot_ = survey::kDrives;
};

// The query over this process's mounts, as Module1 answers it.
DriveQuery& SystemDriveQuery();

}  // namespace drives
