// A second floor for the start-up benchmark: the smallest Qt Widgets program
// whose one window shows a line of text. An empty window never starts Qt's
// font machinery before it is on screen; any window with a caption does, so
// this tells the price of text from the price of our toolkit layer.
#include <QApplication>
#include <QLabel>
#include <functional>

namespace startup {
// startup_probe.cpp
void ReportAfterFirstPaint(QCoreApplication& application, std::function<void()> done);
}  // namespace startup

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QLabel window(QStringLiteral("Number of Free Megabytes on A:"));
  startup::ReportAfterFirstPaint(application, [] { QCoreApplication::quit(); });
  window.show();
  return QApplication::exec();
}
