// The report window itself, 21 controls on our toolkit layer, with a drive
// survey whose queries all fail at once: what the layer and the window cost
// at start-up, not the drives. Once the window has been painted it writes its
// resident set size to stdout and unloads, so that tk::Run returns.
#include <QApplication>
#include <functional>

#include "report/form2.h"
#include "toolkit/references.h"
#include "toolkit/toolkit.h"

namespace startup {
// startup_probe.cpp
void ReportAfterFirstPaint(QCoreApplication& application, std::function<void()> done);
}  // namespace startup

int main(int argc, char** argv) {
  return tk::Run(argc, argv, [] {
    Form2& window = tk::Use<Form2>();
    window.freeSpaceQuery = [](const std::string&, std::int32_t&, std::int32_t&, std::int32_t&,
                               std::int32_t&) { return 0; };
    startup::ReportAfterFirstPaint(*QCoreApplication::instance(), [&window] { window.Unload(); });
    window.Show();
  });
}
