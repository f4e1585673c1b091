// The report window while its survey waits for a slow volume, on a real X
// server (tests/with_xvfb.sh): it repaints when uncovered, and the clicks
// and close requests that come meanwhile run nothing, neither inside the
// survey nor after it.
#include <xcb/xcb.h>

#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "about/frmabout.h"
#include "notice/form1.h"
#include "report/form2.h"
#include "scripted_query.h"
#include "toolkit/references.h"
#include "window_testing.h"

namespace {

using namespace testing_windows;
using namespace std::chrono_literals;

// Clicks through the X server, as a user does: the events queue up for the
// program like real ones.
void XClick(const QWidget* widget, int times) {
  const QPoint at = widget->mapToGlobal(widget->rect().center());
  const std::string command = "xdotool mousemove " + std::to_string(at.x()) + " " +
                              std::to_string(at.y()) + " click --repeat " + std::to_string(times) +
                              " --delay 40 1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Asks the window to close, as a window manager does for its title bar's
// close button: from another client of the X server.
void XClose(const QWidget* window) {
  xcb_connection_t* x = xcb_connect(nullptr, nullptr);
  const auto atom = [x](const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return found;
  };
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = static_cast<xcb_window_t>(window->winId());
  event.type = atom("WM_PROTOCOLS");
  event.data.data32[0] = atom("WM_DELETE_WINDOW");
  event.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(x, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(x);
  xcb_disconnect(x);
}

// The share of white pixels where the window is, as the screen shows it.
double WhiteOnScreen(const QWidget* window, const std::string& name) {
  const QRect area = window->geometry();
  const QImage image = QGuiApplication::primaryScreen()
                           ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                           .toImage();
  const QString dir = QStringLiteral(TAMBERLODE_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  image.save(dir + "/" + QString::fromStdString(name));
  int white = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) white += image.pixel(x, y) == qRgb(255, 255, 255);
  return image.isNull() ? 0 : static_cast<double>(white) / (image.width() * image.height());
}

TEST(ReportWindowWaiting, RepaintsAndDropsTheClicksThatComeMeanwhile) {
  if (QGuiApplication::platformName() != "xcb") {
    GTEST_SKIP() << "needs a real X server and real input (run by tests/with_xvfb.sh)";
  }
  Form1& notice = tk::Use<Form1>();  // hidden, its Timer1 ticking all along
  notice.Show();
  notice.Hide();
  Form2& form = tk::Use<Form2>();
  testing_survey::ScriptedQuery drives;
  drives.answers = {{'c', {8, 512, 1000000, 2000000}}, {'d', {1, 2048, 0, 300000}}};
  form.freeSpaceQuery = drives.Query();
  form.Show();
  QWidget* window = tk::backend::NativeWindow(form);
  auto* refresh = Native<QPushButton>(form.Command1);

  // A black window over the report, taken away while the survey waits.
  QWidget cover(nullptr, Qt::Window | Qt::FramelessWindowHint);
  cover.setPalette(QPalette(Qt::black));
  cover.setAutoFillBackground(true);
  cover.setGeometry(window->geometry());
  cover.show();
  Pump(300);
  ASSERT_LT(WhiteOnScreen(window, "report-covered.png"), 0.01)
      << "the cover is not over the report";

  bool slow = true, clickAtEnd = true;
  std::string countBefore, countAfter;
  double white = 0;
  drives.onCall = [&](const survey::WhileWaiting& whileWaiting) {
    const char drive = drives.calls.back().drive;
    if (drive == 'i' && !slow && clickAtEnd) {
      clickAtEnd = false;
      XClick(refresh, 1);  // still queued when the survey ends
      std::this_thread::sleep_for(300ms);
    }
    if (drive != 'd' || !slow) return;
    slow = false;
    countBefore = notice.Label1.Caption();
    testing_survey::SlowVolume(1500ms, whileWaiting, [&](std::chrono::milliseconds elapsed) {
      if (elapsed == 0ms) cover.hide();
      if (elapsed >= 300ms && elapsed < 300ms + testing_survey::kSlice) {
        XClick(refresh, 5);
        XClose(window);
      }
    });
    countAfter = notice.Label1.Caption();
    white = WhiteOnScreen(window, "report-mid-wait.png");
  };
  refresh->click();
  Pump(500);
  EXPECT_EQ(drives.calls.size(), 18u) << "a click during the survey ran another one";
  EXPECT_TRUE(form.Visible()) << "a close request during the survey closed the window";
  EXPECT_GT(white, 0.5) << "the uncovered window was not repainted during the wait";
  EXPECT_EQ(countAfter, countBefore) << "the notice's timer ran inside the survey";

  // After the survey, clicks and the timer work again.
  XClick(refresh, 1);
  Pump(1200);
  EXPECT_EQ(drives.calls.size(), 27u) << "a click after the survey ran no survey";
  EXPECT_NE(notice.Label1.Caption(), countAfter);

  for (tk::Form* f : std::initializer_list<tk::Form*>{&notice, &form, &tk::Use<frmAbout>()})
    f->Unload();
  Pump();
}

}  // namespace
