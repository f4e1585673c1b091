#include "posix/child_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <system_error>
#include <thread>

namespace posix {
namespace {

// What a child writes back, in one write (well below PIPE_BUF, so whole).
struct Record {
  unsigned char ok = 0;
  ChildRunner::Bytes bytes{};
};

constexpr int kAnswerFd = 3;

// Closes every descriptor but kAnswerFd. close_range where the kernel has
// it (5.9 on), else one by one up to the descriptor limit.
void CloseAllButAnswer() {
  ::close(0);
  ::close(1);
  ::close(2);
  if (::close_range(kAnswerFd + 1, ~0U, 0) == 0) return;
  rlimit limit{};
  const rlim_t last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                          ? limit.rlim_cur
                          : 65536;
  for (rlim_t fd = kAnswerFd + 1; fd < last; ++fd) ::close(static_cast<int>(fd));
}

// The child's whole life: system calls only, then _exit without running
// any of the parent's exit handlers.
[[noreturn]] void RunChild(int answerFd, pid_t parent, const ChildRunner::Call& call) {
  // Ending with the program where the kernel lets it; a stuck call ends
  // it later, as soon as the call returns.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(1);
  if (answerFd != kAnswerFd && ::dup2(answerFd, kAnswerFd) != kAnswerFd) ::_exit(1);
  CloseAllButAnswer();
  Record record;
  record.ok = call(record.bytes) ? 1 : 0;
  while (::write(kAnswerFd, &record, sizeof record) < 0 && errno == EINTR) {
  }
  ::_exit(0);
}

int MillisecondsUntil(ChildRunner::Clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - ChildRunner::Clock::now());
  if (left.count() <= 0) return 0;
  return static_cast<int>(std::min<std::int64_t>(left.count(), INT_MAX));
}

void WaitForExit(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

ChildRunner::~ChildRunner() {
  Reap();
  for (auto& entry : children_) {
    if (!entry.second.abandoned) Abandon(entry.second);
    ::close(entry.second.answer);
  }
}

void ChildRunner::Abandon(Child& child) {
  child.abandoned = true;
  // Only this thread ever waits for that child, so no other child's status
  // is taken and the pid cannot be another process's by then.
  try {
    std::thread(WaitForExit, child.pid).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the child stays a zombie until the program ends.
  }
}

void ChildRunner::Reap() {
  for (auto it = children_.begin(); it != children_.end();) {
    pollfd entry{it->second.answer, POLLIN, 0};
    if (it->second.abandoned && ::poll(&entry, 1, 0) > 0) {  // an answer, or the child's end
      ::close(it->second.answer);
      it = children_.erase(it);
    } else {
      ++it;
    }
  }
}

bool ChildRunner::Busy(const std::string& key) {
  Reap();
  return children_.contains(key);
}

void ChildRunner::AbandonAll() {
  for (auto& entry : children_)
    if (!entry.second.abandoned) Abandon(entry.second);
  Reap();
}

bool ChildRunner::Start(const std::string& key, const Call& call) {
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

std::optional<ChildRunner::Bytes> ChildRunner::Collect(const std::string& key,
                                                       Clock::time_point deadline,
                                                       const WhileWaiting& whileWaiting) {
  const auto it = children_.find(key);
  if (it == children_.end() || it->second.abandoned) return std::nullopt;
  pollfd entry{it->second.answer, POLLIN, 0};
  for (;;) {
    const int wait = std::min<int>(MillisecondsUntil(deadline), kWaitSlice.count());
    int ready = 0;
    do {
      ready = ::poll(&entry, 1, wait);
    } while (ready < 0 && errno == EINTR);
    if (ready > 0) break;
    if (MillisecondsUntil(deadline) == 0) {  // still stuck: the key stays busy until it ends
      Abandon(it->second);
      return std::nullopt;
    }
    if (whileWaiting) whileWaiting();
  }
  Record record;
  ssize_t got = 0;
  do {
    got = ::read(it->second.answer, &record, sizeof record);
  } while (got < 0 && errno == EINTR);
  ::close(it->second.answer);
  // The child has answered or died; its exit is a matter of moments.
  WaitForExit(it->second.pid);
  children_.erase(it);
  if (got != static_cast<ssize_t>(sizeof record) || record.ok == 0) return std::nullopt;
  return record.bytes;
}

}  // namespace posix
