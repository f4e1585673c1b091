// The Windows free-space query: kernel32 through Module1, with network
// drives asked on threads of their own (drives/remote_win32.h). Windows
// drive letters explain themselves: no tooltip text.
#include <chrono>

#include "drives/module1.h"
#include "drives/remote_win32.h"
#include "drives/volumes.h"

namespace drives {

survey::FreeSpaceQuery PlatformQuery() {
  static RemoteDrives remote(SystemDriveKind, Module1::GetDiskFreeSpaceA, std::chrono::seconds(5));
  return {[] { remote.Begin(); },
          [](const std::string& root, std::int32_t& a, std::int32_t& b, std::int32_t& c,
             std::int32_t& d) { return remote.Ask(root, a, b, c, d); }};
}

std::string DriveVolume(int) { return {}; }

}  // namespace drives
