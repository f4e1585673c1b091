// The calls the query makes on one volume, each in a child of the
// posix::ChildRunner: they walk the volume's mount point, which a hung
// share or FUSE daemon can hold for ever. System calls only.
#pragma once

#include <optional>
#include <string>

#include "drives/drivemap_posix.h"
#include "survey/counters.h"

namespace drives {

// A descriptor (O_PATH) of `volume`'s root if its mount point still leads
// to that very mount (an unmount, or a mount over it or over a parent since
// the table was read, makes it lead elsewhere); -1 otherwise.
int OpenCheckedRoot(const Volume& volume);

// The figures of the volume whose root `root` is (OpenCheckedRoot's). No
// path is walked.
std::optional<survey::FsStats> StatOfRoot(int root);

// The figures of `volume` if its mount point still leads to it: its root
// opened, checked, asked and closed again, so nothing of it stays open
// once the question is answered.
std::optional<survey::FsStats> CheckedStat(const Volume& volume);

// Which mount a question about `volume` is about, to know it again while a
// call is stuck on it: the mount's id and device, or its mount point where
// the table gives neither.
std::string MountKey(const Volume& volume);

}  // namespace drives
