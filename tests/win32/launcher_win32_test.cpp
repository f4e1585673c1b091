// System Info on Windows as a user meets it: a tool in a folder whose name
// is not ASCII, found through either registry value; the About box still
// answering its keys after the message box; and only a fully qualified path
// started (a bare name, or a path that leans on the current drive or folder,
// would start whatever lies there).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "about/frmabout.h"
#include "about/registry.h"
#include "toolkit/testing.h"
#include "toolkit/toolkit.h"
#include "toolkit/toolkit_win32.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef CreateWindow
#undef MessageBox

namespace {

namespace fs = std::filesystem;
using tk::backend::DevicePixels;

constexpr std::string_view kFirstKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr std::string_view kSecondKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr about::RegistryKey kHkeyCurrentUser = 0x80000001;

// The real advapi32, with the launcher's two keys moved below a key of the
// test's own in HKEY_CURRENT_USER, so the machine's keys stay untouched.
class MovedKeys final : public about::Registry {
 public:
  MovedKeys(std::string first, std::string second)
      : first_(std::move(first)), second_(std::move(second)) {}
  std::int32_t RegOpenKeyExA(about::RegistryKey hKey, const char* lpSubKey, std::uint32_t ulOptions,
                             std::uint32_t samDesired, about::RegistryKey& phkResult) override {
    std::string key = lpSubKey;
    if (hKey == about::kHkeyLocalMachine && key == kFirstKey) key = first_;
    if (hKey == about::kHkeyLocalMachine && key == kSecondKey) key = second_;
    return real_.RegOpenKeyExA(kHkeyCurrentUser, key.c_str(), ulOptions, samDesired, phkResult);
  }
  std::int32_t RegQueryValueExA(about::RegistryKey hKey, const char* lpValueName,
                                std::uint32_t* lpReserved, std::uint32_t& lpType,
                                unsigned char* lpData, std::uint32_t& lpcbData) override {
    return real_.RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
  }
  std::int32_t RegCloseKey(about::RegistryKey hKey) override { return real_.RegCloseKey(hKey); }

 private:
  const std::unique_ptr<about::Registry> platform_ = about::PlatformRegistry();
  about::Registry& real_ = *platform_;
  std::string first_, second_;
};

class NonAsciiFolder : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    marker_ = fs::path(self).parent_path() / "marker.exe";
    if (!fs::exists(marker_)) GTEST_SKIP() << "marker.exe is not beside the tests";
    // The folder's name must survive the ANSI code page, as it does on a
    // Danish or German Windows (code page 1252).
    if (GetACP() == CP_UTF8) {
      GTEST_SKIP() << "the ANSI code page is UTF-8 here, so the registry's bytes need no "
                      "conversion (scripts/wine-tests.sh runs this again under code page 1252)";
    }
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"F\u00e6lles", -1, nullptr, 0, nullptr,
                        &lost);
    if (lost) GTEST_SKIP() << "code page " << GetACP() << " cannot hold \"\u00e6\"";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring id = std::to_wstring(GetCurrentProcessId());
    const char* test = testing::UnitTest::GetInstance()->current_test_info()->name();
    root_ = fs::path(temp) / (L"tamberlode launcher " + id + L" " + fs::path(test).wstring());
    folder_ = root_ / L"F\u00e6lles";
    fs::create_directories(folder_);
    fs::copy_file(marker_, folder_ / L"tool.exe", fs::copy_options::overwrite_existing);
    fs::copy_file(marker_, folder_ / L"MSINFO32.EXE", fs::copy_options::overwrite_existing);
    note_ = root_ / L"started.txt";
    SetEnvironmentVariableW(L"TAMBERLODE_MARKER", note_.c_str());
    key_ = L"Software\\Tamberlode Tests " + id;
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TAMBERLODE_MARKER", nullptr);
    if (!key_.empty()) RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
  }
  // Stores a text value as a user would, in Unicode; the launcher reads it
  // back through the ANSI function.
  void SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\" + key).c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
  }
  std::string Ansi(const std::wstring& text) const {
    std::string narrow(text.size() * 2, '\0');
    narrow.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                            static_cast<int>(narrow.size()), nullptr, nullptr)));
    return narrow;
  }
  // Presses System Info; returns the path the started program wrote, or
  // the message shown instead.
  std::string Press(about::Registry& registry) {
    std::string prompt;
    const auto previous =
        tk::testing::SetMessageBoxHook([&](const std::string& p) { prompt = "message: " + p; });
    frmAbout about;
    about.registry = &registry;
    about.StartSysInfo();
    tk::testing::SetMessageBoxHook(previous);
    if (!prompt.empty()) return prompt;
    // A new Wine process may take its time on a loaded machine; the file
    // is there before its line is.
    std::string line;
    for (int i = 0; i < 1200; ++i, Sleep(25)) {
      std::ifstream in(note_);
      if (std::getline(in, line) && !in.eof()) break;
      line.clear();
    }
    return line;
  }

  fs::path marker_, root_, folder_, note_;
  std::wstring key_;
};

