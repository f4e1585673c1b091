// kernel32's GetDiskFreeSpaceA, bound by name on the first call and kept for
// later calls, with the last-error value captured after every call.
//
// GetDiskFreeSpaceA cuts cluster counts above 32 bits to their low bits, and
// counts above 2^31 turn negative as signed values: on such volumes the true
// sizes come from GetDiskFreeSpaceExA and are scaled to fit, as on Linux.
#include <windows.h>

#include <bit>

#include "app/counters.h"
#include "app/module1.h"

namespace Module1 {
namespace {

using GetDiskFreeSpaceFn = BOOL(WINAPI*)(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD);
using GetDiskFreeSpaceExFn = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                           PULARGE_INTEGER);

GetDiskFreeSpaceFn boundFunction = nullptr;
GetDiskFreeSpaceExFn boundExFunction = nullptr;
// Captured after every call like any bound platform function; nothing reads it.
DWORD lastError = 0;

// The function `name` of kernel32, looked up once; null when it cannot be had.
template <class Function>
Function Bind(Function& bound, const char* name) {
  if (bound != nullptr) return bound;
  HMODULE library = LoadLibraryA("kernel32");
  if (library == nullptr) return nullptr;
  const FARPROC address = GetProcAddress(library, name);
  if (address == nullptr) return nullptr;
  bound = std::bit_cast<Function>(address);
  return bound;
}

// The counters of a successful GetDiskFreeSpaceA, corrected from the true
// byte counts where the volume has more clusters than 32 signed bits hold.
report::FreeSpaceCounters Corrected(const char* rootPathName,
                                    const report::FreeSpaceCounters& reported) {
  const GetDiskFreeSpaceExFn function = Bind(boundExFunction, "GetDiskFreeSpaceExA");
  if (function == nullptr) return reported;
  ULARGE_INTEGER available{}, total{}, totalFree{};
  if (!function(rootPathName, &available, &total, &totalFree)) return reported;
  return app::FitCounters(reported, total.QuadPart, available.QuadPart).value_or(reported);
}

}  // namespace

std::int32_t GetDiskFreeSpaceA(const char* rootPathName, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& numberOfFreeClusters,
                               std::int32_t& totalNumberOfClusters) {
  const GetDiskFreeSpaceFn function = Bind(boundFunction, "GetDiskFreeSpaceA");
  if (function == nullptr) {
    lastError = GetLastError();
    return 0;
  }
  // The counters go through as 32-bit values, in and out; they are written
  // back only on success so a failed call leaves them as they came in.
  DWORD spc = static_cast<DWORD>(sectorsPerCluster);
  DWORD bps = static_cast<DWORD>(bytesPerSector);
  DWORD nfc = static_cast<DWORD>(numberOfFreeClusters);
  DWORD tnc = static_cast<DWORD>(totalNumberOfClusters);
  const BOOL result = function(rootPathName, &spc, &bps, &nfc, &tnc);
  lastError = GetLastError();
  if (result == 0) return 0;
  const report::FreeSpaceCounters counters =
      Corrected(rootPathName, {static_cast<std::int32_t>(spc), static_cast<std::int32_t>(bps),
                               static_cast<std::int32_t>(nfc), static_cast<std::int32_t>(tnc)});
  sectorsPerCluster = counters.sectorsPerCluster;
  bytesPerSector = counters.bytesPerSector;
  numberOfFreeClusters = counters.freeClusters;
  totalNumberOfClusters = counters.totalClusters;
  return static_cast<std::int32_t>(result);
}

}  // namespace Module1
