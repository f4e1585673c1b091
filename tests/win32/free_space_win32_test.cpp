// The free-space query against drive letters that scripts/wine-tests.sh
// maps in the Wine prefix onto folders and tmpfs volumes of known size.
//   TAMBERLODE_WINE_VOLUMES  "d:TOTAL:FREE;e:TOTAL:FREE;..." (bytes)
//   TAMBERLODE_WINE_UNMAPPED "a;b;i"
//   TAMBERLODE_WINE_SURVEY   nine texts separated by "|", "*" for any
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "drives/module1.h"
#include "survey/survey.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  for (std::string part; std::getline(stream, part, separator);) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

struct Mapped {
  std::string root;  // "d:\"
  std::uint64_t total = 0, free = 0;
};

std::vector<Mapped> MappedVolumes() {
  std::vector<Mapped> volumes;
  for (const std::string& entry : Split(Env("TAMBERLODE_WINE_VOLUMES"), ';')) {
    const std::vector<std::string> fields = Split(entry, ':');
    if (fields.size() != 3) continue;
    volumes.push_back({fields[0] + ":\\", std::stoull(fields[1]), std::stoull(fields[2])});
  }
  return volumes;
}

TEST(FreeSpaceQuery, MappedVolumesReportTheirTrueSizeInSigned32BitCounters) {
  const std::vector<Mapped> volumes = MappedVolumes();
  if (volumes.empty()) GTEST_SKIP() << "no drive letters mapped (run by scripts/wine-tests.sh)";
  for (const Mapped& volume : volumes) {
    std::int32_t spc = -1, bps = -1, free = -1, total = -1;
    ASSERT_NE(Module1::GetDiskFreeSpaceA(volume.root.c_str(), spc, bps, free, total), 0)
        << volume.root;
    EXPECT_GT(spc, 0) << volume.root;
    EXPECT_GT(bps, 0) << volume.root;
    EXPECT_GE(free, 0) << volume.root;
    EXPECT_GT(total, 0) << volume.root;
    const std::uint64_t cluster = static_cast<std::uint64_t>(spc) * static_cast<std::uint64_t>(bps);
    EXPECT_EQ(cluster * static_cast<std::uint64_t>(total), volume.total) << volume.root;
    const std::uint64_t freeBytes = cluster * static_cast<std::uint64_t>(free);
    EXPECT_LE(freeBytes, volume.free) << volume.root;
    EXPECT_GT(freeBytes + cluster, volume.free) << volume.root;

    // kernel32's own answer: kept where the true counts fit, cut to 32 bits
    // where they do not.
    DWORD rawSpc = 0, rawBps = 0, rawFree = 0, rawTotal = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA(volume.root.c_str(), &rawSpc, &rawBps, &rawFree, &rawTotal));
    const std::uint64_t rawCluster = std::uint64_t{rawSpc} * rawBps;
    const bool fits = volume.total / rawCluster <= std::numeric_limits<std::int32_t>::max();
    if (fits) {
      EXPECT_EQ(static_cast<DWORD>(spc), rawSpc) << volume.root;
      EXPECT_EQ(static_cast<DWORD>(bps), rawBps) << volume.root;
      EXPECT_EQ(static_cast<DWORD>(free), rawFree) << volume.root;
      EXPECT_EQ(static_cast<DWORD>(total), rawTotal) << volume.root;
    } else {
      // The program's arithmetic is signed: the cut count, read signed.
      const std::int64_t signedTotal = static_cast<std::int32_t>(rawTotal);
      EXPECT_NE(signedTotal * static_cast<std::int64_t>(rawCluster),
                static_cast<std::int64_t>(volume.total))
          << volume.root << ": GetDiskFreeSpaceA alone gets big volumes wrong";
    }
  }
}

TEST(FreeSpaceQuery, UnmappedLettersFailAndLeaveTheCountersAlone) {
  const std::vector<std::string> letters = Split(Env("TAMBERLODE_WINE_UNMAPPED"), ';');
  if (letters.empty()) GTEST_SKIP() << "no unmapped letters named (run by scripts/wine-tests.sh)";
  for (const std::string& letter : letters) {
    const std::string root = letter + ":\\";
    std::int32_t spc = 11, bps = 22, free = 33, total = 44;
    EXPECT_EQ(Module1::GetDiskFreeSpaceA(root.c_str(), spc, bps, free, total), 0) << root;
    EXPECT_EQ(spc, 11);
    EXPECT_EQ(bps, 22);
    EXPECT_EQ(free, 33);
    EXPECT_EQ(total, 44);
  }
}

TEST(FreeSpaceQuery, SurveyOfTheMappedDrives) {
  const std::vector<std::string> expected = Split(Env("TAMBERLODE_WINE_SURVEY"), '|');
  if (expected.size() != survey::kDrives) {
    GTEST_SKIP() << "no expected survey given (run by scripts/wine-tests.sh)";
  }
  survey::TextTable table;
  survey::SurveyDrives(
      [](const std::string& root, std::int32_t& spc, std::int32_t& bps, std::int32_t& free,
         std::int32_t& total) {
        return Module1::GetDiskFreeSpaceA(root.c_str(), spc, bps, free, total);
      },
      table);
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const std::string& want = expected[static_cast<std::size_t>(slot - 1)];
    if (want == "*") continue;
    EXPECT_EQ(table.Read(slot), want) << "drive " << static_cast<char>('A' + slot - 1);
  }
}

}  // namespace
