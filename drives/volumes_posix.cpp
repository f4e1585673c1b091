// Linux answers the drive letters from the mounted volumes: see
// drives/drivemap_posix.h for which volume gets which letter.
#include "drives/drive_query_posix.h"
#include "drives/volumes.h"

namespace drives {

survey::FreeSpaceQuery PlatformQuery() { return SystemDriveQuery().AsSurveyQuery(); }

}  // namespace drives
