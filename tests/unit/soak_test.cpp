// A long run in the simulated platform: a million timer ticks at the fastest speed
// through the saver's own message loop and SaverWindowProc, in one saver run after
// another (full screen and preview), with the client size changing all the time so
// that the figure keeps restarting. Between ticks no device context may be held and
// no pen left undeleted, and the heap must be as large at the start of the last run
// as at the start of the second.
//
// QV_SOAK_TICKS in the environment sets the number of ticks (the memory checker's run
// uses a short one). Built with AddressSanitizer (the unoptimized asan preset), where a
// tick costs some thirty times as much, the default is 30,000 ticks.
#include "tests/unit/sim_test.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr uint64_t DefaultSoakTicks = 30000;
#else
constexpr uint64_t DefaultSoakTicks = 1000000;
#endif
// Runs of this length keep the simulated platform's own records small; at least
// three runs, so that the second and the last are different runs.
constexpr uint64_t TicksPerRun = 20000;
constexpr uint64_t MinSaverRuns = 3;
constexpr uint64_t RestartTicks = 35;
// The journal is read and emptied this often, so the test itself does not grow.
constexpr unsigned CheckEveryTicks = 1000;
// Prime, so the size changes fall on every phase of the figure.
constexpr unsigned SizeChangeEveryTicks = 97;
constexpr unsigned MessagesPerTickAtMost = 3;
constexpr unsigned MessageMargin = 100;
constexpr int PreviewWidth = 152;
constexpr int PreviewHeight = 112;
// What the simulated platform and the allocator may legitimately vary by between
// two fresh runs; a leak of one pen or DC record per tick would be megabytes.
constexpr size_t HeapSlackBytes = 64 * 1024;

const char FastestSettings[] = "[Quorvane]\r\nRedraw Speed=1\r\n";

// Client sizes the window is told of in turn: the screen, a preview, nothing at
// all, one pixel, and the largest size a WM_SIZE can carry.
const LPARAM Sizes[] = {MAKELPARAM(1024, 768), MAKELPARAM(152, 112), MAKELPARAM(0, 0), MAKELPARAM(1, 1),
                        MAKELPARAM(65535, 65535), MAKELPARAM(640, 1)};
constexpr size_t SizeCount = sizeof Sizes / sizeof Sizes[0];

uint64_t SoakTicks() {
  const char *ticks = std::getenv("QV_SOAK_TICKS");
  if (ticks == nullptr || *ticks == '\0') return DefaultSoakTicks;
  return std::strtoull(ticks, nullptr, 10);
}

size_t HeapInUse() { return mallinfo2().uordblks; }

struct RunTally {
  uint64_t ticks = 0;     // idle turns of the loop: one per tick
  uint64_t drawn = 0;     // lines drawn
  uint64_t clears = 0;    // the first erase, then one clear per restarted figure
  size_t sizeIndex = 0;
  std::string firstLeak;  // what was held between two ticks, if anything
};

// The journal since the last look: lines drawn and restarts, then emptied.
void CountAndClear(RunTally *tally) {
  for (const SimEvent &event : SimJournal()) {
    if (event.kind == SimEventKind::Polyline) ++tally->drawn;
    if (event.kind == SimEventKind::FillRect) ++tally->clears;
  }
  SimClearJournal();
}

class SoakTest : public SimTest {
 protected:
  // One saver run of `ticks` ticks; returns what it counted.
  RunTally RunSaver(bool preview, uint64_t ticks) {
    SimWriteFile("googoo.goo", FastestSettings);
    const HWND parent = preview ? SimCreatePreviewParent(PreviewWidth, PreviewHeight) : nullptr;
    SimSetMessageBudget(static_cast<unsigned>(ticks * MessagesPerTickAtMost + MessageMargin));
    RunTally tally;
    SimSetIdleHook([&tally, ticks, parent] { OnIdle(&tally, ticks, parent); });
    const std::string tail = preview ? "/p " + std::to_string(reinterpret_cast<uintptr_t>(parent)) : "/s";
    EXPECT_EQ(SaverMain(SimInstance(), tail.c_str()), 0);
    CountAndClear(&tally);
    SimSetIdleHook(nullptr);
    return tally;
  }

  static HWND SaverWindow() {
    for (HWND window : SimWindows()) {
      if (!SimGetWindow(window).foreign) return window;
    }
    return nullptr;
  }

  // Between two ticks: look at what is held, change the size now and then, and
  // end the run once enough ticks have passed (a key ends the full-screen saver,
  // a preview ends with its parent).
  static void OnIdle(RunTally *tally, uint64_t ticks, HWND parent) {
    const HWND saver = SaverWindow();
    if (tally->ticks == ticks) {
      if (parent != nullptr) {
        DestroyWindow(parent);
      } else {
        PostMessageA(saver, WM_KEYDOWN, 0, 0);
      }
      return;
    }
    ++tally->ticks;
    if (tally->ticks % CheckEveryTicks == 0) {
      const std::string held = SimLeakReport();
      if (!held.empty() && tally->firstLeak.empty()) tally->firstLeak = held;
      CountAndClear(tally);
    }
    // Sent, as the system sends it on a resize; the queue stays empty, so the
    // next tick comes right after.
    if (tally->ticks % SizeChangeEveryTicks == 0) {
      SendMessageA(saver, WM_SIZE, SIZE_RESTORED, Sizes[tally->sizeIndex++ % SizeCount]);
    }
  }
};

TEST_F(SoakTest, MillionTicksHoldNoDcNoPenAndNoHeapGrowth) {
  const uint64_t ticks = SoakTicks();
  const uint64_t runs = std::max(MinSaverRuns, ticks / TicksPerRun);
  const uint64_t ticksPerRun = std::max<uint64_t>(ticks / runs, 1);
  size_t heapAtSecondRun = 0;
  size_t heapAtLastRun = 0;
  uint64_t drawn = 0;
  uint64_t restarts = 0;
  for (uint64_t run = 0; run < runs; ++run) {
    SimTest::SetUp();  // a fresh process for every run
    if (run == 1) heapAtSecondRun = HeapInUse();
    if (run == runs - 1) heapAtLastRun = HeapInUse();
    const RunTally tally = RunSaver(run % 2 == 1, ticksPerRun);
    ASSERT_EQ(tally.firstLeak, "") << "held between two ticks in run " << run;
    ASSERT_EQ(SimLeakReport(), "") << "left at the end of run " << run;
    EXPECT_EQ(tally.drawn, ticksPerRun) << "run " << run;
    drawn += tally.drawn;
    restarts += tally.clears - 1;
  }
  EXPECT_EQ(drawn, ticksPerRun * runs);
  // At size 0 x 0 both ends are outside at once, and the figure restarts every 35
  // ticks; that size holds a sixth of the time.
  EXPECT_GE(restarts, drawn / (RestartTicks * SizeCount));
  EXPECT_LE(heapAtLastRun, heapAtSecondRun + HeapSlackBytes)
      << "heap in use grew from " << heapAtSecondRun << " to " << heapAtLastRun << " bytes";
  RecordProperty("ticks", static_cast<int>(drawn));
  RecordProperty("restarts", static_cast<int>(restarts));
}

}  // namespace
