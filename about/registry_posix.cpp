// The registry on Linux: a read-only stand-in that holds the one value the
// launcher's first lookup asks for, HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Shared Tools\MSINFO" "PATH" (REG_SZ), naming the first
// installed system-information program found on $PATH. Every other key is
// missing, as is the value where none of the programs is installed. It
// answers with the status codes advapi32 would.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "about/registry.h"
#include "posix/child_runner.h"

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

// Which of kTools are runnable files in `folder`, one bit each. Runs in a
// child: system calls only.
std::optional<unsigned char> LookIn(const std::array<std::string, kTools.size()>& files) {
  unsigned char found = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    struct stat info {};
    if (::stat(files[i].c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(files[i].c_str(), X_OK) == 0)
      found |= static_cast<unsigned char>(1U << i);
  }
  return found;
}

// The searches' children, by folder: a folder whose look is still stuck
// from an earlier search gets no second child and holds no tool.
posix::ChildRunner& Looks() {
  static posix::ChildRunner looks;
  return looks;
}

// Looked up afresh at each query, so a program installed or removed while
// the program runs is seen at the next press. Each folder of PATH is looked
// at in a child of its own, all side by side under one deadline; a folder
// that has not answered by then holds none of the tools. Tools go in the
// order of kTools, each in the order of PATH.
std::optional<std::string> FindTool(const posix::WhileWaiting& whileWaiting) {
  const std::vector<std::string> folders = PathFolders();
  std::vector<bool> looking(folders.size(), false);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    std::array<std::string, kTools.size()> files;
    for (std::size_t tool = 0; tool < kTools.size(); ++tool)
      files[tool] = folders[i] + std::string(kTools[tool]);
    looking[i] = Looks().StartFor<unsigned char>(
        folders[i], [files = std::move(files)] { return LookIn(files); });
  }
  const auto deadline = std::chrono::steady_clock::now() + kSearchDeadline;
  std::vector<unsigned char> found(folders.size(), 0);
  for (std::size_t i = 0; i < folders.size(); ++i)
    if (looking[i])
      found[i] = Looks().CollectFor<unsigned char>(folders[i], deadline, whileWaiting).value_or(0);
  for (std::size_t tool = 0; tool < kTools.size(); ++tool)
    for (std::size_t i = 0; i < folders.size(); ++i)
      if ((found[i] & (1U << tool)) != 0) return folders[i] + std::string(kTools[tool]);
  return std::nullopt;
}

class StandInRegistry final : public Registry {
 public:
  explicit StandInRegistry(posix::WhileWaiting whileWaiting)
      : whileWaiting_(std::move(whileWaiting)) {}

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
    const std::optional<std::string> tool = FindTool(whileWaiting_);
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
  posix::WhileWaiting whileWaiting_;
  std::mutex mutex_;
  // Well away from 0 and from the predefined roots (0x80000000 and up).
  RegistryKey nextHandle_ = 0x100;
  std::set<RegistryKey> open_;
};

}  // namespace

std::unique_ptr<Registry> PlatformRegistry(std::function<void()> whileWaiting) {
  return std::make_unique<StandInRegistry>(std::move(whileWaiting));
}

std::string FromAnsiCodePage(std::string_view data) { return std::string(data); }

}  // namespace about
