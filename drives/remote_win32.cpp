#include "drives/remote_win32.h"

#include <windows.h>

#include <algorithm>
#include <set>

namespace drives {
namespace {

// A critical section held for one scope.
class Lock {
 public:
  explicit Lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Lock() { LeaveCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace

// What the survey and its threads share.
struct RemoteDrives::Shared {
  Shared() { InitializeCriticalSection(&section); }
  ~Shared() { DeleteCriticalSection(&section); }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;

  CRITICAL_SECTION section;
  std::set<std::string> asking;  // network drives being asked, by letter and mapping
};

// One letter of one survey. `done` is set once the survey can go on: the
// kind is known and, for a network drive, its answer is in.
struct RemoteDrives::Job {
  Job() : done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Job() {
    if (done != nullptr) CloseHandle(done);
  }
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  HANDLE done;
  bool classified = false;  // under Shared::section, as the rest
  bool remote = false;
  std::int32_t result = 0;
  survey::FreeSpaceCounters counters;
};

namespace {

// What one thread gets: its own copies, since it may outlive the survey
// and the RemoteDrives object.
struct Work {
  std::shared_ptr<RemoteDrives::Job> job;
  std::shared_ptr<RemoteDrives::Shared> shared;
  std::string root;
  RemoteDrives::KindOf kindOf;
  survey::RootPathCall ask;
};

}  // namespace

RemoteDrives::RemoteDrives(KindOf kindOf, survey::RootPathCall ask,
                           std::chrono::milliseconds deadline)
    : kindOf_(std::move(kindOf)),
      ask_(std::move(ask)),
      deadline_(deadline),
      shared_(std::make_shared<Shared>()) {}

namespace {

DWORD WINAPI Classify(void* parameter) {
  const std::unique_ptr<Work> work(static_cast<Work*>(parameter));
  RemoteDrives::Job& job = *work->job;
  RemoteDrives::Shared& shared = *work->shared;
  RemoteDrives::Kind kind;
  try {
    kind = work->kindOf(work->root);
  } catch (...) {
    kind = {true, {}};  // unknown: asked here, under the deadline
  }
  const std::string key = work->root + " " + kind.mapping;
  {
    Lock lock(shared.section);
    job.classified = true;
    job.remote = kind.remote;
    // A local drive is asked by the survey; a network drive still stuck
    // from before fails at once rather than stack up threads.
    if (!kind.remote || !shared.asking.insert(key).second) {
      SetEvent(job.done);
      return 0;
    }
  }
  survey::FreeSpaceCounters counters;
  std::int32_t result = 0;
  try {
    result = work->ask(work->root, counters.sectorsPerCluster, counters.bytesPerSector,
                       counters.freeClusters, counters.totalClusters);
  } catch (...) {
    result = 0;
  }
  Lock lock(shared.section);
  shared.asking.erase(key);
  job.result = result;
  job.counters = counters;
  SetEvent(job.done);
  return 0;
}

}  // namespace

void RemoteDrives::Begin() {
  surveyDeadline_ = std::chrono::steady_clock::now() + deadline_;
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    begun_[slot - 1] = true;
    jobs_[slot - 1].reset();
    std::shared_ptr<Job>& last = lastJobs_[slot - 1];
    {
      Lock lock(shared_->section);
      if (last && !last->classified) continue;  // its kind still hangs: fails at once
    }
    auto job = std::make_shared<Job>();
    if (job->done == nullptr) continue;  // no event to be had: the drive fails rather than blocks
    auto work = std::make_unique<Work>(
        Work{job, shared_, std::string(survey::kDriveTable[slot - 1].rootPath), kindOf_, ask_});
    const HANDLE thread = CreateThread(nullptr, 0, Classify, work.get(), 0, nullptr);
    if (thread == nullptr) continue;  // no thread: the drive fails rather than blocks
    work.release();                   // the thread's now
    CloseHandle(thread);
    last = job;
    jobs_[slot - 1] = job;
  }
}

survey::Answer RemoteDrives::Ask(int slot, survey::FreeSpaceCounters& counters,
                                 const survey::WhileWaiting& whileWaiting) {
  if (slot < 1 || slot > survey::kDrives) return {};
  const std::string root(survey::kDriveTable[slot - 1].rootPath);
  const auto askHere = [&] {
    return survey::Answer{ask_(root, counters.sectorsPerCluster, counters.bytesPerSector,
                               counters.freeClusters, counters.totalClusters),
                          {}};
  };
  if (!begun_[slot - 1]) return askHere();
  begun_[slot - 1] = false;
  const std::shared_ptr<Job> job = std::move(jobs_[slot - 1]);
  if (!job) return {};
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        surveyDeadline_ - std::chrono::steady_clock::now());
    const DWORD slice = static_cast<DWORD>(std::clamp<long long>(left.count(), 0, 25));
    if (WaitForSingleObject(job->done, slice) == WAIT_OBJECT_0) break;
    if (left.count() <= 25) return {};  // the deadline has passed
    if (whileWaiting) whileWaiting();
  }
  bool remote = false;
  {
    Lock lock(shared_->section);
    remote = job->remote;
    if (remote && job->result != 0) counters = job->counters;
  }
  if (!remote) return askHere();
  return {job->result, {}};
}

survey::FreeSpaceQuery RemoteDrives::AsSurveyQuery() {
  return {[this](const survey::WhileWaiting&) { Begin(); },
          [this](int slot, survey::FreeSpaceCounters& counters,
                 const survey::WhileWaiting& whileWaiting) {
            return Ask(slot, counters, whileWaiting);
          }};
}

RemoteDrives::Kind SystemDriveKind(const std::string& rootPath) {
  if (GetDriveTypeA(rootPath.c_str()) != DRIVE_REMOTE) return {};
  char target[1024] = {};
  const std::string device = rootPath.substr(0, 2);  // "z:"
  if (QueryDosDeviceA(device.c_str(), target, sizeof target) == 0) return {true, {}};
  return {true, target};
}

}  // namespace drives
