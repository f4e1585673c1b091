// A scripted free-space query: answers for the drives it knows, fails for
// the rest, names the volumes it is told, and records every call with the
// counters it received.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "survey/survey.h"

namespace testing_survey {

// The slices in which the platforms' queries wait.
inline constexpr std::chrono::milliseconds kSlice{25};

struct ScriptedQuery {
  struct Call {
    char drive;  // 'a' to 'i'
    survey::FreeSpaceCounters received;
  };

  std::map<char, survey::FreeSpaceCounters> answers;  // by drive letter, 'a' to 'i'
  std::map<char, std::string> volumes;                // what stands behind a letter
  std::vector<Call> calls;
  // Runs at each call, before it answers, with the survey's whileWaiting.
  std::function<void(const survey::WhileWaiting&)> onCall;

  survey::FreeSpaceQuery Query() {
    return {[](const survey::WhileWaiting&) {},
            [this](int slot, survey::FreeSpaceCounters& counters,
                   const survey::WhileWaiting& whileWaiting) {
              const char drive = static_cast<char>('a' + slot - 1);
              calls.push_back({drive, counters});
              if (onCall) onCall(whileWaiting);
              survey::Answer answer{0, volumes.count(drive) ? volumes.at(drive) : ""};
              const auto it = answers.find(drive);
              if (it == answers.end()) return answer;
              counters = it->second;
              answer.result = 1;
              return answer;
            }};
  }
};

// A volume that answers after `length`, waited for in slices as the
// platforms' queries wait; `at` runs at the start of each slice with the
// time waited so far.
inline void SlowVolume(std::chrono::milliseconds length, const survey::WhileWaiting& whileWaiting,
                       const std::function<void(std::chrono::milliseconds)>& at) {
  using namespace std::chrono;
  const auto start = steady_clock::now();
  for (auto elapsed = 0ms; elapsed < length;
       elapsed = duration_cast<milliseconds>(steady_clock::now() - start)) {
    at(elapsed);
    std::this_thread::sleep_for(kSlice);
    if (whileWaiting) whileWaiting();
  }
}

}  // namespace testing_survey
