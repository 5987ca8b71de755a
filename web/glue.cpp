// The model's entry points for the page (quorvane.js): the page draws, the model decides
// which line, in which colour, and when the figure starts over. A frame crosses to the
// page as six integers: from x, from y, to x, to y, colour, clear after.
#include "saver/animation_model.h"

#include <cstdint>

namespace {

constexpr int32_t FrameFields = 6;
constexpr int32_t MostFrames = 4096;

int32_t lastFrame[FrameFields];
int32_t frames[MostFrames * FrameFields];

void Store(const Frame &frame, int32_t *fields) {
  fields[0] = frame.from.x;
  fields[1] = frame.from.y;
  fields[2] = frame.to.x;
  fields[3] = frame.to.y;
  fields[4] = static_cast<int32_t>(frame.color);
  fields[5] = frame.clearAfter;
}

}  // namespace

// As the saver window starts: the seed, the arms, then the size.
extern "C" __attribute__((export_name("start"))) void Start(int32_t seed, int32_t width, int32_t height) {
  SeedRandom(seed);
  RandomizeArms();
  SetClientSize(width, height);
}

extern "C" __attribute__((export_name("resize"))) void Resize(int32_t width, int32_t height) {
  SetClientSize(width, height);
}

// Milliseconds between ticks at a speed, before the page's floor.
extern "C" __attribute__((export_name("interval"))) uint32_t Interval(int32_t speed) { return RedrawInterval(speed); }

extern "C" __attribute__((export_name("tick"))) int32_t *Tick() {
  Store(AdvanceFrame(), lastFrame);
  return lastFrame;
}

// The first frames of a figure as a fresh start draws them, for the page's test hook; the
// running figure is left as it was. Start sets neither the count of ticks off screen nor
// anything else a start does not choose, so the state starts from scratch here, or the
// running figure's count would bring the first restart forward.
extern "C" __attribute__((export_name("firstFrames"))) int32_t *FirstFrames(int32_t seed, int32_t width, int32_t height,
                                                                            int32_t count) {
  const SaverRandom random = saverRandom;
  const AnimationState state = animationState;
  animationState = AnimationState{};
  Start(seed, width, height);
  for (int32_t i = 0; i < count && i < MostFrames; ++i) Store(AdvanceFrame(), frames + i * FrameFields);
  saverRandom = random;
  animationState = state;
  return frames;
}
