// What a toolkit backend provides: native windows and controls behind the
// layer's objects. An operation that can fail returns a status, 0 for
// success (the Create* calls: a null peer); queries (Visible) and calls
// that cannot fail (Stop, Quit, MessageBox, PaintPending, SetBusy) return
// nothing of the kind.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/toolkit.h"

namespace tk::backend {

class ControlPeer {
 public:
  virtual ~ControlPeer() = default;
  virtual int SetCaption(std::string_view) { return kInvalidCall; }
  virtual int SetVisible(bool) { return kInvalidCall; }
  virtual int SetToolTip(std::string_view) { return kInvalidCall; }
  virtual int SetInterval(int) { return kInvalidCall; }
};

// A native window. Destroying it takes the window off screen at once; the
// native objects themselves may go later (after the running handler returns).
class WindowPeer {
 public:
  virtual ~WindowPeer() = default;
  virtual int SetCaption(std::string_view caption) = 0;
  virtual int Show() = 0;  // shows, or brings a visible window to the front
  virtual int Hide() = 0;
  virtual bool Visible() const = 0;
  virtual std::unique_ptr<ControlPeer> CreateLabel(Label& label) = 0;
  virtual std::unique_ptr<ControlPeer> CreateButton(CommandButton& button) = 0;
  virtual std::unique_ptr<ControlPeer> CreateTimer(Timer& timer) = 0;
  virtual std::unique_ptr<ControlPeer> CreatePicture(PictureBox& picture) = 0;
  virtual std::unique_ptr<ControlPeer> CreateLine(Line& line) = 0;
  // All controls exist: set the tab order and the initial focus.
  virtual int FinishLoad() = 0;
  // While held, the window keeps showing what it showed; the release
  // repaints it once, with every change made meanwhile.
  virtual int HoldPainting(bool hold) = 0;
};

// Null on failure.
std::unique_ptr<WindowPeer> CreateWindow(Form& form);

// Starts the native toolkit; on failure writes one line to stderr and
// returns a non-zero status.
int Start(int argc, char** argv);
void Stop();            // ends the native toolkit; nothing may use it afterwards
int RunLoop();          // returns the exit status given to Quit
void Quit(int status);  // ends the loop once control returns to it
void MessageBox(const std::string& prompt);
void PaintPending();  // paints, takes no input
// The platform's busy cursor over the program's windows, or the usual one.
void SetBusy(bool busy);
// The cause of the backend's most recent failing status, taken once; none
// where the backend keeps no cause.
std::optional<SystemCause> TakeFailure();

}  // namespace tk::backend
