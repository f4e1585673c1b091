// Linux answers the drive letters from the mounted volumes: see
// app/drivemap_posix.h for which volume gets which letter.
#include "app/drivemap_posix.h"
#include "app/module1.h"

namespace Module1 {

std::int32_t GetDiskFreeSpaceA(const char* rootPathName, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& numberOfFreeClusters,
                               std::int32_t& totalNumberOfClusters) {
  return app::SystemDriveQuery().Query(rootPathName, sectorsPerCluster, bytesPerSector,
                                       numberOfFreeClusters, totalNumberOfClusters);
}

}  // namespace Module1
