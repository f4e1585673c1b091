// Our window toolkit layer: the windows, controls and services the program's
// windows are written against. A backend (window_qt.cpp on Linux,
// window_win32.cpp on Windows) makes the native windows; this header names
// neither.
//
// Statuses: every operation that can fail checks its backend's status right
// after the call and throws tk::Error when it is not 0. The exception leaves
// the running handler at once, RAII releases what it holds, and the event
// dispatch hands it to the unhandled-error handler.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/rules.h"

namespace tk {

// Codes of the run-time errors the layer raises.
enum ErrorCode : int {
  kInvalidCall = 5,  // invalid procedure call or argument
  kFileNotFound = 53,
  kInvalidProperty = 380,  // the backend refused a property value
  kBackendFailure = 7,     // a native call failed (Error::cause says which, where known)
  kInternalError = 51,
};

// Why a native call failed, as the system tells it: the call's name, the
// system's error number (GetLastError on Windows) and its text for it.
struct SystemCause {
  std::string call;
  unsigned long error = 0;
  std::string text;
};

// A failing status: the error's code, the interface and operation that
// reported it, and where the backend knows it, the system's cause.
class Error : public std::runtime_error {
 public:
  Error(int code, std::string interface, std::string operation,
        std::optional<SystemCause> cause = std::nullopt);
  int code() const { return code_; }
  const std::string& interface() const { return interface_; }
  const std::string& operation() const { return operation_; }
  const std::optional<SystemCause>& cause() const { return cause_; }

 private:
  int code_;
  std::string interface_;
  std::string operation_;
  std::optional<SystemCause> cause_;
};

struct Font {
  std::string name{};
  double points = 0;
  int weight = 400;
  bool italic = false;
  bool underline = false;
  int charset = 0;
  friend bool operator==(const Font&, const Font&) = default;
};
// What a control uses when its design sets no font of its own.
Font DefaultFont();

enum class Alignment { Left, Right, Center };

// A picture as the bytes of a complete BMP or ICO file.
using Picture = std::span<const unsigned char>;

class Form;
namespace backend {
class WindowPeer;
class ControlPeer;
}  // namespace backend

// Base of every control: its window registers it in declaration order, and
// the native control exists only while the window is loaded.
class Control {
 public:
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  virtual ~Control();

  Form& owner() const { return owner_; }
  backend::ControlPeer* peer() const { return peer_.get(); }

 protected:
  explicit Control(Form& owner);
  // Throws tk::Error when `status` is not 0.
  void Check(int status, const char* interface, const char* operation) const;
  // Runs an event handler of the control, if it has one, through Dispatch.
  void Fire(const std::function<void()>& handler);

 private:
  friend class Form;
  // Back to the design's values before each load; controls without state keep none.
  virtual void ResetToDesign() {}
  virtual std::unique_ptr<backend::ControlPeer> CreatePeer(backend::WindowPeer& window) = 0;

  Form& owner_;
  std::unique_ptr<backend::ControlPeer> peer_;
};

class Label final : public Control {
 public:
  struct Design {
    std::string caption{};
    Rect rect{};
    int tabIndex = 0;
    Alignment alignment = Alignment::Left;
    bool wordWrap = true;  // labels wrap at word boundaries within their box
    std::optional<Font> font{};
    Color foreColor = kWindowText;
    Color backColor = kWhite;
    bool visible = true;
  };
  Label(Form& owner, Design design);

  std::string Caption() const;
  void SetCaption(std::string_view caption);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  // Hover text; an extension of ours, used on Linux to name the volume
  // behind a drive letter.
  void SetToolTip(std::string_view text);
  std::string ToolTip() const { return toolTip_; }
  const Design& design() const { return design_; }

 private:
  void ResetToDesign() override;
  std::unique_ptr<backend::ControlPeer> CreatePeer(backend::WindowPeer& window) override;

  Design design_;
  std::string caption_;
  std::string toolTip_;
  bool visible_ = true;
};

class CommandButton final : public Control {
 public:
  struct Design {
    std::string caption{};  // "&" marks the access key
    Rect rect{};
    int tabIndex = 0;
    bool isDefault = false;  // pressed by Enter unless another button has the focus
    bool cancel = false;     // pressed by Esc
    bool visible = true;
    std::optional<Font> font{};
  };
  template <class Window>
  CommandButton(Window& owner, Design design, void (Window::*click)())
      : CommandButton(static_cast<Form&>(owner), std::move(design),
                      [&owner, click] { (owner.*click)(); }) {}
  CommandButton(Form& owner, Design design, std::function<void()> click);

  std::string Caption() const { return design_.caption; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  // Runs the Click handler as a press of the button would.
  void Press();
  const Design& design() const { return design_; }

 private:
  void ResetToDesign() override;
  std::unique_ptr<backend::ControlPeer> CreatePeer(backend::WindowPeer& window) override;

  Design design_;
  std::function<void()> click_;
  bool visible_ = true;
};

class Timer final : public Control {
 public:
  struct Design {
    int interval = 0;  // milliseconds; 0 never ticks
    bool enabled = true;
  };
  template <class Window>
  Timer(Window& owner, Design design, void (Window::*tick)())
      : Timer(static_cast<Form&>(owner), design, [&owner, tick] { (owner.*tick)(); }) {}
  Timer(Form& owner, Design design, std::function<void()> tick = {});

