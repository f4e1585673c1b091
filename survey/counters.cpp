#include "survey/counters.h"

#include <limits>

namespace survey {

std::optional<survey::FreeSpaceCounters> CountersFromStats(const FsStats& stats) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::uint64_t kSector = 512;
  if (stats.fragmentSize == 0) return std::nullopt;
  std::uint64_t bytesPerSector = kSector;
  std::uint64_t sectorsPerCluster = stats.fragmentSize / kSector;
  if (stats.fragmentSize % kSector != 0) {
    bytesPerSector = stats.fragmentSize;
    sectorsPerCluster = 1;
  }
  std::uint64_t freeClusters = stats.blocksAvailable;
  std::uint64_t totalClusters = stats.blocks;
  while (freeClusters > kMax || totalClusters > kMax) {
    freeClusters >>= 1;
    totalClusters >>= 1;
    sectorsPerCluster <<= 1;  // at most 2^32 here, no overflow in 64 bits
    if (sectorsPerCluster > kMax) return std::nullopt;
  }
  if (bytesPerSector > kMax || sectorsPerCluster > kMax) return std::nullopt;
  return survey::FreeSpaceCounters{
      static_cast<std::int32_t>(sectorsPerCluster), static_cast<std::int32_t>(bytesPerSector),
      static_cast<std::int32_t>(freeClusters), static_cast<std::int32_t>(totalClusters)};
}

std::optional<survey::FreeSpaceCounters> FitCounters(const survey::FreeSpaceCounters& reported,
                                                     std::uint64_t totalBytes,
                                                     std::uint64_t availableBytes) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
  if (reported.sectorsPerCluster <= 0 || reported.bytesPerSector <= 0) return std::nullopt;
  const std::uint64_t cluster = static_cast<std::uint64_t>(reported.sectorsPerCluster) *
                                static_cast<std::uint64_t>(reported.bytesPerSector);
  const std::uint64_t total = totalBytes / cluster;
  const std::uint64_t available = availableBytes / cluster;
  if (total <= kMax && available <= kMax) return reported;
  return CountersFromStats({cluster, total, available});
}

}  // namespace survey
