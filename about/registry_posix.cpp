// The registry on Linux: a read-only stand-in that holds the one value the
// launcher's first lookup asks for, HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Shared Tools\MSINFO" "PATH" (REG_SZ), naming the first
// installed system-information program found on $PATH. Every other key is
// missing, as is the value where none of the programs is installed. It
// answers with the status codes advapi32 would.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>

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

bool IsExecutableFile(const std::filesystem::path& file) {
  std::error_code error;
  return std::filesystem::is_regular_file(file, error) && ::access(file.c_str(), X_OK) == 0;
}

// Looked up afresh at each query, so a program installed or removed while
// the program runs is seen at the next press.
std::optional<std::string> FindTool() {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  const std::string_view directories(path);
  for (std::string_view tool : kTools) {
    std::size_t start = 0;
    while (start <= directories.size()) {
      std::size_t end = directories.find(':', start);
      if (end == std::string_view::npos) end = directories.size();
      // Only absolute folders count: an empty entry (the shell's current
      // directory), "." or "bin" would start whatever lies where the program
      // happens to run. The folder stays the bytes PATH holds, whatever
      // their encoding, so the file tested is the file started.
      const std::string_view entry = directories.substr(start, end - start);
      if (!entry.empty() && entry.front() == '/') {
        std::string file(entry);
        if (file.back() != '/') file += '/';
        file += tool;
        if (IsExecutableFile(file)) return file;
      }
      start = end + 1;
    }
  }
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
