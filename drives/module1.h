// The program's one platform declaration: the free-space query the drive
// survey asks. Windows answers it with kernel32's GetDiskFreeSpaceA (bound on
// first call); Linux answers it from the mounted volumes.
#pragma once

#include <cstdint>
#include <string>

namespace Module1 {

// Root path "a:\" to "i:\" and the four counters by reference; non-zero on
// success. On failure the counters are left exactly as they came in. The
// survey asks it through drives::PlatformQuery, which begins each survey.
std::int32_t GetDiskFreeSpaceA(const std::string& rootPathName, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& numberOfFreeClusters,
                               std::int32_t& totalNumberOfClusters);

}  // namespace Module1
