#include "drives/drivemap_posix.h"

#include <fcntl.h>
#include <libmount.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <system_error>
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

// Whether a call into the filesystem may wait on something other than a
// local disk: a server, a FUSE daemon.
bool MayHang(libmnt_fs* fs) {
  const std::string_view type = View(mnt_fs_get_fstype(fs));
  return mnt_fs_is_netfs(fs) == 1 || type.starts_with("fuse") || type == "sshfs";
}

// A filesystem on a block device that cannot hang by itself. An overlay,
// a tmpfs root or anything of unknown make is not counted.
bool OnLocalDevice(libmnt_fs* fs) {
  return !MayHang(fs) && View(mnt_fs_get_srcpath(fs)).starts_with("/dev/");
}

// Whether `path` lies strictly below the directory `dir`.
bool Below(std::string_view path, std::string_view dir) {
  if (dir == "/") return path.size() > 1 && path.front() == '/';
  return path.size() > dir.size() + 1 && path.starts_with(dir) && path[dir.size()] == '/';
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
  volume.mountId = mnt_fs_get_id(fs) > 0 ? mnt_fs_get_id(fs) : 0;
  volume.local = OnLocalDevice(fs);
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
  map[kSlotC - 1] = Volume();  // "/" of unknown make, until the table names it
  map[kSlotC - 1]->target = "/";
  if (table == nullptr) return map;

  std::vector<libmnt_fs*> entries;
  libmnt_iter* iter = mnt_new_iter(MNT_ITER_FORWARD);
  if (iter == nullptr) return map;
  libmnt_fs* fs = nullptr;
  while (mnt_table_next_fs(table, iter, &fs) == 0) entries.push_back(fs);
  mnt_free_iter(iter);

  // Mount points of filesystems that may hang: a path through one of them
  // may hang too, whatever lies at its end.
  std::vector<std::string_view> mayHang;
  for (libmnt_fs* entry : entries)
    if (MayHang(entry)) mayHang.push_back(View(mnt_fs_get_target(entry)));
  const auto finish = [&mayHang](DriveMap& done) {
    for (std::optional<Volume>& volume : done) {
      if (!volume || !volume->local) continue;
      for (std::string_view dir : mayHang)
        if (Below(volume->target, dir)) volume->local = false;
    }
    return done;
  };

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
  return finish(map);
}

