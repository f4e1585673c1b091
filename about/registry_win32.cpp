// The registry on Windows: advapi32's RegOpenKeyExA, RegQueryValueExA and
// RegCloseKey, each bound by name on its first call and kept for later
// calls, with the last-error value captured after every call.
#include <windows.h>

#include <bit>
#include <string>
#include <string_view>

#include "about/registry.h"

namespace about {
namespace {

using RegOpenKeyExFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
using RegQueryValueExFn = LONG(WINAPI*)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
using RegCloseKeyFn = LONG(WINAPI*)(HKEY);

// Captured after every call like any bound platform function; nothing reads it.
DWORD lastError = 0;

// The function `name` of advapi32, looked up once; null when it cannot be had.
template <class Function>
Function Bind(Function& bound, const char* name) {
  if (bound != nullptr) return bound;
  HMODULE library = LoadLibraryA("advapi32");
  if (library == nullptr) return nullptr;
  const FARPROC address = GetProcAddress(library, name);
  if (address == nullptr) return nullptr;
  bound = std::bit_cast<Function>(address);
  return bound;
}

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
    const RegOpenKeyExFn function = Bind(open_, "RegOpenKeyExA");
    if (function == nullptr) {
      lastError = GetLastError();
      return static_cast<std::int32_t>(lastError != 0 ? lastError : ERROR_PROC_NOT_FOUND);
    }
    HKEY result = nullptr;
    const LONG status = function(ToHkey(hKey), lpSubKey, ulOptions, samDesired, &result);
    lastError = GetLastError();
    // The handle is written only when the key was opened; else it keeps its 0.
    if (status == ERROR_SUCCESS) phkResult = reinterpret_cast<RegistryKey>(result);
    return static_cast<std::int32_t>(status);
  }

  std::int32_t RegQueryValueExA(RegistryKey hKey, const char* lpValueName,
                                std::uint32_t* lpReserved, std::uint32_t& lpType,
                                unsigned char* lpData, std::uint32_t& lpcbData) override {
    const RegQueryValueExFn function = Bind(query_, "RegQueryValueExA");
    if (function == nullptr) {
      lastError = GetLastError();
      return static_cast<std::int32_t>(lastError != 0 ? lastError : ERROR_PROC_NOT_FOUND);
    }
    DWORD type = lpType;
    DWORD size = lpcbData;
    DWORD reserved = lpReserved != nullptr ? *lpReserved : 0;
    const LONG status = function(ToHkey(hKey), lpValueName,
                                 lpReserved != nullptr ? &reserved : nullptr, &type, lpData, &size);
    lastError = GetLastError();
    lpType = type;
    lpcbData = size;
    return static_cast<std::int32_t>(status);
  }

  std::int32_t RegCloseKey(RegistryKey hKey) override {
    const RegCloseKeyFn function = Bind(close_, "RegCloseKey");
    if (function == nullptr) {
      lastError = GetLastError();
      return static_cast<std::int32_t>(lastError != 0 ? lastError : ERROR_PROC_NOT_FOUND);
    }
    const LONG status = function(ToHkey(hKey));
    lastError = GetLastError();
    return static_cast<std::int32_t>(status);
  }

 private:
  RegOpenKeyExFn open_ = nullptr;
  RegQueryValueExFn query_ = nullptr;
  RegCloseKeyFn close_ = nullptr;
};

}  // namespace

Registry& PlatformRegistry() {
  static Advapi32Registry registry;
  return registry;
}

std::string FromAnsiCodePage(std::string_view data) {
  if (data.empty()) return {};
  const int size = static_cast<int>(data.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, data.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, data.data(), size, wide.data(), length);
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), bytes, nullptr, nullptr);
  return text;
}

}  // namespace about
