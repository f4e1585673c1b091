// Asks a running program's picture box for its accessible object, as a
// screen reader does (WM_GETOBJECT for the client), without loading any
// accessibility library here. Prints the answer (0: no object).
//   reader.exe TITLE   the first picture box of the window titled TITLE
//   reader.exe --bare  loads "oleacc.dll" by its bare name instead, as the
//                      program must not (the planted library's control case)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::strcmp(argv[1], "--bare") == 0) {
    std::printf("%s\n", LoadLibraryA("oleacc.dll") ? "loaded" : "not loaded");
    return 0;
  }
  HWND window = nullptr;
  for (int i = 0; i < 600 && !window; ++i) {
    window = FindWindowA(nullptr, argv[1]);
    if (!window) Sleep(100);
  }
  // The picture boxes are the children of our picture class.
  HWND picture = window ? FindWindowExW(window, nullptr, L"TamberlodePicture", nullptr) : nullptr;
  if (!picture) {
    std::printf("no picture box in \"%s\"\n", argv[1]);
    return 1;
  }
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(picture, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT), SMTO_BLOCK,
                      20000, &answer);
  std::printf("%lu\n", static_cast<unsigned long>(answer));
  return 0;
}
