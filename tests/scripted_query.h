// A scripted free-space query: answers for the drives it knows, fails for
// the rest, and records every call with the counters it received.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "drives/waiting.h"
#include "survey/survey.h"

namespace testing_survey {

struct ScriptedQuery {
  struct Call {
    std::string rootPath;
    survey::FreeSpaceCounters received;
  };

  std::map<char, survey::FreeSpaceCounters> answers;  // by drive letter, 'a' to 'i'
  std::vector<Call> calls;
  std::function<void()> onCall;  // runs at each call, before it answers

  survey::FreeSpaceQuery Query() {
    return [this](const std::string& root, std::int32_t& spc, std::int32_t& bps, std::int32_t& nfc,
                  std::int32_t& tnc) -> std::int32_t {
      calls.push_back({root, {spc, bps, nfc, tnc}});
      if (onCall) onCall();
      const auto it = answers.find(root.front());
      if (it == answers.end()) return 0;
      spc = it->second.sectorsPerCluster;
      bps = it->second.bytesPerSector;
      nfc = it->second.freeClusters;
      tnc = it->second.totalClusters;
      return 1;
    };
  }
};

// A volume that answers after `length`, waited for in slices as the
// platform's queries wait; `at` runs at the start of each slice with the
// time waited so far.
inline void SlowVolume(std::chrono::milliseconds length,
                       const std::function<void(std::chrono::milliseconds)>& at) {
  using namespace std::chrono;
  const auto start = steady_clock::now();
  for (auto elapsed = 0ms; elapsed < length;
       elapsed = duration_cast<milliseconds>(steady_clock::now() - start)) {
    at(elapsed);
    std::this_thread::sleep_for(drives::kWaitSlice);
    drives::WhileWaiting();
  }
}

}  // namespace testing_survey
