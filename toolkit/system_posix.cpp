// Starting a program and the file test on Linux.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>

#include "toolkit/system.h"
#include "toolkit/toolkit.h"

namespace tk::system {
namespace {

// Starts the program at `path`, exactly these bytes, in a session of its own;
// 0 or the error of the start. Only an absolute path is started: a relative
// one would name whatever lies in the current directory.
int SpawnDetached(const std::string& path) {
  if (path.empty() || path.front() != '/') return ENOENT;
  posix_spawnattr_t attributes;
  if (const int error = posix_spawnattr_init(&attributes); error != 0) return error;
  sigset_t none, pipe;
  sigemptyset(&none);
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &pipe);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string argument0 = path;
  char* const argv[] = {argument0.data(), nullptr};
  pid_t pid = 0;
  const int error = posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return error;
  // The tool lives on its own; only its exit status is collected, so that
  // no zombie is left behind.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 0;
}

}  // namespace

int Launch(const std::string& programPath) {
  // The path is the program itself: never split at spaces, never a shell,
  // never re-encoded on the way.
  return SpawnDetached(programPath) == 0 ? 0 : kFileNotFound;
}

std::string FileName(const std::string& path) {
  std::error_code error;
  const std::filesystem::path file(path);
  if (!std::filesystem::is_regular_file(file, error)) return {};
  return file.filename().string();
}

}  // namespace tk::system
