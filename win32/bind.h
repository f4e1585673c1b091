// A platform function bound by name on its first call: the library is loaded
// by the name given, the function looked up by its exported name, and the
// address kept for later calls. After every call the platform's last-error
// value is captured, as the program's declarations promise (the registry
// reads it).
// Calls may come from several threads (the network drives' questions).
#pragma once

#include <windows.h>

#include <atomic>
#include <bit>
#include <optional>
#include <utility>

namespace win32 {

template <class Function>
class Bound;

template <class Result, class... Args>
class Bound<Result(WINAPI*)(Args...)> {
 public:
  using Function = Result(WINAPI*)(Args...);

  constexpr Bound(const char* library, const char* name) : library_(library), name_(name) {}

  // The function's result, or nullopt when it cannot be bound.
  std::optional<Result> operator()(Args... args) {
    Function function = function_.load();
    if (function == nullptr) {
      const HMODULE library = LoadLibraryA(library_);
      const FARPROC address = library != nullptr ? GetProcAddress(library, name_) : nullptr;
      if (address == nullptr) {
        lastError_ = GetLastError();
        return std::nullopt;
      }
      function = std::bit_cast<Function>(address);
      function_ = function;  // any thread binding it finds the same address
    }
    const Result result = function(std::forward<Args>(args)...);
    lastError_ = GetLastError();
    return result;
  }

  // The last-error value after the latest call or failed binding.
  DWORD LastError() const { return lastError_; }

 private:
  const char* library_;
  const char* name_;
  std::atomic<Function> function_ = nullptr;
  std::atomic<DWORD> lastError_ = 0;
};

}  // namespace win32
