// Network drives (GetDriveTypeA = DRIVE_REMOTE) may not answer for a long
// time when their server has gone away, and under Wine even the question of
// a drive's kind touches the volume. So every letter is classified on a
// thread of its own as the survey begins, and a network drive is asked there
// too; the survey waits for them together until one deadline, in slices that
// let the window paint. Local drives are asked on the caller's thread once
// their kind is known. A letter still stuck from an earlier survey fails at
// once. Ending the process ends the threads with it: the redirector's waits
// give way to the process's end, unlike Linux kernel waits, so no child
// process is needed here. Plain Win32 threads, events and a critical
// section: the C++ thread library would import functions that Windows XP
// lacks.
#pragma once

#include <array>
#include <chrono>
#include <functional>
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

  RemoteDrives(KindOf kindOf, survey::RootPathCall ask, std::chrono::milliseconds deadline);

  // survey::FreeSpaceQuery's begin and ask. A slot asked outside a begun
  // survey is asked at once, on the caller's thread.
  void Begin();
  survey::Answer Ask(int slot, survey::FreeSpaceCounters& counters,
                     const survey::WhileWaiting& whileWaiting);

  // This query as the survey takes it.
  survey::FreeSpaceQuery AsSurveyQuery();

  // What the survey shares with its threads, and one letter's question
  // (remote_win32.cpp).
  struct Shared;
  struct Job;

 private:
  KindOf kindOf_;
  survey::RootPathCall ask_;
  std::chrono::milliseconds deadline_;
  std::chrono::steady_clock::time_point surveyDeadline_;
  std::shared_ptr<Shared> shared_;  // with the threads, which may outlive this object
  // Per slot: whether the survey begun asks it, the job to wait for (none:
  // it fails), and the letter's last job, which may still be classifying.
  std::array<bool, survey::kDrives> begun_{};
  std::array<std::shared_ptr<Job>, survey::kDrives> jobs_{};
  std::array<std::shared_ptr<Job>, survey::kDrives> lastJobs_{};
};

// The drive kinds as kernel32 tells them.
RemoteDrives::Kind SystemDriveKind(const std::string& rootPath);

}  // namespace drives
