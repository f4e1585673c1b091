// The System Info button: the registry value reader against a served
// registry, the launcher's every way through (with real files and real
// launches of small scripts), the Linux stand-in registry, and presses of
// cmdSysInfo on a loaded About window.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "about/frmabout.h"
#include "about/registry.h"
#include "faults/stuck_mount.h"
#include "toolkit/testing.h"
#include "toolkit/toolkit.h"
#include "toolkit/toolkit_qt.h"
#include "window_testing.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kFirstKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kSecondKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr const char* kMessage = "System Information Is Unavailable At This Time";
constexpr std::uint32_t kRegBinary = 3;

// ---- Helpers ---------------------------------------------------------------

using testing_windows::Pump;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tamberlode-sysinfo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // The file the test's scripts write their paths to when they start.
  std::string marker() const { return path_ + "/marker"; }

 private:
  std::string path_;
};

// A shell script at `file` that appends the path it was started as to
// `marker`, one line per start.
void WriteScript(const std::string& file, const std::string& marker, bool executable = true) {
  fs::create_directories(fs::path(file).parent_path());
  std::ofstream out(file, std::ios::binary);
  out << "#!/bin/sh\nprintf '%s\\n' \"$0\" >> '" << marker << "'\n";
  out.close();
  ::chmod(file.c_str(), executable ? 0755 : 0644);
}

std::vector<std::string> ReadLines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Waits, bounded, until `marker` holds `count` lines; the started programs
// run on their own, so there is no other way to know they are done.
std::vector<std::string> WaitForLines(const std::string& marker, std::size_t count) {
  QElapsedTimer clock;
  clock.start();
  std::vector<std::string> lines = ReadLines(marker);
  while (lines.size() < count && clock.elapsed() < 10000) {
    Pump(20);
    lines = ReadLines(marker);
  }
  return lines;
}

