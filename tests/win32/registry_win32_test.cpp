// The registry reader and the launcher against Wine's real registry. The
// values are added by scripts/wine-tests.sh with `wine reg add` under the
// key named in TAMBERLODE_WINE_REGKEY (below HKEY_LOCAL_MACHINE), and
// removed after the run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "about/frmabout.h"
#include "about/registry.h"
#include "toolkit/testing.h"

namespace {

std::string TestKey() {
  const char* key = std::getenv("TAMBERLODE_WINE_REGKEY");
  return key ? key : "";
}

TEST(Registry, Advapi32OpensReadsAndClosesRealKeys) {
  const std::string key = TestKey();
  if (key.empty()) GTEST_SKIP() << "no test key in the registry (run by scripts/wine-tests.sh)";
  const std::unique_ptr<about::Registry> platform = about::PlatformRegistry();
  about::Registry& registry = *platform;
  about::RegistryKey handle = 0;
  ASSERT_EQ(registry.RegOpenKeyExA(about::kHkeyLocalMachine, key.c_str(), 0, 0x20019, handle), 0);
  EXPECT_NE(handle, 0u);
  unsigned char buffer[1024] = {};
  std::uint32_t type = 0, size = sizeof buffer;
  ASSERT_EQ(registry.RegQueryValueExA(handle, "Text", nullptr, type, buffer, size), 0);
  EXPECT_EQ(type, 1u);  // REG_SZ
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size),
            std::string("C:\\Program Files\\Tool\\tool.exe") + '\0');
  size = sizeof buffer;
  EXPECT_NE(registry.RegQueryValueExA(handle, "Missing", nullptr, type, buffer, size), 0);
  EXPECT_EQ(registry.RegCloseKey(handle), 0);

  about::RegistryKey missing = 0;
  EXPECT_NE(registry.RegOpenKeyExA(about::kHkeyLocalMachine, (key + "\\No Such Key").c_str(), 0,
                                   0x20019, missing),
            0);
  EXPECT_EQ(missing, 0u) << "a failed open leaves the handle at 0";
  EXPECT_NE(registry.RegCloseKey(0), 0) << "closing handle 0 fails harmlessly";
}

TEST(Registry, GetKeyValueReadsRealValues) {
  const std::string key = TestKey();
  if (key.empty()) GTEST_SKIP() << "no test key in the registry (run by scripts/wine-tests.sh)";
  struct Case {
    const char* value;
    bool found;
    std::string text;
  };
  const Case cases[] = {
      {"Text", true, "C:\\Program Files\\Tool\\tool.exe"},
      {"Exact", true, std::string(1023, 'x')},  // 1024 bytes with its NUL
      {"TooLong", false, ""},                   // one byte more than the buffer
      {"Empty", true, ""},
      {"Expand", true, ""},  // another type: the text stays as it came in
      {"Missing", false, ""},
  };
  frmAbout about;
  for (const Case& c : cases) {
    std::string text;
    EXPECT_EQ(about.GetKeyValue(about::kHkeyLocalMachine, key, c.value, text), c.found) << c.value;
    EXPECT_EQ(text, c.text) << c.value;
  }
  std::string text = "left over";
  EXPECT_FALSE(about.GetKeyValue(about::kHkeyLocalMachine, key + "\\No Such Key", "Text", text));
  EXPECT_EQ(text, "") << "a failed read empties the text";
}

TEST(Registry, LauncherSaysUnavailableWithoutTheToolsKeys) {
  about::RegistryKey handle = 0;
  const std::unique_ptr<about::Registry> platform = about::PlatformRegistry();
  about::Registry& registry = *platform;
  for (const char* key : {"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO",
                          "SOFTWARE\\Microsoft\\Shared Tools Location"}) {
    if (registry.RegOpenKeyExA(about::kHkeyLocalMachine, key, 0, 0x20019, handle) == 0) {
      registry.RegCloseKey(handle);
      GTEST_SKIP() << key << " exists in this registry";
    }
  }
  std::string prompt;
  const auto previous = tk::testing::SetMessageBoxHook([&](const std::string& p) { prompt = p; });
  frmAbout about;
  about.StartSysInfo();
  tk::testing::SetMessageBoxHook(previous);
  EXPECT_EQ(prompt, "System Information Is Unavailable At This Time");
}

