// A library planted beside the program under a system library's name
// (built as oleacc.dll): loading it leaves a marker file, the path in
// TAMBERLODE_PLANTED_MARKER, holding the loading program's path.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char marker[MAX_PATH] = "", program[MAX_PATH] = "";
  if (GetEnvironmentVariableA("TAMBERLODE_PLANTED_MARKER", marker, MAX_PATH) == 0) return TRUE;
  const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
  const HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  DWORD written = 0;
  WriteFile(file, program, length, &written, nullptr);
  WriteFile(file, "\r\n", 2, &written, nullptr);
  CloseHandle(file);
  return TRUE;
}
