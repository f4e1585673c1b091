// Windows XP has no GetTickCount64, yet the C++ runtime's thread layer
// (winpthread, which libstdc++ brings in for its exception and static-guard
// locks) imports it, and one import Windows lacks keeps the whole program
// from starting. This file defines the import's address slot itself, so the
// linker takes it from here and not from kernel32: the slot points to a
// function that binds kernel32's own GetTickCount64 by name (Vista and
// later) and otherwise counts milliseconds from the performance counter.
// It is linked into the 32-bit program as an object file, ahead of the
// libraries.
#include <windows.h>

#include <atomic>
#include <bit>

namespace {

using TickCount64 = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI FromPerformanceCounter() {
  LARGE_INTEGER frequency, count;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart < 1000 ||
      !QueryPerformanceCounter(&count)) {
    return GetTickCount();
  }
  return static_cast<ULONGLONG>(count.QuadPart / (frequency.QuadPart / 1000));
}

std::atomic<TickCount64> bound = nullptr;

ULONGLONG WINAPI BindTickCount64() {
  TickCount64 function = bound.load();
  if (function == nullptr) {
    // kernel32 is always loaded; no library is looked for.
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const FARPROC address = kernel32 ? GetProcAddress(kernel32, "GetTickCount64") : nullptr;
    function = address ? std::bit_cast<TickCount64>(address) : &FromPerformanceCounter;
    bound = function;
  }
  return function();
}

}  // namespace

// The import slot as the linker names it, with the stdcall decoration.
// (The 32-bit program only: XP's 64-bit edition is not a target.)
extern "C" {
TickCount64 importedTickCount64 __asm__("__imp__GetTickCount64@0") = &BindTickCount64;
}
