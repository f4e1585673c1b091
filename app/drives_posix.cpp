#include "app/drivemap_posix.h"
#include "app/drives.h"
#include "app/module1.h"

namespace app {

report::FreeSpaceQuery PlatformQuery() {
  return {[] { SystemDriveQuery().BeginSurvey(); },
          [](const std::string& root, std::int32_t& a, std::int32_t& b, std::int32_t& c,
             std::int32_t& d) { return Module1::GetDiskFreeSpaceA(root.c_str(), a, b, c, d); }};
}

std::string DriveVolume(int slot) { return DescribeSlot(SystemDriveQuery().Map(), slot); }

}  // namespace app
