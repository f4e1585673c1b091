// The survey with the real Linux query against its floor: the statvfs calls
// on the same mount points and nothing else. The query asks each volume in
// a child (forked, answered, reaped), so the cost of a fork is weighed here
// too, in a process as big as the program with its windows. Also what the
// query avoids by watching the mount table instead of reading it at every
// survey.
#include <benchmark/benchmark.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "drives/drivemap_posix.h"
#include "drives/volume_calls_posix.h"
#include "drives/volumes.h"
#include "survey/survey.h"

namespace {

// The lettered drives, as the query sees them.
std::vector<drives::Volume> LetteredVolumes() {
  std::vector<drives::Volume> volumes;
  const drives::DriveMap map = drives::DriveMapFromFile("/proc/self/mountinfo").value();
  for (const auto& volume : map)
    if (volume) volumes.push_back(*volume);
  return volumes;
}

std::vector<std::string> LetteredMountPoints() {
  std::vector<std::string> points;
  for (const drives::Volume& volume : LetteredVolumes()) points.push_back(volume.target);
  return points;
}

// The whole survey with the real query; the argument is the process's
// resident ballast in MiB, which a fork copies the page tables of (the
// program with its windows holds about 30 MiB).
void BM_SurveyRealQuery(benchmark::State& state) {
  std::vector<char> ballast(static_cast<std::size_t>(state.range(0)) << 20);
  std::memset(ballast.data(), 1, ballast.size());
  survey::TextTable table;
  const survey::FreeSpaceQuery query = drives::PlatformQuery();
  for (auto _ : state) {
    survey::SurveyDrives(query, table);
    benchmark::DoNotOptimize(table);
  }
  benchmark::DoNotOptimize(ballast.data());
  state.SetLabel(std::to_string(LetteredMountPoints().size()) + " lettered");
}
BENCHMARK(BM_SurveyRealQuery)->Arg(0)->Arg(32)->Unit(benchmark::kMillisecond);

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

// What holding each local root open between surveys would save: fstatfs
// on a root opened beforehand. The query no longer does this, since a held
// root keeps its volume from being unmounted.
void BM_HeldRootPerLetteredDrive(benchmark::State& state) {
  std::vector<int> roots;
  for (const drives::Volume& volume : LetteredVolumes())
    roots.push_back(drives::OpenCheckedRoot(volume));
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