std::optional<DriveMap> DriveMapFromText(std::string_view mountTable) {
  if (mountTable.empty()) return BuildDriveMap(nullptr);
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

namespace {

survey::FsStats StatsOf(const struct statfs& info) {
  // Some filesystems leave f_frsize zero; f_bsize is the unit then.
  const auto unit = static_cast<std::uint64_t>(info.f_frsize != 0 ? info.f_frsize : info.f_bsize);
  return {unit, static_cast<std::uint64_t>(info.f_blocks),
          static_cast<std::uint64_t>(info.f_bavail)};
}

}  // namespace

int OpenCheckedRoot(const Volume& volume) {
  int fd = -1;
  do {
    fd = ::open(volume.target.c_str(), O_PATH | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  // Where the path leads now: the mount's id where the kernel tells it
  // (5.8 on), else the device. Cached attributes will do for this, and
  // ask nothing of a filesystem mounted over the volume since.
  struct statx where {};
  bool same = ::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MNT_ID, &where) == 0;
  if (same && volume.mountId != 0 && (where.stx_mask & STATX_MNT_ID) != 0)
    same = where.stx_mnt_id == static_cast<std::uint64_t>(volume.mountId);
  else if (same && volume.device != 0)
    same = makedev(where.stx_dev_major, where.stx_dev_minor) == volume.device;
  if (same) return fd;
  ::close(fd);
  return -1;
}

std::optional<survey::FsStats> StatOfRoot(int root) {
  struct statfs info {};
  int rc = -1;
  do {
    rc = ::fstatfs(root, &info);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return std::nullopt;
  return StatsOf(info);
}

std::optional<survey::FsStats> CheckedStat(const Volume& volume) {
  const int root = OpenCheckedRoot(volume);
  if (root < 0) return std::nullopt;
  const std::optional<survey::FsStats> stats = StatOfRoot(root);
  ::close(root);
  return stats;
}

std::string MountKey(const Volume& volume) {
  if (volume.mountId == 0 && volume.device == 0) return "at " + volume.target;
  return "mount " + std::to_string(volume.mountId) + " dev " +
         std::to_string(major(volume.device)) + ":" + std::to_string(minor(volume.device));
}

MountSource KernelMountTable(const std::string& path) {
  struct Table {
    std::string path;
    int fd = -1;
    ~Table() {
      if (fd >= 0) ::close(fd);
    }
  };
  // Opened before the first read, so a change made during that read still
  // shows at the next look; read again through the same descriptor, so no
  // path is walked once it is open (a volume mounted over one could hold it).
  auto table = std::make_shared<Table>();
  table->path = path;
  table->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  MountSource source;
  source.changed = [table] {
    if (table->fd < 0) return true;  // cannot watch: read afresh each round
    pollfd entry{table->fd, POLLPRI, 0};
    int rc = 0;
    do {
      rc = ::poll(&entry, 1, 0);
    } while (rc < 0 && errno == EINTR);
    return rc != 0 && (rc < 0 || (entry.revents & (POLLPRI | POLLERR | POLLNVAL)) != 0);
  };
  source.read = [table]() -> std::optional<DriveMap> {
    // Where the table could not be opened at first (no /proc yet), once more.
    if (table->fd < 0) table->fd = ::open(table->path.c_str(), O_RDONLY | O_CLOEXEC);
    if (table->fd < 0 || ::lseek(table->fd, 0, SEEK_SET) != 0) return std::nullopt;
    std::string text;
    char buffer[16384];
    for (;;) {
      const ssize_t got = ::read(table->fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return std::nullopt;
      if (got == 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return DriveMapFromText(text);
  };
  return source;
}

DriveQuery::DriveQuery(MountSource source, VolumeCalls calls, std::chrono::milliseconds deadline,
                       std::chrono::milliseconds rootsHeld)
    : source_(std::move(source)),
      calls_(std::move(calls)),
      deadline_(deadline),
      rootsHeld_(rootsHeld) {
  roots_.fill(-1);
}

DriveQuery::~DriveQuery() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  if (releaser_.joinable()) releaser_.join();
  DropRoots();
}

void DriveQuery::HoldRoots() {
  releaseAt_ = std::chrono::steady_clock::now() + rootsHeld_;
  if (releaser_.joinable()) return;
  try {
    releaser_ = std::thread(&DriveQuery::Release, this);
  } catch (const std::system_error&) {
    // No thread: the roots are held until the table changes.
  }
}

void DriveQuery::Release() {
  std::unique_lock lock(mutex_);
  while (!ending_) {
    const bool held = std::any_of(roots_.begin(), roots_.end(), [](int root) { return root >= 0; });
    const bool surveying =
        std::any_of(begun_.begin(), begun_.end(), [](bool begun) { return begun; });
    if (held && !surveying && std::chrono::steady_clock::now() >= releaseAt_) {
      DropRoots();  // closing a root asks nothing of its volume
    } else if (held && !surveying) {
      wake_.wait_until(lock, releaseAt_);
    } else {
      wake_.wait(lock);
    }
  }
}

void DriveQuery::DropRoots() {
  for (int& root : roots_) {
    if (root >= 0) ::close(root);
    root = -1;
  }
}

void DriveQuery::Look() {
  if (map_ && !source_.changed()) return;
  map_ = source_.read().value_or(BuildDriveMap(nullptr));
  // Mounts moved: each root is taken and checked afresh.
  DropRoots();
}

bool DriveQuery::Start(const Volume& volume) {
  // The child's own copies, since it may outlive this query.
  ChildCalls::Call call;
  if (volume.local) {
    call = [open = calls_.open, volume] {
      ChildAnswer answer;
      answer.fd = open(volume);
      answer.ok = answer.fd >= 0;
      return answer;
    };
  } else {
    call = [ask = calls_.ask, volume] {
      ChildAnswer answer;
      if (const std::optional<survey::FsStats> stats = ask(volume)) answer = {true, *stats};
      return answer;
    };
  }
  // A mount still stuck from before gets no second child: it fails at once.
  return children_.Start(MountKey(volume), call);
}

void DriveQuery::BeginSurvey() {
  std::lock_guard lock(mutex_);
  if (waiting_) return;
  Look();
  children_.AbandonAll();  // questions of an earlier survey that were never asked
  surveyDeadline_ = std::chrono::steady_clock::now() + deadline_;
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const std::optional<Volume>& volume = (*map_)[slot - 1];
    begun_[slot - 1] = true;
    asking_[slot - 1] = volume && roots_[slot - 1] < 0 && Start(*volume);
  }
}

std::optional<survey::FsStats> DriveQuery::Ask(int slot, bool inSurvey) {
  const std::optional<Volume> volume = (*map_)[slot - 1];
  if (!volume) return std::nullopt;
  int& root = roots_[slot - 1];
  if (volume->local && root >= 0) {
    HoldRoots();
    return calls_.stat(*volume, root);
  }
  auto deadline = surveyDeadline_;
  bool asking = asking_[slot - 1];
  if (!inSurvey) {
    deadline = std::chrono::steady_clock::now() + deadline_;
    asking = Start(*volume);
  }
  if (!asking) return std::nullopt;
  waiting_ = true;
  ChildAnswer answer = children_.Collect(MountKey(*volume), deadline);
  waiting_ = false;
  if (!answer.ok) return std::nullopt;
  if (!volume->local) return answer.stats;
  if (answer.fd < 0) return std::nullopt;
  root = answer.fd;
  HoldRoots();
  return calls_.stat(*volume, root);
}

std::int32_t DriveQuery::Query(const char* rootPath, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& freeClusters,
                               std::int32_t& totalClusters) {
  const int slot = SlotOfRootPath(rootPath);
  if (slot == 0) return 0;
  std::optional<survey::FsStats> stats;
  {
    std::lock_guard lock(mutex_);
    if (waiting_) return 0;
    const bool inSurvey = begun_[slot - 1];
    begun_[slot - 1] = false;
    if (!inSurvey) Look();
    stats = Ask(slot, inSurvey);
    // From the survey's last question on, the roots are held for a while.
    if (releaser_.joinable() &&
        std::none_of(begun_.begin(), begun_.end(), [](bool b) { return b; }))
      wake_.notify_all();
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
  if (!map_) {
    map_ = source_.read().value_or(BuildDriveMap(nullptr));
    DropRoots();
  }
  return *map_;
}

DriveQuery& SystemDriveQuery() {
  // Never destroyed: the program may end in the middle of a survey's wait,
  // where nothing may wait for the thread that lets go of the roots.
  static DriveQuery* const query = new DriveQuery(KernelMountTable());
  return *query;
}

}  // namespace drives
