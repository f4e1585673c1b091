// Runs calls that may block for ever (statfs of a share whose server went
// away, of a FUSE daemon that hangs, a path walked through either) in child
// processes. A thread stuck in the kernel keeps its whole process alive,
// even through SIGKILL; a child does not: the program ends whenever it
// likes and leaves the child behind. While a call is stuck, further calls
// with the same key fail at once.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "survey/counters.h"

namespace drives {

// What a call in a child hands back: figures, and a descriptor the child
// opened (passed over a socket), which the receiver then owns.
struct ChildAnswer {
  bool ok = false;
  survey::FsStats stats{};
  int fd = -1;
};

class ChildCalls {
 public:
  using Clock = std::chrono::steady_clock;
  using Call = std::function<ChildAnswer()>;

  ChildCalls() = default;
  ChildCalls(const ChildCalls&) = delete;
  ChildCalls& operator=(const ChildCalls&) = delete;
  // Never waits for a child: one that is stuck is left to finish alone.
  ~ChildCalls();

  // Starts `call` in a child of its own under `key`. False, starting
  // nothing, while an earlier call with `key` is still running, or where
  // no child can be had. `call` runs in a copy of this process forked from
  // a threaded one: it must keep to async-signal-safe functions.
  bool Start(const std::string& key, const Call& call);

  // The answer of the call started under `key`, waiting for it until
  // `deadline` at the latest, in slices of drives::kWaitSlice with
  // drives::WhileWaiting() between them; not ok if the call failed, did not
  // answer in time or was never started. A call that did not answer keeps
  // its key busy until its child ends.
  ChildAnswer Collect(const std::string& key, Clock::time_point deadline);

  // Whether a call with `key` is running (stuck or not yet collected).
  bool Busy(const std::string& key);

  // Gives up on the answers not collected so far: their keys stay busy
  // while their children run, and are free once they end.
  void AbandonAll();

 private:
  struct Child {
    pid_t pid = -1;
    int answer = -1;  // this end of the socket the child answers on
    bool abandoned = false;
  };
  // Hands the child's exit to a thread of its own, so that it is reaped the
  // moment it ends, not at the next survey; its key stays busy until then.
  static void Abandon(Child& child);
  // Drops the abandoned children that have answered or ended.
  void Reap();

  std::map<std::string, Child> children_;
};

}  // namespace drives
