#include "saver/animation_model.h"

#include <cmath>

SaverRandom saverRandom;
AnimationState animationState;

namespace {

constexpr double AngleScale = 3.14159;
constexpr double RandomRangeDivisor = 32767.0;
constexpr double AngleStepDivisor = 60.0;
constexpr double ColourDivisor = 1.2;

// Converts a real to an integer by truncation toward zero. Out-of-range values
// saturate instead of being undefined; a reachable state never needs that.
int32_t Truncate(double value) {
  if (!(value > -2147483648.0)) return value != value ? 0 : INT32_MIN;
  if (!(value < 2147483648.0)) return INT32_MAX;
  return static_cast<int32_t>(value);
}

int32_t Half(int32_t extent) { return extent / 2; }

bool Inside(FramePoint point) {
  return point.x >= 0 && point.x <= animationState.width && point.y >= 0 &&
         point.y <= animationState.height;
}

FramePoint Tip(const Arm &arm, int32_t cx, int32_t cy) {
  return {Truncate(std::cos(arm.angle) * arm.radius + cx),
          Truncate(std::sin(arm.angle) * arm.radius + cy)};
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

uint32_t Dim(int32_t component) {
  return static_cast<uint32_t>(Truncate(component / ColourDivisor));
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
  const int32_t cx = Half(s.width);
  const int32_t cy = Half(s.height);
  Frame frame;
  frame.from = Tip(s.arm1, cx, cy);
  frame.to = Tip(s.arm2, cx, cy);
  Advance(s.arm1);
  Advance(s.arm2);
  s.hue = WrapHue(s.hue + s.hueStep);
  frame.color = HueToColor(s.hue);
  if (!Inside(frame.from) && !Inside(frame.to)) ++s.offscreenTicks;
  frame.clearAfter = s.offscreenTicks == RestartThreshold;
  if (frame.clearAfter) {
    s.offscreenTicks = 0;
    RandomizeArms();
  }
  return frame;
}

uint32_t HueToColor(int32_t hue) {
  int32_t red, green, blue;
  if (hue <= 255) {
    red = 0, green = hue, blue = 255;
  } else if (hue <= 510) {
    red = 0, green = 255, blue = 510 - hue;
  } else if (hue <= 765) {
    red = hue - 510, green = 255, blue = 0;
  } else if (hue <= 1020) {
    red = 255, green = 1020 - hue, blue = 0;
  } else if (hue <= 1275) {
    red = 255, green = 0, blue = hue - 1020;
  } else {
    red = 1530 - hue, green = 0, blue = 255;
  }
  return Dim(red) | Dim(green) << 8 | Dim(blue) << 16;
}
