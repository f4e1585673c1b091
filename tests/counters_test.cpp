// The 32-bit free-space counters made from a volume's true sizes, shared by
// the Linux query and the Windows one.
#include "survey/counters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

constexpr std::uint64_t kTiB = std::uint64_t{1} << 40;
constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();

std::int64_t Bytes(std::int32_t sectors, std::int32_t bytes, std::int32_t clusters) {
  return std::int64_t{sectors} * bytes * clusters;
}

TEST(FitCounters, VolumesThatFitKeepWhatGetDiskFreeSpaceSaid) {
  struct Case {
    const char* name;
    survey::FreeSpaceCounters reported;
    std::uint64_t totalBytes, availableBytes;
  };
  const Case cases[] = {
      {"floppy", {1, 512, 2847, 2847}, 2847ull * 512, 2847ull * 512},
      {"4 KiB clusters, 100 GiB", {8, 512, 1000, 26214400}, 26214400ull * 4096, 1000ull * 4096},
      {"exactly 2^31-1 clusters", {8, 512, 5, 2147483647}, 2147483647ull * 4096, 5ull * 4096},
      {"quota smaller than the free space", {8, 512, 7, 100}, 100ull * 4096, 7ull * 4096 + 100},
  };
  for (const Case& c : cases) {
    const auto fitted = survey::FitCounters(c.reported, c.totalBytes, c.availableBytes);
    ASSERT_TRUE(fitted) << c.name;
    EXPECT_EQ(fitted->sectorsPerCluster, c.reported.sectorsPerCluster) << c.name;
    EXPECT_EQ(fitted->bytesPerSector, c.reported.bytesPerSector) << c.name;
    EXPECT_EQ(fitted->freeClusters, c.reported.freeClusters) << c.name;
    EXPECT_EQ(fitted->totalClusters, c.reported.totalClusters) << c.name;
  }
}

TEST(FitCounters, BigVolumesAreScaledToTheirTrueSize) {
  struct Case {
    const char* name;
    std::uint64_t totalBytes, availableBytes;
    std::int32_t sectorsPerCluster;  // expected after scaling
  };
  // 4 KiB clusters: 8 TiB is 2^31 clusters, the first count that no longer fits.
  const Case cases[] = {
      {"8 TiB, empty", 8 * kTiB, 8 * kTiB, 16},
      {"9 TiB, half full", 9 * kTiB, 9 * kTiB / 2, 16},
      {"17 TiB, empty (count cut to 32 bits)", 17 * kTiB, 17 * kTiB, 32},
      {"1 PiB, nearly full", 1024 * kTiB, 4096 * 3, 2048},
  };
  for (const Case& c : cases) {
    // What GetDiskFreeSpaceA leaves of the counts: the low 32 bits, signed.
    const survey::FreeSpaceCounters reported{
        8, 512, static_cast<std::int32_t>(static_cast<std::uint32_t>(c.availableBytes / 4096)),
        static_cast<std::int32_t>(static_cast<std::uint32_t>(c.totalBytes / 4096))};
    const auto fitted = survey::FitCounters(reported, c.totalBytes, c.availableBytes);
    ASSERT_TRUE(fitted) << c.name;
    EXPECT_EQ(fitted->bytesPerSector, 512) << c.name;
    EXPECT_EQ(fitted->sectorsPerCluster, c.sectorsPerCluster) << c.name;
    EXPECT_GT(fitted->totalClusters, 0) << c.name;
    EXPECT_GE(fitted->freeClusters, 0) << c.name;
    EXPECT_LE(fitted->totalClusters, kMax) << c.name;
    const std::int64_t cluster = Bytes(fitted->sectorsPerCluster, fitted->bytesPerSector, 1);
    EXPECT_EQ(Bytes(fitted->sectorsPerCluster, fitted->bytesPerSector, fitted->totalClusters),
              static_cast<std::int64_t>(c.totalBytes))
        << c.name;
    const std::int64_t free =
        Bytes(fitted->sectorsPerCluster, fitted->bytesPerSector, fitted->freeClusters);
    EXPECT_LE(free, static_cast<std::int64_t>(c.availableBytes)) << c.name;
    EXPECT_GT(free + cluster, static_cast<std::int64_t>(c.availableBytes)) << c.name;
  }
}

TEST(FitCounters, RejectsCountersWithoutAClusterSize) {
  EXPECT_FALSE(survey::FitCounters({0, 512, 1, 1}, 512, 512));
  EXPECT_FALSE(survey::FitCounters({8, 0, 1, 1}, 512, 512));
  EXPECT_FALSE(survey::FitCounters({-8, 512, 1, 1}, 512, 512));
}

}  // namespace