// Sets PATH for one test and puts back what was there.
class PathGuard {
 public:
  explicit PathGuard(const std::string& value) {
    if (const char* old = std::getenv("PATH")) old_ = old;
    ::setenv("PATH", value.c_str(), 1);
  }
  ~PathGuard() {
    if (old_) {
      ::setenv("PATH", old_->c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
  }
  PathGuard(const PathGuard&) = delete;
  PathGuard& operator=(const PathGuard&) = delete;
  const std::optional<std::string>& old() const { return old_; }

 private:
  std::optional<std::string> old_;
};

// Runs one test from `folder` and goes back afterwards.
class CwdGuard {
 public:
  explicit CwdGuard(const std::string& folder) : old_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~CwdGuard() {
    std::error_code error;
    fs::current_path(old_, error);
  }
  CwdGuard(const CwdGuard&) = delete;
  CwdGuard& operator=(const CwdGuard&) = delete;

 private:
  fs::path old_;
};

// ---- A served registry -----------------------------------------------------

struct Served {
  std::string key;
  std::string name;
  std::uint32_t type;
  std::string data;  // the value's bytes, NUL included where stored with one
};

// Serves exactly the values it is given, keeps every call, and answers like
// advapi32: 2 for a missing key or value, 234 for data longer than the
// buffer, 6 for a handle that is not open.
class ServedRegistry final : public about::Registry {
 public:
  struct Open {
    about::RegistryKey root;
    std::string key;
    std::uint32_t options, access;
    about::RegistryKey handle;  // 0 when the open failed
  };
  struct Query {
    about::RegistryKey handle;
    std::string name;
    std::uint32_t sizeIn;
    bool bufferAllNul;
    bool reservedNull;
  };

  explicit ServedRegistry(std::vector<Served> values) : values_(std::move(values)) {}

  std::int32_t RegOpenKeyExA(about::RegistryKey hKey, const char* lpSubKey, std::uint32_t ulOptions,
                             std::uint32_t samDesired, about::RegistryKey& phkResult) override {
    opens.push_back({hKey, lpSubKey, ulOptions, samDesired, 0});
    const bool exists =
        std::ranges::any_of(values_, [&](const Served& v) { return v.key == lpSubKey; });
    if (hKey != about::kHkeyLocalMachine || !exists) return about::kErrorFileNotFound;
    phkResult = nextHandle_ += 4;
    opens.back().handle = phkResult;
    open_[phkResult] = lpSubKey;
    return about::kErrorSuccess;
  }

  std::int32_t RegQueryValueExA(about::RegistryKey hKey, const char* lpValueName,
                                std::uint32_t* lpReserved, std::uint32_t& lpType,
                                unsigned char* lpData, std::uint32_t& lpcbData) override {
    const bool allNul =
        std::all_of(lpData, lpData + lpcbData, [](unsigned char c) { return c == 0; });
    queries.push_back({hKey, lpValueName, lpcbData, allNul, lpReserved == nullptr});
    const auto key = open_.find(hKey);
    if (key == open_.end()) return about::kErrorInvalidHandle;
    const auto value = std::ranges::find_if(
        values_, [&](const Served& v) { return v.key == key->second && v.name == lpValueName; });
    if (value == values_.end()) return about::kErrorFileNotFound;
    if (value->data.size() > lpcbData) {
      lpcbData = static_cast<std::uint32_t>(value->data.size());
      return about::kErrorMoreData;
    }
    std::memcpy(lpData, value->data.data(), value->data.size());
    lpcbData = static_cast<std::uint32_t>(value->data.size());
    lpType = value->type;
    return about::kErrorSuccess;
  }

  std::int32_t RegCloseKey(about::RegistryKey hKey) override {
    closes.push_back(hKey);
    return open_.erase(hKey) == 1 ? about::kErrorSuccess : about::kErrorInvalidHandle;
  }

  // Every handle handed to RegCloseKey, in the order of the opens: the
  // opened ones and 0 after a failed open, each exactly once.
  std::vector<about::RegistryKey> OpenedHandles() const {
    std::vector<about::RegistryKey> handles;
    for (const Open& open : opens) handles.push_back(open.handle);
    return handles;
  }
  std::vector<std::string> OpenedKeys() const {
    std::vector<std::string> keys;
    for (const Open& open : opens) keys.push_back(open.key);
    return keys;
  }
  bool AllClosed() const { return open_.empty(); }

  std::vector<Open> opens;
  std::vector<Query> queries;
  std::vector<about::RegistryKey> closes;

 private:
  std::vector<Served> values_;
  std::map<about::RegistryKey, std::string> open_;
  about::RegistryKey nextHandle_ = 0x1000;
};

// ---- GetKeyValue -----------------------------------------------------------

std::string Bytes(std::initializer_list<unsigned char> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(GetKeyValue, ReadsEachServedValueThroughOneOpenOneQueryAndOneClose) {
  struct Case {
    const char* what;
    std::uint32_t type;
    std::optional<std::string> data;  // nullopt: the key exists, the value does not
    std::string before;               // KeyVal as it comes in
    bool result;
    std::string after;
  };
  const std::string text1023(1023, 'x');
  const std::string text1024(1024, 'y');
  const std::string text1025(1025, 'z');
  const Case cases[] = {
      {"1023 characters and their NUL fill the buffer", about::kRegSz, text1023 + '\0', "", true,
       text1023},
      {"1024 bytes without a NUL are kept whole", about::kRegSz, text1024, "", true, text1024},
      {"1025 bytes fail like a missing value", about::kRegSz, text1025, "stale", false, ""},
      {"a text stored without its NUL keeps every byte", about::kRegSz, "C:\\Tools\\info.exe", "",
       true, "C:\\Tools\\info.exe"},
      {"a text with its NUL loses only that", about::kRegSz, std::string("C:\\a b\0", 7), "", true,
       "C:\\a b"},
      {"the text ends at its first NUL", about::kRegSz,
       std::string("C:\\tools\\tool.exe\0junk\0", 23), "", true, "C:\\tools\\tool.exe"},
      {"ANSI bytes pass as they are", about::kRegSz, "C:\\Programme\\\xc3\xbc\xe2\x80\x93\0", "",
       true, "C:\\Programme\\\xc3\xbc\xe2\x80\x93"},
      {"a single NUL is the empty text", about::kRegSz, std::string(1, '\0'), "old", true, ""},
      {"a DWORD reads from its last byte to its first", about::kRegDword,
       Bytes({0x78, 0x56, 0x34, 0x12}), "", true, "305419896"},
      {"a DWORD of 255", about::kRegDword, Bytes({0xFF, 0, 0, 0}), "", true, "255"},
      {"a DWORD is unsigned", about::kRegDword, Bytes({0xFF, 0xFF, 0xFF, 0xFF}), "", true,
       "4294967295"},
      {"a DWORD of 0 ends in NUL, which goes", about::kRegDword, Bytes({0, 0, 0, 0}), "", true,
       "0"},
      {"an expandable string leaves KeyVal as it came", about::kRegExpandSz,
       std::string("%SystemRoot%\\x.exe\0", 19), "kept", true, "kept"},
      {"binary data leaves KeyVal as it came", kRegBinary, Bytes({1, 2, 3}), "", true, ""},
      {"a missing value empties KeyVal", about::kRegSz, std::nullopt, "stale", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Served> values = {{kFirstKey, "Other", about::kRegSz, "other"}};
    if (c.data) values.push_back({kFirstKey, "Value", c.type, *c.data});
    ServedRegistry registry(values);
    frmAbout about;
    about.registry = &registry;
    std::string value = c.before;

    EXPECT_EQ(about.GetKeyValue(about::kHkeyLocalMachine, kFirstKey, "Value", value), c.result);
    EXPECT_EQ(value, c.after);

    ASSERT_EQ(registry.opens.size(), 1u);
    EXPECT_EQ(registry.opens[0].root, about::kHkeyLocalMachine);
    EXPECT_EQ(registry.opens[0].key, kFirstKey);
    EXPECT_EQ(registry.opens[0].options, 0u);
    EXPECT_EQ(registry.opens[0].access, 0x20019u) << "read rights only (KEY_READ)";
    ASSERT_EQ(registry.queries.size(), 1u);
    EXPECT_EQ(registry.queries[0].handle, registry.opens[0].handle);
    EXPECT_EQ(registry.queries[0].name, "Value");
    EXPECT_EQ(registry.queries[0].sizeIn, 1024u);
    EXPECT_TRUE(registry.queries[0].bufferAllNul) << "the buffer is 1024 NULs before the query";
    EXPECT_TRUE(registry.queries[0].reservedNull);
    EXPECT_EQ(registry.closes, registry.OpenedHandles());
    EXPECT_TRUE(registry.AllClosed());
  }
}

TEST(GetKeyValue, AFailedOpenStillClosesHandleZeroAndQueriesNothing) {
  ServedRegistry registry({{kSecondKey, "MSINFO", about::kRegSz, "C:\\x"}});
  frmAbout about;
  about.registry = &registry;
  std::string value = "stale";
  EXPECT_FALSE(about.GetKeyValue(about::kHkeyLocalMachine, kFirstKey, "PATH", value));
  EXPECT_EQ(value, "");
  EXPECT_TRUE(registry.queries.empty());
  EXPECT_EQ(registry.closes, std::vector<about::RegistryKey>{0});
  // Another root than the one the value lives under is a failed open too.
  value = "stale";
  EXPECT_FALSE(about.GetKeyValue(0x80000001, kSecondKey, "MSINFO", value));
  EXPECT_EQ(value, "");
  EXPECT_EQ(registry.closes, (std::vector<about::RegistryKey>{0, 0}));
}

TEST(GetKeyValue, AValueWithNoDataRaisesAnInvalidCallAndStillClosesTheKey) {
  ServedRegistry registry({{kFirstKey, "PATH", about::kRegSz, ""}});
  frmAbout about;
  about.registry = &registry;
  std::string value;
  try {
    about.GetKeyValue(about::kHkeyLocalMachine, kFirstKey, "PATH", value);
    ADD_FAILURE() << "no run-time error";
  } catch (const tk::Error& error) {
    EXPECT_EQ(error.code(), tk::kInvalidCall);
  }
  ASSERT_EQ(registry.opens.size(), 1u);
  EXPECT_NE(registry.opens[0].handle, 0u);
  EXPECT_EQ(registry.closes, registry.OpenedHandles());
  EXPECT_TRUE(registry.AllClosed());
}

// ---- The launcher ----------------------------------------------------------

// A loaded About window whose message boxes and unhandled errors are
// recorded instead of shown.
class Launcher : public testing::Test {
 protected:
  void SetUp() override {
    previousHook_ = tk::testing::SetMessageBoxHook(
        [this](const std::string& prompt) { prompts.push_back(prompt); });
    previousHandler_ =
        tk::SetUnhandledErrorHandler([this](const tk::Error& e) { errors.push_back(e.what()); });
    ASSERT_FALSE(temp.path().empty());
    marker = temp.path() + "/marker";
  }
  void TearDown() override {
    about.Unload();
    Pump(0);
    tk::testing::SetMessageBoxHook(previousHook_);
    tk::SetUnhandledErrorHandler(previousHandler_);
  }

  // What the user sees of the About window.
  std::vector<std::string> Snapshot() {
    QWidget* native = tk::backend::NativeWindow(about);
    return {about.Loaded() ? "loaded" : "not loaded",
            about.Visible() ? "visible" : "hidden",
            about.Caption(),
            native ? native->windowTitle().toStdString() : "",
            about.lblTitle.Caption(),
            about.lblVersion.Caption(),
            about.lblDescription.Caption()};
  }

  // After one press in `dir`: the message and nothing started, or exactly
  // `started` (below `dir`) started once.
  void ExpectOutcome(const TempDir& dir, const std::string& started) {
    EXPECT_TRUE(errors.empty());
    if (started.empty()) {
      EXPECT_EQ(prompts, std::vector<std::string>{kMessage});
      Pump(100);
      EXPECT_EQ(ReadLines(dir.marker()), std::vector<std::string>{}) << "something started";
    } else {
      EXPECT_TRUE(prompts.empty());
      EXPECT_EQ(WaitForLines(dir.marker(), 1),
                std::vector<std::string>{dir.path() + "/" + started});
      Pump(100);
      EXPECT_EQ(ReadLines(dir.marker()).size(), 1u) << "more than one program started";
    }
  }

  frmAbout about;
  TempDir temp;
  std::string marker;
  std::vector<std::string> prompts;
  std::vector<std::string> errors;

 private:
  tk::testing::MessageBoxHook previousHook_;
  tk::UnhandledErrorHandler previousHandler_;
};

TEST_F(Launcher, EachWayThroughStartsTheToolOrShowsTheMessageOnEveryPress) {
  struct Case {
    const char* what;
    std::vector<Served> values;      // "{tmp}" stands for the case's folder
    std::vector<std::string> files;  // scripts to make, below {tmp}
    std::vector<std::string> keys;   // the keys one press opens
    std::string started;             // the program started, or "" for the message
  };
  const std::string tooLong(1025, 'p');
  const std::vector<std::string> first = {kFirstKey};
  const std::vector<std::string> both = {kFirstKey, kSecondKey};
  const Served folder = {kSecondKey, "MSINFO", about::kRegSz, "{tmp}/folder\0"};
  const Case cases[] = {
      {"the first value is started as it is",
       {{kFirstKey, "PATH", about::kRegSz, "{tmp}/bin/tamberlode-sysinfo-probe"}, folder},
       {"bin/tamberlode-sysinfo-probe", "folder\\MSINFO32.EXE"},
       first,
       "{tmp}/bin/tamberlode-sysinfo-probe"},
      // A name that is not a full path would start whatever PATH or the
      // current directory offers under it: no tool.
      {"a bare first value is no tool, even with the name on PATH",
       {{kFirstKey, "PATH", about::kRegSz, std::string("tamberlode-sysinfo-probe\0", 25)}, folder},
       {"bin/tamberlode-sysinfo-probe", "folder\\MSINFO32.EXE"},
       first,
       ""},
      {"a first value relative to the current directory is no tool",
       {{kFirstKey, "PATH", about::kRegSz, "bin/tamberlode-sysinfo-probe"}},
       {"bin/tamberlode-sysinfo-probe"},
       first,
       ""},
      {"a second value relative to the current directory is no tool",
       {{kSecondKey, "MSINFO", about::kRegSz, "folder"}},
       {"folder\\MSINFO32.EXE"},
       both,
       ""},
      {"no first key: the program in the second value's folder",
       {folder},
       {"folder\\MSINFO32.EXE"},
       both,
       "{tmp}/folder\\MSINFO32.EXE"},
      {"a first value over 1024 bytes falls back to the second",
       {{kFirstKey, "PATH", about::kRegSz, tooLong}, folder},
       {"folder\\MSINFO32.EXE"},
       both,
       "{tmp}/folder\\MSINFO32.EXE"},
      {"a folder ending in a backslash gives two",
       {{kSecondKey, "MSINFO", about::kRegSz, "{tmp}/folder\\"}},
       {"folder\\\\MSINFO32.EXE"},
       both,
       "{tmp}/folder\\\\MSINFO32.EXE"},
      {"a folder without the program", {folder}, {"folder\\README.TXT"}, both, ""},
      {"both values missing", {{kFirstKey, "Other", about::kRegSz, "x"}}, {}, both, ""},
      {"a first value naming no file",
       {{kFirstKey, "PATH", about::kRegSz, "{tmp}/nowhere/MSINFO32.EXE"}, folder},
       {"folder\\MSINFO32.EXE"},
       first,
       ""},
      {"an expandable first value",
       {{kFirstKey, "PATH", about::kRegExpandSz, "{tmp}/folder\\MSINFO32.EXE"}, folder},
       {"folder\\MSINFO32.EXE"},
       first,
       ""},
      {"a first value with no data",
       {{kFirstKey, "PATH", about::kRegSz, ""}, folder},
       {"folder\\MSINFO32.EXE"},
       first,
       ""},
      {"a second value with no data", {{kSecondKey, "MSINFO", about::kRegSz, ""}}, {}, both, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string caseMarker = dir.path() + "/marker";
    const char* inherited = std::getenv("PATH");
    PathGuard path(dir.path() + "/bin:" + (inherited ? inherited : "/usr/bin:/bin"));
    CwdGuard cwd(dir.path());
    std::vector<Served> values = c.values;
    for (Served& v : values) v.data = Replace(v.data, "{tmp}", dir.path());
    for (const std::string& file : c.files) WriteScript(dir.path() + "/" + file, caseMarker);
    ServedRegistry registry(values);
    about.registry = &registry;
    about.Show();
    prompts.clear();
    const std::vector<std::string> before = Snapshot();

    for (int press = 1; press <= 2; ++press) {
      about.cmdSysInfo.Press();
      EXPECT_EQ(Snapshot(), before) << "press " << press;
    }

    std::vector<std::string> keys;
    for (int press = 0; press < 2; ++press) keys.insert(keys.end(), c.keys.begin(), c.keys.end());
    EXPECT_EQ(registry.OpenedKeys(), keys) << "each press repeats the whole search";
    for (const auto& open : registry.opens) EXPECT_EQ(open.access, 0x20019u) << open.key;
    EXPECT_EQ(registry.closes, registry.OpenedHandles());
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.front());
    if (c.started.empty()) {
      EXPECT_EQ(prompts, (std::vector<std::string>{kMessage, kMessage}));
    } else {
      const std::string started = Replace(c.started, "{tmp}", dir.path());
      EXPECT_TRUE(prompts.empty());
      EXPECT_EQ(WaitForLines(caseMarker, 2), (std::vector<std::string>{started, started}));
    }
    Pump(50);
    EXPECT_LE(ReadLines(caseMarker).size(), c.started.empty() ? 0u : 2u) << "nothing else started";
    about.registry = nullptr;
  }
}

// Where Windows would try "C:\Program.exe" for an unquoted "C:\Program
// Files\...", the process start takes the whole path as the program: no
// split at blanks, no shell to read quotes, ";", "&", "|" or "$(...)".
TEST_F(Launcher, TheProcessStartRunsExactlyTheFileAPathNames) {
  const std::string odd = temp.path() + "/Program Files 'q' \"dq\" $(touch pwned); a & b | c";
  const std::string tool = odd + "/sys info.exe";
  WriteScript(tool, marker);
  // What a split at the first blank would start instead.
  const std::string decoy = temp.path() + "/Program";
  WriteScript(decoy, temp.path() + "/decoy");
  const std::string pwned = fs::current_path() / "pwned";
  ASSERT_FALSE(fs::exists(pwned));

  ServedRegistry registry({{kFirstKey, "PATH", about::kRegSz, tool + '\0'}});
  about.registry = &registry;
  about.Show();
  about.cmdSysInfo.Press();

  EXPECT_TRUE(prompts.empty());
  EXPECT_EQ(WaitForLines(marker, 1), std::vector<std::string>{tool});
  EXPECT_FALSE(fs::exists(temp.path() + "/decoy"));
  EXPECT_FALSE(fs::exists(pwned));
  about.registry = nullptr;
}

// ---- The Linux stand-in registry -------------------------------------------

TEST(StandInRegistry, HoldsOnlyTheToolPathKeyForReadingAndHandsOutDistinctHandles) {
  const std::unique_ptr<about::Registry> platform = about::PlatformRegistry();
  about::Registry& registry = *platform;
  constexpr std::uint32_t kRead = 0x20019, kQuery = 0x1, kAllOld = 0x2003F, kSetValue = 0x2;
  struct Case {
    about::RegistryKey root;
    const char* key;
    std::uint32_t access;
    std::int32_t status;
  };
  const Case cases[] = {
      {about::kHkeyLocalMachine, kFirstKey, kRead, about::kErrorSuccess},
      {about::kHkeyLocalMachine, kFirstKey, kQuery, about::kErrorSuccess},
      {about::kHkeyLocalMachine, kFirstKey, kRead | 0x100, about::kErrorSuccess},  // 64-bit view
      {about::kHkeyLocalMachine, kFirstKey, kAllOld, about::kErrorAccessDenied},
      {about::kHkeyLocalMachine, kFirstKey, kQuery | kSetValue, about::kErrorAccessDenied},
      {about::kHkeyLocalMachine, "software\\microsoft\\shared tools\\msinfo", kRead,
       about::kErrorSuccess},
      {about::kHkeyLocalMachine, "SOFTWARE\\MICROSOFT\\SHARED TOOLS\\MSINFO", kRead,
       about::kErrorSuccess},
      {about::kHkeyLocalMachine, kSecondKey, kRead, about::kErrorFileNotFound},
      {about::kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools", kRead,
       about::kErrorFileNotFound},
      {about::kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO\\More", kRead,
       about::kErrorFileNotFound},
      {about::kHkeyLocalMachine, "", kRead, about::kErrorFileNotFound},
      {0x80000001, kFirstKey, kRead, about::kErrorFileNotFound},  // HKEY_CURRENT_USER
      {0, kFirstKey, kRead, about::kErrorFileNotFound},
  };
  std::set<about::RegistryKey> handles;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " for " + std::to_string(c.access));
    about::RegistryKey handle = 0;
    const std::int32_t status = registry.RegOpenKeyExA(c.root, c.key, 0, c.access, handle);
    EXPECT_EQ(status, c.status);
    if (status == about::kErrorSuccess) {
      EXPECT_NE(handle, 0u);
      EXPECT_TRUE(handles.insert(handle).second) << "each open has its own handle";
    } else {
      EXPECT_EQ(handle, 0u);
    }
  }
  for (about::RegistryKey handle : handles) {
    EXPECT_EQ(registry.RegCloseKey(handle), about::kErrorSuccess);
    EXPECT_EQ(registry.RegCloseKey(handle), about::kErrorInvalidHandle) << "closed already";
  }
  EXPECT_EQ(registry.RegCloseKey(0), about::kErrorInvalidHandle);
}

TEST(StandInRegistry, AnswersThePathValueLikeAdvapi32) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string tool = dir.path() + "/hardinfo";
  WriteScript(tool, dir.path() + "/marker");
  PathGuard path(dir.path());
  const std::unique_ptr<about::Registry> platform = about::PlatformRegistry();
  about::Registry& registry = *platform;
  about::RegistryKey key = 0;
  ASSERT_EQ(registry.RegOpenKeyExA(about::kHkeyLocalMachine, kFirstKey, 0, 0x20019, key), 0);

  struct Case {
    const char* name;
    std::uint32_t size;  // the buffer's size going in
    std::int32_t status;
    std::uint32_t sizeOut;
  };
  const auto full = static_cast<std::uint32_t>(tool.size() + 1);
  const Case cases[] = {
      {"PATH", 1024, about::kErrorSuccess, full},
      {"path", 1024, about::kErrorSuccess, full},
      {"PATH", full, about::kErrorSuccess, full},
      {"PATH", full - 1, about::kErrorMoreData, full},
      {"MSINFO", 1024, about::kErrorFileNotFound, 1024},
      {"", 1024, about::kErrorFileNotFound, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.size));
    std::vector<unsigned char> buffer(1024, 0);
    std::uint32_t size = c.size;
    std::uint32_t type = 0;
    EXPECT_EQ(registry.RegQueryValueExA(key, c.name, nullptr, type, buffer.data(), size), c.status);
    EXPECT_EQ(size, c.sizeOut);
    if (c.status == about::kErrorSuccess) {
      EXPECT_EQ(type, about::kRegSz);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), size),
                tool + std::string(1, '\0'));
    }
  }
  EXPECT_EQ(registry.RegCloseKey(key), 0);
  std::uint32_t type = 0, size = 1024;
  std::vector<unsigned char> buffer(1024, 0);
  EXPECT_EQ(registry.RegQueryValueExA(key, "PATH", nullptr, type, buffer.data(), size),
            about::kErrorInvalidHandle)
      << "a closed key answers nothing";
}

