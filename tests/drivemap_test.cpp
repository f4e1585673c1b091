// The Linux drive map from mount-table fixtures, the counters from statfs
// numbers, and the query over fixture maps with a scripted statfs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "drives/drive_query_posix.h"
#include "drives/drivemap_posix.h"

namespace {

using drives::DriveMap;
using survey::FreeSpaceCounters;
using survey::FsStats;

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kGiB = kKiB * kKiB * kKiB;
constexpr std::uint64_t kTiB = kGiB * kKiB;
constexpr std::uint64_t kPiB = kTiB * kKiB;
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(TAMBERLODE_DRIVEMAP_FIXTURES) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

DriveMap MapOf(const std::string& text) {
  const auto map = drives::DriveMapFromText(text);
  EXPECT_TRUE(map.has_value());
  return map.value_or(DriveMap{});
}

// The mount points of A: to I:, "" where a letter has no volume.
std::vector<std::string> Targets(const DriveMap& map) {
  std::vector<std::string> targets;
  for (const auto& volume : map) targets.push_back(volume ? volume->target : "");
  return targets;
}

struct MapCase {
  const char* fixture;
  std::vector<std::string> targets;  // A: to I:
};

void PrintTo(const MapCase& c, std::ostream* os) { *os << c.fixture; }

class DriveMapFixtures : public testing::TestWithParam<MapCase> {};

TEST_P(DriveMapFixtures, LettersTheUsersVolumesInMountOrder) {
  const MapCase& c = GetParam();
  EXPECT_EQ(Targets(MapOf(Fixture(c.fixture))), c.targets);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, DriveMapFixtures,
    testing::Values(
        // EFI, tmpfs, autofs, squashfs, portal and ramfs get nothing; the
        // bind of /home and the bind of a directory inside it get nothing;
        // seven volumes compete for six letters.
        MapCase{"desktop.mountinfo",
                {"", "", "/", "/home", "/media/user/USB STICK", "/media/cdrom", "/mnt/nfs",
                 "/mnt/nas", "/mnt/ssh"}},
        // Overlay root is C:; file binds of the host disk are not volumes.
        MapCase{"container.mountinfo", {"", "", "/", "/mnt/disk", "", "", "", "", ""}},
        // Floppies by device whatever their order; the second mount of
        // /dev/fd0 gets no second letter.
        MapCase{"floppy.mountinfo",
                {"/media/floppy0", "/media/floppy1", "/", "/media/usb", "", "", "", "", ""}},
        MapCase{"escapes.mountinfo",
                {"", "", "/", "/media/My Disk", "/mnt/tab\there", "/mnt/new\nline",
                 "/mnt/back\\slash", "/mnt/ \t\n\\", ""}},
        // Unreadable lines cost only themselves.
        MapCase{"garbage.mountinfo", {"", "", "/", "/media/usb", "/mnt/good", "", "", "", ""}},
        // The mount on top wins, /boot and /efi are skipped, and the root's
        // second mount point is no new volume.
        MapCase{"overmount.mountinfo",
                {"", "", "/", "/mnt/a", "/mnt/b", "/mnt/c", "/mnt/d", "/mnt/e", "/mnt/f"}},
        // Without device numbers, the source tells repeated mounts apart.
        MapCase{"mtab.mounts", {"", "", "/", "/mnt/x", "/mnt/nfs", "", "", "", ""}}),
    [](const testing::TestParamInfo<MapCase>& info) {
      std::string name = info.param.fixture;
      return name.substr(0, name.find('.'));
    });

TEST(DriveMap, KeepsWhatTheQueryAndTheTooltipsNeed) {
  const DriveMap map = MapOf(Fixture("desktop.mountinfo"));
  ASSERT_TRUE(map[2] && map[3] && map[6] && map[7] && map[8]);
  EXPECT_EQ(map[2]->source, "/dev/nvme0n1p2");
  EXPECT_EQ(map[3]->device, makedev(259, 3));
  EXPECT_EQ(map[3]->fstype, "ext4");
  EXPECT_EQ(map[3]->mountId, 31);
}

TEST(DriveMap, CopesWithTablesWithoutVolumesAndKeepsTheRootAsC) {
  std::vector<std::string> rootOnly(9);
  rootOnly[2] = "/";
  for (const std::string& text :
       std::vector<std::string>{"", "\n\n", "garbage\n", std::string("\0\0\0", 3),
                                "1 0 8:17 / /media/usb rw - vfat /dev/sdb1 rw\n"}) {
    const auto map = drives::DriveMapFromText(text);
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ((*map)[2]->target, "/") << testing::PrintToString(text);
    EXPECT_EQ((*map)[2]->mountId, 0);
  }
  EXPECT_EQ(Targets(*drives::DriveMapFromText("garbage\n")), rootOnly);
  EXPECT_FALSE(drives::DriveMapFromFile("/nonexistent/mountinfo").has_value());
  EXPECT_EQ(Targets(drives::BuildDriveMap(nullptr)), rootOnly);
}

TEST(DriveMap, DescribesEachLetter) {
  const DriveMap map = MapOf(Fixture("floppy.mountinfo"));
  EXPECT_EQ(drives::DescribeSlot(map, 1), "/media/floppy0 (/dev/fd0)");
  EXPECT_EQ(drives::DescribeSlot(map, 4), "/media/usb (/dev/sdb1)");
  EXPECT_EQ(drives::DescribeSlot(map, 5), "No volume has the letter E:");
  EXPECT_EQ(drives::DescribeSlot(map, 9), "No volume has the letter I:");
  EXPECT_EQ(drives::DescribeSlot(map, 0), "");
  EXPECT_EQ(drives::DescribeSlot(map, 10), "");
}

// A mount point may hold anything but NUL: its description must still show
// where the source begins, and stay one line that a terminal prints as is.
TEST(DriveMap, DescriptionsAreUnambiguousAndPrintable) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/media/my (stick)", "/media/my \\050stick) (/dev/sdb1)"},
      {"/media/a\\b", "/media/a\\134b (/dev/sdb1)"},
      {"/media/l\nine", "/media/l\\012ine (/dev/sdb1)"},
      {"/media/\r\x1b[31mred\t\x7f", "/media/\\015\\033[31mred\\011\\177 (/dev/sdb1)"},
      {"/media/caf\xc3\xa9 stick", "/media/caf\xc3\xa9 stick (/dev/sdb1)"},
  };
  for (const auto& [target, described] : cases) {
    DriveMap map;
    map[3] = drives::Volume{target, "/dev/sdb1", "vfat"};
    EXPECT_EQ(drives::DescribeSlot(map, 4), described) << testing::PrintToString(target);
  }
  DriveMap map;
  map[3] = drives::Volume{"/mnt/x", "srv:/a (b)", "nfs"};
  EXPECT_EQ(drives::DescribeSlot(map, 4), "/mnt/x (srv:/a \\050b))");
}

