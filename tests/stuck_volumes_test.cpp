// Real faults: FUSE filesystems whose statfs never answers or answers late
// (tests/faults/stuckfs.py), mounts that move under the query, and a /proc
// covered by a tmpfs, all in a private mount namespace of this process.
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "drives/drive_query_posix.h"
#include "format/format.h"
#include "survey/survey.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool Succeeds(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// `begun` runs once the survey has read the map; `volumes`, if given, gets
// what the answers said stands behind each letter.
std::vector<std::string> Survey(drives::DriveQuery& query, const std::function<void()>& begun = {},
                                survey::Volumes* volumes = nullptr) {
  survey::TextTable table;
  survey::FreeSpaceQuery asked = query.AsSurveyQuery();
  asked.begin = [&query, &begun](const survey::WhileWaiting&) {
    query.BeginSurvey();
    if (begun) begun();
  };
  const survey::Volumes described = survey::SurveyDrives(asked, table);
  if (volumes) *volumes = described;
  return {table.Texts().begin(), table.Texts().end()};
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// C:'s text, within what others writing to the disk meanwhile may change.
void ExpectRootText(const std::string& text) {
  struct statvfs info {};
  ASSERT_EQ(::statvfs("/", &info), 0);
  const double megabytes = static_cast<double>(info.f_bavail) * info.f_frsize / 1048576.0;
  ASSERT_TRUE(text.ends_with("MB")) << text;
  EXPECT_NEAR(std::atof(text.c_str()), megabytes, megabytes / 100 + 1) << text;
}

bool Mounted(const fs::path& point) {
  // The kernel writes a blank, tab, newline or backslash in octal.
  std::string escaped;
  for (const char c : point.string())
    escaped += c == ' '    ? "\\040"
               : c == '\t' ? "\\011"
               : c == '\n' ? "\\012"
               : c == '\\' ? "\\134"
                           : std::string(1, c);
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line))
    if (line.find(" " + escaped + " ") != std::string::npos) return true;
  return false;
}

