// The Linux drive letters: which mounted volume answers for A: to I:, and
// the free-space query over that map. The map comes from the kernel's mount
// table through libmount; the query turns statfs numbers into the four
// 32-bit counters. Every piece takes its inputs from outside (a libmount
// table, a mount-table source, the calls on volumes) so it can be driven
// from fixtures as well as from the live system.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

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

// A descriptor (O_PATH) of `volume`'s root if its mount point still leads
// to that very mount (an unmount, or a mount over it or over a parent since
// the table was read, makes it lead elsewhere); -1 otherwise. It walks the
// mount point's path, so it runs in a child: system calls only.
int OpenCheckedRoot(const Volume& volume);

// The figures of the volume whose root `root` is (OpenCheckedRoot's). No
// path is walked: a mount made since over the mount point or a parent does
// not reach it.
std::optional<survey::FsStats> StatOfRoot(int root);

// OpenCheckedRoot and StatOfRoot in one: the figures of `volume` if its
// mount point still leads to it. For a child, like OpenCheckedRoot.
std::optional<survey::FsStats> CheckedStat(const Volume& volume);

// The calls the query makes on volumes, scriptable for tests.
struct VolumeCalls {
  // In a child: the figures of a volume that is not local.
  std::function<std::optional<survey::FsStats>(const Volume& volume)> ask = CheckedStat;
  // In a child: a descriptor of a local volume's root, -1 where there is none.
  std::function<int(const Volume& volume)> open = OpenCheckedRoot;
  // In the asking process, without waiting on anything but a local disk:
  // the figures of a local volume through the descriptor `open` gave.
  std::function<std::optional<survey::FsStats>(const Volume& volume, int root)> stat =
      [](const Volume&, int root) { return StatOfRoot(root); };
};

// Which mount a question about `volume` is about, to know it again while
// a call is stuck on it: the mount's id and device, or its mount point
// where the table gives neither.
std::string MountKey(const Volume& volume);

// Where the query gets its map: whether the mount table changed since the
// last look, and a fresh read of it. Neither may walk a path that a volume
// could hold.
struct MountSource {
  std::function<bool()> changed;
  std::function<std::optional<DriveMap>()> read;
};

// The kernel's table of this process's mount namespace, /proc/self/mountinfo
// (or another file of that kind), opened once and read again through the
// same descriptor. A change shows as POLLPRI on the open file.
MountSource KernelMountTable(const std::string& path = "/proc/self/mountinfo");

// How long one survey waits for the volumes it cannot ask at once.
inline constexpr std::chrono::milliseconds kSurveyDeadline{5000};

// How long a local volume's root is held after it was last asked: surveys
// in quick succession ask with one fstatfs, and soon after, the volume is
// free to be unmounted again (a held root keeps it busy).
inline constexpr std::chrono::milliseconds kRootsHeld{2000};

// The free-space query over a drive map that follows the mount table.
// Nothing that may wait on a volume's path runs in the asking process: a
// local volume is asked through a descriptor of its root, taken and checked
// in a child and held until the table changes or kRootsHeld has passed
// without a question; every other volume (network, FUSE, or of unknown
// make) is asked in a child each time. A call stuck in the kernel thus
// holds neither the window nor the end of the program.
class DriveQuery {
 public:
  explicit DriveQuery(MountSource source, VolumeCalls calls = {},
                      std::chrono::milliseconds deadline = kSurveyDeadline,
                      std::chrono::milliseconds rootsHeld = kRootsHeld);
  ~DriveQuery();
  DriveQuery(const DriveQuery&) = delete;
  DriveQuery& operator=(const DriveQuery&) = delete;

  // survey::FreeSpaceQuery's begin: looks at the mount table once for the
  // whole survey and starts the children it needs, side by side under one
  // deadline. A mount still stuck from an earlier survey gets no new child:
  // it fails at once.
  void BeginSurvey();

  // The question of survey::FreeSpaceQuery. Within a survey it answers
  // from the survey's map and collects its child's answer by the deadline;
  // a question on its own looks at the table first and waits a whole
  // deadline at most. Waits run in slices, with drives::WhileWaiting()
  // between them; a question asked from there fails at once.
  std::int32_t Query(const char* rootPath, std::int32_t& sectorsPerCluster,
                     std::int32_t& bytesPerSector, std::int32_t& freeClusters,
                     std::int32_t& totalClusters);

  // The map of the most recent read (read now if there was none).
  DriveMap Map();

 private:
  void Look();                       // with mutex_ held
  void DropRoots();                  // with mutex_ held
  void HoldRoots();                  // with mutex_ held: (re)starts the time they are held
  void Release();                    // the thread that lets go of roots no longer asked
  bool Start(const Volume& volume);  // the child `volume` needs; with mutex_ held
  std::optional<survey::FsStats> Ask(int slot, bool inSurvey);  // with mutex_ held

  std::recursive_mutex mutex_;
  bool waiting_ = false;  // a wait runs drives::WhileWaiting()
  MountSource source_;
  VolumeCalls calls_;
  std::chrono::milliseconds deadline_;
  ChildCalls children_;
  std::optional<DriveMap> map_;
  // Slots begun by BeginSurvey and not yet asked, and when the survey's wait ends.
  std::array<bool, survey::kDrives> begun_{};
  std::array<bool, survey::kDrives> asking_{};  // a child of this survey asks the volume
  std::array<int, survey::kDrives> roots_;      // local volumes' roots, -1 where none is held
  std::chrono::steady_clock::time_point surveyDeadline_;
  std::chrono::milliseconds rootsHeld_;
  std::chrono::steady_clock::time_point releaseAt_;
  std::condition_variable_any wake_;
  bool ending_ = false;
  std::thread releaser_;  // started with the first root held
};

// The query over this process's mounts: drives::PlatformQuery on Linux.
DriveQuery& SystemDriveQuery();

}  // namespace drives
