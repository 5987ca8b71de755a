// The figure's rules, checked on its properties and on values recorded from fixed seeds.
#include "saver/animation_model.h"

#include <gtest/gtest.h>

#include <numbers>
#include <set>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

TEST(Model, GeneratorStartsWithTheRecordedValues) {
  saverRandom = {};
  EXPECT_EQ(NextRandom(), 41);
  EXPECT_EQ(NextRandom(), 18467);
}

// The colour of the next tick's line when the hue stands still at `hue`.
uint32_t WheelColour(int32_t hue) {
  animationState = {.hue = hue};
  return AdvanceFrame().color;
}

// One past each band's end, and between. Full strength is 255 / 1.2 = 212 (0xD4); 0x00BBGGRR.
TEST(Model, WheelColoursAtTheBandsBoundariesAndBetween) {
  const struct {
    int32_t hue;
    uint32_t color;
  } wheel[] = {
      {0, 0xD40000},   {256, 0xD3D400},  {511, 0x00D400},  {600, 0x00D44B},
      {766, 0x00D3D4}, {1021, 0x0000D4}, {1100, 0x4200D4}, {1276, 0xD400D3},
  };
  for (const auto &row : wheel) EXPECT_EQ(WheelColour(row.hue), row.color) << "hue " << row.hue;
}

TEST(Model, NewFiguresStepTheirHueByOneOfTenSteps) {
  std::set<int> hueSteps;
  for (int32_t seed = 1; seed <= 2000; ++seed) {
    SeedRandom(seed);
    RandomizeArms();
    hueSteps.insert(animationState.hueStep);
  }
  EXPECT_EQ(hueSteps, (std::set<int>{-15, -12, -3, -2, -1, 0, 1, 2, 3, 12}));
}

// The tick of the first restart, or 0, with the second tip far outside and the first
// staying at the given place.
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
  } tips[] = {{0, 5, 0}, {Pi / 2, 10, 0}, {Pi / 2, 11, 35}, {Pi, 5, 0}, {-Pi / 2, 10, 0}, {-Pi / 2, 11, 35}};
  for (const auto &tip : tips) EXPECT_EQ(FirstRestart(tip.angle, tip.radius), tip.restart) << tip.angle;
}

// Recorded from a fixed seed on a 640 x 480 window. Its arms start at radii 51 and 5 and
// grow by 7 and 5 a tick; its hue starts at 250 and steps by -15.
TEST(Model, FixedSeedDrawsTheRecordedFigure) {
  animationState = {};
  SeedRandom(4);
  RandomizeArms();
  SetClientSize(640, 480);
  const Frame first = AdvanceFrame();
  EXPECT_EQ(first.from.x, 276);
  EXPECT_EQ(first.from.y, 266);
  EXPECT_EQ(first.to.x, 324);
  EXPECT_EQ(first.to.y, 240);
  EXPECT_EQ(first.color, 0xD4C300u);
  EXPECT_EQ(animationState.arm1.radius, 51 + 7);
  EXPECT_EQ(animationState.arm2.radius, 5 + 5);
  std::vector<int> restarts;
  for (int tick = 2; tick <= 1000; ++tick) {
    const Frame frame = AdvanceFrame();
    if (tick == 20) {
      EXPECT_EQ(frame.color, 0xD40029u);  // hue 1480, round the wheel
    }
    if (frame.clearAfter) restarts.push_back(tick);
  }
  EXPECT_EQ(restarts, (std::vector<int>{97, 169, 498, 605, 929, 996}));
}

// The saver's timer, the X11 program and the page all take their pace from here.
TEST(Model, RedrawIntervalDoublesWithTheSpeedAndSaturatesAtTheLongestTimer) {
  const struct {
    int32_t speed;
    uint32_t interval;
  } rows[] = {{1, 3}, {5, 50}, {10, 1600}, {0, 1}, {-1, 0}, {30, 1677721600}, {31, LongestIntervalMs}, {INT32_MIN, 0}};
  for (const auto &row : rows) EXPECT_EQ(RedrawInterval(row.speed), row.interval) << row.speed;
}

}  // namespace
