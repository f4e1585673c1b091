// Stands in for the system-information tool: leaves a marker file (the path
// in TAMBERLODE_MARKER, else marker.txt beside itself) holding its own path,
// so a test can see that it was started and from where.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  char self[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  char target[MAX_PATH] = "";
  std::string path;
  if (GetEnvironmentVariableA("TAMBERLODE_MARKER", target, MAX_PATH) > 0) {
    path = target;
  } else {
    path = self;
    path = path.substr(0, path.find_last_of('\\') + 1) + "marker.txt";
  }
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (!file) return 1;
  std::fprintf(file, "%s\n", self);
  std::fclose(file);
  return 0;
}
