// Placeholder until the drive map lands: every letter fails, which the survey
// shows as "n/a".
#include "app/module1.h"

namespace Module1 {

std::int32_t GetDiskFreeSpaceA(const char*, std::int32_t&, std::int32_t&, std::int32_t&,
                               std::int32_t&) {
  return 0;
}

}  // namespace Module1
