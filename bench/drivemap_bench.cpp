// The survey with the real Linux query against its floor: the statvfs calls
// on the same mount points and nothing else. Also what the query avoids by
// watching the mount table instead of reading it at every survey.
#include <benchmark/benchmark.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "drives/drivemap_posix.h"
#include "drives/volumes.h"
#include "survey/survey.h"

namespace {

// Mount points of the lettered drives, as the query sees them.
std::vector<std::string> LetteredMountPoints() {
  std::vector<std::string> points;
  for (const auto& volume : drives::SystemDriveQuery().Map())
    if (volume) points.push_back(volume->target);
  return points;
}

void BM_SurveyRealQuery(benchmark::State& state) {
  survey::TextTable table;
  const survey::FreeSpaceQuery query = drives::PlatformQuery();
  for (auto _ : state) {
    survey::SurveyDrives(query, table);
    benchmark::DoNotOptimize(table);
  }
  state.SetLabel(std::to_string(LetteredMountPoints().size()) + " lettered");
}
BENCHMARK(BM_SurveyRealQuery);

// Nine statvfs calls, going round the lettered mount points.
void BM_NineStatvfs(benchmark::State& state) {
  const std::vector<std::string> points = LetteredMountPoints();
  if (points.empty()) {
    state.SkipWithError("no lettered volume");
    return;
  }
  struct statvfs info {};
  for (auto _ : state) {
    for (int i = 0; i < survey::kDrives; ++i)
      benchmark::DoNotOptimize(::statvfs(points[i % points.size()].c_str(), &info));
  }
}
BENCHMARK(BM_NineStatvfs);

// One statvfs per lettered drive: the calls the survey cannot do without.
void BM_StatvfsPerLetteredDrive(benchmark::State& state) {
  const std::vector<std::string> points = LetteredMountPoints();
  struct statvfs info {};
  for (auto _ : state) {
    for (const std::string& point : points)
      benchmark::DoNotOptimize(::statvfs(point.c_str(), &info));
  }
}
BENCHMARK(BM_StatvfsPerLetteredDrive);

// What the query makes of those calls for a local disk: fstatfs on the
// root it holds (opened and checked in a child once per change of the
// mount table; here, once before the loop).
void BM_HeldRootPerLetteredDrive(benchmark::State& state) {
  std::vector<int> roots;
  for (const auto& volume : drives::SystemDriveQuery().Map())
    if (volume) roots.push_back(drives::OpenCheckedRoot(*volume));
  for (auto _ : state) {
    for (const int root : roots) benchmark::DoNotOptimize(drives::StatOfRoot(root));
  }
  for (const int root : roots)
    if (root >= 0) ::close(root);
}
BENCHMARK(BM_HeldRootPerLetteredDrive);

// What a survey would pay if it read the mount table every time.
void BM_ReadMountTable(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(drives::DriveMapFromFile("/proc/self/mountinfo"));
}
BENCHMARK(BM_ReadMountTable);

// What it pays instead: one look for a change.
void BM_LookForMountTableChange(benchmark::State& state) {
  const drives::MountSource source = drives::KernelMountTable();
  for (auto _ : state) benchmark::DoNotOptimize(source.changed());
}
BENCHMARK(BM_LookForMountTableChange);

}  // namespace
