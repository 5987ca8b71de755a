// The line-pair animation model: the random source, the colour wheel, the
// tick arithmetic and the restart rule. Expected values below were worked out
// by hand or with a separate model of the arithmetic, not read back from ours.
#include "saver/animation_model.h"
#include "tests/unit/sim_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <set>
#include <vector>

namespace {

constexpr double Pi = 3.141592653589793;
constexpr double AngleScale = 3.14159;

using AnimationModelTest = SimTest;

constexpr uint32_t Rgb(uint32_t red, uint32_t green, uint32_t blue) { return red | green << 8 | blue << 16; }

// An arm whose tip stays put: it neither grows nor turns.
Arm FixedArm(double radius, double angle) { return {radius, angle, 0, 0}; }

void PlaceArms(Arm arm1, Arm arm2, int32_t width, int32_t height) {
  animationState.arm1 = arm1;
  animationState.arm2 = arm2;
  animationState.offscreenTicks = 0;
  SetClientSize(width, height);
}

// Ticks n times; returns the 1-based ticks that asked for a clear.
std::vector<int> ClearingTicks(int ticks) {
  std::vector<int> clears;
  for (int tick = 1; tick <= ticks; ++tick) {
    if (AdvanceFrame().clearAfter) clears.push_back(tick);
  }
  return clears;
}

TEST_F(AnimationModelTest, HueStepsAndWrapsAtBothEndsOfTheWheel) {
  struct Case {
    int32_t hue, step, expected;
  };
  const Case cases[] = {
      {1529, 3, 2},  {2, -15, 1517},  {1517, 12, 1529}, {1518, 12, 0}, {1529, 1, 0},
      {0, -1, 1529}, {14, -15, 1529}, {15, -15, 0},     {700, 0, 700}, {1000, -12, 988},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.hue << " + " << c.step);
    animationState.hue = c.hue;
    animationState.hueStep = c.step;
    const Frame frame = AdvanceFrame();
    EXPECT_EQ(animationState.hue, c.expected);
    // The colour drawn is already that of the stepped hue.
    EXPECT_EQ(frame.color, HueToColor(c.expected));
  }
}

TEST_F(AnimationModelTest, HueToColorAtTheBandEdges) {
  struct Case {
    int32_t hue;
    uint32_t color;
  };
  const Case cases[] = {
      {0, Rgb(0, 0, 212)},    {255, Rgb(0, 212, 212)}, {256, Rgb(0, 212, 211)},  {510, Rgb(0, 212, 0)},
      {511, Rgb(0, 212, 0)},  {637, Rgb(105, 212, 0)}, {765, Rgb(212, 212, 0)},  {766, Rgb(212, 211, 0)},
      {1020, Rgb(212, 0, 0)}, {1021, Rgb(212, 0, 0)},  {1275, Rgb(212, 0, 212)}, {1276, Rgb(211, 0, 212)},
      {1529, Rgb(0, 0, 212)}, {6, Rgb(0, 5, 212)},     {1524, Rgb(5, 0, 212)},
  };
  for (const Case &c : cases) EXPECT_EQ(HueToColor(c.hue), c.color) << "hue " << c.hue;
}

// Round the whole wheel, including from 1529 back to 0, no component jumps by
// more than one step and the brightest component is always exactly 212.
TEST_F(AnimationModelTest, HueToColorIsContinuousRoundTheWheelAndPeaksAt212) {
  auto component = [](uint32_t color, int shift) { return static_cast<int>((color >> shift) & 0xFF); };
  for (int32_t hue = 0; hue < HueWheelLength; ++hue) {
    const uint32_t color = HueToColor(hue);
    const uint32_t next = HueToColor((hue + 1) % HueWheelLength);
    ASSERT_EQ(color >> 24, 0u) << "hue " << hue;
    int brightest = 0;
    for (int shift : {0, 8, 16}) {
      brightest = std::max(brightest, component(color, shift));
      EXPECT_LE(std::abs(component(next, shift) - component(color, shift)), 1) << "hue " << hue;
    }
    EXPECT_EQ(brightest, 212) << "hue " << hue;
  }
}

TEST_F(AnimationModelTest, GeneratorFollowsItsRecurrenceFromAnySeed) {
  struct Case {
    int32_t seed;
    int32_t firstDraws[3];
  };
  const Case cases[] = {
      {1, {41, 18467, 6334}},
      {1700000000, {28462, 1027, 22663}},
      {-123456789, {19585, 21232, 28925}},
      // The third state is 0xFFFF1234: bit 31 is not part of the value.
      {-977333389, {10860, 16889, 32767}},
  };
  for (const Case &c : cases) {
    SeedRandom(c.seed);
    for (int32_t expected : c.firstDraws) EXPECT_EQ(NextRandom(), expected) << "seed " << c.seed;
  }
}

