// The Qt backend's start, event loop and end: the application object, what
// Qt says about a display it cannot reach or has lost, and a waiting
// handler's painting without input.
#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPixmapCache>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "identity/identity.h"
#include "toolkit/backend.h"
#include "toolkit/convert_qt.h"

namespace tk::backend {
namespace {

char applicationName[] = "tamberlode";
char* defaultArgv[] = {applicationName, nullptr};

// The backend's state between Start and Stop.
struct Session {
  std::unique_ptr<QApplication> application;
  // Qt keeps a reference to the count and takes its own options out of the list.
  int argc = 1;
  char** argv = defaultArgv;
  // The handler Qt's messages go through while the program runs.
  QtMessageHandler defaultMessageHandler = nullptr;
};
Session session;

// Whether the command line tells Qt where to show windows (-platform NAME or
// -display NAME, with one dash or two).
bool NamesDisplay(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument.starts_with("--")) argument.remove_prefix(1);
    if (argument == "-platform" || argument == "-display") return true;
  }
  return false;
}

void FatalMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  if (type == QtFatalMsg) {
    // Qt aborts (and dumps core) when it cannot reach a display; end plainly.
    std::fprintf(stderr, "tamberlode: cannot open a window: no usable display\n");
    std::_Exit(2);
  }
}

// The exit status when the display goes away, as when there is none at start.
constexpr int kDisplayLost = 2;

// When the connection to the display breaks, Qt says so ("The X11 connection
// broke (error 1). Did the X11 server die?", "The Wayland connection broke.
// Did the Wayland compositor die?") and calls exit() from inside the event
// loop; the exit handlers then destroy the application object and the
// windows under the running loop, and the program dies of a signal. Say it
// in one line and end at once instead. Qt's event-reading thread and the
// window thread can both see the break: the first to see it says it and
// ends the program; every message after that, from any thread, waits for
// that end, so the line stays the only one.
std::atomic_flag ending = ATOMIC_FLAG_INIT;

void RunningMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (ending.test())
    for (;;) ::pause();
  if (message.contains(QLatin1String("connection broke"))) {
    if (ending.test_and_set())
      for (;;) ::pause();
    std::fprintf(stderr, "tamberlode: lost the display: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(kDisplayLost);
  }
  if (session.defaultMessageHandler) session.defaultMessageHandler(type, context, message);
}

}  // namespace

int Start(int argc, char** argv) {
  if (session.application) return 0;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!platform || !*platform) && (!display || !*display) && (!wayland || !*wayland) &&
      !NamesDisplay(argc, argv)) {
    std::fprintf(stderr, "tamberlode: cannot open a window: no display (DISPLAY is not set)\n");
    return 2;
  }
  if (argc > 0 && argv) {
    session.argc = argc;
    session.argv = argv;
  }
  qInstallMessageHandler(FatalMessage);
  session.application = std::make_unique<QApplication>(session.argc, session.argv);
  qInstallMessageHandler(nullptr);
  session.defaultMessageHandler = qInstallMessageHandler(RunningMessage);
  QApplication::setApplicationName(ToQt(identity::kTitle));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Tamberlode"));
  // The program ends when no window is loaded, not when the last one hides.
  QApplication::setQuitOnLastWindowClosed(false);
  return 0;
}

void Stop() {
  if (!session.application) return;
  // Windows unloaded in the last handler are still waiting to be deleted.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  session.application.reset();
}

int RunLoop() { return QApplication::exec(); }

void Quit(int status) { QCoreApplication::exit(status); }

namespace {

// While a handler waits: the user's input and the window system's close
// requests are eaten, so they neither run a handler inside the waiting one
// nor wait in the queue to run after it.
class InputDropper final : public QObject {
 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
      case QEvent::Close:
        event->ignore();
        return true;
      default:
        return false;
    }
  }
};

}  // namespace

void PaintPending() {
  // Everything the window system sent is taken, so input is dropped here
  // rather than queued; posted events (repaints, layouts) run; timers and
  // socket notifiers wait for the loop, so no timer handler runs inside.
  InputDropper dropper;
  QCoreApplication::instance()->installEventFilter(&dropper);
  QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers |
                                  QEventLoop::ExcludeSocketNotifiers);
  QCoreApplication::instance()->removeEventFilter(&dropper);
}

void SetBusy(bool busy) {
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

// Qt reports no cause of its failures.
std::optional<SystemCause> TakeFailure() { return std::nullopt; }

}  // namespace tk::backend
