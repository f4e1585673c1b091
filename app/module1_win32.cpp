// kernel32's GetDiskFreeSpaceA, bound by name on the first call and kept for
// later calls, with the last-error value captured after every call.
#include <windows.h>

#include <bit>

#include "app/module1.h"

namespace Module1 {
namespace {

using GetDiskFreeSpaceFn = BOOL(WINAPI*)(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD);

GetDiskFreeSpaceFn boundFunction = nullptr;
// Captured after every call like any bound platform function; nothing reads it.
DWORD lastError = 0;

GetDiskFreeSpaceFn Bind() {
  if (boundFunction != nullptr) return boundFunction;
  HMODULE library = LoadLibraryA("kernel32");
  if (library == nullptr) return nullptr;
  const FARPROC address = GetProcAddress(library, "GetDiskFreeSpaceA");
  if (address == nullptr) return nullptr;
  boundFunction = std::bit_cast<GetDiskFreeSpaceFn>(address);
  return boundFunction;
}

}  // namespace

std::int32_t GetDiskFreeSpaceA(const char* rootPathName, std::int32_t& sectorsPerCluster,
                               std::int32_t& bytesPerSector, std::int32_t& numberOfFreeClusters,
                               std::int32_t& totalNumberOfClusters) {
  const GetDiskFreeSpaceFn function = Bind();
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
  sectorsPerCluster = static_cast<std::int32_t>(spc);
  bytesPerSector = static_cast<std::int32_t>(bps);
  numberOfFreeClusters = static_cast<std::int32_t>(nfc);
  totalNumberOfClusters = static_cast<std::int32_t>(tnc);
  return static_cast<std::int32_t>(result);
}

}  // namespace Module1
