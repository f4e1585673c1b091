// System Info on Windows as a user meets it: a tool in a folder whose name
// is not ASCII, found through either registry value, and the About box
// still answering its keys after the message box.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

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
  about::Registry& real_ = about::PlatformRegistry();
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

}  // namespace
