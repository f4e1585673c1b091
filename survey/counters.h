// The four 32-bit free-space counters made from a volume's true sizes, for
// the platforms whose own numbers are wider: Linux (statfs) and Windows
// (GetDiskFreeSpaceExA, for volumes beyond 2^31 clusters). Pure and
// platform-free.
#pragma once

#include <cstdint>
#include <optional>

#include "survey/survey.h"

namespace survey {

// A volume's sizes in allocation units (statfs's f_frsize, f_blocks, f_bavail).
struct FsStats {
  std::uint64_t fragmentSize = 0;     // f_frsize
  std::uint64_t blocks = 0;           // f_blocks
  std::uint64_t blocksAvailable = 0;  // f_bavail: free to an unprivileged user
};

// Sectors of 512 bytes where the fragment size allows, else one sector of
// the fragment size per cluster. Counts too large for 32 bits are halved
// while the clusters grow, so the size stays true to within one cluster.
// nullopt where no 32-bit counters can describe the volume.
std::optional<survey::FreeSpaceCounters> CountersFromStats(const FsStats& stats);

// Windows: `reported` as GetDiskFreeSpaceA gave it (cluster counts cut to
// 32 bits on big volumes) and the volume's true byte counts. Volumes whose
// true cluster counts fit a signed 32-bit integer keep the reported
// counters; bigger ones get CountersFromStats' scaled ones. nullopt where
// the reported cluster size is not positive or nothing can describe the
// volume.
std::optional<survey::FreeSpaceCounters> FitCounters(const survey::FreeSpaceCounters& reported,
                                                     std::uint64_t totalBytes,
                                                     std::uint64_t availableBytes);

}  // namespace survey
