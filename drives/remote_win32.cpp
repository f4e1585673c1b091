#include "drives/remote_win32.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace drives {

struct RemoteDrives::Answer {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::int32_t result = 0;
  survey::FreeSpaceCounters counters;
};

RemoteDrives::RemoteDrives(KindOf kindOf, survey::FreeSpaceCall ask,
                           std::chrono::milliseconds deadline)
    : kindOf_(std::move(kindOf)), ask_(std::move(ask)), deadline_(deadline) {}

namespace {

int SlotOf(const std::string& rootPath) {
  for (int slot = 1; slot <= survey::kDrives; ++slot)
    if (survey::kDriveTable[slot - 1].rootPath == rootPath) return slot;
  return 0;
}

}  // namespace

void RemoteDrives::Begin() {
  surveyDeadline_ = std::chrono::steady_clock::now() + deadline_;
  // Drives that have answered since are free to be asked again.
  std::erase_if(running_, [](const auto& entry) {
    std::lock_guard lock(entry.second->mutex);
    return entry.second->finished;
  });
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const std::string root(survey::kDriveTable[slot - 1].rootPath);
    answers_[slot - 1].reset();
    const Kind kind = kindOf_(root);
    begun_[slot - 1] = kind.remote;
    if (!kind.remote) continue;
    const std::string key = root + " " + kind.mapping;
    if (running_.count(key) != 0) continue;  // still stuck from before: fails at once
    auto answer = std::make_shared<Answer>();
    try {
      // The thread has its own copies: it may outlive this survey and this object.
      std::thread([answer, root, ask = ask_] {
        survey::FreeSpaceCounters counters;
        std::int32_t result = 0;
        try {
          result = ask(root, counters.sectorsPerCluster, counters.bytesPerSector,
                       counters.freeClusters, counters.totalClusters);
        } catch (...) {
          result = 0;
        }
        std::lock_guard lock(answer->mutex);
        answer->result = result;
        answer->counters = counters;
        answer->finished = true;
        answer->done.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      continue;  // no thread to be had: the drive fails rather than blocks
    }
    running_[key] = answer;
    answers_[slot - 1] = answer;
  }
}

std::int32_t RemoteDrives::Ask(const std::string& rootPath, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& freeClusters,
                               std::int32_t& totalClusters) {
  const int slot = SlotOf(rootPath);
  if (slot == 0 || !begun_[slot - 1])
    return ask_(rootPath, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
  begun_[slot - 1] = false;
  const std::shared_ptr<Answer> answer = std::move(answers_[slot - 1]);
  if (!answer) return 0;
  std::unique_lock lock(answer->mutex);
  if (!answer->done.wait_until(lock, surveyDeadline_, [&] { return answer->finished; })) return 0;
  if (answer->result == 0) return 0;
  sectorsPerCluster = answer->counters.sectorsPerCluster;
  bytesPerSector = answer->counters.bytesPerSector;
  freeClusters = answer->counters.freeClusters;
  totalClusters = answer->counters.totalClusters;
  return answer->result;
}

RemoteDrives::Kind SystemDriveKind(const std::string& rootPath) {
  if (GetDriveTypeA(rootPath.c_str()) != DRIVE_REMOTE) return {};
  char target[1024] = {};
  const std::string device = rootPath.substr(0, 2);  // "z:"
  if (QueryDosDeviceA(device.c_str(), target, sizeof target) == 0) return {true, {}};
  return {true, target};
}

}  // namespace drives
