// The System Info button: finds the system-information tool through two
// registry values and starts it, or says that it is unavailable.
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "about/frmabout.h"
#include "about/registry.h"
#include "toolkit/toolkit.h"

namespace {

// Read rights only: with write rights asked, a standard user's token is
// refused the HKEY_LOCAL_MACHINE keys and the installed tool goes unfound.
constexpr std::uint32_t kKeyAccess = about::kKeyRead;
constexpr std::size_t kValueBufferSize = 1024;
constexpr std::string_view kUnavailable = "System Information Is Unavailable At This Time";
constexpr std::string_view kToolFile = "\\MSINFO32.EXE";

// The key handle of one GetKeyValue call, handed to RegCloseKey on every way
// out: the normal ones, a failed open (handle still 0) and the run-time error
// of a zero-length value, which would otherwise leak the open key.
class OpenKey {
 public:
  explicit OpenKey(about::Registry& registry) : registry_(registry) {}
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() { registry_.RegCloseKey(handle); }  // its result is of no use here

  about::RegistryKey handle = 0;

 private:
  about::Registry& registry_;
};

// General formatting of a text with no format string: a text that reads as a
// number becomes the number's plain decimal form, any other text stays as
// it is. "&h" followed by hex digits reads as that hex number, taken as
// unsigned because a DWORD is: "&h000000FF" -> "255", "&hFFFFFFFF" ->
// "4294967295". Too many digits for 64 bits leave the text alone.
std::string GeneralFormat(const std::string& text) {
  constexpr std::string_view kHexPrefix = "&h";
  if (text.size() <= kHexPrefix.size() || text.compare(0, kHexPrefix.size(), kHexPrefix) != 0) {
    return text;
  }
  std::uint64_t value = 0;
  const char* first = text.data() + kHexPrefix.size();
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, value, 16);
  if (error != std::errc{} || end != last) return text;
  return std::to_string(value);
}

}  // namespace

void frmAbout::StartSysInfo() {
  // The one error trap of the program: a run-time error anywhere on the way
  // (tk::Error, or whatever the standard library throws) ends in the same
  // message as a value that is not there, and the About window goes on.
  bool started = false;
  try {
    std::string path;
    bool found = false;
    {
      // The search may wait (on Linux, for the folders of PATH): the windows
      // repaint meanwhile, the busy cursor shows and input is dropped.
      tk::Wait wait;
      std::unique_ptr<about::Registry> platform;
      about::Registry* const served = registry;
      if (served == nullptr) {
        platform = about::PlatformRegistry(wait.Hook());
        registry = platform.get();
      }
      const struct Restore {
        frmAbout& form;
        about::Registry* served;
        ~Restore() { form.registry = served; }
      } restore{*this, served};
      // The first value names the program itself and is used as it is.
      found = GetKeyValue(about::kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO",
                          "PATH", path);
      // The second names its folder; always a backslash of our own, also
      // after a folder that ends in one.
      if (!found &&
          GetKeyValue(about::kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools Location",
                      "MSINFO", path) &&
          !tk::Dir(path + std::string(kToolFile)).empty()) {
        path += kToolFile;
        found = true;
      }
    }
    if (found) {
      // The exact path is the program: never a command line split at spaces.
      tk::Shell(path);
      started = true;
    }
  } catch (const std::exception&) {
    started = false;
  }
  if (!started) tk::MsgBox(kUnavailable);
}

bool frmAbout::GetKeyValue(const about::RegistryKey& KeyRoot, const std::string& KeyName,
                           const std::string& SubKeyRef, std::string& KeyVal) {
  // Outside a press (a test's direct call), the platform's registry.
  std::unique_ptr<about::Registry> platform;
  about::Registry& reader =
      registry != nullptr ? *registry : *(platform = about::PlatformRegistry());
  OpenKey key(reader);
  if (reader.RegOpenKeyExA(KeyRoot, KeyName.c_str(), 0, kKeyAccess, key.handle) !=
      about::kErrorSuccess) {
    KeyVal.clear();
    return false;
  }

  std::array<unsigned char, kValueBufferSize> buffer{};
  std::uint32_t size = kValueBufferSize;
  std::uint32_t type = 0;
  if (reader.RegQueryValueExA(key.handle, SubKeyRef.c_str(), nullptr, type, buffer.data(), size) !=
      about::kErrorSuccess) {
    KeyVal.clear();
    return false;
  }

  // The data: the first `size` bytes, never past the buffer, without a
  // closing NUL. No data at all is an invalid argument, left to the caller's
  // trap; the key is closed on the way out.
  if (size == 0) throw tk::Error(tk::kInvalidCall, "frmAbout", "GetKeyValue");
  std::size_t kept = size < kValueBufferSize ? size : kValueBufferSize;
  if (buffer[kept - 1] == 0) --kept;

  switch (type) {
    case about::kRegSz: {
      // The A function hands the text over in the ANSI code page. The text
      // ends at its first NUL, as every reader of a C string takes it: the
      // bytes after one would end up inside the tool's command line.
      std::string_view text(reinterpret_cast<const char*>(buffer.data()), kept);
      text = text.substr(0, text.find('\0'));
      KeyVal = about::FromAnsiCodePage(text);
      break;
    }
    case about::kRegDword: {
      constexpr char kDigits[] = "0123456789ABCDEF";
      for (std::size_t i = kept; i-- > 0;) {
        KeyVal += kDigits[buffer[i] >> 4];
        KeyVal += kDigits[buffer[i] & 0x0F];
      }
      KeyVal = GeneralFormat("&h" + KeyVal);
      break;
    }
    default:
      break;  // another type leaves KeyVal as it came in
  }
  return true;
}
