// The drive survey: nine free-space queries, the megabyte arithmetic, the
// per-drive number patterns and the "n/a" marking. No window and no platform
// code: the query and the result table are handed in.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace survey {

// The four in/out values of one free-space query, in the query's order.
struct FreeSpaceCounters {
  std::int32_t sectorsPerCluster = 0;
  std::int32_t bytesPerSector = 0;
  std::int32_t freeClusters = 0;
  std::int32_t totalClusters = 0;
};

inline constexpr int kDrives = 9;

// What the asking thread does between slices of a wait for slow volumes
// (the report window repaints there and drops the user's input); empty:
// nothing.
using WhileWaiting = std::function<void()>;

// A drive's answer besides its counters.
struct Answer {
  std::int32_t result = 0;  // non-zero on success
  // What stands behind the letter ("\"/media/usb\" (/dev/sdb1)"), for the
  // drive line's tooltip; empty where the platform has nothing to add.
  std::string volume;
};

// A question shaped as kernel32's GetDiskFreeSpaceA: a root path ("a:\")
// and the four counters by reference; non-zero on success.
using RootPathCall = std::function<std::int32_t(
    const std::string& rootPath, std::int32_t& sectorsPerCluster, std::int32_t& bytesPerSector,
    std::int32_t& freeClusters, std::int32_t& totalClusters)>;

// The platform's free-space query. The survey calls `begin` once as it
// starts, then `ask` for each slot, 1 (A:) to 9 (I:), in order. On success
// `ask` writes all four counters; on failure it leaves them exactly as it
// got them. A platform whose volumes may be slow starts all of the survey's
// questions in `begin`, side by side under one deadline, and `ask` collects
// each drive's answer; both wait in slices and run `whileWaiting` between
// them. A call of RootPathCall's shape converts to a query whose `begin`
// does nothing.
struct FreeSpaceQuery {
  using Begin = std::function<void(const WhileWaiting& whileWaiting)>;
  using Ask = std::function<Answer(int slot, FreeSpaceCounters& counters,
                                   const WhileWaiting& whileWaiting)>;

  FreeSpaceQuery() = default;
  FreeSpaceQuery(Begin begin, Ask ask) : begin(std::move(begin)), ask(std::move(ask)) {}
  template <class Call>
  requires std::is_invocable_r_v<std::int32_t, Call&, const std::string&, std::int32_t&,
                                 std::int32_t&, std::int32_t&, std::int32_t&>
  FreeSpaceQuery(Call call)  // NOLINT: converts on purpose
      : ask(AskByRootPath(RootPathCall(std::move(call)))) {}

  static Ask AskByRootPath(RootPathCall call);

  Begin begin = [](const WhileWaiting&) {};
  Ask ask;
  // What the survey's waits do between their slices.
  WhileWaiting whileWaiting;
};

// Nine text slots, one per drive, numbered 1 (A:) to 9 (I:). Errors that an
// owner raises pass through the survey unchanged.
class ResultTable {
 public:
  virtual ~ResultTable() = default;
  virtual std::string Read(int slot) const = 0;
  virtual void Replace(int slot, const std::string& text) = 0;
};

// The plain implementation: an array of texts.
class TextTable final : public ResultTable {
 public:
  std::string Read(int slot) const override { return texts_.at(slot - 1); }
  void Replace(int slot, const std::string& text) override { texts_.at(slot - 1) = text; }
  const std::array<std::string, kDrives>& Texts() const { return texts_; }

 private:
  std::array<std::string, kDrives> texts_;
};

// One row of the drive table.
struct Drive {
  std::string_view letter;    // "A:"
  std::string_view rootPath;  // "a:\"
  std::string_view pattern;   // "0.00" or "0"
};

inline constexpr std::array<Drive, kDrives> kDriveTable = {{
    {"A:", "a:\\", "0.00"},
    {"B:", "b:\\", "0.00"},
    {"C:", "c:\\", "0"},
    {"D:", "d:\\", "0"},
    {"E:", "e:\\", "0"},
    {"F:", "f:\\", "0"},
    {"G:", "g:\\", "0"},
    {"H:", "h:\\", "0"},
    {"I:", "i:\\", "0"},
}};

// Megabytes free from one set of counters: sectors x bytes x free clusters,
// divided twice by 1024. Products stay exact while they fit in 32 bits and
// go on in double precision past that.
double Megabytes(const FreeSpaceCounters& counters);

// What stands behind each letter, slot 1 (A:) at index 0.
using Volumes = std::array<std::string, kDrives>;

// Begins the query, runs the nine questions in slot order with one counter
// set that is never reset within the survey, writes each slot, then marks
// the table. Returns what the answers said stands behind each letter.
Volumes SurveyDrives(const FreeSpaceQuery& query, ResultTable& table);

// The 38 marking steps: "0.00MB" on A: or B:, and any repeat of an earlier
// drive's text, become "n/a".
void MarkUnavailable(ResultTable& table);

}  // namespace survey
