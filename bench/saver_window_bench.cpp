// The cost of one timer tick through the whole chain of procedures, from the
// host's SaverWindowProc through AnimationProc and DefaultSaverProc down to the
// system's default handling, on a full-screen window of the simulated platform.
// The figure includes the sim's own bookkeeping of every platform call (its
// journal, its DC and pen records); that bookkeeping is emptied now and then
// with the clock stopped, so it never grows without bound and its clearing is
// not counted.
#include "host/host.h"
#include "platform/sim/sim.h"
#include "saver/animation_model.h"
#include "saver/animation_proc.h"
#include "saver/settings.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

const char BenchClass[] = "WindowsScreenSaverClass";
constexpr int ScreenWidth = 1920;
constexpr int ScreenHeight = 1080;
constexpr int64_t BenchCalendarSeconds = 1700000000;
// Ticks between two clearings of the journal: a power of two, tested by mask.
constexpr uint64_t TicksPerJournalClear = 4096;

void ResetProgramRecords() {
  hostState = HostState{};
  inputMethodState = {};
  animationState = {};
  saverRandom = {};
  saverSettings = {};
  RedrawSpeed = DefaultRedrawSpeed;
  animationWindowState = {};
}

// A full-screen window of the saver's class, created as RunSaverWindow creates
// it, without entering the loop.
HWND MakeFullScreenSaverWindow() {
  SimReset();
  ResetProgramRecords();
  SimSetCalendarSeconds(BenchCalendarSeconds);
  SimSetScreenClipBox({0, 0, ScreenWidth, ScreenHeight});
  hostState.instanceHandle = SimInstance();
  WNDCLASSA saverClass = {};
  saverClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
  saverClass.lpfnWndProc = SaverWindowProc;
  saverClass.hInstance = SimInstance();
  saverClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  saverClass.lpszClassName = BenchClass;
  RegisterClassA(&saverClass);
  return CreateWindowExA(WS_EX_TOPMOST, BenchClass, "Screen Saver",
                         WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, ScreenWidth, ScreenHeight,
                         nullptr, nullptr, SimInstance(), nullptr);
}

void BM_SaverWindowTick(benchmark::State &state) {
  const HWND window = MakeFullScreenSaverWindow();
  if (window == nullptr) {
    state.SkipWithError("the saver window could not be created");
    return;
  }
  SimClearJournal();
  uint64_t ticks = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0));
    if ((++ticks & (TicksPerJournalClear - 1)) == 0) {
      state.PauseTiming();
      SimClearJournal();
      SimForgetFinishedGdi();
      state.ResumeTiming();
    }
  }
  DestroyWindow(window);
  SimReset();
}
BENCHMARK(BM_SaverWindowTick);

}  // namespace
