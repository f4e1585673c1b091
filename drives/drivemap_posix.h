// The Linux drive letters: which mounted volume answers for A: to I:, and
// the free-space query over that map. The map comes from the kernel's mount
// table through libmount; the query turns statfs numbers into the four
// 32-bit counters. Every piece takes its inputs from outside (a libmount
// table, a mount-table source, a statfs function) so it can be driven from
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

#include "drives/child_calls_posix.h"
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
  int mountId = 0;     // the kernel's id of this mount; 0 where the table has none
  bool local = false;  // on a block device, reached through no network or FUSE mount
};

// Index slot-1 for slots 1 (A:) to 9 (I:); empty where no volume has the letter.
using DriveMap = std::array<std::optional<Volume>, survey::kDrives>;

// Letters the volumes of `table`, taken in mount order: /dev/fd0 and
// /dev/fd1 are A: and B:, "/" is C:, and D: to I: go to the further volumes
// a user keeps files on. C: is the root whatever the table says: a table
// without "/" (or a null one) still gives C: as "/", of unknown make.
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

// The figures of `volume` if its mount point still leads to that very
// mount (an unmount or a mount over a parent since the table was read makes
// it lead elsewhere); nullopt otherwise or where the calls fail. System
// calls only, so that it may run in a child forked from a threaded process.
// `known` carries the filesystem id of the last checked answer for this
// volume (0: none): while a plain statfs of the mount point gives that id,
// its figures are the volume's, for the price of that one call; otherwise the
// whole check runs and sets `known` afresh.
std::optional<survey::FsStats> CheckedStat(const Volume& volume, std::uint64_t& known);
using StatFunction =
    std::function<std::optional<survey::FsStats>(const Volume& volume, std::uint64_t& known)>;

// Which mount a question about `volume` is about, to know it again while
// a call is stuck on it: the mount's id and device, or its mount point
// where the table gives neither.
std::string MountKey(const Volume& volume);

// Where the query gets its map: whether the mount table changed since the
// last look, and a fresh read of it.
struct MountSource {
  std::function<bool()> changed;
  std::function<std::optional<DriveMap>()> read;
};

// The kernel's table of this process's mount namespace, /proc/self/mountinfo
// (or another file of that kind). A change shows as POLLPRI on the open file.
MountSource KernelMountTable(const std::string& path = "/proc/self/mountinfo");

// How long one survey waits for the volumes that are not local.
inline constexpr std::chrono::milliseconds kSurveyDeadline{5000};

// The free-space query over a drive map that follows the mount table.
// Local volumes are asked directly; every other one (network, FUSE, or of
// unknown make) in a child process, so that a call stuck in the kernel
// holds neither the window nor the end of the program.
class DriveQuery {
 public:
  DriveQuery(MountSource source, StatFunction stat = CheckedStat,
             std::chrono::milliseconds deadline = kSurveyDeadline);

  // survey::FreeSpaceQuery's begin: looks at the mount table once for the
  // whole survey and starts the children of all volumes that are not local,
  // side by side under one deadline. A mount still stuck from an earlier
  // survey gets no new child: it fails at once.
  void BeginSurvey();

  // The question of survey::FreeSpaceQuery. Within a survey it answers
  // from the survey's map and collects its child's answer by the deadline;
  // a question on its own looks at the table first and waits a whole
  // deadline at most.
  std::int32_t Query(const char* rootPath, std::int32_t& sectorsPerCluster,
                     std::int32_t& bytesPerSector, std::int32_t& freeClusters,
                     std::int32_t& totalClusters);

  // The map of the most recent read (read now if there was none).
  DriveMap Map();

 private:
  void Look();  // with mutex_ held

  std::mutex mutex_;
  MountSource source_;
  StatFunction stat_;
  std::chrono::milliseconds deadline_;
  ChildCalls children_;
  std::optional<DriveMap> map_;
  // Slots begun by BeginSurvey and not yet asked, and when the survey's wait ends.
  std::array<bool, survey::kDrives> begun_{};
  std::array<bool, survey::kDrives> asking_{};          // a child of this survey asks the volume
  std::array<std::uint64_t, survey::kDrives> known_{};  // CheckedStat's, per local volume
  std::chrono::steady_clock::time_point surveyDeadline_;
};

// The query over this process's mounts: drives::PlatformQuery on Linux.
DriveQuery& SystemDriveQuery();

}  // namespace drives