class StuckVolumes : public testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "FUSE mounts need root; running as uid " << ::geteuid();
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/fuse";
    if (!Succeeds("/usr/bin/python3 -c 'import fusepy'"))
      GTEST_SKIP() << "python3-fusepy is not installed";
    if (::unshare(CLONE_NEWNS) != 0)
      GTEST_SKIP() << "no private mount namespace: unshare: " << std::strerror(errno);
    // Nothing mounted from here on may travel back to the host.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      GTEST_SKIP() << "cannot make / private: " << std::strerror(errno);
    char pattern[] = "/tmp/tamberlode-stuck-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }

  void TearDown() override {
    // Killing a daemon ends its stuck requests: the children asking it end too.
    for (const pid_t daemon : daemons_) ::kill(daemon, SIGKILL);
    for (const pid_t daemon : daemons_) ::waitpid(daemon, nullptr, 0);
    for (const pid_t surveyor : surveyors_) ::waitpid(surveyor, nullptr, 0);
    for (auto it = points_.rbegin(); it != points_.rend(); ++it) ::umount2(it->c_str(), MNT_DETACH);
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  // Mounts a stuckfs of type fuse.`type` at `name` (below the test's
  // directory) and waits for it to show in the mount table.
  fs::path Mount(const std::string& name, const std::string& type, const std::string& mode,
                 int freeMegabytes = 2048) {
    const fs::path point = dir_ / name;
    fs::create_directories(point);
    const std::string free = std::to_string(freeMegabytes);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/usr/bin/python3", "python3", TAMBERLODE_STUCKFS, point.c_str(), type.c_str(),
              mode.c_str(), free.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    daemons_.push_back(pid);
    points_.push_back(point);
    const auto deadline = Clock::now() + 10s;
    while (!Mounted(point) && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(Mounted(point)) << "stuckfs did not mount " << point;
    return point;
  }

  // A local disk: a small ext2 image loop-mounted at `name`; empty where
  // this machine cannot make one.
  fs::path LocalVolume(const std::string& name) {
    const fs::path image = dir_ / (name + ".img");
    const fs::path point = dir_ / name;
    fs::create_directories(point);
    if (!Succeeds("truncate -s 16M '" + image.string() + "' && mkfs.ext2 -q -F '" + image.string() +
                  "' && mount -o loop '" + image.string() + "' '" + point.string() + "'"))
      return {};
    points_.push_back(point);
    return point;
  }

  // How a process that surveys ends: the survey's texts, and when it ended.
  struct Ending {
    std::vector<std::string> texts;
    double seconds = -1;  // from the survey's start (Exit) or from SIGTERM; -1: not within 10 s
  };

  // Surveys twice in a child process, as the program does on Load and on
  // Refresh, and runs `meanwhile` in this process as soon as the second
  // survey has read the map. Then the child ends as after Exit (exit
  // handlers and all), or waits to be sent SIGTERM, 2 s into the survey.
  Ending SurveyAside(std::chrono::milliseconds deadline, const std::function<void()>& meanwhile,
                     bool terminate) {
    int waits[2], texts[2];
    if (::pipe(waits) != 0 || ::pipe(texts) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(waits[0]);
      ::close(texts[0]);
      const auto begun = [&] {
        if (::write(waits[1], "b", 1) == 1) ::close(waits[1]);
      };
      {
        drives::DriveQuery query(drives::KernelMountTable(), {}, deadline);
        Survey(query);
        std::string out;
        for (const std::string& text : Survey(query, begun)) out += text + "\n";
        if (::write(texts[1], out.data(), out.size()) < 0) std::_Exit(2);
        ::close(texts[1]);
        if (terminate) ::pause();
      }
      std::exit(0);
    }
    surveyors_.push_back(pid);
    ::close(waits[1]);
    ::close(texts[1]);
    char byte = 0;
    pollfd entry{waits[0], POLLIN, 0};
    const bool begun = ::poll(&entry, 1, 10000) == 1 && ::read(waits[0], &byte, 1) == 1;
    Clock::time_point from = Clock::now();
    if (begun) meanwhile();
    ::close(waits[0]);
    if (terminate) {
      std::this_thread::sleep_until(from + 2000ms);
      from = Clock::now();
      ::kill(pid, SIGTERM);
    }
    Ending ending;
    while (Clock::now() < from + 10s) {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) {
        ending.seconds = Seconds(Clock::now() - from);
        surveyors_.pop_back();
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
    std::string out(4096, '\0');
    entry = {texts[0], POLLIN, 0};
    const ssize_t got = ::poll(&entry, 1, 0) == 1 ? ::read(texts[0], out.data(), out.size()) : 0;
    out.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    ::close(texts[0]);
    for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
      ending.texts.push_back(out.substr(at, end - at));
    return ending;
  }

  fs::path dir_;
  std::vector<pid_t> daemons_;
  std::vector<fs::path> points_;
  std::vector<pid_t> surveyors_;  // stuck until the daemons end
};

// Six volumes whose statfs never answers, of the kinds that used to hang
// the survey for ever (only sshfs and curlftpfs were given a time limit),
// and a seventh that answers late: one survey waits one deadline for all.
TEST_F(StuckVolumes, OneSurveyWaitsOneDeadlineForAllAndStuckMountsFailAtOnceAfter) {
  const std::vector<std::string> types = {"rclone", "s3fs",      "glusterfs",
                                          "sshfs",  "curlftpfs", "davfs"};
  std::vector<fs::path> hung;
  for (std::size_t i = 0; i < types.size() - 1; ++i)
    hung.push_back(Mount(std::to_string(i) + "-" + types[i], types[i], "block"));
  const fs::path late = Mount("late", "davfs", "sleep:1", 1000);
  drives::DriveQuery query(drives::KernelMountTable(), {}, 4s);

  auto begin = Clock::now();
  const std::vector<std::string> first = Survey(query);
  const double firstSeconds = Seconds(Clock::now() - begin);
  std::cout << "[   TIME   ] first survey " << firstSeconds << " s\n";
  EXPECT_GE(firstSeconds, 3.9);  // the deadline, once
  EXPECT_LT(firstSeconds, 6.5);  // not twice: room for a loaded machine
  ExpectRootText(first[2]);
  for (int slot = 4; slot <= 8; ++slot) EXPECT_EQ(first[slot - 1], "n/a") << slot;
  EXPECT_EQ(first[8], "1000MB");  // the late one, answered side by side

  // The same mounts are still stuck: they fail at once, and no call piles up.
  begin = Clock::now();
  std::vector<std::string> second = Survey(query);
  const double secondSeconds = Seconds(Clock::now() - begin);
  std::cout << "[   TIME   ] second survey " << secondSeconds << " s\n";
  // The late volume's second after all, well below one deadline: the stuck
  // mounts were not waited for again.
  EXPECT_LT(secondSeconds, 3.5);
  ExpectRootText(second[2]);
  second[2] = first[2];
  EXPECT_EQ(second, first);

  // A healthy volume in the place of a stuck one is another mount: it answers.
  ASSERT_EQ(::umount2(hung[0].c_str(), MNT_DETACH), 0) << std::strerror(errno);
  Mount(hung[0].filename().string(), "rclone", "ok", 3000);
  survey::Volumes volumes;
  const std::vector<std::string> third = Survey(query, {}, &volumes);
  EXPECT_EQ(third[8], "3000MB") << volumes[8];
  EXPECT_EQ(volumes[8].rfind(hung[0].string() + " ", 0), 0u);
}

// A stuck call must not keep the program from ending: a process that has
// surveyed a hung volume ends as soon as it exits.
TEST_F(StuckVolumes, AProcessEndsWhileItsQueryIsStuck) {
  Mount("hung", "glusterfs", "block");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    drives::DriveQuery query(drives::KernelMountTable(), {}, 500ms);
    Survey(query);
    std::exit(0);  // as the program does after Exit: exit handlers and all
  }
  const auto deadline = Clock::now() + 10s;
  int status = -1;
  pid_t ended = 0;
  while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ended, pid) << "the surveying process did not end";
  if (ended == pid) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

// A figure comes only from the mount the letter was given to: not from a
// volume mounted over its parent since, nor from what lies under it once
// it is gone.
TEST_F(StuckVolumes, AFigureComesOnlyFromTheMountTheLetterWasGivenTo) {
  const fs::path inner = Mount("p/sub", "s3fs", "ok", 100);
  const fs::path outer = Mount("p", "s3fs", "ok", 200);
  drives::DriveQuery query(drives::KernelMountTable(), {}, 3s);
  survey::Volumes volumes;
  std::vector<std::string> texts = Survey(query, {}, &volumes);
  ASSERT_EQ(volumes[3].rfind(inner.string() + " ", 0), 0u);
  EXPECT_EQ(texts[3], "n/a");  // covered: its mount point leads into the outer volume now
  EXPECT_EQ(texts[4], "200MB");

  // The map as it was when read; the volume goes before it is asked.
  const fs::path gone = Mount("gone", "s3fs", "ok", 300);
  drives::MountSource live = drives::KernelMountTable();
  const std::optional<drives::DriveMap> stale = live.read();
  drives::DriveQuery staleQuery({[] { return false; }, [stale] { return stale; }});
  EXPECT_EQ(Survey(staleQuery)[5], "300MB");
  ASSERT_EQ(::umount2(gone.c_str(), MNT_DETACH), 0) << std::strerror(errno);
  texts = Survey(staleQuery);
  EXPECT_EQ(texts[5], "n/a") << "figure of the directory under the mount point: " << texts[5];
}

// Without a mount table (no /proc, as in many chroots), C: is still the root.
TEST_F(StuckVolumes, CIsTheRootWhenTheMountTableCannotBeRead) {
  ASSERT_EQ(::mount("tmpfs", "/proc", "tmpfs", 0, nullptr), 0) << std::strerror(errno);
  const bool unreadable = !std::ifstream("/proc/self/mountinfo").good();
  drives::DriveQuery query(drives::KernelMountTable());
  survey::Volumes volumes;
  const std::vector<std::string> texts = Survey(query, {}, &volumes);
  ::umount2("/proc", MNT_DETACH);
  ASSERT_TRUE(unreadable);
  ExpectRootText(texts[2]);
  EXPECT_EQ(volumes[2], "/");
}

// A volume that hangs, mounted over a local disk or over the folder that
// holds it, before the surveys or while the second one waits for a slow
// volume (after it read the map): the survey still ends by its deadline,
// the process ends at once after it, and SIGTERM ends it at any moment.
struct HungCase {
  const char* what;
  const char* over;  // below the local disk's folder "p"
  bool meanwhile;    // mounted while the survey waits, else before
  bool terminate;    // the process is sent SIGTERM, else ends as after Exit
};

void PrintTo(const HungCase& c, std::ostream* os) {
  *os << c.what << (c.terminate ? ", SIGTERM" : ", Exit");
}

class HungAtAnyMoment : public StuckVolumes, public testing::WithParamInterface<HungCase> {};

TEST_P(HungAtAnyMoment, NeitherTheSurveyNorTheEndWaitsForIt) {
  const HungCase& c = GetParam();
  Mount("late", "davfs", "sleep:1.5", 1000);  // D:, whose answer the survey waits for
  const fs::path disk = LocalVolume("p/e");   // E:
  if (disk.empty()) GTEST_SKIP() << "no ext2 image could be loop-mounted here";
  struct statvfs info {};
  ASSERT_EQ(::statvfs(disk.c_str(), &info), 0);
  const std::string diskText =
      format::Format(static_cast<double>(info.f_bavail) * info.f_frsize / 1048576.0, "0")
          .value_or("?") +
      "MB";
  const std::string hungAt = *c.over ? std::string("p/") + c.over : "p";
  const std::function<void()> hang = [&] { Mount(hungAt, "sshfs", "hang"); };
  if (!c.meanwhile) hang();

  constexpr auto kDeadline = 3s;
  const Ending ending =
      SurveyAside(kDeadline, c.meanwhile ? hang : std::function<void()>([] {}), c.terminate);
  std::cout << "[   TIME   " << (c.terminate ? "] SIGTERM to end " : "] survey to end ")
            << ending.seconds << " s\n";
  ASSERT_GE(ending.seconds, 0) << "the process did not end";
  EXPECT_LT(ending.seconds, c.terminate ? 0.5 : Seconds(kDeadline) + 1.0);
  ASSERT_EQ(ending.texts.size(), 9u);
  EXPECT_EQ(ending.texts[3], "1000MB");
  // Asked through the root taken before the hung volume came: its own figure.
  if (c.meanwhile) {
    EXPECT_EQ(ending.texts[4], diskText);
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, HungAtAnyMoment,
                         testing::Values(HungCase{"over the disk, meanwhile", "e", true, false},
                                         HungCase{"over the disk, meanwhile", "e", true, true},
                                         HungCase{"over its folder, meanwhile", "", true, false},
                                         HungCase{"over its folder, meanwhile", "", true, true},
                                         HungCase{"over the disk, before", "e", false, false},
                                         HungCase{"over its folder, before", "", false, true}),
                         [](const testing::TestParamInfo<HungCase>& info) {
                           std::string name =
                               std::string(info.param.over[0] ? "OverTheDisk" : "OverItsFolder") +
                               (info.param.meanwhile ? "Meanwhile" : "Before") +
                               (info.param.terminate ? "Sigterm" : "Exit");
                           return name;
                         });

// survey_cli writes one line per drive, the volume after a tab: a newline,
// tab or backslash in a mount point is written as findmnt writes it.
TEST_F(StuckVolumes, SurveyCliEscapesMountPointsAsFindmntDoes) {
  const fs::path point = Mount("odd\nname\tx\\y", "sshfs", "ok", 700);
  std::FILE* out = ::popen(TAMBERLODE_SURVEY_CLI, "r");
  ASSERT_NE(out, nullptr);
  std::vector<std::string> lines;
  char line[4096];
  while (std::fgets(line, sizeof line, out) != nullptr) lines.push_back(line);
  EXPECT_EQ(::pclose(out), 0);
  ASSERT_EQ(lines.size(), 9u);
  const std::string escaped = (dir_ / "odd\\012name\\011x\\134y").string();
  EXPECT_EQ(lines[3],
            "Number of Free Megabytes on D: 700MB\t" + escaped + " (sshfs-server:/share)\n")
      << point;
}

}  // namespace
