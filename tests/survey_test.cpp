#include "survey/survey.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "scripted_query.h"

namespace {

using survey::FreeSpaceCounters;

using testing_survey::ScriptedQuery;

std::array<std::string, 9> Survey(ScriptedQuery& q) {
  survey::TextTable table;
  survey::SurveyDrives(q.Query(), table);
  return table.Texts();
}

using Texts = std::array<std::string, 9>;
const std::string NA = "n/a";

struct SurveyCase {
  const char* name;
  std::map<char, FreeSpaceCounters> answers;
  Texts expected;
};

void PrintTo(const SurveyCase& c, std::ostream* os) { *os << c.name; }

class SurveyOutcome : public testing::TestWithParam<SurveyCase> {};

TEST_P(SurveyOutcome, EndsWithTheExpectedTexts) {
  ScriptedQuery q;
  for (const auto& [letter, c] : GetParam().answers) q.answers[letter] = c;
  EXPECT_EQ(Survey(q), GetParam().expected);
}

const FreeSpaceCounters kFloppy{1, 512, 2847, 2847};  // empty 1.44 MB disk

INSTANTIATE_TEST_SUITE_P(
    Drives, SurveyOutcome,
    testing::Values(
        SurveyCase{"FloppyFailsHardDiskAndEmptyCd",
                   {{'c', {32, 512, 40000, 80000}}, {'d', {1, 2048, 0, 300000}}},
                   {NA, NA, "625MB", "0MB", NA, NA, NA, NA, NA}},
        SurveyCase{"NothingAnswers", {}, {NA, NA, "0MB", NA, NA, NA, NA, NA, NA}},
        SurveyCase{"OnlyCBeyond32Bits",
                   {{'c', {8, 512, 1000000, 2000000}}},
                   {NA, NA, "3906MB", NA, NA, NA, NA, NA, NA}},
        SurveyCase{"EmptyFloppyThenBAndCFail",
                   {{'a', kFloppy}},
                   {"1.39MB", NA, "1MB", NA, NA, NA, NA, NA, NA}},
        SurveyCase{"TenClustersRoundToZero",
                   {{'a', {1, 512, 10, 2880}}},
                   {NA, NA, "0MB", NA, NA, NA, NA, NA, NA}},
        SurveyCase{"ElevenClustersShow",
                   {{'a', {1, 512, 11, 2880}}},
                   {"0.01MB", NA, "0MB", NA, NA, NA, NA, NA, NA}},
        SurveyCase{"FullDisksFromCOn",
                   {{'c', {8, 512, 0, 9}}, {'d', {8, 512, 256, 9}}, {'e', {8, 512, 0, 9}}},
                   {NA, NA, "0MB", "1MB", NA, NA, NA, NA, NA}},
        SurveyCase{
            "SameTextLaterDriveMarked",
            {{'c', {8, 512, 256000, 1}}, {'d', {1, 512, 2048000, 1}}, {'e', {8, 512, 256001, 1}}},
            {NA, NA, "1000MB", NA, NA, NA, NA, NA, NA}},
        SurveyCase{"AFailsCAnswersDFails",
                   {{'c', {8, 512, 1000, 1}}},
                   {NA, NA, "4MB", NA, NA, NA, NA, NA, NA}},
        SurveyCase{"BRepeatsANonZeroText",
                   {{'a', kFloppy}, {'c', {8, 512, 262144, 1}}, {'f', {8, 4096, 1, 1}}},
                   {"1.39MB", NA, "1024MB", NA, NA, "0MB", NA, NA, NA}},
        SurveyCase{"RepeatAfterARunOfRepeats",
                   // E: repeats D:, F: repeats E: (already n/a): caught by D:
                   {{'c', {8, 512, 1000, 1}}, {'d', {8, 512, 2000, 1}}, {'g', {8, 512, 1000, 1}}},
                   {NA, NA, "4MB", "8MB", NA, NA, NA, NA, NA}},
        SurveyCase{
            "AllNineDistinct",
            {{'a', {1, 512, 2847, 1}},
             {'b', {1, 512, 1423, 1}},
             {'c', {8, 512, 10000, 1}},
             {'d', {8, 512, 20000, 1}},
             {'e', {8, 512, 30000, 1}},
             {'f', {8, 512, 40000, 1}},
             {'g', {8, 512, 50000, 1}},
             {'h', {8, 512, 60000, 1}},
             {'i', {8, 512, 70000, 1}}},
            {"1.39MB", "0.69MB", "39MB", "78MB", "117MB", "156MB", "195MB", "234MB", "273MB"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Survey, CarriesCountersFromDriveToDriveAndQueriesInOrder) {
  ScriptedQuery q;
  q.answers['a'] = kFloppy;
  q.answers['c'] = {8, 512, 1000, 5000};
  Survey(q);
  ASSERT_EQ(q.calls.size(), 9u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(q.calls[i].drive, 'a' + i);
  auto same = [](const FreeSpaceCounters& a, const FreeSpaceCounters& b) {
    return a.sectorsPerCluster == b.sectorsPerCluster && a.bytesPerSector == b.bytesPerSector &&
           a.freeClusters == b.freeClusters && a.totalClusters == b.totalClusters;
  };
  EXPECT_TRUE(same(q.calls[0].received, {0, 0, 0, 0}));
  EXPECT_TRUE(same(q.calls[1].received, kFloppy));  // A: answered
  EXPECT_TRUE(same(q.calls[2].received, kFloppy));  // B: failed, kept A:'s
  for (int i = 3; i < 9; ++i) EXPECT_TRUE(same(q.calls[i].received, {8, 512, 1000, 5000})) << i;
}

TEST(Survey, TwoSurveysInARowStartFromZeros) {
  ScriptedQuery q;
  q.answers['i'] = {8, 512, 1000, 1};
  const Texts first = Survey(q);
  const Texts second = Survey(q);
  EXPECT_EQ(first, second);
  ASSERT_EQ(q.calls.size(), 18u);
  EXPECT_EQ(q.calls[9].received.freeClusters, 0) << "second survey started from I:'s counters";
  EXPECT_EQ(first[0], NA);
  EXPECT_EQ(first[8], "4MB");
}

TEST(Survey, BeginsOnceBeforeTheQuestionsAndHandsThemItsWait) {
  std::vector<std::string> events;
  survey::FreeSpaceQuery query(
      [&](const survey::WhileWaiting& wait) {
        events.push_back("begin");
        wait();
      },
      [&](int slot, survey::FreeSpaceCounters&, const survey::WhileWaiting& wait) {
        events.push_back(std::string(1, static_cast<char>('a' + slot - 1)));
        wait();
        return survey::Answer{0, "volume " + std::to_string(slot)};
      });
  int waits = 0;
  query.whileWaiting = [&] { ++waits; };
  survey::TextTable table;
  const survey::Volumes volumes = survey::SurveyDrives(query, table);
  survey::SurveyDrives(query, table);
  const std::vector<std::string> one = {"begin", "a", "b", "c", "d", "e", "f", "g", "h", "i"};
  std::vector<std::string> expected = one;
  expected.insert(expected.end(), one.begin(), one.end());
  EXPECT_EQ(events, expected);
  EXPECT_EQ(waits, 20) << "the survey's wait did not reach begin and every question";
  for (int slot = 1; slot <= 9; ++slot)
    EXPECT_EQ(volumes[slot - 1], "volume " + std::to_string(slot)) << "slot " << slot;
}

TEST(Survey, AQuestionShapedAsTheWindowsCallIsAskedTheRootPaths) {
  std::vector<std::string> roots;
  survey::TextTable table;
  survey::SurveyDrives(
      [&](const std::string& root, std::int32_t&, std::int32_t&, std::int32_t&, std::int32_t&) {
        roots.push_back(root);
        return 0;
      },
      table);
  EXPECT_EQ(roots, (std::vector<std::string>{"a:\\", "b:\\", "c:\\", "d:\\", "e:\\", "f:\\", "g:\\",
                                             "h:\\", "i:\\"}));
}

TEST(Survey, IgnoresTheQueryResult) {
  // A query that writes counters yet reports failure is still believed.
  survey::TextTable table;
  survey::SurveyDrives(
      [](const std::string& root, std::int32_t& spc, std::int32_t& bps, std::int32_t& nfc,
         std::int32_t&) -> std::int32_t {
        if (root == "c:\\") spc = 8, bps = 512, nfc = 1000;
        return 0;
      },
      table);
  EXPECT_EQ(table.Read(3), "4MB");
}

struct MegabyteCase {
  FreeSpaceCounters counters;
  double expected;
};

TEST(Megabytes, ProductsBeyond32BitsCarryOnInDouble) {
  const MegabyteCase cases[] = {
      {{8, 512, 1000000, 0}, 3906.25},                    // free bytes 4,096,000,000
      {{65536, 65536, 1, 0}, 4096.0},                     // bytes per cluster 2^32
      {{2147483647, 2, 2147483647, 0}, 8796093014016.0},  // both products overflow
      {{1, 512, 2147483647, 0}, 1048575.99951171875},
      {{-1, 512, 2048, 0}, -1.0},  // signed, as the counters are
      {{0, 512, 2048, 0}, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(survey::Megabytes(c.counters), c.expected)
        << c.counters.sectorsPerCluster << " x " << c.counters.bytesPerSector << " x "
        << c.counters.freeClusters;
  }
}

// A table whose owner fails on one write, as a window's label could.
class FailingTable : public survey::ResultTable {
 public:
  std::string Read(int slot) const override { return inner.Read(slot); }
  void Replace(int slot, const std::string& text) override {
    if (slot == 4) throw std::runtime_error("caption write failed");
    inner.Replace(slot, text);
  }
  survey::TextTable inner;
};

TEST(Survey, TableErrorsPassThroughAndEndTheRun) {
  int calls = 0;
  FailingTable table;
  EXPECT_THROW(survey::SurveyDrives([&](const std::string&, std::int32_t&, std::int32_t&,
                                        std::int32_t&, std::int32_t&) { return ++calls, 0; },
                                    table),
               std::runtime_error);
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(table.inner.Read(3), "0MB") << "no marking ran after the failure";
  EXPECT_EQ(table.inner.Read(5), "");
}

// The marking on its own, over texts placed directly in the table.
TEST(MarkUnavailable, MarksZerosOnAAndBAndEveryRepeat) {
  struct Case {
    Texts before, after;
  };
  const Case cases[] = {
      {{"0.00MB", "0.00MB", "0.00MB", "0MB", "0MB", "5MB", "0MB", "5MB", "0.00MB"},
       {NA, NA, "0.00MB", "0MB", NA, "5MB", NA, NA, NA}},
      {{"1.39MB", "1.39MB", "1MB", "1MB", "2MB", "1MB", "3MB", "2MB", "3MB"},
       {"1.39MB", NA, "1MB", NA, "2MB", NA, "3MB", NA, NA}},
      // C: and later are compared with A: and B:, whatever their texts.
      {{"7MB", "8MB", "7MB", "8MB", "9MB", "n/a", "N/A", "9MB ", "9mb"},
       {"7MB", "8MB", NA, NA, "9MB", NA, "N/A", "9MB ", "9mb"}},
      {{"", "", "", "x", "", "x", "", "", ""}, {"", NA, NA, "x", NA, NA, NA, NA, NA}},
  };
  for (const auto& c : cases) {
    survey::TextTable table;
    for (int s = 1; s <= 9; ++s) table.Replace(s, c.before[s - 1]);
    survey::MarkUnavailable(table);
    EXPECT_EQ(table.Texts(), c.after);
  }
}

// Any table, random texts from a small alphabet: a drive ends as "n/a"
// exactly when it is "0.00MB" on A: or B:, or equals the final text of an
// earlier drive.
TEST(MarkUnavailable, OutcomeHoldsForRandomTables) {
  const std::string alphabet[] = {"0.00MB", "0MB", "1MB", "1.39MB", "n/a", ""};
  std::mt19937 random(20261207);
  for (int round = 0; round < 5000; ++round) {
    Texts before;
    for (auto& t : before) t = alphabet[random() % std::size(alphabet)];
    survey::TextTable table;
    for (int s = 1; s <= 9; ++s) table.Replace(s, before[s - 1]);
    survey::MarkUnavailable(table);
    Texts expected;
    for (int k = 0; k < 9; ++k) {
      bool repeat = k < 2 && before[k] == "0.00MB";
      for (int j = 0; j < k; ++j) repeat = repeat || before[k] == expected[j];
      expected[k] = repeat ? NA : before[k];
    }
    ASSERT_EQ(table.Texts(), expected) << "round " << round;
  }
}

}  // namespace
