// Windows drive letters explain themselves: no tooltip text.
#include "drives/module1.h"
#include "drives/volumes.h"

namespace drives {

survey::FreeSpaceQuery PlatformQuery() { return Module1::GetDiskFreeSpaceA; }

std::string DriveVolume(int) { return {}; }

}  // namespace drives
