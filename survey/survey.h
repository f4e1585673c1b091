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

// One free-space question: a root path ("a:\") and the four counters by
// reference; non-zero on success. On success it writes all four counters;
// on failure it leaves them exactly as it got them.
using FreeSpaceCall = std::function<std::int32_t(
    const std::string& rootPath, std::int32_t& sectorsPerCluster, std::int32_t& bytesPerSector,
    std::int32_t& freeClusters, std::int32_t& totalClusters)>;

// The platform's free-space query. The survey calls `begin` once as it
// starts, then `ask` for each drive in slot order. A platform whose volumes
// may be slow to answer starts all of the survey's questions in `begin`,
// side by side under one deadline, and `ask` collects each drive's answer.
// Any callable of the question's signature converts to a query whose
// `begin` does nothing.
struct FreeSpaceQuery {
  FreeSpaceQuery() = default;
  template <class Call>
  requires std::is_invocable_r_v<std::int32_t, Call&, const std::string&, std::int32_t&,
                                 std::int32_t&, std::int32_t&, std::int32_t&>
  FreeSpaceQuery(Call call) : ask(std::move(call)) {}  // NOLINT: converts on purpose
  FreeSpaceQuery(std::function<void()> begin, FreeSpaceCall ask)
      : begin(std::move(begin)), ask(std::move(ask)) {}

  std::function<void()> begin = [] {};
  FreeSpaceCall ask;
};

inline constexpr int kDrives = 9;

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

// Begins the query, runs the nine questions in slot order with one counter
// set that is never reset within the survey, writes each slot, then marks the table.
void SurveyDrives(const FreeSpaceQuery& query, ResultTable& table);

// The 38 marking steps: "0.00MB" on A: or B:, and any repeat of an earlier
// drive's text, become "n/a".
void MarkUnavailable(ResultTable& table);

}  // namespace survey
