// The Windows free-space call the drive survey asks: kernel32's
// GetDiskFreeSpaceA, bound on first call. (Linux answers from the mounted
// volumes, drives/drivemap_posix.h.)
#pragma once

#include <cstdint>
#include <string>

namespace Module1 {

// Root path "a:\" to "i:\" and the four counters by reference; non-zero on
// success. On failure the counters are left exactly as they came in. The
// survey asks it through drives::PlatformQuery (drives/volumes_win32.cpp).
std::int32_t GetDiskFreeSpaceA(const std::string& rootPathName, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& numberOfFreeClusters,
                               std::int32_t& totalNumberOfClusters);

}  // namespace Module1
