// Linux answers the drive letters from the mounted volumes: see
// drives/drivemap_posix.h for which volume gets which letter.
#include "drives/drivemap_posix.h"
#include "drives/volumes.h"

namespace drives {

survey::FreeSpaceQuery PlatformQuery() {
  return {[] { SystemDriveQuery().BeginSurvey(); },
          [](const std::string& root, std::int32_t& sectorsPerCluster, std::int32_t& bytesPerSector,
             std::int32_t& freeClusters, std::int32_t& totalClusters) {
            return SystemDriveQuery().Query(root.c_str(), sectorsPerCluster, bytesPerSector,
                                            freeClusters, totalClusters);
          }};
}

std::string DriveVolume(int slot) { return DescribeSlot(SystemDriveQuery().Map(), slot); }

}  // namespace drives
