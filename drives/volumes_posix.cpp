#include "drives/drivemap_posix.h"
#include "drives/volumes.h"

namespace drives {

std::string DriveVolume(int slot) { return DescribeSlot(SystemDriveQuery().Map(), slot); }

}  // namespace drives
