// A FUSE filesystem that misbehaves on purpose (stuckfs.py), mounted for
// one test in a private mount namespace of the calling thread.
#pragma once

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace faults {

// Why no stuckfs can be mounted here, or "" once the calling thread is in
// a mount namespace of its own from which no mount travels back to the host.
inline std::string EnterPrivateMountNamespace() {
  if (::geteuid() != 0) return "FUSE mounts need root";
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no /dev/fuse";
  if (std::system("/usr/bin/python3 -c 'import fusepy' >/dev/null 2>&1") != 0)
    return "python3-fusepy is not installed";
  if (::unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("cannot make / private: ") + std::strerror(errno);
  return "";
}

// stuckfs.py at `point` (an existing folder) as fuse.`type` in `mode`
// ("hang", "block", "sleep:S", "ok"), until destroyed: then the daemon is
// killed, which ends every request stuck on it, and the mount goes.
class StuckMount {
 public:
  StuckMount(const std::string& stuckfs, const std::string& point, const std::string& type,
             const std::string& mode)
      : point_(point) {
    daemon_ = ::fork();
    if (daemon_ == 0) {
      ::execl("/usr/bin/python3", "python3", stuckfs.c_str(), point.c_str(), type.c_str(),
              mode.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Mounted() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ~StuckMount() {
    if (daemon_ > 0) {
      ::kill(daemon_, SIGKILL);
      ::waitpid(daemon_, nullptr, 0);
    }
    ::umount2(point_.c_str(), MNT_DETACH);
  }
  StuckMount(const StuckMount&) = delete;
  StuckMount& operator=(const StuckMount&) = delete;

  // Whether the mount shows in the mount table (a point without blanks).
  bool Mounted() const {
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    while (std::getline(table, line))
      if (line.find(" " + point_ + " ") != std::string::npos) return true;
    return false;
  }

  // Ends the daemon now: whatever waits on the mount gets an error.
  void KillDaemon() {
    if (daemon_ > 0) ::kill(daemon_, SIGKILL);
  }

 private:
  std::string point_;
  pid_t daemon_ = -1;
};

}  // namespace faults
