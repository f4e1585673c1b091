// The floor for the start-up benchmark: the smallest Qt Widgets program that
// puts one empty window on screen. Once that window has been painted it
// writes its resident set size to stdout and ends.
#include <QApplication>
#include <QWidget>
#include <functional>

namespace startup {
// startup_probe.cpp
void ReportAfterFirstPaint(QCoreApplication& application, std::function<void()> done);
}  // namespace startup

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  startup::ReportAfterFirstPaint(application, [] { QCoreApplication::quit(); });
  window.show();
  return QApplication::exec();
}