// Two views of a registry, as 64-bit Windows shows them: the 32-bit view a
// 32-bit program sees, and the 64-bit view asked for with KEY_WOW64_64KEY.
// Records every open: the key and the access asked for.
class TwoViews final : public about::Registry {
 public:
  // Keys and their values (name -> text) in each view.
  using View = std::map<std::string, std::map<std::string, std::string>>;
  TwoViews(View own, View wide) : own_(std::move(own)), wide_(std::move(wide)) {}

  std::int32_t RegOpenKeyExA(about::RegistryKey, const char* lpSubKey, std::uint32_t,
                             std::uint32_t samDesired, about::RegistryKey& phkResult) override {
    opens.emplace_back(lpSubKey, samDesired);
    const View& view = (samDesired & about::kKeyWow64_64Key) ? wide_ : own_;
    const auto key = view.find(lpSubKey);
    if (key == view.end()) return about::kErrorFileNotFound;
    phkResult = ++next_;
    open_[phkResult] = &key->second;
    return about::kErrorSuccess;
  }
  std::int32_t RegQueryValueExA(about::RegistryKey hKey, const char* lpValueName, std::uint32_t*,
                                std::uint32_t& lpType, unsigned char* lpData,
                                std::uint32_t& lpcbData) override {
    const auto key = open_.find(hKey);
    if (key == open_.end()) return about::kErrorInvalidHandle;
    const auto value = key->second->find(lpValueName);
    if (value == key->second->end()) return about::kErrorFileNotFound;
    lpType = about::kRegSz;
    lpcbData = static_cast<std::uint32_t>(value->second.size() + 1);
    std::memcpy(lpData, value->second.c_str(), lpcbData);
    return about::kErrorSuccess;
  }
  std::int32_t RegCloseKey(about::RegistryKey hKey) override {
    return open_.erase(hKey) == 1 ? about::kErrorSuccess : about::kErrorInvalidHandle;
  }
  bool AllClosed() const { return open_.empty(); }

  std::vector<std::pair<std::string, std::uint32_t>> opens;

 private:
  View own_, wide_;
  std::map<about::RegistryKey, const std::map<std::string, std::string>*> open_;
  about::RegistryKey next_ = 0x100;
};

// The launcher's search through both views: the design's order of the two
// keys, each asked in the program's view and then, where the key or value
// is missing, in the 64-bit view; read rights only, every key closed.
TEST(Registry, TheSearchAsksTheOwnViewThenThe64BitViewWithReadRightsOnly) {
  const std::string first = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
  const std::string second = "SOFTWARE\\Microsoft\\Shared Tools Location";
  constexpr std::uint32_t kOwn = 0x20019, kWide = 0x20119;
  using Opens = std::vector<std::pair<std::string, std::uint32_t>>;
  struct Case {
    const char* what;
    TwoViews::View own, wide;
    std::string found;  // the first key's PATH, else the second's MSINFO
    Opens opens;
  };
  const Case cases[] = {
      {"the value in the program's view",
       {{first, {{"PATH", "C:\\own.exe"}}}},
       {},
       "C:\\own.exe",
       {{first, kOwn}}},
      {"the key in both views, the value only in the 64-bit one",
       {{first, {}}},
       {{first, {{"PATH", "C:\\wide.exe"}}}},
       "C:\\wide.exe",
       {{first, kOwn}, {first, kWide}}},
      {"the key only in the 64-bit view",
       {},
       {{first, {{"PATH", "C:\\wide.exe"}}}},
       "C:\\wide.exe",
       {{first, kOwn}, {first, kWide}}},
      {"the second key only in the 64-bit view",
       {},
       {{second, {{"MSINFO", "C:\\folder"}}}},
       "C:\\folder",
       {{first, kOwn}, {first, kWide}, {second, kOwn}, {second, kWide}}},
      {"neither key anywhere",
       {},
       {},
       "",
       {{first, kOwn}, {first, kWide}, {second, kOwn}, {second, kWide}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TwoViews raw(c.own, c.wide);
    const std::unique_ptr<about::Registry> registry = about::BothViews(raw);
    frmAbout about;
    about.registry = registry.get();
    std::string value;
    bool found = about.GetKeyValue(about::kHkeyLocalMachine, first, "PATH", value);
    if (!found) found = about.GetKeyValue(about::kHkeyLocalMachine, second, "MSINFO", value);
    EXPECT_EQ(found, !c.found.empty());
    EXPECT_EQ(value, c.found);
    EXPECT_EQ(raw.opens, c.opens);
    EXPECT_TRUE(raw.AllClosed());
  }
}

}  // namespace
