// The platform's free-space query, and what stands behind each drive letter
// for the report window's tooltips.
#pragma once

#include <string>

#include "survey/survey.h"

namespace drives {

// The survey's free-space query on this platform, begun so that slow
// volumes are asked side by side: kernel32's GetDiskFreeSpaceA through
// Module1 on Windows, the drive map of the mounted volumes on Linux.
survey::FreeSpaceQuery PlatformQuery();

// The volume behind slot 1 (A:) to 9 (I:) as of the most recent read of the
// drive map, e.g. "/media/usb (/dev/sdb1)", or "No volume has the letter D:".
// Empty where the platform has nothing to add (Windows).
std::string DriveVolume(int slot);

}  // namespace drives
