// The Windows free-space query: kernel32 through Module1, with network
// drives asked on threads of their own (drives/remote_win32.h). Windows
// drive letters explain themselves: the answers name no volume.
#include <chrono>

#include "drives/module1.h"
#include "drives/remote_win32.h"
#include "drives/volumes.h"

namespace drives {

survey::FreeSpaceQuery PlatformQuery() {
  static RemoteDrives remote(SystemDriveKind, Module1::GetDiskFreeSpaceA, std::chrono::seconds(5));
  return remote.AsSurveyQuery();
}

}  // namespace drives
