// The registry reader and the launcher against Wine's real registry. The
// values are added by scripts/wine-tests.sh with `wine reg add` under the
// key named in TAMBERLODE_WINE_REGKEY (below HKEY_LOCAL_MACHINE), and
// removed after the run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
  about::Registry& registry = about::PlatformRegistry();
  about::RegistryKey handle = 0;
  ASSERT_EQ(registry.RegOpenKeyExA(about::kHkeyLocalMachine, key.c_str(), 0, 0x2003F, handle), 0);
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
                                   0x2003F, missing),
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
  about::Registry& registry = about::PlatformRegistry();
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

}  // namespace
