// kernel32's GetDiskFreeSpaceA, bound by name on its first call.
//
// GetDiskFreeSpaceA cuts cluster counts above 32 bits to their low bits, and
// counts above 2^31 turn negative as signed values: on such volumes the true
// sizes come from GetDiskFreeSpaceExA and are scaled to fit, as on Linux.
#include <windows.h>

#include "drives/module1.h"
#include "survey/counters.h"
#include "win32/bind.h"

namespace Module1 {
namespace {

win32::Bound<BOOL(WINAPI*)(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD)> getDiskFreeSpace{
    "kernel32", "GetDiskFreeSpaceA"};
win32::Bound<BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER)>
    getDiskFreeSpaceEx{"kernel32", "GetDiskFreeSpaceExA"};

// The counters of a successful GetDiskFreeSpaceA, corrected from the true
// byte counts where the volume has more clusters than 32 signed bits hold.
survey::FreeSpaceCounters Corrected(const std::string& rootPathName,
                                    const survey::FreeSpaceCounters& reported) {
  ULARGE_INTEGER available{}, total{}, totalFree{};
  if (!getDiskFreeSpaceEx(rootPathName.c_str(), &available, &total, &totalFree).value_or(FALSE))
    return reported;
  return survey::FitCounters(reported, total.QuadPart, available.QuadPart).value_or(reported);
}

}  // namespace

std::int32_t GetDiskFreeSpaceA(const std::string& rootPathName, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& numberOfFreeClusters,
                               std::int32_t& totalNumberOfClusters) {
  // The counters go through as 32-bit values, in and out; they are written
  // back only on success so a failed call leaves them as they came in.
  DWORD spc = static_cast<DWORD>(sectorsPerCluster);
  DWORD bps = static_cast<DWORD>(bytesPerSector);
  DWORD nfc = static_cast<DWORD>(numberOfFreeClusters);
  DWORD tnc = static_cast<DWORD>(totalNumberOfClusters);
  // An empty floppy drive fails its query quietly instead of asking.
  static const UINT errorMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  static_cast<void>(errorMode);
  const BOOL result =
      getDiskFreeSpace(rootPathName.c_str(), &spc, &bps, &nfc, &tnc).value_or(FALSE);
  if (result == 0) return 0;
  const survey::FreeSpaceCounters counters =
      Corrected(rootPathName, {static_cast<std::int32_t>(spc), static_cast<std::int32_t>(bps),
                               static_cast<std::int32_t>(nfc), static_cast<std::int32_t>(tnc)});
  sectorsPerCluster = counters.sectorsPerCluster;
  bytesPerSector = counters.bytesPerSector;
  numberOfFreeClusters = counters.freeClusters;
  totalNumberOfClusters = counters.totalClusters;
  return static_cast<std::int32_t>(result);
}

}  // namespace Module1
