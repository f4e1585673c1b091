// The registry on Linux: a read-only stand-in that holds the one value the
// launcher's first lookup asks for, HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Shared Tools\MSINFO" "PATH" (REG_SZ), naming the first
// installed system-information program found on $PATH. Every other key is
// missing, as is the value where none of the programs is installed. It
// answers with the status codes advapi32 would.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "about/registry.h"

namespace about {
namespace {

constexpr std::string_view kToolKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr std::string_view kToolValue = "PATH";

// Programs that show the machine's hardware and software, in order of
// preference; all three are Debian packages of the same names.
constexpr std::array<std::string_view, 3> kTools = {"hardinfo", "kinfocenter", "cpu-x"};

// Key and value names compare as Windows compares them: without regard to
// case (the names here are ASCII).
bool SameName(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) {
    const auto lower = [](unsigned char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
    };
    return lower(x) == lower(y);
  });
}

// How long one search waits for the folders on PATH. A folder on a volume
// that hangs (a share whose server went away, a FUSE daemon that hangs)
// would otherwise hold the window, and the end of the program, for ever.
constexpr std::chrono::milliseconds kSearchDeadline{5000};

// The absolute folders of PATH, in order, each ending in '/'. Only absolute
// folders count: an empty entry (the shell's current directory), "." or
// "bin" would start whatever lies where the program happens to run. A folder
// stays the bytes PATH holds, whatever their encoding, so the file tested is
// the file started.
std::vector<std::string> PathFolders() {
  std::vector<std::string> folders;
  const char* path = std::getenv("PATH");
  if (path == nullptr) return folders;
  const std::string_view directories(path);
  std::size_t start = 0;
  while (start <= directories.size()) {
    std::size_t end = directories.find(':', start);
    if (end == std::string_view::npos) end = directories.size();
    const std::string_view entry = directories.substr(start, end - start);
    if (!entry.empty() && entry.front() == '/') {
      std::string folder(entry);
      if (folder.back() != '/') folder += '/';
      folders.push_back(std::move(folder));
    }
    start = end + 1;
  }
  return folders;
}

// One folder's look-up, in a child of its own.
struct Look {
  pid_t pid = -1;
  int answer = -1;  // read end of the child's pipe
};

// Writes one byte: which of `files` (kTools in that folder) are runnable
// files, one bit each. System calls only: this is a copy of a threaded process.
[[noreturn]] void LookInChild(int answerFd, pid_t parent,
                              const std::array<std::string, kTools.size()>& files) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(1);
  unsigned char found = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    struct stat info {};
    if (::stat(files[i].c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(files[i].c_str(), X_OK) == 0)
      found |= static_cast<unsigned char>(1U << i);
  }
  while (::write(answerFd, &found, 1) < 0 && errno == EINTR) {
  }
  ::_exit(0);
}

void WaitForExit(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Folders whose look-up did not answer in an earlier search: while its
// child is stuck, a folder gets no second one and holds no tool.
std::mutex stuckMutex;
std::map<std::string, int>& StuckFolders() {  // folder -> read end of its child's pipe
  static std::map<std::string, int> folders;
  return folders;
}

bool StillStuck(const std::string& folder) {
  auto& stuck = StuckFolders();
  const auto it = stuck.find(folder);
  if (it == stuck.end()) return false;
  pollfd entry{it->second, POLLIN, 0};
  if (::poll(&entry, 1, 0) == 0) return true;
  ::close(it->second);  // the child has ended; its own thread reaped it
  stuck.erase(it);
  return false;
}

Look StartLook(const std::string& folder) {
  std::array<std::string, kTools.size()> files;
  for (std::size_t i = 0; i < kTools.size(); ++i) files[i] = folder + std::string(kTools[i]);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return {};
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) LookInChild(ends[1], parent, files);
  ::close(ends[1]);
  if (pid < 0) {
    ::close(ends[0]);
    return {};
  }
  return {pid, ends[0]};
}