TEST_F(NonAsciiFolder, TheFirstValueStartsTheToolItNames) {
  SetValue(L"MSINFO", L"PATH", (folder_ / L"tool.exe").wstring());
  MovedKeys registry(Ansi(key_ + L"\\MSINFO"), Ansi(key_ + L"\\No Such Key"));
  const std::string started = Press(registry);
  // marker.exe writes its own path in the ANSI code page.
  EXPECT_EQ(started, Ansi((folder_ / L"tool.exe").wstring()));
}

TEST_F(NonAsciiFolder, TheSecondValueFindsAndStartsMsinfo32InTheFolder) {
  SetValue(L"Location", L"MSINFO", folder_.wstring());
  MovedKeys registry(Ansi(key_ + L"\\No Such Key"), Ansi(key_ + L"\\Location"));
  const std::string started = Press(registry);
  EXPECT_EQ(started, Ansi((folder_ / L"MSINFO32.EXE").wstring()));
}

// ---- The message box and the focus -----------------------------------------

// Closes the message box of this thread as soon as it is up, noting its owner.
HWND boxOwner = nullptr;
bool boxSeen = false;

BOOL CALLBACK CloseBox(HWND hwnd, LPARAM) {
  wchar_t className[16] = L"";
  GetClassNameW(hwnd, className, 16);
  if (std::wstring(className) != L"#32770" || !IsWindowVisible(hwnd)) return TRUE;
  boxSeen = true;
  boxOwner = GetWindow(hwnd, GW_OWNER);
  PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
  return FALSE;
}

void CALLBACK LookForBox(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), CloseBox, 0);
}

class NoKeys final : public about::Registry {
 public:
  std::int32_t RegOpenKeyExA(about::RegistryKey, const char*, std::uint32_t, std::uint32_t,
                             about::RegistryKey&) override {
    return about::kErrorFileNotFound;
  }
  std::int32_t RegQueryValueExA(about::RegistryKey, const char*, std::uint32_t*, std::uint32_t&,
                                unsigned char*, std::uint32_t&) override {
    return about::kErrorFileNotFound;
  }
  std::int32_t RegCloseKey(about::RegistryKey) override { return about::kErrorInvalidHandle; }
};

TEST(MessageBoxFocus, EscClosesTheAboutBoxAfterTheMessage) {
  NoKeys registry;
  frmAbout about;
  about.registry = &registry;
  about.Show();
  const auto window = static_cast<HWND>(tk::backend::NativeWindow(about));
  const tk::Rect rect = about.cmdSysInfo.design().rect;
  const HWND sysInfo = ChildWindowFromPointEx(
      window, {DevicePixels(rect.left) + 1, DevicePixels(rect.top) + 1}, CWP_ALL);
  SetFocus(sysInfo);
  ASSERT_EQ(GetFocus(), sysInfo);

  boxSeen = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, LookForBox);
  SendMessageW(sysInfo, BM_CLICK, 0, 0);  // the real message box, closed by the timer
  KillTimer(nullptr, timer);
  tk::backend::ProcessPendingMessages();
  ASSERT_TRUE(boxSeen) << "no message box came up";
  EXPECT_EQ(boxOwner, window) << "the message box belongs to the About box";
  EXPECT_EQ(GetActiveWindow(), window) << "the About box is active again";
  EXPECT_EQ(GetFocus(), sysInfo) << "the focus is back on System Info";

  // Esc, as the program's loop hands it on: to the window with the focus.
  const HWND target = GetFocus() ? GetFocus() : GetActiveWindow();
  ASSERT_NE(target, nullptr) << "no window of the program takes the key";
  MSG esc{target, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
  IsDialogMessageW(GetAncestor(target, GA_ROOT), &esc);
  tk::backend::ProcessPendingMessages();
  EXPECT_FALSE(about.Loaded()) << "Esc closes the About box";
  about.Unload();
  tk::backend::ProcessPendingMessages();
}

// ---- Only a fully qualified path starts ----------------------------------

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
