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

// Octal escapes, as findmnt writes them, for what would make a description
// ambiguous or unsafe to print: a backslash, an opening parenthesis, and
// every control character (C0 and DEL).
std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '(' || byte < 0x20 || byte == 0x7f) {
      const char octal[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                            static_cast<char>('0' + ((byte >> 3) & 7)),
                            static_cast<char>('0' + (byte & 7))};
      out.append(octal, sizeof octal);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

DriveMap BuildDriveMap(libmnt_table* table) {
  DriveMap map;
  map[kSlotC - 1].emplace().target =
      std::string(1, '/');  // of unknown make, until the table names it
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
  if (volume->source.empty()) return Escaped(volume->target);
  return Escaped(volume->target) + " (" + Escaped(volume->source) + ")";
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

}  // namespace drives
