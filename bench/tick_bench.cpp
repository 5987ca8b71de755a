// One animation tick as the saver window receives it, in the simulated
// platform: WM_TIMER into AnimationProc, which advances the model and draws
// its line with a one-tick pen through a borrowed DC, then hands the message
// to DefaultSaverProc and so to DefWindowProcA. Reported as time per tick
// (ns); the figure includes the simulated platform's journaling of each call.
#include "host/host_api.h"
#include "platform/sim/sim.h"
#include "saver/animation_proc.h"
#include "saver/saver_api.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

const char BenchClass[] = "TickBenchClass";
const char BenchTitle[] = "Screen Saver";
constexpr int ScreenWidth = 1920;
constexpr int ScreenHeight = 1080;

// Every so many ticks, outside the timing, the journal and the records of the
// DCs and pens already given back are dropped, so memory stays flat however
// many ticks the run takes.
constexpr int64_t TicksPerCleanup = 4096;

// A fresh platform and a full-screen window whose procedure is the
// animation's; creation reads the (absent) settings and starts the timer.
HWND CreateBenchWindow() {
  SimReset();
  hostState = HostState{};
  hostState.instanceHandle = SimInstance();
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = AnimationProc;
  windowClass.hInstance = SimInstance();
  windowClass.lpszClassName = BenchClass;
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, BenchClass, BenchTitle, WS_POPUP, 0, 0, ScreenWidth, ScreenHeight, nullptr, nullptr,
                         SimInstance(), nullptr);
}

void DropFinishedRecords() {
  SimClearJournal();
  SimForgetFinishedGdi();
}

void BM_AnimationTick(benchmark::State &state) {
  const HWND window = CreateBenchWindow();
  if (window == nullptr) {
    state.SkipWithError("the bench window could not be created");
    return;
  }
  DropFinishedRecords();
  int64_t sinceCleanup = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(AnimationProc(window, WM_TIMER, AnimationTimerId, 0));
    if (++sinceCleanup == TicksPerCleanup) {
      state.PauseTiming();
      DropFinishedRecords();
      state.ResumeTiming();
      sinceCleanup = 0;
    }
  }
  DestroyWindow(window);
  if (!SimLeakReport().empty()) state.SkipWithError("the ticks leaked a DC or a GDI object");
}
BENCHMARK(BM_AnimationTick);

}  // namespace
