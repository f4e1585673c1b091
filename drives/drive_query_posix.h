// The Linux free-space query over the drive map. Every volume is asked in a
// child of its own (posix::ChildRunner), all of a survey's at once under one
// deadline: the child walks the mount point, checks that it still leads to
// the lettered mount, asks it and closes it again. So no path walk runs on
// the asking thread, a volume that hangs holds neither the window nor the
// end of the program, and nothing of a volume stays open in the program
// once its question is answered.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>

#include "drives/drivemap_posix.h"
#include "posix/child_runner.h"
#include "survey/counters.h"
#include "survey/survey.h"

namespace drives {

// In a child: the figures of a volume (CheckedStat), scriptable for tests.
using AskVolume = std::function<std::optional<survey::FsStats>(const Volume& volume)>;

// How long one survey waits for its volumes.
inline constexpr std::chrono::milliseconds kSurveyDeadline{5000};

class DriveQuery {
 public:
  explicit DriveQuery(MountSource source, AskVolume ask = {},
                      std::chrono::milliseconds deadline = kSurveyDeadline);

  // survey::FreeSpaceQuery's begin: looks at the mount table once for the
  // whole survey and starts a child for each lettered volume, side by side
  // under one deadline. A mount still stuck from an earlier survey gets no
  // new child: it fails at once.
  void BeginSurvey();

  // survey::FreeSpaceQuery's ask, for slot 1 (A:) to 9 (I:): within a
  // survey it collects the child's answer by the survey's deadline; a
  // question on its own looks at the table first and waits a whole deadline
  // at most. Waits run in slices with `whileWaiting` between them; a
  // question asked from there fails at once. The answer names the volume
  // behind the letter (DescribeSlot) in every case.
  survey::Answer Ask(int slot, survey::FreeSpaceCounters& counters,
                     const posix::WhileWaiting& whileWaiting);

  // This query as the survey takes it.
  survey::FreeSpaceQuery AsSurveyQuery();

 private:
  void ReadMapIfChanged();
  bool Start(const Volume& volume);  // the volume's child; false where none was started

  MountSource source_;
  AskVolume ask_;
  std::chrono::milliseconds deadline_;
  posix::ChildRunner children_;
  std::optional<DriveMap> map_;
  bool waiting_ = false;  // a wait runs its whileWaiting
  // Slots begun by BeginSurvey and not yet asked, whether a child of this
  // survey asks each, and when the survey's wait ends.
  std::array<bool, survey::kDrives> begun_{};
  std::array<bool, survey::kDrives> asking_{};
  std::chrono::steady_clock::time_point surveyDeadline_;
};

// The query over this process's mounts: drives::PlatformQuery on Linux.
DriveQuery& SystemDriveQuery();

}  // namespace drives
