// The cost of one animation tick against the bare cost of the trigonometry it
// needs. BM_AdvanceFrame runs full-screen figures from a fixed seed, restarting
// them as they come; BM_FourTrig evaluates cos and sin of both arm angles on
// the very angles those ticks see. The tick should cost at most about 1.3 times
// the trigonometry alone; divide the two per-iteration times to read the ratio.
// allocs_per_tick counts calls of operator new during the timed ticks.
#include "saver/animation_model.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

constexpr int32_t ScreenWidth = 1920;
constexpr int32_t ScreenHeight = 1080;
constexpr int32_t BenchSeed = 1700000000;
// Enough recorded ticks to span many whole figures (a full-screen figure lasts
// at most about 1200 ticks); a power of two so the replay index wraps by mask.
constexpr size_t RecordedTicks = size_t{1} << 16;

std::atomic<uint64_t> allocationCount{0};

void StartFigures() {
  SeedRandom(BenchSeed);
  RandomizeArms();
  SetClientSize(ScreenWidth, ScreenHeight);
}

struct ArmAngles {
  double angle1, angle2;
};

// The arm angles as AdvanceFrame reads them, tick by tick, restarts included.
std::vector<ArmAngles> RecordAngles() {
  std::vector<ArmAngles> angles(RecordedTicks);
  StartFigures();
  for (ArmAngles &tick : angles) {
    tick = {animationState.arm1.angle, animationState.arm2.angle};
    AdvanceFrame();
  }
  return angles;
}

void BM_AdvanceFrame(benchmark::State &state) {
  StartFigures();
  const uint64_t allocationsBefore = allocationCount.load();
  for (auto _ : state) {
    Frame frame = AdvanceFrame();
    benchmark::DoNotOptimize(frame);
  }
  state.counters["allocs_per_tick"] = benchmark::Counter(
      static_cast<double>(allocationCount.load() - allocationsBefore), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_AdvanceFrame);

void BM_FourTrig(benchmark::State &state) {
  const std::vector<ArmAngles> angles = RecordAngles();
  size_t index = 0;
  for (auto _ : state) {
    const ArmAngles &tick = angles[index];
    index = (index + 1) & (RecordedTicks - 1);
    double cos1 = std::cos(tick.angle1), sin1 = std::sin(tick.angle1);
    double cos2 = std::cos(tick.angle2), sin2 = std::sin(tick.angle2);
    benchmark::DoNotOptimize(cos1);
    benchmark::DoNotOptimize(sin1);
    benchmark::DoNotOptimize(cos2);
    benchmark::DoNotOptimize(sin2);
  }
}
BENCHMARK(BM_FourTrig);

}  // namespace

// Counts every allocation made through operator new in this program. Kept out
// of line so the compiler sees a plain replacement pair, not malloc meeting delete.
[[gnu::noinline]] void *operator new(std::size_t size) {
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  if (void *block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete(void *block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void *block, std::size_t) noexcept { std::free(block); }
