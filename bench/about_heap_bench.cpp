// Opens and closes the About box over the report window, as a user pressing
// About and OK does, painting both each time, and reports the heap in use
// (glibc's count of allocated bytes) before and after the cycles: 1,500 of
// them, then 12,000 more in the same process, so a heap that levels off
// shows as a small second growth.
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise. For
// where the bytes go: heaptrack build/release/bench/about_heap_bench (or
// valgrind --tool=massif).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QPixmapCache>
#include <QWidget>
#include <cstdlib>

#include "about/frmabout.h"
#include "report/form2.h"
#include "toolkit/backend.h"
#include "toolkit/references.h"
#include "toolkit/toolkit_qt.h"

namespace {

double HeapInUseKilobytes() { return static_cast<double>(mallinfo2().uordblks) / 1024.0; }

// Lets the window system deliver exposes, paints and deferred deletes.
void Settle() {
  for (int i = 0; i < 3; ++i) {
    QApplication::processEvents(QEventLoop::AllEvents);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

void OpenAndClose(frmAbout& about) {
  about.Show();
  Settle();
  // What the screen shows: the whole window painted once.
  if (QWidget* window = tk::backend::NativeWindow(about)) window->grab();
  about.cmdOK.Press();
  Settle();
}

void AboutBoxCycles(benchmark::State& state) {
  Form2& report = tk::Use<Form2>();
  report.freeSpaceQuery = [](const std::string&, std::int32_t& spc, std::int32_t& bps,
                             std::int32_t& nfc, std::int32_t& tnc) {
    spc = 8, bps = 512, nfc = 1000000, tnc = 2000000;
    return 1;
  };
  report.Show();
  Settle();
  frmAbout& about = tk::Use<frmAbout>();
  OpenAndClose(about);  // the first opening loads fonts and styles once
  const auto cycles = static_cast<int>(state.range(0));
  double before = 0, after = 0;
  for (auto _ : state) {
    before = HeapInUseKilobytes();
    for (int i = 0; i < cycles; ++i) OpenAndClose(about);
    after = HeapInUseKilobytes();
  }
  state.counters["heap_before_kb"] = before;
  state.counters["heap_after_kb"] = after;
  state.counters["growth_kb"] = after - before;
  state.counters["pixmap_cache_limit_kb"] = QPixmapCache::cacheLimit();
  report.Unload();
  Settle();
}
BENCHMARK(AboutBoxCycles)->Arg(1500)->Arg(12000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  benchmark::Initialize(&argc, argv);
  if (tk::backend::Start(argc, argv) != 0) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tk::backend::Stop();
  return 0;
}
