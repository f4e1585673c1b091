// The platform's free-space query.
#pragma once

#include "survey/survey.h"

namespace drives {

// The survey's free-space query on this platform, begun so that slow
// volumes are asked side by side: kernel32's GetDiskFreeSpaceA through
// Module1 on Windows, the drive map of the mounted volumes on Linux, whose
// answers also name the volume behind each letter.
survey::FreeSpaceQuery PlatformQuery();

}  // namespace drives
