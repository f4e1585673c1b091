// A platform function bound by name on its first call: the library is loaded
// from the system folder by its full path, the function looked up by its
// exported name, and the address kept for later calls.
// Never a bare library name: Windows would look in the program's folder (a
// Downloads folder, say) before the system folder for any library that is
// not one of its KnownDLLs, and load whatever lies there.
// Calls may come from several threads (the network drives' questions). The
// last-error value stays the calling thread's own, as Windows keeps it: after
// a call or a failed binding, GetLastError() on the same thread reads it.
#pragma once

#include <windows.h>

#include <atomic>
#include <bit>
#include <optional>
#include <string>
#include <utility>

namespace win32 {

// The library `name` ("oleacc.dll"; ".dll" is added to a name without an
// extension) from the system folder, by its full path; its own dependencies
// are looked for beside it first. Null, with the last error set, when it
// cannot be loaded.
inline HMODULE LoadSystemLibrary(const char* name) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L'\\';
  bool extension = false;
  for (const char* c = name; *c; ++c) {
    path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    extension = *c == '.' || (extension && *c != '\\');
  }
  if (!extension) path += L".dll";
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <class Function>
class Bound;

template <class Result, class... Args>
class Bound<Result(WINAPI*)(Args...)> {
 public:
  using Function = Result(WINAPI*)(Args...);

  // `library` is a file name in the system folder ("advapi32.dll").
  constexpr Bound(const char* library, const char* name) : library_(library), name_(name) {}

  // The function's result, or nullopt when it cannot be bound (the thread's
  // last error then says why).
  std::optional<Result> operator()(Args... args) {
    Function function = function_.load();
    if (function == nullptr) {
      const HMODULE library = LoadSystemLibrary(library_);
      const FARPROC address = library != nullptr ? GetProcAddress(library, name_) : nullptr;
      if (address == nullptr) return std::nullopt;
      function = std::bit_cast<Function>(address);
      function_ = function;  // any thread binding it finds the same address
    }
    return function(std::forward<Args>(args)...);
  }

 private:
  const char* library_;
  const char* name_;
  std::atomic<Function> function_ = nullptr;
};

}  // namespace win32
