// The time limit on calls that may block: the generic wrapper with scripted
// calls, and the query routing network volumes through it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "drives/drivemap_posix.h"
#include "drives/timed_call_posix.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A gate that scripted calls wait at until the test opens it. Shared, since
// the detached threads may still hold it after the test has moved on.
class Gate {
 public:
  void Wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// Opens the gate and lets the stuck thread finish before the test ends.
template <typename T>
void Release(Gate& gate, const drives::TimedCalls<T>& calls, const std::string& key) {
  gate.Open();
  const auto deadline = Clock::now() + 5s;
  while (calls.Busy(key) && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_FALSE(calls.Busy(key));
}

TEST(TimedCalls, ReturnsAnAnswerThatComesInTime) {
  drives::TimedCalls<int> calls;
  EXPECT_EQ(calls.Run(
                "k", [] { return std::optional<int>(42); }, 2s),
            42);
  EXPECT_EQ(calls.Run(
                "k", [] { return std::optional<int>(); }, 2s),
            std::nullopt);
  EXPECT_EQ(calls.Run(
                "k", []() -> std::optional<int> { throw std::runtime_error("x"); }, 2s),
            std::nullopt);
  EXPECT_FALSE(calls.Busy("k"));  // each finished call frees its key
}

TEST(TimedCalls, GivesUpOnABlockedCallAndRefusesToPileUp) {
  drives::TimedCalls<int> calls;
  auto gate = std::make_shared<Gate>();
  auto started = std::make_shared<std::atomic<int>>(0);
  const auto blocked = [gate, started] {
    ++*started;
    gate->Wait();
    return std::optional<int>(7);
  };

  const auto begin = Clock::now();
  EXPECT_EQ(calls.Run("nfs", blocked, 100ms), std::nullopt);
  const auto waited = Clock::now() - begin;
  EXPECT_GE(waited, 100ms);
  EXPECT_LT(waited, 2s);
  EXPECT_TRUE(calls.Busy("nfs"));

  // While the first call hangs, the same key fails at once and starts nothing.
  const auto again = Clock::now();
  EXPECT_EQ(calls.Run("nfs", blocked, 2s), std::nullopt);
  EXPECT_LT(Clock::now() - again, 50ms);
  EXPECT_EQ(started->load(), 1);

  // Other keys are not held up.
  EXPECT_EQ(calls.Run(
                "cifs", [] { return std::optional<int>(3); }, 2s),
            3);

  // Once the stuck call returns, its late answer is dropped and the key works again.
  Release(*gate, calls, "nfs");
  EXPECT_EQ(calls.Run(
                "nfs", [] { return std::optional<int>(8); }, 2s),
            8);
}

// The query side: a network volume whose statvfs never answers.
struct StuckNetwork {
  std::shared_ptr<Gate> gate = std::make_shared<Gate>();
  std::shared_ptr<std::atomic<int>> networkCalls = std::make_shared<std::atomic<int>>(0);
  std::thread::id caller = std::this_thread::get_id();
  std::shared_ptr<std::atomic<bool>> localOnCaller = std::make_shared<std::atomic<bool>>(true);

  drives::StatFunction Function() {
    return [gate = gate, calls = networkCalls, caller = caller,
            local = localOnCaller](const std::string& path) -> std::optional<survey::FsStats> {
      if (path == "/mnt/nfs") {
        ++*calls;
        gate->Wait();
        return survey::FsStats{4096, 1 << 20, 1 << 19};
      }
      if (std::this_thread::get_id() != caller) *local = false;
      return survey::FsStats{4096, 1 << 20, path == "/" ? 1u << 18 : 1u << 17};
    };
  }
};

drives::MountSource FixedTable(const std::string& text) {
  return {[] { return false; }, [text] { return drives::DriveMapFromText(text); }};
}

constexpr const char* kNetworkTable =
    "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"
    "2 1 0:50 / /mnt/nfs rw - nfs4 server:/export rw\n"
    "3 1 8:17 / /media/usb rw - vfat /dev/sdb1 rw\n";

TEST(NetworkQuery, ABlockedShareFailsInTimeAndTheSurveyGoesOn) {
  StuckNetwork stat;
  drives::DriveQuery query(FixedTable(kNetworkTable), stat.Function(), 100ms);

  survey::TextTable table;
  const auto begin = Clock::now();
  survey::SurveyDrives(
      [&](const std::string& root, std::int32_t& a, std::int32_t& b, std::int32_t& c,
          std::int32_t& d) { return query.Query(root.c_str(), a, b, c, d); },
      table);
  EXPECT_LT(Clock::now() - begin, 2s);
  // D: (the share) fails and repeats C:; E: (the stick) answers after it.
  EXPECT_EQ(table.Read(3), "1024MB");
  EXPECT_EQ(table.Read(4), "n/a");
  EXPECT_EQ(table.Read(5), "512MB");
  EXPECT_TRUE(stat.localOnCaller->load());

  // Asked again while stuck: fails at once, the counters untouched, no new thread.
  std::int32_t spc = 1, bps = 2, nfc = 3, tnc = 4;
  EXPECT_EQ(query.Query("d:\\", spc, bps, nfc, tnc), 0);
  EXPECT_EQ(stat.networkCalls->load(), 1);

  // The late answer must not land in counters of a call that has returned.
  stat.gate->Open();
  const auto deadline = Clock::now() + 5s;
  std::int32_t answered = 0;
  while (answered == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
    answered = query.Query("d:\\", spc, bps, nfc, tnc);
  }
  EXPECT_NE(answered, 0);
  EXPECT_EQ(nfc, 1 << 19);
  EXPECT_EQ(spc, 8);
}

TEST(NetworkQuery, WaitsFiveSecondsByDefault) {
  StuckNetwork stat;
  drives::DriveQuery query(FixedTable(kNetworkTable), stat.Function());
  std::int32_t spc = 1, bps = 2, nfc = 3, tnc = 4;
  const auto begin = Clock::now();
  EXPECT_EQ(query.Query("d:\\", spc, bps, nfc, tnc), 0);
  const auto waited = Clock::now() - begin;
  EXPECT_GE(waited, 5s);
  EXPECT_LT(waited, 7s);
  EXPECT_EQ(std::vector<std::int32_t>({spc, bps, nfc, tnc}),
            std::vector<std::int32_t>({1, 2, 3, 4}));

  stat.gate->Open();  // let the thread finish before the test ends
  const auto deadline = Clock::now() + 5s;
  while (query.Query("d:\\", spc, bps, nfc, tnc) == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
}

}  // namespace
