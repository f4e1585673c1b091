// Windows drive letters explain themselves: no tooltip text.
#include "app/drives.h"

namespace app {

std::string DriveVolume(int) { return {}; }

}  // namespace app
