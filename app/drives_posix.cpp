#include "app/drivemap_posix.h"
#include "app/drives.h"

namespace app {

std::string DriveVolume(int slot) { return DescribeSlot(SystemDriveQuery().Map(), slot); }

}  // namespace app