// --- counters -------------------------------------------------------------

struct CounterCase {
  const char* name;
  FsStats stats;
  FreeSpaceCounters expected;
};

void PrintTo(const CounterCase& c, std::ostream* os) { *os << c.name; }

class Counters : public testing::TestWithParam<CounterCase> {};

TEST_P(Counters, DescribeTheVolumeWithin32Bits) {
  const CounterCase& c = GetParam();
  const auto counters = survey::CountersFromStats(c.stats);
  ASSERT_TRUE(counters.has_value());
  EXPECT_EQ(counters->sectorsPerCluster, c.expected.sectorsPerCluster);
  EXPECT_EQ(counters->bytesPerSector, c.expected.bytesPerSector);
  EXPECT_EQ(counters->freeClusters, c.expected.freeClusters);
  EXPECT_EQ(counters->totalClusters, c.expected.totalClusters);

  // Whatever the scaling, the sizes stay true to within one cluster.
  const double cluster =
      static_cast<double>(counters->sectorsPerCluster) * counters->bytesPerSector;
  const double unit = static_cast<double>(c.stats.fragmentSize);
  EXPECT_LE(unit * c.stats.blocks - cluster * counters->totalClusters, cluster);
  EXPECT_GE(unit * c.stats.blocks - cluster * counters->totalClusters, 0.0);
  EXPECT_LE(unit * c.stats.blocksAvailable - cluster * counters->freeClusters, cluster);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, Counters,
    testing::Values(
        CounterCase{"OneGiB4K", {4096, kGiB / 4096, kGiB / 4096 / 2}, {8, 512, 131072, 262144}},
        CounterCase{"OneGiB64K", {65536, kGiB / 65536, 1000}, {128, 512, 1000, 16384}},
        // 2^32 fragments: halved twice to 2^30, clusters of 32 sectors.
        CounterCase{"SixteenTiB4K",
                    {4096, 16 * kTiB / 4096, 16 * kTiB / 4096 - 3},
                    {32, 512, (1 << 30) - 1, 1 << 30}},
        CounterCase{"SixteenTiB64K", {65536, 16 * kTiB / 65536, 12345}, {128, 512, 12345, 1 << 28}},
        // 2^38 fragments: halved eight times.
        CounterCase{
            "OnePiB4K", {4096, kPiB / 4096, kPiB / 4096 / 4}, {2048, 512, 1 << 28, 1 << 30}},
        CounterCase{"OnePiB64K", {65536, kPiB / 65536, 7}, {2048, 512, 0, 1 << 30}},
        // Free space alone too large (a filesystem that reports more free
        // than total) also scales.
        CounterCase{"FreeBeyond32Bits", {512, 100, std::uint64_t{1} << 31}, {2, 512, 1 << 30, 50}},
        CounterCase{"ExactlyInt32Max", {512, kInt32Max, kInt32Max}, {1, 512, kInt32Max, kInt32Max}},
        // Fragments that are no multiple of 512 are one sector each.
        CounterCase{"OddFragment", {1000, 5000, 4000}, {1, 1000, 4000, 5000}},
        CounterCase{"TinyFragment", {1, 3, 2}, {1, 1, 2, 3}},
        CounterCase{"ReadOnlyMedium", {2048, 300000, 0}, {4, 512, 0, 300000}},
        CounterCase{"TwoGiBFragment", {std::uint64_t{1} << 31, 3, 1}, {1 << 22, 512, 1, 3}}),
    [](const testing::TestParamInfo<CounterCase>& info) { return info.param.name; });

