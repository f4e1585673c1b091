// Linux: --help and --version, and Qt's own options passed on to Qt.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "identity/identity.h"

namespace app {
namespace {

// Qt's documented options (QGuiApplication, QApplication and the X11
// platform) and how Qt reads their values. Qt takes them out of the arguments
// itself; they are known here only so that anything else can be refused
// before Qt ever sees it.
enum class Value { None, Next, Joined, NextOrJoined };
struct QtOption {
  std::string_view name;
  Value value;
};
constexpr QtOption kQtOptions[] = {
    {"platform", Value::Next},
    {"platformpluginpath", Value::Next},
    {"platformtheme", Value::Next},
    {"plugin", Value::Next},
    {"qwindowgeometry", Value::Next},
    {"qwindowicon", Value::Next},
    {"qwindowtitle", Value::Next},
    {"session", Value::Next},
    {"display", Value::Next},
    {"geometry", Value::Next},
    {"title", Value::Next},
    {"icon", Value::Next},
    {"name", Value::Next},
    {"style", Value::NextOrJoined},
    {"stylesheet", Value::NextOrJoined},
    {"qmljsdebugger", Value::Joined},
    {"reverse", Value::None},
    {"widgetcount", Value::None},
    {"nograb", Value::None},
    {"dograb", Value::None},
    {"sync", Value::None},
};

const QtOption* FindQtOption(std::string_view name) {
  for (const QtOption& option : kQtOptions) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

struct CommandLine {
  enum class Action { Start, Help, Version, Error } action = Action::Start;
  std::string error;  // one line, for Action::Error
};

CommandLine Error(std::string line) { return {CommandLine::Action::Error, std::move(line)}; }

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") return {CommandLine::Action::Help, {}};
    if (argument == "--version") return {CommandLine::Action::Version, {}};
    if (argument.size() < 2 || argument[0] != '-') {
      return Error("unexpected argument '" + argument + "'");
    }
    // Qt accepts its options with one dash or two, some as name=value.
    std::string_view name(argument);
    name.remove_prefix(name.starts_with("--") ? 2 : 1);
    const std::size_t equals = name.find('=');
    const QtOption* option = FindQtOption(name.substr(0, equals));
    const bool joined = equals != std::string_view::npos;
    if (!option ||
        (joined && option->value != Value::Joined && option->value != Value::NextOrJoined) ||
        (!joined && option->value == Value::Joined)) {
      return Error("unknown option '" + argument + "'");
    }
    if (!joined && option->value != Value::None) {
      if (i + 1 == arguments.size()) return Error("option '" + argument + "' needs a value");
      ++i;
    }
  }
  return {};
}

std::string UsageText() {
  return "Usage: tamberlode [OPTION]...\n"
         "Show how many megabytes are free on each of the drives A: to I:.\n"
         "\n"
         "  -h, --help     show this help and exit\n"
         "      --version  show the version and exit\n"
         "\n"
         "Qt's options, such as -platform NAME, -display DISPLAY and -style STYLE,\n"
         "are passed on to Qt. See tamberlode(1).\n";
}

std::string VersionText() {
  using namespace identity;
  return std::string(kTitle) + " " + std::to_string(kMajor) + "." + std::to_string(kMinor) + "." +
         std::to_string(kRevision) + "\n";
}

}  // namespace

std::optional<int> HandleCommandLine(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const CommandLine line = ParseCommandLine(arguments);
  switch (line.action) {
    case CommandLine::Action::Start:
      return std::nullopt;
    case CommandLine::Action::Help:
      std::fputs(UsageText().c_str(), stdout);
      break;
    case CommandLine::Action::Version:
      std::fputs(VersionText().c_str(), stdout);
      break;
    case CommandLine::Action::Error:
      std::fprintf(stderr, "tamberlode: %s\n%s", line.error.c_str(), UsageText().c_str());
      return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace app
