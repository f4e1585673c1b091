// Windows drive letters explain themselves: no tooltip text.
#include "drives/volumes.h"

namespace drives {

std::string DriveVolume(int) { return {}; }

}  // namespace drives