// Presses of System Info on a loaded About window with the platform's
// registry, so the stand-in finds the tool on PATH and the launcher starts it
// for real.
TEST_F(Launcher, OnLinuxTheFirstListedToolOnPathStartsOrTheMessageShows) {
  struct Case {
    const char* what;
    std::vector<std::string> path;        // PATH's folders, below the temp folder
    std::vector<std::string> tools;       // executables to make, below the temp folder
    std::string started;                  // below the temp folder; "" for the message
    std::vector<std::string> plain = {};  // files that are not executable
  };
  const std::string odd = "my tools; $(rm x) 'q' \"dq\" & |";
  const Case cases[] = {
      {"hardinfo on PATH", {"bin"}, {"bin/hardinfo"}, "bin/hardinfo"},
      {"a folder with blanks and shell characters",
       {odd},
       {odd + "/kinfocenter"},
       odd + "/kinfocenter"},
      {"the list's order beats PATH's", {"a", "b"}, {"a/cpu-x", "b/hardinfo"}, "b/hardinfo"},
      {"kinfocenter before cpu-x", {"a"}, {"a/cpu-x", "a/kinfocenter"}, "a/kinfocenter"},
      {"a file that cannot run is passed over",
       {"a", "b"},
       {"b/cpu-x"},
       "b/cpu-x",
       {"a/hardinfo", "a/kinfocenter"}},
      {"no listed tool on PATH", {"bin"}, {"bin/msinfo32", "bin/hardinfo2x"}, ""},
      {"a listed tool only off PATH", {"bin"}, {"elsewhere/hardinfo"}, ""},
  };
  ASSERT_EQ(about.registry, nullptr) << "the platform's registry by default";
  about.Show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::string path;
    for (const std::string& folder : c.path) {
      fs::create_directories(dir.path() + "/" + folder);
      path += (path.empty() ? "" : ":") + dir.path() + "/" + folder;
    }
    for (const std::string& tool : c.tools) WriteScript(dir.path() + "/" + tool, dir.marker());
    for (const std::string& file : c.plain)
      WriteScript(dir.path() + "/" + file, dir.marker(), false);
    prompts.clear();
    const std::vector<std::string> before = Snapshot();
    {
      PathGuard guard(path);
      about.cmdSysInfo.Press();
      EXPECT_EQ(Snapshot(), before);
      EXPECT_EQ(std::getenv("PATH"), path);
    }
    ExpectOutcome(dir, c.started);
  }
}

