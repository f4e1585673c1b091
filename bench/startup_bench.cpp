// Start-up of a 21-control window written with our toolkit layer against the
// smallest Qt Widgets program that shows one empty window: the wall time
// from spawning the process to its first painted window, and its resident
// memory then. Both programs report "rss_kb <n>" on stdout at that moment.
//
// Runs on the offscreen platform, so no display is needed; with DISPLAY set
// the pair is measured again on the X11 platform (xcb), e.g. under Xvfb.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

struct Sample {
  double seconds = 0;
  double rssKilobytes = 0;
};

struct Program {
  const char* name;
  const char* path;
};
constexpr Program kBare{"bare", TAMBERLODE_STARTUP_BARE};
constexpr Program kToolkit{"toolkit", TAMBERLODE_STARTUP_TOOLKIT};
// One window with one line of text: what any window with text pays on top of
// the bare one, for reading the toolkit's ratio.
constexpr Program kLabel{"label", TAMBERLODE_STARTUP_LABEL};

// Every sample of the run, by platform and program, for the final ratios.
std::map<std::pair<std::string, std::string>, std::vector<Sample>> samples;

// The parent's environment with QT_QPA_PLATFORM set to `platform`.
std::vector<std::string> ChildEnvironment(const std::string& platform) {
  std::vector<std::string> variables;
  for (char** variable = environ; *variable; ++variable) {
    if (std::strncmp(*variable, "QT_QPA_PLATFORM=", 16) != 0) variables.emplace_back(*variable);
  }
  variables.push_back("QT_QPA_PLATFORM=" + platform);
  return variables;
}

// Spawns the program and times it up to its report line; then waits for it
// to end (not timed). An empty result, with `error` set, when it fails.
std::optional<Sample> Spawn(const Program& program, const std::vector<std::string>& environment,
                            std::string& error) {
  std::vector<char*> envp;
  for (const std::string& variable : environment)
    envp.push_back(const_cast<char*>(variable.c_str()));
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(program.path), nullptr};

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error = "pipe failed";
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  // Qt's warnings about the offscreen platform would drown the table.
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.path, &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    error = std::string("cannot start ") + program.path + ": " + std::strerror(spawned);
    return std::nullopt;
  }

  std::string line;
  char buffer[128];
  ssize_t got = 0;
  while (line.find('\n') == std::string::npos && (got = ::read(out[0], buffer, sizeof buffer)) > 0)
    line.append(buffer, static_cast<std::size_t>(got));
  const auto reported = std::chrono::steady_clock::now();
  ::close(out[0]);

  int status = 0;
  ::waitpid(pid, &status, 0);
  long kilobytes = -1;
  if (std::sscanf(line.c_str(), "rss_kb %ld", &kilobytes) != 1 || kilobytes <= 0) {
    error = std::string(program.path) + " gave no report line (run it by hand to see why)";
    return std::nullopt;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = std::string(program.path) + " did not end cleanly";
    return std::nullopt;
  }
  return Sample{std::chrono::duration<double>(reported - start).count(),
                static_cast<double>(kilobytes)};
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::pair<double, double> Medians(const std::vector<Sample>& run) {
  std::vector<double> seconds, rss;
  for (const Sample& sample : run) {
    seconds.push_back(sample.seconds);
    rss.push_back(sample.rssKilobytes);
  }
  return {Median(seconds), Median(rss)};
}

void BM_Startup(benchmark::State& state, Program program, std::string platform) {
  const std::vector<std::string> environment = ChildEnvironment(platform);
  std::string error;
  // One start first, untimed: the first one after a build pays for cold
  // caches (page cache, font cache) that a user's second start does not.
  if (!Spawn(program, environment, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<Sample>& run = samples[{platform, program.name}];
  run.clear();
  double rssTotal = 0;
  for (auto _ : state) {
    const std::optional<Sample> sample = Spawn(program, environment, error);
    if (!sample) {
      state.SkipWithError(error.c_str());
      return;
    }
    state.SetIterationTime(sample->seconds);
    rssTotal += sample->rssKilobytes;
    run.push_back(*sample);
  }
  state.counters["rss_MB"] = rssTotal / 1024.0 / static_cast<double>(run.size());
  // Ratios of medians to the bare program's, measured earlier in this run.
  const auto bare = samples.find({platform, kBare.name});
  if (std::strcmp(program.name, kBare.name) != 0 && bare != samples.end() &&
      !bare->second.empty()) {
    const auto [bareSeconds, bareRss] = Medians(bare->second);
    const auto [seconds, rss] = Medians(run);
    state.counters["time_x"] = seconds / bareSeconds;
    state.counters["rss_x"] = rss / bareRss;
  }
}

void PrintSummary() {
  std::vector<std::string> platforms;
  for (const auto& [key, run] : samples)
    if (std::find(platforms.begin(), platforms.end(), key.first) == platforms.end())
      platforms.push_back(key.first);
  for (const std::string& platform : platforms) {
    const auto bare = samples.find({platform, kBare.name});
    if (bare == samples.end() || bare->second.empty()) continue;
    const auto [bareSeconds, bareRss] = Medians(bare->second);
    std::printf("\n%s, medians (ratios to bare; aim for toolkit: at most 1.25x):\n",
                platform.c_str());
    for (const Program& program : {kBare, kLabel, kToolkit}) {
      const auto run = samples.find({platform, program.name});
      if (run == samples.end() || run->second.empty()) continue;
      const auto [seconds, rss] = Medians(run->second);
      std::printf("  %-8s %4zu starts  %7.2f ms %6.2fx  %7.1f MB %6.2fx\n", program.name,
                  run->second.size(), seconds * 1e3, seconds / bareSeconds, rss / 1024,
                  rss / bareRss);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> platforms{"offscreen"};
  if (const char* display = std::getenv("DISPLAY"); display && *display) platforms.push_back("xcb");
  for (const std::string& platform : platforms) {
    for (const Program& program : {kBare, kLabel, kToolkit}) {
      benchmark::RegisterBenchmark(("BM_Startup/" + platform + "/" + program.name).c_str(),
                                   BM_Startup, program, platform)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond)
          ->MinTime(2.0);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintSummary();
  return 0;
}