TEST_F(AnimationModelTest, UnseededGeneratorStartsFromStateOne) { EXPECT_EQ(NextRandom(), 41); }

// Each row: the seed, the ten draws it gives (for reference), the eleventh
// draw, and the arm parameters those ten draws must produce, in order.
TEST_F(AnimationModelTest, RandomizeArmsUsesTenDrawsInOrder) {
  struct Case {
    int32_t seed;
    int32_t draws[10];
    int32_t eleventh;
    double radius1, radius2, radiusStep1, radiusStep2;
    int32_t angleStepSixtieths1, angleStepSixtieths2, hue, hueStep;
  };
  const Case cases[] = {
      {1, {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464}, 5705, 41, 7, 4, 5, 8, -18, 952, -1},
      {4, {51, 17945, 27159, 386, 17345, 27504, 20815, 20576, 10960, 6020}, 5261, 51, 5, 7, 5, 5, -16, 250, -15},
      {10, {71, 16899, 3272, 13694, 13697, 18296, 6722, 3012, 11726, 1899}, 4374, 71, 19, 6, 7, 2, -12, 1016, 12},
      {12, {77, 5628, 6232, 29052, 1558, 26150, 12947, 29926, 11981, 22371}, 4078, 77, 8, 5, 1, 7, -6, 1271, -12},
      {1700000000,
       {28462, 1027, 22663, 25444, 9533, 1366, 19789, 28945, 13691, 12556},
       7193,
       62,
       7,
       7,
       7,
       9,
       -5,
       1451,
       1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed);
    animationState.offscreenTicks = 7;
    SetClientSize(640, 480);
    SeedRandom(c.seed);
    RandomizeArms();
    const AnimationState &s = animationState;
    EXPECT_EQ(s.arm1.radius, c.radius1);
    EXPECT_EQ(s.arm2.radius, c.radius2);
    EXPECT_EQ(s.arm1.angle, c.draws[2] / 32767.0 * AngleScale);
    EXPECT_EQ(s.arm2.angle, c.draws[3] / 32767.0 * AngleScale);
    EXPECT_EQ(s.arm1.radiusStep, c.radiusStep1);
    EXPECT_EQ(s.arm2.radiusStep, c.radiusStep2);
    EXPECT_EQ(s.arm1.angleStep, c.angleStepSixtieths1 / 60.0);
    EXPECT_EQ(s.arm2.angleStep, c.angleStepSixtieths2 / 60.0);
    EXPECT_EQ(s.hue, c.hue);
    EXPECT_EQ(s.hueStep, c.hueStep);
    EXPECT_EQ(NextRandom(), c.eleventh) << "exactly ten draws were taken";
    EXPECT_EQ(s.offscreenTicks, 7);
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.height, 480);
  }
}

TEST_F(AnimationModelTest, HighestDrawGivesAnAngleOfExactlyTheScale) {
  struct Case {
    int32_t seed;  // chosen so that the arm's angle draw is 32767
    const double *angle;
  };
  const Case cases[] = {{-577821361, &animationState.arm1.angle}, {-983992196, &animationState.arm2.angle}};
  for (const Case &c : cases) {
    SeedRandom(c.seed);
    RandomizeArms();
    EXPECT_EQ(*c.angle, 3.14159) << "seed " << c.seed;
  }
}

