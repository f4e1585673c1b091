#include "drives/child_calls_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <type_traits>

namespace drives {
namespace {

// What a child writes back: one record, well under PIPE_BUF, so it arrives
// whole or not at all.
struct Answer {
  bool ok = false;
  survey::FsStats stats;
};
static_assert(std::is_trivially_copyable_v<Answer> && sizeof(Answer) <= PIPE_BUF);

constexpr int kAnswerFd = 3;

// The child's whole life: system calls only, then _exit without running
// any of the parent's exit handlers.
[[noreturn]] void RunChild(int answerFd, pid_t parent, const ChildCalls::Call& call) {
  // Ending with the program where the kernel lets it; a stuck call ends
  // it later, as soon as the call returns.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(1);
  // Holding none of the parent's descriptors: a stuck child must not keep
  // its display connection, its other children's pipes or anything else open.
  if (answerFd != kAnswerFd && ::dup2(answerFd, kAnswerFd) != kAnswerFd) ::_exit(1);
  ::close_range(kAnswerFd + 1, ~0U, 0);
  Answer answer;
  if (const std::optional<survey::FsStats> stats = call()) answer = {true, *stats};
  ssize_t written = 0;
  do {
    written = ::write(kAnswerFd, &answer, sizeof answer);
  } while (written < 0 && errno == EINTR);
  ::_exit(0);
}

int MillisecondsUntil(ChildCalls::Clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - ChildCalls::Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

}  // namespace

ChildCalls::~ChildCalls() {
  Reap();
  for (const auto& entry : children_) ::close(entry.second.answer);
}

void ChildCalls::Forget(const Child& child) {
  ::close(child.answer);
  // The child has written or died; waiting for its exit is a matter of moments.
  while (::waitpid(child.pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void ChildCalls::Reap() {
  for (auto it = children_.begin(); it != children_.end();) {
    pollfd entry{it->second.answer, POLLIN, 0};
    if (it->second.abandoned && ::poll(&entry, 1, 0) > 0) {  // an answer, or the end of the pipe
      Forget(it->second);
      it = children_.erase(it);
    } else {
      ++it;
    }
  }
}

bool ChildCalls::Busy(const std::string& key) {
  Reap();
  return children_.count(key) != 0;
}

void ChildCalls::AbandonAll() {
  for (auto& entry : children_) entry.second.abandoned = true;
  Reap();
}

bool ChildCalls::Start(const std::string& key, const Call& call) {
  if (Busy(key)) return false;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) RunChild(ends[1], parent, call);
  ::close(ends[1]);
  if (pid < 0) {
    ::close(ends[0]);
    return false;
  }
  children_[key] = {pid, ends[0]};
  return true;
}

std::optional<survey::FsStats> ChildCalls::Collect(const std::string& key,
                                                   Clock::time_point deadline) {
  const auto it = children_.find(key);
  if (it == children_.end() || it->second.abandoned) return std::nullopt;
  pollfd entry{it->second.answer, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) {  // still stuck: the key stays busy until the child ends
    it->second.abandoned = true;
    return std::nullopt;
  }

  Answer answer;
  ssize_t got = 0;
  do {
    got = ::read(it->second.answer, &answer, sizeof answer);
  } while (got < 0 && errno == EINTR);
  Forget(it->second);
  children_.erase(it);
  if (got != static_cast<ssize_t>(sizeof answer) || !answer.ok) return std::nullopt;
  return answer.stats;
}

}  // namespace drives