  int Interval() const { return interval_; }
  void SetInterval(int milliseconds);
  // Runs the tick handler once, as the timer would.
  void Tick();

 private:
  void ResetToDesign() override;
  std::unique_ptr<backend::ControlPeer> CreatePeer(backend::WindowPeer& window) override;

  Design design_;
  std::function<void()> tick_;
  int interval_ = 0;
};

class PictureBox final : public Control {
 public:
  struct Design {
    Rect rect{};
    int tabIndex = 0;
    Picture picture{};  // drawn from the top-left as ScalePicture sizes it, clipped to the box
    Color backColor = kWindowBackground;
    Color foreColor = kWindowText;
    bool border = false;
    std::string description{};  // what the picture shows, in words: its name for screen readers
  };
  PictureBox(Form& owner, Design design);
  const Design& design() const { return design_; }
  // Where its focus mark goes: the box's own area among the boxes of its
  // window's other controls (twips, like the design).
  Rect FocusArea() const;

 private:
  std::unique_ptr<backend::ControlPeer> CreatePeer(backend::WindowPeer& window) override;

  Design design_;
};

class Line final : public Control {
 public:
  struct Design {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // twips
    Color color = kBlack;
    int width = 1;  // pixels
  };
  Line(Form& owner, Design design);
  const Design& design() const { return design_; }

 private:
  std::unique_ptr<backend::ControlPeer> CreatePeer(backend::WindowPeer& window) override;

  Design design_;
};

enum class Frame {
  Sizable,      // resizable border, control menu, minimise, maximise, close; task-bar entry
  FixedDialog,  // not resizable, no minimise or maximise
};

// One window class. A window object is created, then loaded (native window
// and controls exist, Form_Load has run), visible or hidden, and unloaded
// back to created; the object itself outlives every unload.
class Form {
 public:
  struct Design {
    std::string caption{};
    Color backColor = kWhite;
    int clientWidth = 0, clientHeight = 0;  // twips
    Frame frame = Frame::Sizable;
    int left = 0, top = 0;  // where the design puts the client area on screen, twips
    bool icon = true;       // shows the program icon
  };

  explicit Form(Design design);
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;
  virtual ~Form();

  // Loads the window if it is not loaded (Form_Load runs before it is on
  // screen) and shows it; a visible window comes to the front. Modeless,
  // no owner.
  void Show();
  // Off screen, still loaded (loads a window that is not); timers go on.
  void Hide();
  // Destroys the native window and controls and stops the timers; the object
  // stays. Safe inside the window's own handlers, which then go on. A window
  // that is not loaded is left alone.
  void Unload();

  bool Loaded() const { return window_ != nullptr; }
  bool Visible() const;
  std::string Caption() const { return caption_; }
  void SetCaption(std::string_view caption);
  const Design& design() const { return design_; }
  const std::vector<Control*>& controls() const { return controls_; }
  backend::WindowPeer* peer() const { return window_.get(); }

  // Runs `changes` (caption writes and the like) so that the window shows
  // them in one repaint, none of them before the others.
  void ChangeTogether(const std::function<void()>& changes);

  // The window system asks the window to close (title-bar close box, system
  // menu). Unloads the window unless a window class says otherwise.
  virtual void Form_Close() { Unload(); }

 protected:
  virtual void Form_Load() {}
  void Check(int status, const char* operation) const;

 private:
  friend class Control;
  void Load();

  Design design_;
  std::string caption_;
  std::vector<Control*> controls_;
  std::unique_ptr<backend::WindowPeer> window_;
};

// Runs an event handler: a tk::Error (or any other exception) that leaves it
// goes to the unhandled-error handler. Backends route every event through
// here.
void Dispatch(const std::function<void()>& handler);

// The unhandled-error handler: by default a message box naming the error, its
// system cause where known, and the operation, then the program ends with the error's code as exit
// status. Tests replace it.
using UnhandledErrorHandler = std::function<void(const Error&)>;
UnhandledErrorHandler SetUnhandledErrorHandler(UnhandledErrorHandler handler);
std::string DescribeError(const Error& error);

// How many windows are loaded; the program ends when this falls to 0.
int LoadedWindows();

// Starts the toolkit (a clear line on stderr and a non-zero status where
// there is no display), runs `startUp` (which shows the start-up window) and
// then the event loop until no window is loaded. Returns the exit status.
int Run(int argc, char** argv, const std::function<void()>& startUp);

// Services.
void MsgBox(std::string_view prompt);        // OK only, no icon; modal
void Shell(const std::string& programPath);  // normal window with focus; throws on failure
std::string Dir(const std::string& path);    // file name if a normal file exists, else ""

// A handler's wait on something slow (a volume, a folder on PATH). Between
// the slices of the wait, Slice repaints the windows as they were and drops
// the user's clicks, keys and close requests, so that none runs inside the
// wait or queues another one after it; timers wait. From the first slice
// on, the platform's busy cursor shows. The wait ends with this object:
// the input that came meanwhile is dropped once more and the cursor returns.
class Wait {
 public:
  Wait() = default;
  Wait(const Wait&) = delete;
  Wait& operator=(const Wait&) = delete;
  ~Wait();
  void Slice();
  // Slice, as the layers below take it.
  std::function<void()> Hook() {
    return [this] { Slice(); };
  }

 private:
  bool waited_ = false;
};

// Application properties.
struct AppProperties {
  std::string title;
  std::int16_t major, minor, revision;
};
AppProperties App();

}  // namespace tk
