// Runs a call that may block for ever (a statvfs of a network share whose
// server went away) on a detached thread and waits for it only so long.
// Callers never freeze: a call that has not answered in time counts as
// failed, and while it is still stuck, further calls with the same key fail
// at once instead of piling up threads behind it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>

namespace drives {

template <typename T>
class TimedCalls {
 public:
  TimedCalls() : shared_(std::make_shared<Shared>()) {}

  // Runs `call` and returns its answer if it comes within `timeout`;
  // nullopt on timeout, or at once if an earlier call with `key` is still
  // running. The answer travels through shared state owned jointly by the
  // waiter and the thread, so a late answer writes nothing of the caller's.
  std::optional<T> Run(const std::string& key, std::function<std::optional<T>()> call,
                       std::chrono::milliseconds timeout) {
    auto result = std::make_shared<Result>();
    {
      std::lock_guard lock(shared_->mutex);
      if (!shared_->busy.insert(key).second) return std::nullopt;
    }
    try {
      std::thread([shared = shared_, result, key, call = std::move(call)] {
        std::optional<T> value;
        try {
          value = call();
        } catch (...) {
          value.reset();  // a throwing call is a failed call
        }
        std::lock_guard lock(shared->mutex);
        result->value = std::move(value);
        result->done = true;
        shared->busy.erase(key);
        shared->finished.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      std::lock_guard lock(shared_->mutex);
      shared_->busy.erase(key);
      return std::nullopt;  // no thread to be had: fail rather than block
    }
    std::unique_lock lock(shared_->mutex);
    if (!shared_->finished.wait_for(lock, timeout, [&] { return result->done; }))
      return std::nullopt;
    return result->value;
  }

  // Whether a call with `key` is running (stuck or not yet answered).
  bool Busy(const std::string& key) const {
    std::lock_guard lock(shared_->mutex);
    return shared_->busy.count(key) != 0;
  }

 private:
  struct Shared {
    mutable std::mutex mutex;
    std::condition_variable finished;
    std::set<std::string> busy;
  };
  struct Result {
    bool done = false;
    std::optional<T> value;
  };
  std::shared_ptr<Shared> shared_;
};

}  // namespace drives
