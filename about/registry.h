// The registry as the launcher reads it: the three ANSI functions of
// advapi32, behind an interface so tests can serve any value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace about {

// An open key's handle (HKEY on Windows).
using RegistryKey = std::uintptr_t;
inline constexpr RegistryKey kHkeyLocalMachine = 0x80000002;

// The Windows status codes and value types the launcher and the stand-in use.
inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorFileNotFound = 2;
inline constexpr std::int32_t kErrorInvalidHandle = 6;
inline constexpr std::int32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;

class Registry {
 public:
  virtual ~Registry() = default;
  // Results are Windows status codes: 0 for success.
  virtual std::int32_t RegOpenKeyExA(RegistryKey hKey, const char* lpSubKey,
                                     std::uint32_t ulOptions, std::uint32_t samDesired,
                                     RegistryKey& phkResult) = 0;
  virtual std::int32_t RegQueryValueExA(RegistryKey hKey, const char* lpValueName,
                                        std::uint32_t* lpReserved, std::uint32_t& lpType,
                                        unsigned char* lpData, std::uint32_t& lpcbData) = 0;
  virtual std::int32_t RegCloseKey(RegistryKey hKey) = 0;
};

// advapi32 on Windows; on Linux a read-only stand-in.
Registry& PlatformRegistry();

// Text data that RegQueryValueExA returned, which is in the system's ANSI
// code page, as the program's own UTF-8 text. On Linux the stand-in's data
// is already the locale's text and stays as it is.
std::string FromAnsiCodePage(std::string_view data);

}  // namespace about
