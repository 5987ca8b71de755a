// The line-pair animation: which line is drawn each tick, in which colour,
// and when the picture starts over. Pure computation, no platform calls.
#pragma once

#include <cstdint>

struct SaverRandom {
  int32_t state = 1;
};

struct Arm {
  double radius = 0;
  double angle = 0;
  double radiusStep = 0;
  double angleStep = 0;
};

struct AnimationState {
  Arm arm1;
  Arm arm2;
  int32_t hue = 0;
  int32_t hueStep = 0;
  int32_t offscreenTicks = 0;
  int32_t width = 0;
  int32_t height = 0;
};

struct FramePoint {
  int32_t x;
  int32_t y;
};

struct Frame {
  FramePoint from;
  FramePoint to;
  uint32_t color;  // red in the low byte, then green, then blue
  bool clearAfter;
};

constexpr int32_t RestartThreshold = 35;
constexpr int32_t HueWheelLength = 1530;
// The longest timer interval Windows takes (USER_TIMER_MAXIMUM).
constexpr uint32_t LongestIntervalMs = 0x7FFFFFFF;

extern SaverRandom saverRandom;
extern AnimationState animationState;

void SeedRandom(int32_t seconds);
int32_t NextRandom();
void RandomizeArms();
void SetClientSize(int32_t width, int32_t height);
Frame AdvanceFrame();
uint32_t RedrawInterval(int32_t redrawSpeed);
