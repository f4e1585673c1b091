#include "drives/volume_calls_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace drives {
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

}  // namespace drives
