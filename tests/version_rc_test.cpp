// The Windows version resource as CMake configures it from the project version.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines() {
  std::ifstream in(TAMBERLODE_VERSION_RC);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find_first_not_of(" \t");
    lines.push_back(first == std::string::npos ? "" : line.substr(first));
  }
  return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(VersionResource, FixedInfoCarriesTheProjectVersion) {
  const std::vector<std::string> lines = Lines();
  ASSERT_FALSE(lines.empty()) << TAMBERLODE_VERSION_RC << " was not configured";
  for (const char* want :
       {"1 VERSIONINFO", "FILEVERSION 0,1,0,0", "PRODUCTVERSION 0,1,0,0", "FILEFLAGSMASK 0",
        "FILEFLAGS 0", "FILEOS 0x4", "FILETYPE 0x1", "FILESUBTYPE 0x0", "BLOCK \"040904B0\"",
        "VALUE \"Translation\", 0x0409, 0x04B0"}) {
    EXPECT_TRUE(Has(lines, want)) << want;
  }
}

TEST(VersionResource, StringBlockHoldsExactlyTheIdentity) {
  const std::vector<std::string> lines = Lines();
  ASSERT_FALSE(lines.empty()) << TAMBERLODE_VERSION_RC << " was not configured";
  std::vector<std::string> values;
  for (const std::string& line : lines) {
    if (line.starts_with("VALUE ") && !line.starts_with("VALUE \"Translation\"")) {
      values.push_back(line);
    }
  }
  EXPECT_EQ(values, (std::vector<std::string>{
                        "VALUE \"ProductName\", \"Tamberlode\"",
                        "VALUE \"FileVersion\", \"0.01\"",
                        "VALUE \"ProductVersion\", \"0.01\"",
                        "VALUE \"InternalName\", \"Tamberlode\"",
                        "VALUE \"OriginalFilename\", \"Tamberlode.exe\"",
                    }));
}

TEST(VersionResource, NamesTheCommittedIcon) {
  const std::vector<std::string> lines = Lines();
  const std::regex icon_line("1 ICON \"(.*)\"");
  int icons = 0;
  for (const std::string& line : lines) {
    std::smatch m;
    if (!std::regex_match(line, m, icon_line)) continue;
    ++icons;
    const std::filesystem::path path = m[1].str();
    EXPECT_TRUE(path.is_absolute()) << path;
    EXPECT_TRUE(std::filesystem::equivalent(
        path, std::filesystem::path(TAMBERLODE_SOURCE_DIR) / "identity/icon/tamberlode.ico"))
        << path;
  }
  EXPECT_EQ(icons, 1);
}

}  // namespace