// Over many figures every parameter stays in its range and every value of the
// range turns up; the hue step has exactly ten values.
TEST_F(AnimationModelTest, RandomParametersCoverExactlyTheirRanges) {
  std::set<double> radii1, radii2, steps1, steps2, turns1, turns2;
  std::set<int32_t> hues, hueSteps;
  for (uint32_t i = 0; i < 20000; ++i) {
    SeedRandom(static_cast<int32_t>(i * 2654435761u));
    RandomizeArms();
    const AnimationState &s = animationState;
    radii1.insert(s.arm1.radius);
    radii2.insert(s.arm2.radius);
    steps1.insert(s.arm1.radiusStep);
    steps2.insert(s.arm2.radiusStep);
    turns1.insert(s.arm1.angleStep * 60.0);
    turns2.insert(s.arm2.angleStep * 60.0);
    hues.insert(s.hue);
    hueSteps.insert(s.hueStep);
    ASSERT_GE(s.arm1.angle, 0.0);
    ASSERT_LE(s.arm1.angle, AngleScale);
    ASSERT_GE(s.arm2.angle, 0.0);
    ASSERT_LE(s.arm2.angle, AngleScale);
  }
  auto span = [](const std::set<double> &values) { return std::vector<double>{*values.begin(), *values.rbegin()}; };
  EXPECT_EQ(radii1.size(), 200u);
  EXPECT_EQ(span(radii1), (std::vector<double>{0, 199}));
  EXPECT_EQ(radii2.size(), 20u);
  EXPECT_EQ(span(radii2), (std::vector<double>{0, 19}));
  EXPECT_EQ(steps1.size(), 7u);
  EXPECT_EQ(span(steps1), (std::vector<double>{1, 7}));
  EXPECT_EQ(steps2.size(), 10u);
  EXPECT_EQ(span(steps2), (std::vector<double>{1, 10}));
  EXPECT_EQ(turns1.size(), 10u);
  EXPECT_NEAR(*turns1.begin(), 0, 1e-12);
  EXPECT_NEAR(*turns1.rbegin(), 9, 1e-12);
  EXPECT_EQ(turns2.size(), 20u);
  EXPECT_NEAR(*turns2.begin(), -19, 1e-12);
  EXPECT_NEAR(*turns2.rbegin(), 0, 1e-12);
  EXPECT_EQ(hues.size(), 1530u);
  EXPECT_EQ(*hues.rbegin(), 1529);
  EXPECT_EQ(hueSteps, (std::set<int32_t>{-15, -12, -3, -2, -1, 0, 1, 2, 3, 12}));
}

TEST_F(AnimationModelTest, LineEndsComeFromTheArmsBeforeTheyAdvance) {
  PlaceArms({10, 0, 2, 0}, {20, Pi / 2, 3, 0.25}, 101, 81);
  const Frame first = AdvanceFrame();
  EXPECT_EQ(first.from.x, 60);  // 10 + 101 / 2
  EXPECT_EQ(first.from.y, 40);
  EXPECT_EQ(first.to.x, 50);
  EXPECT_EQ(first.to.y, 60);
  EXPECT_EQ(animationState.arm1.radius, 12);
  EXPECT_EQ(animationState.arm2.radius, 23);
  EXPECT_EQ(animationState.arm2.angle, Pi / 2 + 0.25);
  const Frame second = AdvanceFrame();
  EXPECT_EQ(second.from.x, 62);
  EXPECT_EQ(second.to.x, 44);  // 50 - 5.69
  EXPECT_EQ(second.to.y, 62);  // 40 + 22.28
}

