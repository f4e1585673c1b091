// The platform-independent half of the toolkit layer: errors and their
// text, the controls and forms with their states, status checks, event
// dispatch and the unhandled-error path, the services (message box, program
// start, file test, a handler's wait, the application's properties) and the
// test hooks of toolkit/testing.h. The pure rules are in rules.cpp.
#include "toolkit/toolkit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>

#include "identity/identity.h"
#include "toolkit/backend.h"
#include "toolkit/system.h"
#include "toolkit/testing.h"

namespace tk {
namespace {

std::vector<Form*> loadedForms;
std::optional<std::pair<std::string, int>> injectedFailure;
testing::MessageBoxHook messageBoxHook;
bool paintingPending = false;  // a handler waits in PaintPending

void DefaultUnhandledError(const Error& error) {
  MsgBox(DescribeError(error));
  backend::Quit(error.code() != 0 ? error.code() : 1);
}
UnhandledErrorHandler unhandledError = DefaultUnhandledError;

void CheckStatus(int status, const char* interface, const char* operation) {
  if (injectedFailure && injectedFailure->first == operation) {
    status = injectedFailure->second;
    injectedFailure.reset();
  }
  // A backend failure takes the cause the backend kept for it; one kept
  // for an earlier status goes unused.
  std::optional<SystemCause> cause = backend::TakeFailure();
  if (status != 0) {
    throw Error(status, interface, operation,
                status == kBackendFailure ? std::move(cause) : std::nullopt);
  }
}

// The native object's status for a property set, or 0 where there is none
// (not loaded): the check runs either way, so an injected failure fires in
// both states.
template <class Peer, class Call>
int StatusOf(Peer* peer, Call call) {
  return peer != nullptr ? call(*peer) : 0;
}

}  // namespace

namespace {

std::string CauseText(const SystemCause& cause) {
  return cause.call + " failed: system error " + std::to_string(cause.error) +
         (cause.text.empty() ? "" : " (" + cause.text + ")");
}

}  // namespace

Error::Error(int code, std::string interface, std::string operation,
             std::optional<SystemCause> cause)
    : std::runtime_error("run-time error " + std::to_string(code) + " in " + interface + "." +
                         operation + (cause ? ": " + CauseText(*cause) : "")),
      code_(code),
      interface_(std::move(interface)),
      operation_(std::move(operation)),
      cause_(std::move(cause)) {}

std::string DescribeError(const Error& error) {
  std::string text;
  switch (error.code()) {
    case kInvalidCall:
      text = "Invalid procedure call or argument";
      break;
    case kFileNotFound:
      text = "File not found";
      break;
    case kInvalidProperty:
      text = "Invalid property value";
      break;
    case kBackendFailure:
      text = error.cause() ? CauseText(*error.cause()) : "Out of memory";
      break;
    default:
      text = "Internal error";
      break;
  }
  return "Run-time error '" + std::to_string(error.code()) + "':\n\n" + text + "\n\n(" +
         error.interface() + "." + error.operation() + ")";
}

Font DefaultFont() { return {"MS Sans Serif", 8.25, 400, false, false, 0}; }

// ---- Control ---------------------------------------------------------------

Control::Control(Form& owner) : owner_(owner) { owner.controls_.push_back(this); }
// Members die before their window's base: leave its list on the way, taking
// the native control along.
Control::~Control() { std::erase(owner_.controls_, this); }

void Control::Check(int status, const char* interface, const char* operation) const {
  CheckStatus(status, interface, operation);
}
void Control::Fire(const std::function<void()>& handler) {
  if (handler) Dispatch(handler);
}

Label::Label(Form& owner, Design design) : Control(owner), design_(std::move(design)) {
  ResetToDesign();
}
void Label::ResetToDesign() {
  caption_ = design_.caption;
  visible_ = design_.visible;
  toolTip_.clear();
}
std::string Label::Caption() const {
  Check(0, "Label", "Caption");
  return caption_;
}
void Label::SetCaption(std::string_view caption) {
  Check(StatusOf(peer(), [&](auto& native) { return native.SetCaption(caption); }), "Label",
        "Caption");
  caption_ = caption;
}
void Label::SetVisible(bool visible) {
  Check(StatusOf(peer(), [&](auto& native) { return native.SetVisible(visible); }), "Label",
        "Visible");
  visible_ = visible;
}
void Label::SetToolTip(std::string_view text) {
  if (peer()) Check(peer()->SetToolTip(text), "Label", "ToolTipText");
  toolTip_ = text;
}

CommandButton::CommandButton(Form& owner, Design design, std::function<void()> click)
    : Control(owner), design_(std::move(design)), click_(std::move(click)) {
  ResetToDesign();
}
void CommandButton::ResetToDesign() { visible_ = design_.visible; }
void CommandButton::SetVisible(bool visible) {
  Check(StatusOf(peer(), [&](auto& native) { return native.SetVisible(visible); }), "CommandButton",
        "Visible");
  visible_ = visible;
}
void CommandButton::Press() { Fire(click_); }

Timer::Timer(Form& owner, Design design, std::function<void()> tick)
    : Control(owner), design_(design), tick_(std::move(tick)) {
  ResetToDesign();
}
void Timer::ResetToDesign() { interval_ = design_.interval; }
void Timer::SetInterval(int milliseconds) {
  if (milliseconds < 0) Check(kInvalidProperty, "Timer", "Interval");
  const int ticking = design_.enabled ? milliseconds : 0;
  Check(StatusOf(peer(), [&](auto& native) { return native.SetInterval(ticking); }), "Timer",
        "Interval");
  interval_ = milliseconds;
}
void Timer::Tick() { Fire(tick_); }

PictureBox::PictureBox(Form& owner, Design design) : Control(owner), design_(design) {}
Rect PictureBox::FocusArea() const {
  std::vector<Rect> others;
  for (const Control* control : owner().controls()) {
    if (control == this) continue;
    if (const auto* picture = dynamic_cast<const PictureBox*>(control)) {
      others.push_back(picture->design().rect);
    } else if (const auto* label = dynamic_cast<const Label*>(control)) {
      others.push_back(label->design().rect);
    } else if (const auto* button = dynamic_cast<const CommandButton*>(control)) {
      others.push_back(button->design().rect);
    }
  }
  return OwnArea(design_.rect, others);
}

Line::Line(Form& owner, Design design) : Control(owner), design_(design) {}

// ---- Native controls: each asks its window's backend for its own kind ----

std::unique_ptr<backend::ControlPeer> Label::CreatePeer(backend::WindowPeer& window) {
  return window.CreateLabel(*this);
}
std::unique_ptr<backend::ControlPeer> CommandButton::CreatePeer(backend::WindowPeer& window) {
  return window.CreateButton(*this);
}
std::unique_ptr<backend::ControlPeer> Timer::CreatePeer(backend::WindowPeer& window) {
  return window.CreateTimer(*this);
}
std::unique_ptr<backend::ControlPeer> PictureBox::CreatePeer(backend::WindowPeer& window) {
  return window.CreatePicture(*this);
}
std::unique_ptr<backend::ControlPeer> Line::CreatePeer(backend::WindowPeer& window) {
  return window.CreateLine(*this);
}

// ---- Form ------------------------------------------------------------------

Form::Form(Design design) : design_(std::move(design)), caption_(design_.caption) {}

Form::~Form() {
  // A window still loaded when its object goes (only in tests) loses its
  // native window with it.
  if (Loaded()) {
    // The controls, members of the derived class, are gone already.
    window_.reset();
    std::erase(loadedForms, this);
  }
}

void Form::Check(int status, const char* operation) const {
  CheckStatus(status, "Form", operation);
}

bool Form::Visible() const { return window_ && window_->Visible(); }

void Form::ChangeTogether(const std::function<void()>& changes) {
  if (!window_) {
    changes();
    return;
  }
  Check(window_->HoldPainting(true), "ChangeTogether");
  // Released on every way out, also when a change fails.
  const struct Release {
    backend::WindowPeer* window;
    ~Release() { window->HoldPainting(false); }
  } release{window_.get()};
  changes();
}

void Form::SetCaption(std::string_view caption) {
  Check(StatusOf(window_.get(), [&](auto& native) { return native.SetCaption(caption); }),
        "Caption");
  caption_ = caption;
}

void Form::Load() {
  if (Loaded()) return;
  caption_ = design_.caption;
  for (Control* control : controls_) control->ResetToDesign();
  auto window = backend::CreateWindow(*this);
  Check(window ? 0 : kBackendFailure, "Load");
  window_ = std::move(window);
  loadedForms.push_back(this);
  for (Control* control : controls_) {
    control->peer_ = control->CreatePeer(*window_);
    Check(control->peer_ ? 0 : kBackendFailure, "Load");
  }
  Check(window_->FinishLoad(), "Load");
  Form_Load();
}

void Form::Show() {
  Load();
  // Form_Load may have unloaded the window again.
  if (window_) Check(window_->Show(), "Show");
}

void Form::Hide() {
  Load();
  if (window_) Check(window_->Hide(), "Hide");
}

void Form::Unload() {
  if (!Loaded()) return;
  for (Control* control : controls_) control->peer_.reset();
  window_.reset();
  std::erase(loadedForms, this);
  if (loadedForms.empty()) backend::Quit(0);
}

// ---- Dispatch and errors ---------------------------------------------------

void Dispatch(const std::function<void()>& handler) {
  // A handler is waiting: an event that still gets through (a message sent
  // from another program) runs nothing inside it.
  if (paintingPending) return;
  try {
    handler();
  } catch (const Error& error) {
    unhandledError(error);
  } catch (const std::exception& error) {
    unhandledError(Error(kInternalError, "Program", error.what()));
  }
}

UnhandledErrorHandler SetUnhandledErrorHandler(UnhandledErrorHandler handler) {
  auto previous = std::move(unhandledError);
  unhandledError = handler ? std::move(handler) : DefaultUnhandledError;
  return previous;
}

int LoadedWindows() { return static_cast<int>(loadedForms.size()); }

int Run(int argc, char** argv, const std::function<void()>& startUp) {
  if (const int status = backend::Start(argc, argv); status != 0) return status;
  bool started = false;
  try {
    startUp();
    started = true;
  } catch (const Error& error) {
    unhandledError(error);
  }
  const int status = started && !loadedForms.empty() ? backend::RunLoop() : (started ? 0 : 1);
  // After an unhandled error the loop ends with windows still loaded.
  while (!loadedForms.empty()) loadedForms.back()->Unload();
  backend::Stop();
  return status;
}

// ---- Services --------------------------------------------------------------

void MsgBox(std::string_view prompt) {
  if (messageBoxHook) {
    messageBoxHook(std::string(prompt));
    return;
  }
  backend::MessageBox(std::string(prompt));
}

void Shell(const std::string& programPath) {
  CheckStatus(programPath.empty() ? kInvalidCall : system::Launch(programPath), "Interaction",
              "Shell");
}

std::string Dir(const std::string& path) { return system::FileName(path); }

namespace {

void PaintPending() {
  paintingPending = true;
  backend::PaintPending();
  paintingPending = false;
}

}  // namespace

Wait::~Wait() {
  if (!waited_) return;
  PaintPending();
  backend::SetBusy(false);
}

void Wait::Slice() {
  if (!waited_) backend::SetBusy(true);
  waited_ = true;
  PaintPending();
}

AppProperties App() {
  return {std::string(identity::kTitle), identity::kMajor, identity::kMinor, identity::kRevision};
}

namespace testing {
void FailNext(std::string_view operation, int code) {
  injectedFailure.emplace(std::string(operation), code);
}
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  auto previous = std::move(messageBoxHook);
  messageBoxHook = std::move(hook);
  return previous;
}
}  // namespace testing

}  // namespace tk
