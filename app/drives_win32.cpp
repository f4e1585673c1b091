// Windows drive letters explain themselves: no tooltip text.
#include "app/drives.h"
#include "app/module1.h"

namespace app {

report::FreeSpaceQuery PlatformQuery() {
  return [](const std::string& root, std::int32_t& a, std::int32_t& b, std::int32_t& c,
            std::int32_t& d) { return Module1::GetDiskFreeSpaceA(root.c_str(), a, b, c, d); };
}

std::string DriveVolume(int) { return {}; }

}  // namespace app
