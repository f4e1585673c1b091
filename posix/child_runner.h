// Runs calls that may block for ever (statfs of a share whose server went
// away, a path walked through a FUSE daemon that hangs) in child processes,
// under a deadline. A thread stuck in the kernel keeps its whole process
// alive, even through SIGKILL; a child does not: the program ends whenever
// it likes and leaves the child behind. While a call is stuck, further calls
// with the same key fail at once.
//
// The child holds nothing of the program's: every inherited descriptor but
// its answer pipe is closed before the call runs (no display connection, no
// other child's pipe), and it dies with the program where the kernel lets it.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <type_traits>

namespace posix {

// What the asking thread does between slices of a wait (the window repaints
// there); empty: nothing.
using WhileWaiting = std::function<void()>;

// The longest a wait goes without running its WhileWaiting.
inline constexpr std::chrono::milliseconds kWaitSlice{25};

class ChildRunner {
 public:
  using Clock = std::chrono::steady_clock;
  // A child's answer: a few bytes, copied back through its pipe.
  static constexpr std::size_t kAnswerSize = 64;
  using Bytes = std::array<unsigned char, kAnswerSize>;
  // Runs in the child: fills the answer and returns true, or returns false.
  // The child is a copy of a threaded process: system calls only, no
  // allocation, no locks.
  using Call = std::function<bool(Bytes& answer)>;

  ChildRunner() = default;
  ChildRunner(const ChildRunner&) = delete;
  ChildRunner& operator=(const ChildRunner&) = delete;
  // Never waits for a child: one that is stuck is left to finish alone.
  ~ChildRunner();

  // Starts `call` in a child of its own under `key`. False, starting
  // nothing, while an earlier call with `key` is still running, or where
  // no child can be had.
  bool Start(const std::string& key, const Call& call);

  // The answer of the call started under `key`, waited for until `deadline`
  // at the latest, in slices of kWaitSlice with `whileWaiting` between them;
  // nullopt if the call failed, did not answer in time or was never started.
  // A call that did not answer keeps its key busy until its child ends; its
  // child is reaped the moment it does.
  std::optional<Bytes> Collect(const std::string& key, Clock::time_point deadline,
                               const WhileWaiting& whileWaiting);

  // Whether a call with `key` is running (stuck, or not yet collected).
  bool Busy(const std::string& key);

  // Gives up on the answers not collected so far: their keys stay busy
  // while their children run.
  void AbandonAll();

  // Typed forms: a call that gives an optional trivially copyable value.
  template <class T, class F>
  bool StartFor(const std::string& key, F call) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= kAnswerSize);
    return Start(key, [call = std::move(call)](Bytes& answer) {
      const std::optional<T> value = call();
      if (value) std::memcpy(answer.data(), &*value, sizeof(T));
      return value.has_value();
    });
  }
  template <class T>
  std::optional<T> CollectFor(const std::string& key, Clock::time_point deadline,
                              const WhileWaiting& whileWaiting) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= kAnswerSize);
    const std::optional<Bytes> bytes = Collect(key, deadline, whileWaiting);
    if (!bytes) return std::nullopt;
    T value;
    std::memcpy(&value, bytes->data(), sizeof(T));
    return value;
  }

 private:
  struct Child {
    pid_t pid = -1;
    int answer = -1;  // read end of the child's pipe
    bool abandoned = false;
  };
  // Hands the child's exit to a thread of its own, so it is reaped the
  // moment it ends; its key stays busy until the pipe says so.
  static void Abandon(Child& child);
  // Drops the abandoned children that have answered or ended.
  void Reap();

  std::map<std::string, Child> children_;
};

}  // namespace posix
