// Real filesystems: loop-mounts small ext2 and vfat images in a private
// mount namespace (the host's mounts never see them), surveys with the real
// query, and checks the letters come and go with the mounts.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "drives/drive_query_posix.h"
#include "drives/volumes.h"
#include "format/format.h"
#include "survey/survey.h"

namespace {

namespace fs = std::filesystem;

bool Succeeds(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quoted(const fs::path& path) {
  std::string quoted = "'";  // not "'" + string: GCC 12 warns of a false overlap at -O3
  quoted += path.string();
  return quoted += '\'';
}

// The nine texts of one survey, and what its answers said stands behind
// each letter.
struct Surveyed {
  std::vector<std::string> texts;
  survey::Volumes volumes;
};

Surveyed Survey(const survey::FreeSpaceQuery& query = drives::PlatformQuery()) {
  survey::TextTable table;
  const survey::Volumes volumes = survey::SurveyDrives(query, table);
  return {{table.Texts().begin(), table.Texts().end()}, volumes};
}

// What the survey should show for a mounted volume, straight from statvfs.
std::string ExpectedText(const fs::path& mountPoint) {
  struct statvfs info {};
  if (::statvfs(mountPoint.c_str(), &info) != 0) return "statvfs failed";
  const double megabytes = static_cast<double>(info.f_bavail) * info.f_frsize / 1048576.0;
  return format::Format(megabytes, "0").value_or("?") + "MB";
}

bool Unlettered(const std::string& volume) { return volume.rfind("No volume has", 0) == 0; }

// How long after a survey the tests unmount: at once, as a user would.
constexpr auto kAfterRefresh = std::chrono::milliseconds(100);

class RealFilesystems : public testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "loop mounts need root; running as uid " << ::geteuid();
    for (const char* tool : {"mkfs.ext2", "mkfs.vfat", "mount", "umount"})
      if (!Succeeds(std::string("command -v ") + tool)) GTEST_SKIP() << tool << " is not installed";
    if (::unshare(CLONE_NEWNS) != 0)
      GTEST_SKIP() << "no private mount namespace: unshare: " << std::strerror(errno);
    // Nothing mounted from here on may travel back to the host.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      GTEST_SKIP() << "cannot make / private: " << std::strerror(errno);
    char pattern[] = "/tmp/tamberlode-mounts-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
      GTEST_SKIP() << "no temporary directory: " << std::strerror(errno);
    dir_ = pattern;
  }

  void TearDown() override {
    // Mounts made with -o loop free their loop devices when unmounted; the
    // namespace ends with the process in any case.
    for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it)
      ::umount2(it->c_str(), MNT_DETACH);
    if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }

  // An image of `megabytes` made by `mkfs`, loop-mounted at `name`.
  // Returns the mount point, or empty with `why` set.
  fs::path MountImage(const std::string& mkfs, int megabytes, const std::string& name,
                      std::string& why) {
    const fs::path image = dir_ / (name + ".img");
    const fs::path point = dir_ / name;
    std::error_code error;
    {
      std::FILE* file = std::fopen(image.c_str(), "w");
      if (file) std::fclose(file);
    }
    fs::resize_file(image, static_cast<std::uintmax_t>(megabytes) << 20, error);
    fs::create_directory(point, error);
    if (error) {
      why = "cannot create " + image.string() + ": " + error.message();
      return {};
    }
    if (!Succeeds(mkfs + " " + Quoted(image))) {
      why = mkfs + " failed";
      return {};
    }
    if (!Succeeds("mount -o loop " + Quoted(image) + " " + Quoted(point))) {
      why = "loop mount refused (no loop devices in this environment?)";
      return {};
    }
    mounted_.push_back(point);
    return point;
  }

  fs::path dir_;
  std::vector<fs::path> mounted_;
};

bool KernelKnows(const std::string& type) {
  return Succeeds("grep -qw " + type + " /proc/filesystems");
}

struct Image {
  std::string fstype;
  std::string mkfs;
  int megabytes;
  std::string name;  // mount point; a space reaches the table escaped as \040
};