TEST(Counters, RefuseWhatNo32BitCountersCanDescribe) {
  const std::vector<FsStats> cases = {
      {0, 100, 50},                                         // no unit
      {(std::uint64_t{1} << 31) + 1, 1, 1},                 // sector beyond 32 bits
      {std::uint64_t{1} << 40, 1, 1},                       // 2^31 sectors per cluster
      {512, std::numeric_limits<std::uint64_t>::max(), 0},  // would need 2^33 sectors
      {std::uint64_t{1} << 30, std::uint64_t{1} << 42, 0},  // scaling passes 2^31
  };
  for (std::size_t i = 0; i < cases.size(); ++i)
    EXPECT_FALSE(survey::CountersFromStats(cases[i]).has_value()) << "case " << i;
}

// --- the query over fixture maps -----------------------------------------

// A mount table that the test controls: the text it reads, whether it says
// it changed, and how often it was read.
struct ScriptedTable {
  std::string text;
  bool changes = false;
  int reads = 0;
  int looks = 0;

  drives::MountSource Source() {
    return {[this] {
              ++looks;
              return changes;
            },
            [this] {
              ++reads;
              return drives::DriveMapFromText(text);
            }};
  }
};

// statfs answers by mount point; every call made in this process is recorded.
struct ScriptedStat {
  std::map<std::string, FsStats> answers;
  std::vector<std::string> calls;

  // Every volume is asked in a child process, where the calls are noted
  // in the child's copy of this object only: `calls` holds what was asked
  // in this process.
  drives::AskVolume Ask() {
    return [this](const drives::Volume& volume) {
      calls.push_back(volume.target);
      return Answer(volume);
    };
  }

 private:
  std::optional<FsStats> Answer(const drives::Volume& volume) const {
    const auto it = answers.find(volume.target);
    if (it == answers.end()) return std::nullopt;
    return it->second;
  }
};

std::vector<std::string> Survey(drives::DriveQuery& query, survey::WhileWaiting wait = {}) {
  survey::TextTable table;
  survey::FreeSpaceQuery survey = query.AsSurveyQuery();
  survey.whileWaiting = std::move(wait);
  survey::SurveyDrives(survey, table);
  return {table.Texts().begin(), table.Texts().end()};
}

