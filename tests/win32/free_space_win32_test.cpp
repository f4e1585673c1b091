// The free-space query against drive letters that scripts/wine-tests.sh
// maps in the Wine prefix onto folders and tmpfs volumes of known size.
//   TAMBERLODE_WINE_VOLUMES  "d:TOTAL:FREE;e:TOTAL:FREE;..." (bytes)
//   TAMBERLODE_WINE_UNMAPPED "a;b;i"
//   TAMBERLODE_WINE_SURVEY   nine texts separated by "|", "*" for any
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "drives/module1.h"
#include "drives/remote_win32.h"
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

// Holds the threads that wait on it until the test opens it, or `limit` passes.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
  void Wait(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    opened.wait_for(lock, limit, [this] { return open; });
  }
  void Open() {
    {
      std::lock_guard lock(mutex);
      open = true;
    }
    opened.notify_all();
  }
};

std::array<std::string, survey::kDrives> Survey(drives::RemoteDrives& remote,
                                                survey::WhileWaiting whileWaiting = {}) {
  survey::TextTable table;
  survey::FreeSpaceQuery query = remote.AsSurveyQuery();
  query.whileWaiting = std::move(whileWaiting);
  survey::SurveyDrives(query, table);
  return table.Texts();
}

// Network drives: D: hangs until the test lets it go, E: answers, C: is a
// local disk. One survey waits one deadline; the hung drive then fails at
// once until it has answered, and a new mapping of its letter is asked anew.
TEST(RemoteDrives, AskedSideBySideUnderOneDeadlineAndAStuckDriveFailsAtOnce) {
  using namespace std::chrono_literals;
  struct Shared {
    Gate gate;
    std::atomic<int> dCalls{0};
    std::atomic<bool> localOnCaller{true};
    std::string mapping = "\\Device\\LanmanRedirector\\;D:0\\server\\share";
  };
  auto shared = std::make_shared<Shared>();
  const std::thread::id caller = std::this_thread::get_id();
  drives::RemoteDrives remote(
      [shared](const std::string& root) -> drives::RemoteDrives::Kind {
        if (root == "d:\\" || root == "e:\\") return {true, root == "d:\\" ? shared->mapping : "e"};
        return {};
      },
      [shared, caller](const std::string& root, std::int32_t& spc, std::int32_t& bps,
                       std::int32_t& free, std::int32_t& total) -> std::int32_t {
        if (root == "d:\\") {
          ++shared->dCalls;
          shared->gate.Wait(std::chrono::minutes(1));
        } else if (root == "c:\\") {
          if (std::this_thread::get_id() != caller) shared->localOnCaller = false;
        } else if (root != "e:\\") {
          return 0;
        }
        spc = 8, bps = 512, total = 1 << 20;
        free = root == "c:\\" ? 1 << 18 : root == "d:\\" ? 1 << 17 : 1 << 16;
        return 1;
      },
      400ms);
  const auto run = [&remote] { return Survey(remote); };

  auto begin = std::chrono::steady_clock::now();
  auto texts = run();
  auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(took, 400ms);
  EXPECT_LT(took, 2s);
  EXPECT_EQ(texts[2], "1024MB");
  EXPECT_EQ(texts[3], "n/a");
  EXPECT_EQ(texts[4], "256MB");
  EXPECT_TRUE(shared->localOnCaller);

  begin = std::chrono::steady_clock::now();
  texts = run();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 300ms);
  EXPECT_EQ(texts[3], "n/a");
  EXPECT_EQ(shared->dCalls, 1);  // no second thread behind the stuck one

  shared->mapping = "\\Device\\LanmanRedirector\\;D:0\\other\\share";  // D: mapped anew
  run();
  EXPECT_EQ(shared->dCalls, 2);

  shared->gate.Open();
  std::this_thread::sleep_for(100ms);
  texts = run();
  EXPECT_EQ(texts[3], "512MB");
}

// Under Wine the question of a drive's kind touches the volume, and F:'s
// hangs. It holds F: alone and only until the deadline, the window keeps
// painting meanwhile, the caller's thread never asks a kind, and the next
// survey gives F: up at once.
TEST(RemoteDrives, AHangingDriveTypeCallHoldsOnlyItsLetterAndNeverTheCaller) {
  using namespace std::chrono_literals;
  struct Shared {
    Gate gate;
    std::atomic<int> fCalls{0};
    std::atomic<bool> kindOnCaller{false};
  };
  auto shared = std::make_shared<Shared>();
  const std::thread::id caller = std::this_thread::get_id();
  drives::RemoteDrives remote(
      [shared, caller](const std::string& root) -> drives::RemoteDrives::Kind {
        if (std::this_thread::get_id() == caller) shared->kindOnCaller = true;
        if (root == "f:\\") {
          ++shared->fCalls;
          shared->gate.Wait(3s);
        }
        return {};
      },
      [](const std::string& root, std::int32_t& spc, std::int32_t& bps, std::int32_t& free,
         std::int32_t& total) -> std::int32_t {
        if (root != "c:\\" && root != "g:\\") return 0;
        spc = 8, bps = 512, total = 1 << 20, free = root == "c:\\" ? 1 << 18 : 1 << 16;
        return 1;
      },
      400ms);
  int paints = 0;
  auto begin = std::chrono::steady_clock::now();
  auto texts = Survey(remote, [&paints] { ++paints; });
  const auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(took, 400ms);
  EXPECT_LT(took, 2s);
  EXPECT_EQ(texts[2], "1024MB");
  EXPECT_EQ(texts[5], "n/a");
  EXPECT_EQ(texts[6], "256MB");
  EXPECT_FALSE(shared->kindOnCaller);
  // Slices of 25 ms: at least half of them reached the window.
  EXPECT_GE(paints, 400 / 25 / 2) << "the window could not paint while waiting";

  begin = std::chrono::steady_clock::now();
  texts = Survey(remote);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 300ms);
  EXPECT_EQ(texts[5], "n/a");
  EXPECT_EQ(shared->fCalls, 1);  // no second thread behind the hanging one

  shared->gate.Open();
}

}  // namespace
