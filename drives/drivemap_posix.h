// The Linux drive letters: which mounted volume answers for A: to I:, read
// from the kernel's mount table through libmount, and how a letter's volume
// is described. Pure over its inputs (a libmount table, a table's text or
// file), so it can be driven from fixtures as well as from the live system.
#pragma once

#include <sys/types.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "survey/survey.h"

struct libmnt_table;

namespace drives {

// The volume behind one drive letter.
struct Volume {
  std::string target;  // mount point, escapes decoded
  std::string source;  // "/dev/sdb1", "server:/export"; may be empty
  std::string fstype;
  dev_t device = 0;
  int mountId = 0;  // the kernel's id of this mount; 0 where the table has none
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

// "/media/usb (/dev/sdb1)", or "No volume has the letter D:". In the mount
// point and the source, a backslash, an opening parenthesis and every
// control character are written in octal as findmnt writes them ("\134",
// "\050", "\012"), so the source's parentheses are the only ones, and the
// text is safe on a terminal and on one line.
std::string DescribeSlot(const DriveMap& map, int slot);

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

}  // namespace drives