// Looked up afresh at each query, so a program installed or removed while
// the program runs is seen at the next press. Each folder of PATH is looked
// at in a child of its own, all side by side under one deadline; a folder
// that has not answered by then holds none of the tools. Tools go in the
// order of kTools, each in the order of PATH.
std::optional<std::string> FindTool() {
  const std::vector<std::string> folders = PathFolders();
  std::vector<unsigned char> found(folders.size(), 0);
  std::vector<Look> looks(folders.size());
  const std::lock_guard lock(stuckMutex);
  for (std::size_t i = 0; i < folders.size(); ++i)
    if (!StillStuck(folders[i])) looks[i] = StartLook(folders[i]);

  const auto deadline = std::chrono::steady_clock::now() + kSearchDeadline;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    if (looks[i].pid < 0) continue;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{looks[i].answer, POLLIN, 0};
    int ready = 0;
    do {
      ready = ::poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
      // Reaped by a thread of its own the moment it ends.
      StuckFolders()[folders[i]] = looks[i].answer;
      try {
        std::thread(WaitForExit, looks[i].pid).detach();
      } catch (const std::system_error&) {
      }
      continue;
    }
    if (::read(looks[i].answer, &found[i], 1) != 1) found[i] = 0;
    ::close(looks[i].answer);
    WaitForExit(looks[i].pid);
  }
  for (std::size_t tool = 0; tool < kTools.size(); ++tool)
    for (std::size_t i = 0; i < folders.size(); ++i)
      if ((found[i] & (1U << tool)) != 0) return folders[i] + std::string(kTools[tool]);
  return std::nullopt;
}

class StandInRegistry final : public Registry {
 public:
  std::int32_t RegOpenKeyExA(RegistryKey hKey, const char* lpSubKey, std::uint32_t,
                             std::uint32_t samDesired, RegistryKey& phkResult) override {
    if (hKey != kHkeyLocalMachine || lpSubKey == nullptr || !SameName(lpSubKey, kToolKey)) {
      return kErrorFileNotFound;
    }
    // As Windows answers a standard user who asks for more than reading.
    if ((samDesired & ~(kKeyRead | kKeyWow64_64Key | kKeyWow64_32Key)) != 0) {
      return kErrorAccessDenied;
    }
    const std::lock_guard lock(mutex_);
    phkResult = nextHandle_++;
    open_.insert(phkResult);
    return kErrorSuccess;
  }

  std::int32_t RegQueryValueExA(RegistryKey hKey, const char* lpValueName, std::uint32_t*,
                                std::uint32_t& lpType, unsigned char* lpData,
                                std::uint32_t& lpcbData) override {
    {
      const std::lock_guard lock(mutex_);
      if (!open_.contains(hKey)) return kErrorInvalidHandle;
    }
    if (lpValueName == nullptr || !SameName(lpValueName, kToolValue)) return kErrorFileNotFound;
    const std::optional<std::string> tool = FindTool();
    if (!tool) return kErrorFileNotFound;
    // A text value holds its closing NUL, as REG_SZ data does.
    const std::size_t needed = tool->size() + 1;
    lpType = kRegSz;
    if (needed > lpcbData) {
      lpcbData = static_cast<std::uint32_t>(needed);
      return lpData == nullptr ? kErrorSuccess : kErrorMoreData;
    }
    if (lpData != nullptr) std::memcpy(lpData, tool->c_str(), needed);
    lpcbData = static_cast<std::uint32_t>(needed);
    return kErrorSuccess;
  }

  std::int32_t RegCloseKey(RegistryKey hKey) override {
    const std::lock_guard lock(mutex_);
    return open_.erase(hKey) == 1 ? kErrorSuccess : kErrorInvalidHandle;
  }

 private:
  std::mutex mutex_;
  // Well away from 0 and from the predefined roots (0x80000000 and up).
  RegistryKey nextHandle_ = 0x100;
  std::set<RegistryKey> open_;
};

}  // namespace

Registry& PlatformRegistry() {
  static StandInRegistry registry;
  return registry;
}

std::string FromAnsiCodePage(std::string_view data) { return std::string(data); }

}  // namespace about