// One question on its own, outside a survey.
std::int32_t AskAlone(drives::DriveQuery& query, int slot, FreeSpaceCounters& counters) {
  return query.Ask(slot, counters, {}).result;
}

TEST(DriveQuery, SurveysTheFixtureVolumes) {
  ScriptedTable table{Fixture("floppy.mountinfo")};
  ScriptedStat stat;
  stat.answers["/media/floppy0"] = {512, 2847, 2847};    // empty 1.44 MB floppy
  stat.answers["/media/floppy1"] = {512, 2847, 11};      // 11 sectors left
  stat.answers["/"] = {4096, 1 << 24, 1000000};          // 3906.25 MB
  stat.answers["/media/usb"] = {32768, 1 << 20, 65536};  // 2 GiB free
  drives::DriveQuery query(table.Source(), stat.Ask());
  EXPECT_EQ(Survey(query), (std::vector<std::string>{"1.39MB", "0.01MB", "3906MB", "2048MB", "n/a",
                                                     "n/a", "n/a", "n/a", "n/a"}));
}

TEST(DriveQuery, FailuresLeaveTheCountersAsTheyCame) {
  ScriptedTable table{Fixture("desktop.mountinfo")};
  ScriptedStat stat;
  stat.answers["/"] = {4096, 1000, 500};
  stat.answers["/home"] = {0, 1000, 500};  // no unit: unrepresentable
  // /media/cdrom: statfs fails (no answer scripted)
  drives::DriveQuery query(table.Source(), stat.Ask());

  const auto all = [](const FreeSpaceCounters& c) {
    return std::vector<std::int32_t>{c.sectorsPerCluster, c.bytesPerSector, c.freeClusters,
                                     c.totalClusters};
  };
  for (const int slot : {1, 2, 4, 6, 0, 10, -1}) {
    FreeSpaceCounters counters{11, 22, 33, 44};
    EXPECT_EQ(AskAlone(query, slot, counters), 0) << slot;
    EXPECT_EQ(all(counters), std::vector<std::int32_t>({11, 22, 33, 44})) << slot;
  }
  FreeSpaceCounters counters{11, 22, 33, 44};
  EXPECT_NE(AskAlone(query, 3, counters), 0);
  EXPECT_EQ(all(counters), std::vector<std::int32_t>({8, 512, 500, 1000}));
}

TEST(DriveQuery, AsksEveryVolumeInAChildAndNoneInThisProcess) {
  ScriptedTable table{Fixture("desktop.mountinfo")};
  ScriptedStat stat;
  const std::vector<std::string> points = {
      "/", "/home", "/media/user/USB STICK", "/media/cdrom", "/mnt/nfs", "/mnt/nas", "/mnt/ssh"};
  for (std::size_t i = 0; i < points.size(); ++i)
    stat.answers[points[i]] = {4096, 1 << 20, (i + 1) << 8};  // (i + 1) MB
  drives::DriveQuery query(table.Source(), stat.Ask(), std::chrono::milliseconds(2000));
  EXPECT_EQ(Survey(query), (std::vector<std::string>{"n/a", "n/a", "1MB", "2MB", "3MB", "4MB",
                                                     "5MB", "6MB", "7MB"}));
  // Not even a local disk is walked to from this process (the window's).
  EXPECT_EQ(stat.calls, std::vector<std::string>());
}

TEST(DriveQuery, ReadsTheTableAtMostOncePerSurvey) {
  ScriptedTable table{Fixture("floppy.mountinfo")};
  ScriptedStat stat;
  drives::DriveQuery query(table.Source(), stat.Ask());

  Survey(query);
  EXPECT_EQ(table.reads, 1);  // the first query reads

  table.changes = true;  // a table that changes all the time
  Survey(query);
  Survey(query);
  EXPECT_EQ(table.reads, 3);
  EXPECT_EQ(table.looks, 2);  // one look per survey, at A:

  table.changes = false;
  Survey(query);
  EXPECT_EQ(table.reads, 3);
}

