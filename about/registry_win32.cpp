// The registry on Windows: advapi32's RegOpenKeyExA, RegQueryValueExA and
// RegCloseKey, each bound by name on its first call, asked in the program's
// own view of the registry and then in the 64-bit one.
#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "about/registry.h"
#include "win32/bind.h"
#include "win32/text.h"

namespace about {
namespace {

// The status of a call that could not be made: why the binding failed, as
// it left this thread's last error.
std::int32_t Unbound() {
  const DWORD error = GetLastError();
  return static_cast<std::int32_t>(error != 0 ? error : ERROR_PROC_NOT_FOUND);
}

// A Win32 critical section: std::mutex would bring the C++ thread library's
// POSIX layer, and with it kernel32 imports Windows XP lacks.
class Lock {
 public:
  Lock() { InitializeCriticalSection(&section_); }
  ~Lock() { DeleteCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  // Holds the lock for its own lifetime.
  class Held {
   public:
    explicit Held(Lock& lock) : lock_(lock) { EnterCriticalSection(&lock_.section_); }
    ~Held() { LeaveCriticalSection(&lock_.section_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    Lock& lock_;
  };

 private:
  CRITICAL_SECTION section_;
};

// The predefined roots (HKEY_LOCAL_MACHINE is 0x80000002) are 32-bit values
// that 64-bit Windows sign-extends; every other handle goes through as it is.
HKEY ToHkey(RegistryKey key) {
  if (key >= 0x80000000u && key <= 0x800000FFu) {
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(key)));
  }
  return reinterpret_cast<HKEY>(key);
}

class Advapi32Registry final : public Registry {
 public:
  std::int32_t RegOpenKeyExA(RegistryKey hKey, const char* lpSubKey, std::uint32_t ulOptions,
                             std::uint32_t samDesired, RegistryKey& phkResult) override {
    HKEY result = nullptr;
    const std::optional<LONG> status =
        open_(ToHkey(hKey), lpSubKey, ulOptions, samDesired, &result);
    if (!status) return Unbound();
    // The handle is written only when the key was opened; else it keeps its 0.
    if (*status == ERROR_SUCCESS) phkResult = reinterpret_cast<RegistryKey>(result);
    return static_cast<std::int32_t>(*status);
  }

  std::int32_t RegQueryValueExA(RegistryKey hKey, const char* lpValueName,
                                std::uint32_t* lpReserved, std::uint32_t& lpType,
                                unsigned char* lpData, std::uint32_t& lpcbData) override {
    DWORD type = lpType;
    DWORD size = lpcbData;
    DWORD reserved = lpReserved != nullptr ? *lpReserved : 0;
    const std::optional<LONG> status =
        query_(ToHkey(hKey), lpValueName, lpReserved != nullptr ? &reserved : nullptr, &type,
               lpData, &size);
    if (!status) return Unbound();
    lpType = type;
    lpcbData = size;
    return static_cast<std::int32_t>(*status);
  }

  std::int32_t RegCloseKey(RegistryKey hKey) override {
    const std::optional<LONG> status = close_(ToHkey(hKey));
    return status ? static_cast<std::int32_t>(*status) : Unbound();
  }

 private:
  win32::Bound<LONG(WINAPI*)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY)> open_{"advapi32.dll",
                                                                        "RegOpenKeyExA"};
  win32::Bound<LONG(WINAPI*)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD)> query_{
      "advapi32.dll", "RegQueryValueExA"};
  win32::Bound<LONG(WINAPI*)(HKEY)> close_{"advapi32.dll", "RegCloseKey"};
};

// What an open in the program's own view asked for, to ask the 64-bit view
// the same when a value is missing.
struct OwnViewOpen {
  RegistryKey root;
  std::string key;
  std::uint32_t options, access;
};

class BothViewsRegistry final : public Registry {
 public:
  explicit BothViewsRegistry(Registry& raw) : raw_(raw) {}

  std::int32_t RegOpenKeyExA(RegistryKey hKey, const char* lpSubKey, std::uint32_t ulOptions,
                             std::uint32_t samDesired, RegistryKey& phkResult) override {
    std::int32_t status = raw_.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (status == kErrorFileNotFound && !NamesAView(samDesired)) {
      return raw_.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired | kKeyWow64_64Key, phkResult);
    }
    if (status == kErrorSuccess && !NamesAView(samDesired) && lpSubKey != nullptr) {
      const Lock::Held held(lock_);
      ownView_[phkResult] = {hKey, lpSubKey, ulOptions, samDesired};
    }
    return status;
  }

  std::int32_t RegQueryValueExA(RegistryKey hKey, const char* lpValueName,
                                std::uint32_t* lpReserved, std::uint32_t& lpType,
                                unsigned char* lpData, std::uint32_t& lpcbData) override {
    const std::uint32_t type = lpType, size = lpcbData;
    const std::int32_t status =
        raw_.RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    if (status != kErrorFileNotFound) return status;
    std::optional<OwnViewOpen> open;
    {
      const Lock::Held held(lock_);
      if (const auto found = ownView_.find(hKey); found != ownView_.end()) open = found->second;
    }
    if (!open) return status;
    RegistryKey other = 0;
    if (raw_.RegOpenKeyExA(open->root, open->key.c_str(), open->options,
                           open->access | kKeyWow64_64Key, other) != kErrorSuccess) {
      return status;
    }
    lpType = type;
    lpcbData = size;
    const std::int32_t otherStatus =
        raw_.RegQueryValueExA(other, lpValueName, lpReserved, lpType, lpData, lpcbData);
    raw_.RegCloseKey(other);
    return otherStatus;
  }

  std::int32_t RegCloseKey(RegistryKey hKey) override {
    {
      const Lock::Held held(lock_);
      ownView_.erase(hKey);
    }
    return raw_.RegCloseKey(hKey);
  }

 private:
  static bool NamesAView(std::uint32_t access) {
    return (access & (kKeyWow64_64Key | kKeyWow64_32Key)) != 0;
  }

  Registry& raw_;
  Lock lock_;
  std::map<RegistryKey, OwnViewOpen> ownView_;
};

}  // namespace

std::unique_ptr<Registry> BothViews(Registry& raw) {
  return std::make_unique<BothViewsRegistry>(raw);
}

std::unique_ptr<Registry> PlatformRegistry(std::function<void()>) {
  // advapi32's reads do not wait on volumes: nothing to do between slices.
  static Advapi32Registry advapi32;
  return BothViews(advapi32);
}

std::string FromAnsiCodePage(std::string_view data) {
  return win32::Utf8(win32::Wide(data, CP_ACP));
}

}  // namespace about
