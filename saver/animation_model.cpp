#include "saver/animation_model.h"

#include <cmath>

SaverRandom saverRandom;
AnimationState animationState;

namespace {

constexpr double AngleScale = 3.14159;
constexpr double RandomRangeDivisor = 32767.0;
constexpr double AngleStepDivisor = 60.0;
constexpr double ColourDivisor = 1.2;
// The interval is 1.5625 (25/16) times 2 to the power of the speed, truncated.
constexpr uint64_t IntervalNumerator = 25;
constexpr int IntervalShift = 4;
// 2 to the power 31 no longer fits a signed 32-bit integer; from there on the
// interval saturates at the longest interval a Windows timer takes.
constexpr int32_t FirstSaturatingSpeed = 31;

// Converts a real to an integer by truncation toward zero. The conversion goes
// through 64 bits, which every reachable coordinate fits many times over (a
// radius grows by at most 10 a tick), and then wraps to 32 bits, so even an
// absurd window size gives a defined result without a range test per point.
int32_t Truncate(double value) { return static_cast<int32_t>(static_cast<int64_t>(value)); }

int32_t Half(int32_t extent) { return extent / 2; }

// Both bounds are inclusive: a point on the right or bottom edge is inside.
bool Inside(FramePoint point) {
  return point.x >= 0 && point.x <= animationState.width && point.y >= 0 && point.y <= animationState.height;
}

FramePoint Tip(double cosine, double sine, double radius, double cx, double cy) {
  return {Truncate(cosine * radius + cx), Truncate(sine * radius + cy)};
}

void Advance(Arm &arm) {
  arm.radius += arm.radiusStep;
  arm.angle += arm.angleStep;
}

int32_t WrapHue(int32_t hue) {
  if (hue >= HueWheelLength) hue -= HueWheelLength;
  if (hue < 0) hue += HueWheelLength;
  return hue;
}

// A component divided by 1.2 and truncated: for 0..255, 5/6 in integers gives
// exactly what the real division gives, without a division at run time.
uint32_t Dim(int32_t component) {
  static_assert(ColourDivisor == 1.2);
  return static_cast<uint32_t>(component) * 5u / 6u;
}

struct Rgb {
  int32_t red;
  int32_t green;
  int32_t blue;
};

// The wheel's six bands: one component rises or falls while the other two stand.
inline Rgb WheelRgb(int32_t hue) {
  if (hue <= 255) return {.red = 0, .green = hue, .blue = 255};
  if (hue <= 510) return {.red = 0, .green = 255, .blue = 510 - hue};
  if (hue <= 765) return {.red = hue - 510, .green = 255, .blue = 0};
  if (hue <= 1020) return {.red = 255, .green = 1020 - hue, .blue = 0};
  if (hue <= 1275) return {.red = 255, .green = 0, .blue = hue - 1020};
  return {.red = 1530 - hue, .green = 0, .blue = 255};
}

// The colour wheel, kept inline in the tick.
inline uint32_t WheelColor(int32_t hue) {
  const Rgb rgb = WheelRgb(hue);
  return Dim(rgb.red) | Dim(rgb.green) << 8 | Dim(rgb.blue) << 16;
}

}  // namespace

void SeedRandom(int32_t seconds) { saverRandom.state = seconds; }

int32_t NextRandom() {
  uint32_t state = static_cast<uint32_t>(saverRandom.state) * 214013u + 2531011u;
  saverRandom.state = static_cast<int32_t>(state);
  return static_cast<int32_t>((state >> 16) & 0x7FFF);
}

void RandomizeArms() {
  AnimationState &s = animationState;
  s.arm1.radius = NextRandom() % 200;
  s.arm2.radius = NextRandom() % 20;
  s.arm1.angle = NextRandom() / RandomRangeDivisor * AngleScale;
  s.arm2.angle = NextRandom() / RandomRangeDivisor * AngleScale;
  s.arm1.radiusStep = NextRandom() % 7 + 1;
  s.arm2.radiusStep = NextRandom() % 10 + 1;
  s.arm1.angleStep = (NextRandom() % 10) / AngleStepDivisor;
  s.arm2.angleStep = -(NextRandom() % 20) / AngleStepDivisor;
  s.hue = NextRandom() % HueWheelLength;
  s.hueStep = NextRandom() % 10 - 5;
  if (s.hueStep > 3 || s.hueStep < -3) s.hueStep *= 3;
}

void SetClientSize(int32_t width, int32_t height) {
  animationState.width = width;
  animationState.height = height;
}

Frame AdvanceFrame() {
  AnimationState &s = animationState;
  const double cx = Half(s.width);
  const double cy = Half(s.height);
  // All four evaluations first, so they can overlap.
  const double cos1 = std::cos(s.arm1.angle), sin1 = std::sin(s.arm1.angle);
  const double cos2 = std::cos(s.arm2.angle), sin2 = std::sin(s.arm2.angle);
  Frame frame;
  frame.from = Tip(cos1, sin1, s.arm1.radius, cx, cy);
  frame.to = Tip(cos2, sin2, s.arm2.radius, cx, cy);
  Advance(s.arm1);
  Advance(s.arm2);
  s.hue = WrapHue(s.hue + s.hueStep);
  frame.color = WheelColor(s.hue);
  if (!Inside(frame.from) && !Inside(frame.to)) ++s.offscreenTicks;
  frame.clearAfter = s.offscreenTicks == RestartThreshold;
  if (frame.clearAfter) {
    s.offscreenTicks = 0;
    RandomizeArms();
  }
  return frame;
}

// Milliseconds between ticks at a redraw speed. Speed 0 gives 1 ms and every negative
// speed 0, whose power of two truncates to 0. Integer arithmetic only: the saver's
// floating-point library would bring instructions that a 486 or a Pentium lacks.
// Callers apply their own floor: Windows never times faster than every 10 ms.
uint32_t RedrawInterval(int32_t redrawSpeed) {
  if (redrawSpeed >= FirstSaturatingSpeed) return LongestIntervalMs;
  if (redrawSpeed < 0) return 0;
  const uint64_t power = uint64_t{1} << redrawSpeed;
  return static_cast<uint32_t>(power * IntervalNumerator >> IntervalShift);
}
