#include "drives/drivemap_posix.h"

#include <fcntl.h>
#include <libmount.h>
#include <poll.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

namespace drives {
namespace {

constexpr int kSlotA = 1;
constexpr int kSlotB = 2;
constexpr int kSlotC = 3;
constexpr int kSlotD = 4;

// Filesystems that libmount does not count as pseudo but that hold no files
// of the user's: read-only images and desktop helper mounts.
constexpr std::array<std::string_view, 8> kNotVolumes = {
    "tmpfs",           "ramfs",         "squashfs",    "erofs",
    "fuse.squashfuse", "fuse.snapfuse", "fuse.portal", "swap",
};

// The boot and EFI system partitions: needed by the machine, not by the user.
constexpr std::array<std::string_view, 4> kBootTargets = {"/boot", "/boot/efi", "/efi",
                                                          "/boot/firmware"};

std::string_view View(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& list, std::string_view item) {
  for (std::string_view entry : list)
    if (entry == item) return true;
  return false;
}

bool IsNetwork(libmnt_fs* fs) {
  const std::string_view type = View(mnt_fs_get_fstype(fs));
  return mnt_fs_is_netfs(fs) == 1 || type == "fuse.sshfs" || type == "sshfs";
}

// Whether an entry other than the root can carry a letter at all.
bool MayHaveLetter(libmnt_fs* fs) {
  const std::string_view target = View(mnt_fs_get_target(fs));
  const std::string_view type = View(mnt_fs_get_fstype(fs));
  if (target.empty() || target.front() != '/' || target == "/") return false;
  // autofs mount points would wake the automounter (or hang on it) if asked.
  if (type == "autofs" || type.empty()) return false;
  if (mnt_fs_is_pseudofs(fs) == 1 || Contains(kNotVolumes, type)) return false;
  if (Contains(kBootTargets, target)) return false;
  // A mount of a directory inside a volume (a bind of /srv/x, a container's
  // /etc/hosts) is part of that volume, not a volume of its own.
  const char* root = mnt_fs_get_root(fs);
  return root == nullptr || View(root) == "/";
}

Volume VolumeOf(libmnt_fs* fs) {
  Volume volume;
  volume.target = View(mnt_fs_get_target(fs));
  volume.source = View(mnt_fs_get_source(fs));
  volume.fstype = View(mnt_fs_get_fstype(fs));
  volume.device = mnt_fs_get_devno(fs);
  volume.network = IsNetwork(fs);
  return volume;
}

// Two entries are the same volume when they share a device number; tables
// without device numbers (mtab layout) fall back to the source.
std::string VolumeKey(const Volume& volume) {
  if (volume.device != 0)
    return "dev " + std::to_string(major(volume.device)) + ":" +
           std::to_string(minor(volume.device));
  if (!volume.source.empty() && volume.source != "none") return "src " + volume.source;
  return "mnt " + volume.target;
}

int SkipUnreadableLine(libmnt_table*, const char*, int) {
  return 1;  // skip the line and go on parsing
}

struct TableDeleter {
  void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
using TablePtr = std::unique_ptr<libmnt_table, TableDeleter>;

TablePtr NewTable() {
  TablePtr table(mnt_new_table());
  if (table) mnt_table_set_parser_errcb(table.get(), SkipUnreadableLine);
  return table;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

DriveMap BuildDriveMap(libmnt_table* table) {
  DriveMap map;
  if (table == nullptr) return map;

  std::vector<libmnt_fs*> entries;
  libmnt_iter* iter = mnt_new_iter(MNT_ITER_FORWARD);
  if (iter == nullptr) return map;
  libmnt_fs* fs = nullptr;
  while (mnt_table_next_fs(table, iter, &fs) == 0) entries.push_back(fs);
  mnt_free_iter(iter);

  // A later mount on the same point hides the earlier one: only the last
  // entry per mount point can be reached by a path.
  std::unordered_map<std::string_view, std::size_t> lastAt;
  for (std::size_t i = 0; i < entries.size(); ++i) lastAt[View(mnt_fs_get_target(entries[i]))] = i;

  std::set<std::string> lettered;
  // "/" is C: whatever it is made of: an overlay or tmpfs root in a container
  // is still the volume the user's files are on.
  if (const auto root = lastAt.find("/"); root != lastAt.end()) {
    Volume volume = VolumeOf(entries[root->second]);
    lettered.insert(VolumeKey(volume));
    map[kSlotC - 1] = std::move(volume);
  }

  int nextSlot = kSlotD;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    libmnt_fs* entry = entries[i];
    if (lastAt[View(mnt_fs_get_target(entry))] != i || !MayHaveLetter(entry)) continue;
    Volume volume = VolumeOf(entry);
    if (!lettered.insert(VolumeKey(volume)).second) continue;  // bind or repeated mount

    const std::string_view device = View(mnt_fs_get_srcpath(entry));
    int slot = 0;
    if (device == "/dev/fd0")
      slot = kSlotA;
    else if (device == "/dev/fd1")
      slot = kSlotB;
    else if (nextSlot <= survey::kDrives)
      slot = nextSlot++;
    if (slot != 0 && !map[slot - 1]) map[slot - 1] = std::move(volume);
  }
  return map;
}

std::optional<DriveMap> DriveMapFromText(std::string_view mountTable) {
  if (mountTable.empty()) return DriveMap{};
  std::string buffer(mountTable);  // fmemopen wants a writable buffer
  std::unique_ptr<std::FILE, FileCloser> stream(fmemopen(buffer.data(), buffer.size(), "r"));
  TablePtr table = NewTable();
  if (!stream || !table) return std::nullopt;
  if (mnt_table_parse_stream(table.get(), stream.get(), "mount table") < 0) return std::nullopt;
  return BuildDriveMap(table.get());
}

std::optional<DriveMap> DriveMapFromFile(const std::string& path) {
  TablePtr table = NewTable();
  if (!table || mnt_table_parse_file(table.get(), path.c_str()) < 0) return std::nullopt;
  return BuildDriveMap(table.get());
}

std::string DescribeSlot(const DriveMap& map, int slot) {
  if (slot < 1 || slot > survey::kDrives) return {};
  const std::optional<Volume>& volume = map[slot - 1];
  if (!volume)
    return "No volume has the letter " + std::string(survey::kDriveTable[slot - 1].letter);
  if (volume->source.empty()) return volume->target;
  return volume->target + " (" + volume->source + ")";
}

int SlotOfRootPath(const char* rootPath) {
  if (rootPath == nullptr) return 0;
  const std::string_view path(rootPath);
  if (path.size() != 3 || path[1] != ':' || path[2] != '\\') return 0;
  const char letter = path[0];
  if (letter >= 'a' && letter <= 'i') return letter - 'a' + 1;
  if (letter >= 'A' && letter <= 'I') return letter - 'A' + 1;
  return 0;
}

std::optional<survey::FsStats> StatPath(const std::string& path) {
  struct statvfs info {};
  int rc = 0;
  do {
    rc = ::statvfs(path.c_str(), &info);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return std::nullopt;
  // Some filesystems leave f_frsize zero; f_bsize is the unit then.
  const std::uint64_t unit = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
  return survey::FsStats{unit, info.f_blocks, info.f_bavail};
}

MountSource KernelMountTable(const std::string& path) {
  struct Watch {
    int fd = -1;
    ~Watch() {
      if (fd >= 0) ::close(fd);
    }
  };
  // Opened before the first read, so a change made during that read still
  // shows at the next look.
  auto watch = std::make_shared<Watch>();
  watch->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  MountSource source;
  source.changed = [watch] {
    if (watch->fd < 0) return true;  // cannot watch: read afresh each round
    pollfd entry{watch->fd, POLLPRI, 0};
    int rc = 0;
    do {
      rc = ::poll(&entry, 1, 0);
    } while (rc < 0 && errno == EINTR);
    return rc != 0 && (rc < 0 || (entry.revents & (POLLPRI | POLLERR | POLLNVAL)) != 0);
  };
  source.read = [path] { return DriveMapFromFile(path); };
  return source;
}

DriveQuery::DriveQuery(MountSource source, StatFunction stat,
                       std::chrono::milliseconds networkTimeout)
    : source_(std::move(source)), stat_(std::move(stat)), networkTimeout_(networkTimeout) {}

void DriveQuery::RefreshFor(int slot) {
  const bool newRound = slot <= lastSlot_;
  lastSlot_ = slot;
  if (map_ && !(newRound && source_.changed())) return;
  map_ = source_.read().value_or(DriveMap{});
}

std::int32_t DriveQuery::Query(const char* rootPath, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& freeClusters,
                               std::int32_t& totalClusters) {
  const int slot = SlotOfRootPath(rootPath);
  if (slot == 0) return 0;
  std::optional<Volume> volume;
  {
    std::lock_guard lock(mutex_);
    RefreshFor(slot);
    volume = (*map_)[slot - 1];
  }
  if (!volume) return 0;

  std::optional<survey::FsStats> stats;
  if (volume->network) {
    // The thread gets its own copies: it may outlive this call and this object.
    stats = networkCalls_.Run(
        volume->target, [stat = stat_, path = volume->target] { return stat(path); },
        networkTimeout_);
  } else {
    stats = stat_(volume->target);
  }
  if (!stats) return 0;
  const std::optional<survey::FreeSpaceCounters> counters = survey::CountersFromStats(*stats);
  if (!counters) return 0;
  sectorsPerCluster = counters->sectorsPerCluster;
  bytesPerSector = counters->bytesPerSector;
  freeClusters = counters->freeClusters;
  totalClusters = counters->totalClusters;
  return 1;
}

DriveMap DriveQuery::Map() {
  std::lock_guard lock(mutex_);
  if (!map_) map_ = source_.read().value_or(DriveMap{});
  return *map_;
}

DriveQuery& SystemDriveQuery() {
  static DriveQuery query(KernelMountTable(), StatPath);
  return query;
}

}  // namespace drives
