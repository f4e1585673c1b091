#include "drives/drive_query_posix.h"

#include <utility>

#include "drives/volume_calls_posix.h"

namespace drives {

DriveQuery::DriveQuery(MountSource source, AskVolume ask, std::chrono::milliseconds deadline)
    : source_(std::move(source)), ask_(ask ? std::move(ask) : CheckedStat), deadline_(deadline) {}

bool DriveQuery::Start(const Volume& volume) {
  // The child's own copies, since it may outlive this query.
  return children_.StartFor<survey::FsStats>(MountKey(volume),
                                             [ask = ask_, volume] { return ask(volume); });
}

void DriveQuery::ReadMapIfChanged() {
  if (!map_ || source_.changed()) map_ = source_.read().value_or(BuildDriveMap(nullptr));
}

void DriveQuery::BeginSurvey() {
  if (waiting_) return;
  ReadMapIfChanged();
  children_.AbandonAll();  // questions of an earlier survey that were never asked
  surveyDeadline_ = std::chrono::steady_clock::now() + deadline_;
  for (int slot = 1; slot <= survey::kDrives; ++slot) {
    const std::optional<Volume>& volume = (*map_)[slot - 1];
    begun_[slot - 1] = true;
    asking_[slot - 1] = volume && Start(*volume);
  }
}

survey::Answer DriveQuery::Ask(int slot, survey::FreeSpaceCounters& counters,
                               const posix::WhileWaiting& whileWaiting) {
  if (slot < 1 || slot > survey::kDrives || waiting_) return {};
  const bool inSurvey = begun_[slot - 1];
  begun_[slot - 1] = false;
  if (!inSurvey) ReadMapIfChanged();
  const std::optional<Volume> volume = (*map_)[slot - 1];
  survey::Answer answer{0, DescribeSlot(*map_, slot)};
  if (!volume) return answer;
  auto deadline = surveyDeadline_;
  bool asking = asking_[slot - 1];
  if (!inSurvey) {
    deadline = std::chrono::steady_clock::now() + deadline_;
    asking = Start(*volume);
  }
  if (!asking) return answer;
  std::optional<survey::FsStats> stats;
  {
    waiting_ = true;
    const struct Done {
      bool& waiting;
      ~Done() { waiting = false; }
    } done{waiting_};
    stats = children_.CollectFor<survey::FsStats>(MountKey(*volume), deadline, whileWaiting);
  }
  if (!stats) return answer;
  const std::optional<survey::FreeSpaceCounters> figures = survey::CountersFromStats(*stats);
  if (!figures) return answer;
  counters = *figures;
  answer.result = 1;
  return answer;
}

survey::FreeSpaceQuery DriveQuery::AsSurveyQuery() {
  return {[this](const survey::WhileWaiting&) { BeginSurvey(); },
          [this](int slot, survey::FreeSpaceCounters& counters,
                 const survey::WhileWaiting& whileWaiting) {
            return Ask(slot, counters, whileWaiting);
          }};
}

DriveQuery& SystemDriveQuery() {
  // Never destroyed: the program may end in the middle of a survey's wait.
  static DriveQuery* const query = new DriveQuery(KernelMountTable());
  return *query;
}

}  // namespace drives
