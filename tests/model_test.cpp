// The figure's rules, checked on its properties and on values recorded from fixed seeds.
#include "saver/animation_model.h"

#include <gtest/gtest.h>

#include <climits>
#include <numbers>
#include <set>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

TEST(Model, GeneratorGivesFifteenBitsOfTheRecordedSequence) {
  saverRandom = {};
  EXPECT_EQ(NextRandom(), 41);
  EXPECT_EQ(NextRandom(), 18467);
  SeedRandom(-977333389);  // its third state is 0xFFFF1234: bit 31 is not part of the value
  NextRandom();
  NextRandom();
  EXPECT_EQ(NextRandom(), 32767);
}

// Full strength is 255 / 1.2 = 212 (0xD4); 0x00BBGGRR.
TEST(Model, WheelColoursAtTheBandsBoundariesAndBetween) {
  const struct {
    int32_t hue;
    uint32_t color;
  } wheel[] = {{0, 0xD40000},   {256, 0xD3D400},  {300, 0xAFD400},  {511, 0x00D400},  {600, 0x00D44B}, {766, 0x00D3D4},
               {900, 0x0064D4}, {1021, 0x0000D4}, {1100, 0x4200D4}, {1276, 0xD400D3}, {1400, 0xD4006C}};
  for (const auto &row : wheel) EXPECT_EQ(HueToColor(row.hue), row.color) << "hue " << row.hue;
}

// A new figure's arms grow by 1-7 and 1-10 a tick, and its hue moves by one of ten steps.
TEST(Model, NewFiguresTakeEveryStepOfTheirRanges) {
  std::set<int> grow1, grow2, hueSteps;
  for (int32_t seed = 1; seed <= 2000; ++seed) {
    SeedRandom(seed);
    RandomizeArms();
    grow1.insert(animationState.arm1.radiusStep);
    grow2.insert(animationState.arm2.radiusStep);
    hueSteps.insert(animationState.hueStep);
  }
  EXPECT_EQ(grow1, (std::set<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(grow2, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(hueSteps, (std::set<int>{-15, -12, -3, -2, -1, 0, 1, 2, 3, 12}));
}

// Each tick the arms grow by their steps and the hue moves round the wheel by its step.
TEST(Model, ArmsGrowAndHueStepsEveryTick) {
  const struct {
    int32_t seed;
    int32_t hueAfter100Ticks;
  } figures[] = {{2, 1525 + 100 * 1 - 1530}, {4, 250 + 100 * -15 + 1530}};
  for (const auto &figure : figures) {
    SeedRandom(figure.seed);
    RandomizeArms();
    SetClientSize(1 << 20, 1 << 20);  // too big for the figure to leave
    const AnimationState start = animationState;
    for (int tick = 0; tick < 100; ++tick) AdvanceFrame();
    EXPECT_EQ(animationState.hue, figure.hueAfter100Ticks);
    EXPECT_EQ(animationState.arm1.radius, start.arm1.radius + 100 * start.arm1.radiusStep);
    EXPECT_EQ(animationState.arm2.radius, start.arm2.radius + 100 * start.arm2.radiusStep);
  }
}

// The tick of the first restart, or 0, with the second tip far outside and the first
// still at the given place.
int FirstRestart(double angle, double radius) {
  animationState = {};
  SetClientSize(10, 20);  // centre (5, 10)
  animationState.arm1 = {.radius = radius, .angle = angle};
  animationState.arm2 = {.radius = 100};
  for (int tick = 1; tick <= 100; ++tick)
    if (AdvanceFrame().clearAfter) return tick;
  return 0;
}

// After the 35th tick with both tips off screen, never while one is inside; the right
// and bottom edges are inside.
TEST(Model, RestartsAfterThirtyFiveTicksWithBothTipsOffScreen) {
  const struct {
    double angle;
    double radius;
    int restart;
  } tips[] = {{0, 5, 0},  {0, 6, 35},  {Pi / 2, 10, 0},  {Pi / 2, 11, 35},
              {Pi, 5, 0}, {Pi, 6, 35}, {-Pi / 2, 10, 0}, {-Pi / 2, 11, 35}};
  for (const auto &tip : tips) EXPECT_EQ(FirstRestart(tip.angle, tip.radius), tip.restart) << tip.angle;
}

// Recorded from a fixed seed on a 640 x 480 window.
TEST(Model, FixedSeedDrawsTheRecordedFigure) {
  animationState = {};
  SeedRandom(1700000000);
  RandomizeArms();
  SetClientSize(640, 480);
  const Frame first = AdvanceFrame();
  EXPECT_EQ(first.from.x, 284);
  EXPECT_EQ(first.from.y, 291);
  EXPECT_EQ(first.to.x, 314);
  EXPECT_EQ(first.to.y, 244);
  EXPECT_EQ(first.color, 0xD40041u);
  std::vector<int> restarts;
  for (int tick = 2; tick <= 1000; ++tick)
    if (AdvanceFrame().clearAfter) restarts.push_back(tick);
  EXPECT_EQ(restarts, (std::vector<int>{77, 171, 264, 403, 602, 686, 782, 925}));
}

// For UndefinedBehaviorSanitizer: no window size, however absurd, makes a tick undefined.
TEST(Model, AnyWindowSizeTicksWithoutUndefinedBehaviour) {
  for (int32_t size : {0, -40, INT_MAX}) {
    SeedRandom(size);
    RandomizeArms();
    SetClientSize(size, size);
    for (int tick = 0; tick < 5000; ++tick) AdvanceFrame();
  }
}

}  // namespace
