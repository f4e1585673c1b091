// Linux answers the drive letters from the mounted volumes: see
// drives/drivemap_posix.h for which volume gets which letter.
#include "drives/drivemap_posix.h"
#include "drives/module1.h"

namespace Module1 {

std::int32_t GetDiskFreeSpaceA(const std::string& rootPathName, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& numberOfFreeClusters,
                               std::int32_t& totalNumberOfClusters) {
  return drives::SystemDriveQuery().Query(rootPathName.c_str(), sectorsPerCluster, bytesPerSector,
                                          numberOfFreeClusters, totalNumberOfClusters);
}

}  // namespace Module1
