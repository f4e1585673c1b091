// The process start on Windows takes only a fully qualified path: a registry
// value that is a bare name ("tool.exe", or a DWORD turned into digits, to
// which the start adds ".exe") or any path that leans on the current drive
// or folder would start whatever lies there. Real starts of marker.exe, from
// a current folder that holds copies of it under each of those names.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "about/frmabout.h"
#include "about/registry.h"
#include "toolkit/testing.h"
#include "toolkit/toolkit.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

namespace fs = std::filesystem;

// One value under the first key the launcher reads; everything else missing.
class OneValue final : public about::Registry {
 public:
  OneValue(std::uint32_t type, std::string data) : type_(type), data_(std::move(data)) {}
  std::int32_t RegOpenKeyExA(about::RegistryKey, const char* key, std::uint32_t, std::uint32_t,
                             about::RegistryKey& handle) override {
    if (std::string(key) != "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO") return 2;
    handle = 0x100;
    return 0;
  }
  std::int32_t RegQueryValueExA(about::RegistryKey, const char* name, std::uint32_t*,
                                std::uint32_t& type, unsigned char* data,
                                std::uint32_t& size) override {
    if (std::string(name) != "PATH" || data_.size() > size) return 2;
    type = type_;
    std::memcpy(data, data_.data(), data_.size());
    size = static_cast<std::uint32_t>(data_.size());
    return 0;
  }
  std::int32_t RegCloseKey(about::RegistryKey) override { return 0; }

 private:
  std::uint32_t type_;
  std::string data_;
};

class Win32Launch : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path marker = fs::path(self).parent_path() / "marker.exe";
    if (!fs::exists(marker)) GTEST_SKIP() << "marker.exe is not beside the tests";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = fs::path(temp) / ("tamberlode launch " + std::to_string(GetCurrentProcessId()));
    fs::create_directories(folder_ / "sub");
    for (const char* name : {"tool.exe", "sub\\tool.exe", "305419896.exe"}) {
      fs::copy_file(marker, folder_ / name, fs::copy_options::overwrite_existing);
    }
    note_ = folder_ / "started.txt";
    SetEnvironmentVariableW(L"TAMBERLODE_MARKER", note_.c_str());
    GetCurrentDirectoryW(MAX_PATH, previous_);
    SetCurrentDirectoryW(folder_.c_str());
  }
  void TearDown() override {
    if (folder_.empty()) return;
    SetCurrentDirectoryW(previous_);
    SetEnvironmentVariableW(L"TAMBERLODE_MARKER", nullptr);
    Sleep(200);  // a started marker may still hold its file
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  // Whether a marker started within `milliseconds`.
  bool Started(int milliseconds) {
    for (int waited = 0; waited < milliseconds && !fs::exists(note_); waited += 25) Sleep(25);
    return fs::exists(note_);
  }

  fs::path folder_, note_;
  wchar_t previous_[MAX_PATH] = L"";
};

TEST_F(Win32Launch, OnlyAFullyQualifiedPathStarts) {
  const std::string full = folder_.string() + "\\tool.exe";
  const std::string drive = full.substr(0, 2);  // "C:"
  struct Case {
    std::string path;
    bool starts;
  };
  const Case cases[] = {
      {"tool.exe", false},
      {"tool", false},  // the start would add ".exe"
      {".\\tool.exe", false},
      {"sub\\tool.exe", false},
      {"305419896", false},
      {full.substr(2), false},               // "\...\tool.exe": from the current drive's root
      {drive + "tool.exe", false},           // "C:tool.exe": the drive's current folder
      {full, true},                          // "C:\...\tool.exe"
      {drive + "/" + full.substr(3), true},  // forward slash after the drive
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::error_code ignored;
    fs::remove(note_, ignored);
    bool raised = false;
    try {
      tk::Shell(c.path);
    } catch (const tk::Error& error) {
      raised = true;
      EXPECT_EQ(error.code(), tk::kFileNotFound);
    }
    EXPECT_EQ(raised, !c.starts);
    EXPECT_EQ(Started(c.starts ? 5000 : 300), c.starts);
  }
}

TEST_F(Win32Launch, ARelativeRegistryValueIsNoTool) {
  struct Case {
    const char* what;
    std::uint32_t type;
    std::string data;
  };
  const Case cases[] = {
      {"a bare file name", about::kRegSz, std::string("tool.exe\0", 9)},
      {"a relative folder", about::kRegSz, "sub\\tool.exe"},
      {"a DWORD read as digits", about::kRegDword, std::string("\x78\x56\x34\x12", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::error_code ignored;
    fs::remove(note_, ignored);
    OneValue registry(c.type, c.data);
    frmAbout about;
    about.registry = &registry;
    std::vector<std::string> prompts;
    const auto previous =
        tk::testing::SetMessageBoxHook([&](const std::string& p) { prompts.push_back(p); });
    about.StartSysInfo();
    tk::testing::SetMessageBoxHook(previous);
    EXPECT_EQ(prompts, std::vector<std::string>{"System Information Is Unavailable At This Time"});
    EXPECT_FALSE(Started(300)) << "a program in the current folder started";
  }
}

}  // namespace
