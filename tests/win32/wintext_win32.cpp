// Lists the top-level windows of the desktop whose title contains the first
// argument (all windows without one), each with its child windows: one line
// per window, "class<TAB>text<TAB>visible|hidden<TAB>left,top,right,bottom"
// (screen pixels), children indented by two spaces, texts in UTF-8. The
// Wine run reads the program's captions with it from outside.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length,
                      nullptr, nullptr);
  return narrow;
}

std::wstring Text(HWND hwnd) {
  wchar_t buffer[4096] = L"";
  // WM_GETTEXT reads controls of other processes too, unlike GetWindowText.
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return buffer;
}

void Print(HWND hwnd, const char* indent) {
  wchar_t className[256] = L"";
  GetClassNameW(hwnd, className, 256);
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  std::printf("%s%s\t%s\t%s\t%ld,%ld,%ld,%ld\n", indent, Utf8(className).c_str(),
              Utf8(Text(hwnd)).c_str(), IsWindowVisible(hwnd) ? "visible" : "hidden", rect.left,
              rect.top, rect.right, rect.bottom);
}

BOOL CALLBACK Child(HWND hwnd, LPARAM) {
  Print(hwnd, "  ");
  return TRUE;
}

BOOL CALLBACK TopLevel(HWND hwnd, LPARAM filter) {
  const std::wstring title = Text(hwnd);
  const auto* wanted = reinterpret_cast<const std::wstring*>(filter);
  if (!wanted->empty() && title.find(*wanted) == std::wstring::npos) return TRUE;
  Print(hwnd, "");
  EnumChildWindows(hwnd, Child, 0);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring filter;
  if (argc > 1) {
    filter.resize(std::strlen(argv[1]));
    filter.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_ACP, 0, argv[1], static_cast<int>(filter.size()), filter.data(),
                            static_cast<int>(filter.size()))));
  }
  EnumWindows(TopLevel, reinterpret_cast<LPARAM>(&filter));
  std::fflush(stdout);
  return 0;
}