// One tick on a 100 x 100 window (centre 50, 50) with both tips pinned:
// where the ends land, and whether the tick counts towards a restart.
TEST_F(AnimationModelTest, OneTickCountsOnlyWhenBothEndsAreOutside) {
  struct Case {
    const char *name;
    Arm arm1, arm2;
    FramePoint from;
    int32_t counted;
  };
  const Arm farRight = FixedArm(1000, 0);
  const Case cases[] = {
      {"line crossing the window", FixedArm(60, Pi), FixedArm(60, 0), {-10, 50}, 1},
      {"x equal to width is inside", FixedArm(50, 0), farRight, {100, 50}, 0},
      {"y equal to height is inside", FixedArm(50, Pi / 2), farRight, {50, 100}, 0},
      {"x one past width", FixedArm(51, 0), farRight, {101, 50}, 1},
      {"-0.7 truncates to 0, inside", FixedArm(50.7, Pi), farRight, {0, 50}, 0},
      {"x of -1 is outside", FixedArm(51, Pi), farRight, {-1, 50}, 1},
      {"y of -1 is outside", FixedArm(51, -Pi / 2), farRight, {50, -1}, 1},
      {"second end inside", farRight, FixedArm(0, 0), {1050, 50}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PlaceArms(c.arm1, c.arm2, 100, 100);
    const Frame frame = AdvanceFrame();
    EXPECT_EQ(frame.from.x, c.from.x);
    EXPECT_EQ(frame.from.y, c.from.y);
    EXPECT_EQ(animationState.offscreenTicks, c.counted);
  }
}

// 20 outside ticks, 100 with an end inside, then 15 outside: the inside run
// neither added to nor reset the count, so the 15th brings the restart.
TEST_F(AnimationModelTest, TicksWithAnEndInsidePauseTheCountWithoutResettingIt) {
  const Arm left = FixedArm(1000, Pi), right = FixedArm(1000, 0), centre = FixedArm(0, 0);
  PlaceArms(left, right, 100, 100);
  EXPECT_EQ(ClearingTicks(20), std::vector<int>{});
  EXPECT_EQ(animationState.offscreenTicks, 20);
  animationState.arm2 = centre;
  EXPECT_EQ(ClearingTicks(100), std::vector<int>{});
  EXPECT_EQ(animationState.offscreenTicks, 20);
  animationState.arm2 = right;
  EXPECT_EQ(ClearingTicks(15), std::vector<int>{15});
  EXPECT_EQ(animationState.offscreenTicks, 0);
}

// Before the first size report (0 x 0) only the origin is inside. The seeded
// figure has both ends off the origin at once, so its 35th tick restarts it;
// the restart re-randomizes in place from the random source as it stood.
TEST_F(AnimationModelTest, ZeroSizedWindowRestartsOnTheThirtyFifthTickWithFreshArms) {
  SetClientSize(0, 0);
  SeedRandom(1700000000);
  RandomizeArms();
  ASSERT_EQ(ClearingTicks(34), std::vector<int>{});
  EXPECT_EQ(animationState.offscreenTicks, 34);
  const int32_t randomBeforeRestart = saverRandom.state;
  const Frame restart = AdvanceFrame();
  EXPECT_TRUE(restart.clearAfter);
  EXPECT_EQ(animationState.offscreenTicks, 0);

  const AnimationState afterRestart = animationState;
  saverRandom.state = randomBeforeRestart;
  RandomizeArms();
  EXPECT_EQ(afterRestart.arm1.radius, animationState.arm1.radius);
  EXPECT_EQ(afterRestart.arm2.angle, animationState.arm2.angle);
  EXPECT_EQ(afterRestart.arm2.angleStep, animationState.arm2.angleStep);
  EXPECT_EQ(afterRestart.hue, animationState.hue);
  EXPECT_EQ(afterRestart.hueStep, animationState.hueStep);
  EXPECT_EQ(afterRestart.width, 0);
  // The second figure has one tick with an end on the origin, so it needs 36.
  animationState = afterRestart;
  EXPECT_EQ(ClearingTicks(142), (std::vector<int>{36, 71, 107, 142}));
}

uint64_t Fnv1a(uint64_t hash, int32_t value) {
  const uint32_t word = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) {
    hash ^= (word >> shift) & 0xFF;
    hash *= 0x100000001b3u;
  }
  return hash;
}

// A fixed seed on a 640 x 480 window: the first frames, every restart, and a
// hash over all 1000 frames (from, to, colour, clear flag).
TEST_F(AnimationModelTest, FixedSeedGivesTheRecordedSequence) {
  const Frame firstFrames[] = {
      {{284, 291}, {314, 244}, 0xD40041, false}, {{272, 290}, {310, 249}, 0xD40040, false},
      {{260, 287}, {306, 256}, 0xD4003F, false}, {{247, 281}, {303, 262}, 0xD4003E, false},
      {{236, 272}, {302, 270}, 0xD4003D, false}, {{225, 261}, {301, 277}, 0xD4003C, false},
      {{216, 247}, {302, 285}, 0xD4003C, false}, {{209, 230}, {304, 293}, 0xD4003B, false},
      {{205, 212}, {307, 301}, 0xD4003A, false}, {{203, 193}, {311, 309}, 0xD40039, false},
  };
  const std::vector<int> restarts = {77, 171, 264, 403, 602, 686, 782, 925};
  constexpr uint64_t SequenceHash = 0xaaff636cfa3f22d7u;

  SeedRandom(1700000000);
  RandomizeArms();
  SetClientSize(640, 480);
  uint64_t hash = 0xcbf29ce484222325u;
  std::vector<int> clears;
  for (int tick = 1; tick <= 1000; ++tick) {
    const Frame f = AdvanceFrame();
    if (tick <= 10) {
      const Frame &e = firstFrames[tick - 1];
      EXPECT_EQ(f.from.x, e.from.x) << "tick " << tick;
      EXPECT_EQ(f.from.y, e.from.y) << "tick " << tick;
      EXPECT_EQ(f.to.x, e.to.x) << "tick " << tick;
      EXPECT_EQ(f.to.y, e.to.y) << "tick " << tick;
      EXPECT_EQ(f.color, e.color) << "tick " << tick;
    }
    if (f.clearAfter) clears.push_back(tick);
    for (int32_t v : {f.from.x, f.from.y, f.to.x, f.to.y, int32_t(f.color), int32_t(f.clearAfter)}) {
      hash = Fnv1a(hash, v);
    }
  }
  EXPECT_EQ(clears, restarts);
  EXPECT_EQ(hash, SequenceHash);
}

}  // namespace
