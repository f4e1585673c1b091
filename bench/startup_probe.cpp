// Shared by the two start-up programs: the moment the first window has been
// painted, one line "rss_kb <VmRSS>" on stdout, then the program's own way
// of ending. Both programs use this same probe so that they are measured at
// the same point of their start-up.
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace startup {
namespace {

long ResidentKilobytes() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  long kilobytes = -1;
  char line[256];
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) {
      kilobytes = std::strtol(line + 6, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return kilobytes;
}

class FirstPaint final : public QObject {
 public:
  FirstPaint(QCoreApplication& application, std::function<void()> done)
      : QObject(&application), done_(std::move(done)) {}

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (!fired_ && event->type() == QEvent::Paint && object->isWidgetType() &&
        static_cast<QWidget*>(object)->isWindow()) {
      fired_ = true;
      // The window's children paint in the same pass and the backing store
      // is flushed after it: report once control is back in the loop.
      QTimer::singleShot(0, this, [this] { Report(); });
    }
    return false;
  }

 private:
  void Report() {
    // write(2), not stdio: the line must reach the pipe now, unbuffered.
    const std::string line = "rss_kb " + std::to_string(ResidentKilobytes()) + "\n";
    if (::write(STDOUT_FILENO, line.data(), line.size()) < 0) std::perror("write");
    QCoreApplication::instance()->removeEventFilter(this);
    done_();
  }

  std::function<void()> done_;
  bool fired_ = false;
};

}  // namespace

void ReportAfterFirstPaint(QCoreApplication& application, std::function<void()> done) {
  application.installEventFilter(new FirstPaint(application, std::move(done)));
}

}  // namespace startup