// PATH as the system hands it over: a folder named in bytes that are not
// UTF-8 is the folder tested and the folder started from (a re-encoded name
// would start a program planted under the U+FFFD spelling), and empty or
// relative entries never reach into the current directory.
TEST_F(Launcher, OnLinuxOnlyAbsolutePathFoldersCountAndKeepTheirBytes) {
  struct Case {
    const char* what;
    std::string path;                // "{tmp}" stands for the case's folder
    std::vector<std::string> tools;  // executables to make, below {tmp}
    std::string started;             // below {tmp}; "" for the message
  };
  const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
  const Case cases[] = {
      {"empty entries", "::", {"hardinfo"}, ""},
      {"a trailing empty entry", "{tmp}/none:", {"hardinfo"}, ""},
      {"the current directory", ".", {"hardinfo"}, ""},
      {"a relative folder", "bin", {"bin/hardinfo"}, ""},
      {"relative entries passed over for an absolute one",
       ":.:bin:{tmp}/abs",
       {"hardinfo", "bin/hardinfo", "abs/hardinfo"},
       "abs/hardinfo"},
      {"a folder named in bytes that are not UTF-8",
       "{tmp}/tools\xFF",
       {"tools\xFF/hardinfo", "tools" + replacement + "/hardinfo"},
       "tools\xFF/hardinfo"},
      {"a Latin-1 folder name",
       "{tmp}/caf\xE9",
       {"caf\xE9/kinfocenter", "caf" + replacement + "/hardinfo"},
       "caf\xE9/kinfocenter"},
  };
  about.Show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    for (const std::string& tool : c.tools) WriteScript(dir.path() + "/" + tool, dir.marker());
    prompts.clear();
    {
      CwdGuard cwd(dir.path());
      PathGuard guard(Replace(c.path, "{tmp}", dir.path()));
      about.cmdSysInfo.Press();
    }
    ExpectOutcome(dir, c.started);
  }
}

