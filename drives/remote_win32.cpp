#include "drives/remote_win32.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "drives/waiting.h"

namespace drives {

// What the survey and its threads share.
struct RemoteDrives::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::set<std::string> asking;  // network drives being asked, by letter and mapping
};

// One letter of one survey.
struct RemoteDrives::Job {
  bool classified = false;
  bool remote = false;
  bool answered = false;
  std::int32_t result = 0;
  survey::FreeSpaceCounters counters;
};

RemoteDrives::RemoteDrives(KindOf kindOf, survey::FreeSpaceCall ask,
                           std::chrono::milliseconds deadline)
    : kindOf_(std::move(kindOf)),
      ask_(std::move(ask)),
      deadline_(deadline),
      shared_(std::make_shared<Shared>()) {}

namespace {

int SlotOf(const std::string& rootPath) {
  for (int slot = 1; slot <= survey::kDrives; ++slot)
    if (survey::kDriveTable[slot - 1].rootPath == rootPath) return slot;
  return 0;
}

}  // namespace

void RemoteDrives::Begin() {
  surveyDeadline_ = std::chrono::steady_clock::now() + deadline_;
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const std::string root(survey::kDriveTable[slot - 1].rootPath);
    begun_[slot - 1] = true;
    jobs_[slot - 1].reset();
    std::shared_ptr<Job>& last = lastJobs_[slot - 1];
    {
      std::lock_guard lock(shared_->mutex);
      if (last && !last->classified) continue;  // its kind still hangs: fails at once
    }
    auto job = std::make_shared<Job>();
    try {
      // The thread has its own copies: it may outlive this survey and this object.
      std::thread([job, root, kindOf = kindOf_, ask = ask_, shared = shared_] {
        Kind kind;
        try {
          kind = kindOf(root);
        } catch (...) {
          kind = {true, {}};  // unknown: asked on this thread, under the deadline
        }
        const std::string key = root + " " + kind.mapping;
        {
          std::lock_guard lock(shared->mutex);
          job->classified = true;
          job->remote = kind.remote;
          // A local drive is asked by the survey; a network drive still
          // stuck from before fails at once rather than stack up threads.
          const bool stuck = kind.remote && !shared->asking.insert(key).second;
          job->answered = kind.remote && stuck;
          shared->changed.notify_all();
          if (!kind.remote || stuck) return;
        }
        survey::FreeSpaceCounters counters;
        std::int32_t result = 0;
        try {
          result = ask(root, counters.sectorsPerCluster, counters.bytesPerSector,
                       counters.freeClusters, counters.totalClusters);
        } catch (...) {
          result = 0;
        }
        std::lock_guard lock(shared->mutex);
        shared->asking.erase(key);
        job->result = result;
        job->counters = counters;
        job->answered = true;
        shared->changed.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      continue;  // no thread to be had: the drive fails rather than blocks
    }
    last = job;
    jobs_[slot - 1] = job;
  }
}

std::int32_t RemoteDrives::Ask(const std::string& rootPath, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& freeClusters,
                               std::int32_t& totalClusters) {
  const int slot = SlotOf(rootPath);
  if (slot == 0 || !begun_[slot - 1])
    return ask_(rootPath, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
  begun_[slot - 1] = false;
  const std::shared_ptr<Job> job = std::move(jobs_[slot - 1]);
  if (!job) return 0;
  std::unique_lock lock(shared_->mutex);
  const auto ready = [&job] { return job->classified && (!job->remote || job->answered); };
  while (!ready()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= surveyDeadline_) return 0;
    shared_->changed.wait_until(lock, std::min(now + kWaitSlice, surveyDeadline_));
    if (ready()) break;
    lock.unlock();
    WhileWaiting();
    lock.lock();
  }
  if (!job->remote) {
    lock.unlock();
    return ask_(rootPath, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
  }
  if (job->result == 0) return 0;
  sectorsPerCluster = job->counters.sectorsPerCluster;
  bytesPerSector = job->counters.bytesPerSector;
  freeClusters = job->counters.freeClusters;
  totalClusters = job->counters.totalClusters;
  return job->result;
}

RemoteDrives::Kind SystemDriveKind(const std::string& rootPath) {
  if (GetDriveTypeA(rootPath.c_str()) != DRIVE_REMOTE) return {};
  char target[1024] = {};
  const std::string device = rootPath.substr(0, 2);  // "z:"
  if (QueryDosDeviceA(device.c_str(), target, sizeof target) == 0) return {true, {}};
  return {true, target};
}

}  // namespace drives
