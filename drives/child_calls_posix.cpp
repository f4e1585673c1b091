#include "drives/child_calls_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>
#include <thread>
#include <type_traits>

#include "drives/waiting.h"

namespace drives {
namespace {

// What a child writes back: one record in one datagram, with the
// descriptor (if any) beside it.
struct Answer {
  bool ok = false;
  survey::FsStats stats;
};
static_assert(std::is_trivially_copyable_v<Answer>);

constexpr int kAnswerFd = 3;

// The child's whole life: system calls only, then _exit without running
// any of the parent's exit handlers.
[[noreturn]] void RunChild(int answerFd, pid_t parent, const ChildCalls::Call& call) {
  // Ending with the program where the kernel lets it; a stuck call ends
  // it later, as soon as the call returns.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(1);
  // Holding none of the parent's descriptors: a stuck child must not keep
  // its display connection, its other children's sockets or anything else open.
  if (answerFd != kAnswerFd && ::dup2(answerFd, kAnswerFd) != kAnswerFd) ::_exit(1);
  ::close_range(kAnswerFd + 1, ~0U, 0);
  const ChildAnswer result = call();
  Answer answer{result.ok, result.stats};
  iovec data{&answer, sizeof answer};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (result.fd >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &result.fd, sizeof(int));
  }
  while (::sendmsg(kAnswerFd, &message, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
  ::_exit(0);
}

// Reads the child's answer; the descriptor it sent, if any, arrives
// close-on-exec and belongs to the caller.
ChildAnswer Receive(int socket) {
  Answer answer;
  iovec data{&answer, sizeof answer};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t got = 0;
  do {
    got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  ChildAnswer result;
  for (cmsghdr* header = got > 0 ? CMSG_FIRSTHDR(&message) : nullptr; header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
      std::memcpy(&result.fd, CMSG_DATA(header), sizeof(int));
  }
  if (got != static_cast<ssize_t>(sizeof answer) || !answer.ok ||
      (message.msg_flags & MSG_CTRUNC) != 0) {
    if (result.fd >= 0) ::close(result.fd);
    return {};
  }
  result.ok = true;
  result.stats = answer.stats;
  return result;
}

int MillisecondsUntil(ChildCalls::Clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - ChildCalls::Clock::now());
  if (left.count() <= 0) return 0;
  return static_cast<int>(std::min<std::int64_t>(left.count(), INT_MAX));
}

void WaitForExit(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

ChildCalls::~ChildCalls() {
  Reap();
  for (auto& entry : children_) {
    if (!entry.second.abandoned) Abandon(entry.second);
    ::close(entry.second.answer);
  }
}

void ChildCalls::Abandon(Child& child) {
  child.abandoned = true;
  // Only this thread ever waits for that child, so no other child's status
  // is taken and the pid cannot be another process's by then.
  try {
    std::thread(WaitForExit, child.pid).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the child stays a zombie until the program ends.
  }
}

void ChildCalls::Reap() {
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

bool ChildCalls::Busy(const std::string& key) {
  Reap();
  return children_.count(key) != 0;
}

void ChildCalls::AbandonAll() {
  for (auto& entry : children_)
    if (!entry.second.abandoned) Abandon(entry.second);
  Reap();
}

bool ChildCalls::Start(const std::string& key, const Call& call) {
  if (Busy(key)) return false;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
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

ChildAnswer ChildCalls::Collect(const std::string& key, Clock::time_point deadline) {
  const auto it = children_.find(key);
  if (it == children_.end() || it->second.abandoned) return {};
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
      return {};
    }
    WhileWaiting();
  }
  ChildAnswer answer = Receive(it->second.answer);
  ::close(it->second.answer);
  // The child has answered or died; its exit is a matter of moments.
  WaitForExit(it->second.pid);
  children_.erase(it);
  return answer;
}

}  // namespace drives