TEST(DriveQuery, FollowsTheTableFromOneSurveyToTheNext) {
  ScriptedTable table{Fixture("floppy.mountinfo")};
  ScriptedStat stat;
  stat.answers["/"] = {4096, 1 << 20, 1 << 18};
  stat.answers["/media/usb"] = {4096, 1 << 20, 1 << 17};
  stat.answers["/mnt/new"] = {4096, 1 << 20, 1 << 16};
  drives::DriveQuery query(table.Source(), stat.Ask());
  EXPECT_EQ(Survey(query)[3], "512MB");

  // The stick goes and another volume comes in its place.
  table.text = "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n2 1 8:49 / /mnt/new rw - ext4 /dev/sdd1 rw\n";
  table.changes = true;
  EXPECT_EQ(Survey(query)[3], "256MB");
  FreeSpaceCounters counters;
  EXPECT_EQ(query.Ask(4, counters, {}).volume, "/mnt/new (/dev/sdd1)");

  // A query on its own, out of survey order, also looks.
  table.text = "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n";
  const survey::Answer answer = query.Ask(4, counters, {});
  EXPECT_EQ(answer.result, 0);
  EXPECT_EQ(answer.volume, "No volume has the letter D:");
}

TEST(DriveQuery, AnUnreadableTableStillHasTheRootAsC) {
  ScriptedStat stat;
  stat.answers["/"] = {4096, 100, 50};
  drives::DriveQuery query({[] { return true; }, [] { return std::optional<DriveMap>(); }},
                           stat.Ask());
  for (const bool inSurvey : {true, false}) {
    if (inSurvey) query.BeginSurvey();
    FreeSpaceCounters counters;
    const survey::Answer answer = query.Ask(3, counters, {});
    EXPECT_NE(answer.result, 0) << inSurvey;
    EXPECT_EQ(answer.volume, "/");
    EXPECT_EQ(counters.freeClusters, 50);
  }
}

// A table with the root at C: (1 MB, at once) and one network share at D:,
// whose child takes `seconds` to answer 5 MB.
struct SlowShare {
  explicit SlowShare(double seconds) {
    stat.answers["/mnt/nfs"] = {4096, 1 << 20, 5 << 8};
    ask = [seconds, answer = stat.answers["/mnt/nfs"]](const drives::Volume& volume) {
      if (volume.target == "/") return std::optional<FsStats>(FsStats{4096, 1 << 20, 1 << 8});
      const timespec pause{static_cast<time_t>(seconds),
                           static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
      ::nanosleep(&pause, nullptr);
      return std::optional<FsStats>(answer);
    };
  }
  ScriptedTable table{
      "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"
      "2 1 0:50 / /mnt/nfs rw - nfs4 server:/export rw\n"};
  ScriptedStat stat;
  drives::AskVolume ask;
};

// Whether a child of this process has ended and not been reaped.
bool AZombieChild() {
  siginfo_t info{};
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

// The window's thread paints while a survey waits: the hook runs at least
// once a slice, and a question asked from it fails at once.
TEST(DriveQuery, RunsTheWaitingHookBetweenSlicesOfAWait) {
  SlowShare share(0.4);
  drives::DriveQuery query(share.table.Source(), share.ask, std::chrono::milliseconds(3000));
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> runs;
  std::int32_t reentered = -1;
  const Clock::time_point start = Clock::now();
  const std::vector<std::string> texts = Survey(query, [&] {
    runs.push_back(Clock::now());
    FreeSpaceCounters counters;
    if (reentered < 0) reentered = AskAlone(query, 3, counters);
  });
  EXPECT_EQ(texts[3], "5MB");
  EXPECT_EQ(reentered, 0);
  ASSERT_GE(runs.size(), 4u) << "the hook ran too seldom in a wait of 0.4 s";
  // No gap much longer than a slice (a loaded machine may add some).
  Clock::time_point previous = start;
  for (const Clock::time_point run : runs) {
    EXPECT_LT(run - previous, posix::kWaitSlice * 8);
    previous = run;
  }
}

// A child that answers after the deadline is reaped as soon as it ends,
// not at the next survey.
TEST(DriveQuery, AChildThatAnswersLateLeavesNoZombie) {
  SlowShare share(0.3);
  drives::DriveQuery query(share.table.Source(), share.ask, std::chrono::milliseconds(50));
  EXPECT_EQ(Survey(query)[3], "n/a");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  ::usleep(400000);
  while (AZombieChild() && std::chrono::steady_clock::now() < deadline) ::usleep(20000);
  EXPECT_FALSE(AZombieChild()) << "the late child is still a zombie";
}

}  // namespace