// Notes the paints of a window, and whether the busy cursor showed then.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QWidget* window) { window->installEventFilter(this); }
  int paints = 0;
  bool busy = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++paints;
      const QCursor* cursor = QApplication::overrideCursor();
      busy = busy || (cursor != nullptr && cursor->shape() == Qt::WaitCursor);
    }
    return false;
  }
};

// What each forked copy of this process holds open: the targets of its
// descriptors ("pipe:[…]", a path, "socket:[…]"). Other children (a FUSE
// daemon) run other programs and are left out.
std::vector<std::vector<std::string>> ChildDescriptors() {
  std::vector<std::vector<std::string>> children;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::ifstream list(task.path() / "children");
    for (pid_t pid = 0; list >> pid;) {
      if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error) != self) continue;
      std::vector<std::string> held;
      for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        held.push_back(fs::read_symlink(fd.path(), error).string());
      children.push_back(held);
    }
  }
  return children;
}

// A folder first on PATH that hangs (a share whose server went away): the
// search waits for it until its deadline at most and starts the tool from
// the next folder; the next press does not wait for that folder again.
TEST_F(Launcher, OnLinuxAHungFolderOnPathHoldsTheSearchNoLongerThanItsDeadline) {
  const std::string why = faults::EnterPrivateMountNamespace();
  if (!why.empty()) GTEST_SKIP() << why;
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  fs::create_directories(dir.path() + "/hung");
  WriteScript(dir.path() + "/bin/hardinfo", dir.marker());
  faults::StuckMount hung(TAMBERLODE_STUCKFS, dir.path() + "/hung", "sshfs", "hang");
  ASSERT_TRUE(hung.Mounted());
  // A search that waited for ever goes on, late, once the daemon is gone.
  std::atomic<bool> pressed = false;
  std::thread watchdog([&] {
    for (int i = 0; i < 200 && !pressed; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    hung.KillDaemon();
  });
  about.Show();
  Pump(50);
  // A repaint pending as the press begins: it runs during the search's wait,
  // under the busy cursor, and the children met then hold nothing of ours.
  QWidget* window = tk::backend::NativeWindow(about);
  PaintWatch watch(window);
  window->update();
  qint64 first = 0, second = 0;
  {
    PathGuard guard(dir.path() + "/hung:" + dir.path() + "/bin");
    QElapsedTimer clock;
    clock.start();
    about.cmdSysInfo.Press();
    first = clock.restart();
    EXPECT_GT(watch.paints, 0) << "the window did not paint during the search's wait";
    EXPECT_TRUE(watch.busy) << "no busy cursor during the search's wait";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor stayed";
    // The folder's look is still stuck: its child holds its answer pipe only.
    const std::vector<std::vector<std::string>> held = ChildDescriptors();
    ASSERT_FALSE(held.empty()) << "no stuck child to look at";
    for (const std::vector<std::string>& descriptors : held)
      EXPECT_EQ(descriptors.size(), 1u) << testing::PrintToString(descriptors);
    about.cmdSysInfo.Press();
    second = clock.elapsed();
  }
  pressed = true;
  watchdog.join();
  std::cout << "[   TIME   ] presses took " << first << " ms and " << second << " ms\n";
  EXPECT_LT(first, 6000);
  EXPECT_LT(second, 1000);
  EXPECT_TRUE(prompts.empty());
  EXPECT_EQ(WaitForLines(dir.marker(), 2),
            std::vector<std::string>(2, dir.path() + "/bin/hardinfo"));
}

}  // namespace
