// The registry as the launcher reads it: the three ANSI functions of
// advapi32, behind an interface so tests can serve any value.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace about {

// An open key's handle (HKEY on Windows).
using RegistryKey = std::uintptr_t;
inline constexpr RegistryKey kHkeyLocalMachine = 0x80000002;

// The Windows status codes and value types the launcher and the stand-in use.
inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorFileNotFound = 2;
inline constexpr std::int32_t kErrorAccessDenied = 5;
inline constexpr std::int32_t kErrorInvalidHandle = 6;
inline constexpr std::int32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;

// Access rights of an open: KEY_READ (query, enumerate, notify and read
// control) is all a reader needs; a standard user's filtered token is refused
// any write right on HKEY_LOCAL_MACHINE. KEY_WOW64_64KEY picks the 64-bit view.
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr std::uint32_t kKeyWow64_32Key = 0x0200;

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

// The platform's registry, for one press of System Info: advapi32 on
// Windows (through BothViews); on Linux a read-only stand-in that refuses
// any open asking for more than read rights, and whose value is found by a
// search of PATH that waits in slices with `whileWaiting` between them.
std::unique_ptr<Registry> PlatformRegistry(std::function<void()> whileWaiting = {});

// For a 32-bit program on 64-bit Windows, which sees only the registry's
// 32-bit view: a key or value missing there is looked up again in the 64-bit
// view, with the same rights. Elsewhere the second look finds what the first
// did. Built on Windows only.
std::unique_ptr<Registry> BothViews(Registry& raw);

// Text data that RegQueryValueExA returned, which is in the system's ANSI
// code page, as the program's own UTF-8 text. On Linux the stand-in's data
// is already the locale's text and stays as it is.
std::string FromAnsiCodePage(std::string_view data);

}  // namespace about
