// Network drives (GetDriveTypeA = DRIVE_REMOTE) may not answer for a long
// time when their server has gone away. Their questions run on threads of
// their own, all started as the survey begins, and the survey waits for them
// together until one deadline. A drive still stuck from an earlier survey
// fails at once. Ending the process ends the threads with it: the
// redirector's waits give way to the process's end, unlike Linux kernel
// waits, so no child process is needed here.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "survey/survey.h"

namespace drives {

class RemoteDrives {
 public:
  // Whether the drive at a root path is a network drive, and what it stands
  // for ("\Device\LanmanRedirector\;Z:...\server\share"): a new mapping of
  // the letter is another drive.
  struct Kind {
    bool remote = false;
    std::string mapping;
  };
  using KindOf = std::function<Kind(const std::string& rootPath)>;

  RemoteDrives(KindOf kindOf, survey::FreeSpaceCall ask, std::chrono::milliseconds deadline);

  // survey::FreeSpaceQuery's begin and ask.
  void Begin();
  std::int32_t Ask(const std::string& rootPath, std::int32_t& sectorsPerCluster,
                   std::int32_t& bytesPerSector, std::int32_t& freeClusters,
                   std::int32_t& totalClusters);

 private:
  struct Answer;
  KindOf kindOf_;
  survey::FreeSpaceCall ask_;
  std::chrono::milliseconds deadline_;
  std::chrono::steady_clock::time_point surveyDeadline_;
  std::map<std::string, std::shared_ptr<Answer>> running_;  // by letter and mapping
  // Per slot of the survey begun: nothing (asked here), or the answer to wait for.
  std::array<bool, survey::kDrives> begun_{};
  std::array<std::shared_ptr<Answer>, survey::kDrives> answers_{};
};

// The drive kinds as kernel32 tells them.
RemoteDrives::Kind SystemDriveKind(const std::string& rootPath);

}  // namespace drives