TEST_F(RealFilesystems, LoopMountedVolumesGetTheNextLettersAndGoWhenUnmounted) {
  const std::vector<Image> images = {
      {"ext2", "mkfs.ext2 -q -F", 48, "ext2 disk"},
      {"vfat", "mkfs.vfat", 24, "usb stick"},
      {"ext2", "mkfs.ext2 -q -F", 32, "second"},
  };

  const auto [before, volumesBefore] = Survey();
  int first = 4;  // D:
  while (first <= survey::kDrives && !Unlettered(volumesBefore[first - 1])) ++first;

  std::vector<std::pair<const Image*, fs::path>> volumes;
  for (const Image& image : images) {
    if (first + static_cast<int>(volumes.size()) > survey::kDrives) break;
    std::string why;
    const fs::path point = MountImage(image.mkfs, image.megabytes, image.name, why);
    if (point.empty()) {
      // The mount itself loads the filesystem's module where there is one;
      // a kernel that still does not list the type cannot mount it at all.
      if (KernelKnows(image.fstype)) GTEST_SKIP() << image.fstype << ": " << why;
      std::cout << "[   NOTE   ] " << image.fstype << " left out: this kernel cannot mount it\n";
      continue;
    }
    volumes.emplace_back(&image, point);
  }
  if (volumes.empty()) GTEST_SKIP() << "no free letter from D: on, or no filesystem to mount";

  // A second mount of the first volume gets no letter of its own.
  const fs::path bind = dir_ / "bind";
  fs::create_directory(bind);
  ASSERT_TRUE(Succeeds("mount --bind " + Quoted(volumes[0].second) + " " + Quoted(bind)));
  mounted_.push_back(bind);

  const auto [during, volumesDuring] = Survey();
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    const auto& [image, point] = volumes[i];
    const int slot = first + static_cast<int>(i);
    SCOPED_TRACE(image->name);
    EXPECT_EQ(before[slot - 1], "n/a");
    EXPECT_EQ(during[slot - 1], ExpectedText(point));
    // Metadata takes a little of each image, never all of it.
    const int megabytes = std::atoi(during[slot - 1].c_str());
    EXPECT_GT(megabytes, image->megabytes * 3 / 4);
    EXPECT_LE(megabytes, image->megabytes);
    EXPECT_EQ(volumesDuring[slot - 1].rfind(point.string() + " (/dev/loop", 0), 0u)
        << volumesDuring[slot - 1];
  }
  const int next = first + static_cast<int>(volumes.size());
  if (next <= survey::kDrives) {
    EXPECT_TRUE(Unlettered(volumesDuring[next - 1])) << volumesDuring[next - 1];
  }
  // The host's volumes keep their letters (their free space may move meanwhile).
  for (int slot = 1; slot < first; ++slot)
    EXPECT_EQ(volumesDuring[slot - 1], volumesBefore[slot - 1]) << slot;

  // Nothing of the volumes is held once the survey has answered: each
  // unmounts at the first try, right after it.
  std::this_thread::sleep_for(kAfterRefresh);
  for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it)
    ASSERT_EQ(::umount2(it->c_str(), 0), 0) << *it << " is busy: " << std::strerror(errno);
  mounted_.clear();

  const auto [after, volumesAfter] = Survey();
  for (int slot = first; slot < next; ++slot) EXPECT_EQ(after[slot - 1], "n/a") << slot;
  for (int slot = 1; slot <= survey::kDrives; ++slot)
    EXPECT_EQ(volumesAfter[slot - 1], volumesBefore[slot - 1]) << slot;
}

// A volume is asked through its mount point as the table had it, checked in
// the child that asks: once a volume covers its parent, the mount point
// leads elsewhere and the letter fails; uncovered, it answers again. Each
// volume unmounts at the first try right after a survey.
TEST_F(RealFilesystems, AVolumeAnswersOnlyWhileItsMountPointLeadsToIt) {
  std::string why;
  fs::create_directories(dir_ / "p");
  const fs::path inner = MountImage("mkfs.ext2 -q -F", 24, "p/sub", why);
  if (inner.empty()) GTEST_SKIP() << why;
  drives::DriveQuery query(drives::KernelMountTable());
  const survey::FreeSpaceQuery asked = query.AsSurveyQuery();
  const Surveyed first = Survey(asked);
  int slot = 0;
  for (int s = 1; s <= survey::kDrives; ++s)
    if (first.volumes[s - 1].rfind(inner.string() + " (", 0) == 0) slot = s;
  if (slot == 0) GTEST_SKIP() << "no free letter for the test volume";

  EXPECT_EQ(first.texts[slot - 1], ExpectedText(inner));
  const fs::path outer = MountImage("mkfs.ext2 -q -F", 40, "p", why);
  ASSERT_FALSE(outer.empty()) << why;
  fs::create_directory(outer / "sub");  // the old path leads into the covering volume
  EXPECT_EQ(Survey(asked).texts[slot - 1], "n/a") << "the covering volume's figure";
  std::this_thread::sleep_for(kAfterRefresh);
  ASSERT_EQ(::umount2(outer.c_str(), 0), 0) << "held by the query: " << std::strerror(errno);
  mounted_.pop_back();
  EXPECT_EQ(Survey(asked).texts[slot - 1], ExpectedText(inner));
  std::this_thread::sleep_for(kAfterRefresh);
  ASSERT_EQ(::umount2(inner.c_str(), 0), 0) << "held by the query: " << std::strerror(errno);
  mounted_.pop_back();
  EXPECT_EQ(Survey(asked).texts[slot - 1], "n/a");
}

}  // namespace
