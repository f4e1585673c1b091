#include "drives/drivemap_posix.h"
#include "drives/module1.h"
#include "drives/volumes.h"

namespace drives {

survey::FreeSpaceQuery PlatformQuery() {
  return {[] { SystemDriveQuery().BeginSurvey(); }, Module1::GetDiskFreeSpaceA};
}

std::string DriveVolume(int slot) { return DescribeSlot(SystemDriveQuery().Map(), slot); }

}  // namespace drives
