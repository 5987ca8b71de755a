// The line-pair model against a second, independent model of the same arithmetic
// (written from the rules, with real division for the colours), and against a
// sequence recorded from a fixed seed.
#include "saver/animation_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

struct RefArm {
  double radius, angle, radiusStep, angleStep;
};

struct Reference {
  uint32_t random;
  RefArm arm1, arm2;
  int hue, hueStep, offscreen, width, height;

  int Draw() { return random = random * 214013u + 2531011u, static_cast<int>(random >> 16 & 0x7FFF); }
  void Randomize() {  // ten draws, in this order (the comma operator keeps it)
    arm1.radius = Draw() % 200, arm2.radius = Draw() % 20;
    arm1.angle = Draw() / 32767.0 * 3.14159, arm2.angle = Draw() / 32767.0 * 3.14159;
    arm1.radiusStep = Draw() % 7 + 1, arm2.radiusStep = Draw() % 10 + 1;
    arm1.angleStep = (Draw() % 10) / 60.0, arm2.angleStep = -(Draw() % 20) / 60.0;
    hue = Draw() % 1530, hueStep = Draw() % 10 - 5;
    if (std::abs(hueStep) > 3) hueStep *= 3;
  }
  static uint32_t Color(int h) {
    const int bands[6][3] = {{0, h, 255},        {0, 255, 510 - h},  {h - 510, 255, 0},
                             {255, 1020 - h, 0}, {255, 0, h - 1020}, {1530 - h, 0, 255}};
    const int *rgb = bands[h <= 255 ? 0 : h <= 510 ? 1 : h <= 765 ? 2 : h <= 1020 ? 3 : h <= 1275 ? 4 : 5];
    uint32_t color = 0;
    for (int i = 0; i < 3; ++i) color |= static_cast<uint32_t>(std::trunc(rgb[i] / 1.2)) << (8 * i);
    return color;
  }
  FramePoint Tip(const RefArm &arm) const {
    return {static_cast<int32_t>(static_cast<int64_t>(std::cos(arm.angle) * arm.radius + width / 2)),
            static_cast<int32_t>(static_cast<int64_t>(std::sin(arm.angle) * arm.radius + height / 2))};
  }
  bool Inside(FramePoint p) const { return 0 <= p.x && p.x <= width && 0 <= p.y && p.y <= height; }
  Frame Tick() {
    Frame f{Tip(arm1), Tip(arm2), 0, false};
    for (RefArm *arm : {&arm1, &arm2}) arm->radius += arm->radiusStep, arm->angle += arm->angleStep;
    hue += hueStep, hue -= hue >= 1530 ? 1530 : 0, hue += hue < 0 ? 1530 : 0;
    f.color = Color(hue);
    if (!Inside(f.from) && !Inside(f.to)) ++offscreen;
    if ((f.clearAfter = offscreen == 35)) offscreen = 0, Randomize();
    return f;
  }
};

// Seeds and window sizes, from an unsized window to absurd ones, and the figures
// they go through; under UndefinedBehaviorSanitizer this is the arbitrary-input run.
TEST(Model, EveryTickAgreesWithTheIndependentModel) {
  const struct {
    int32_t seed, width, height;
  } cases[] = {{1, 640, 480},    {1700000000, 0, 0},          {-123456789, 1, 1}, {-977333389, 101, 81},
               {42, 3840, 1080}, {7, 2147483647, 2147483647}, {99, -40, -30},     {12345, 1920, 1}};
  int restarts = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed << " size " << c.width << "x" << c.height);
    Reference ref = {static_cast<uint32_t>(c.seed), {}, {}, 0, 0, 0, c.width, c.height};
    ref.Randomize();
    animationState = {}, SeedRandom(c.seed), RandomizeArms(), SetClientSize(c.width, c.height);
    for (int tick = 1; tick <= 5000; ++tick) {
      const Frame got = AdvanceFrame(), want = ref.Tick();
      ASSERT_TRUE(got.from.x == want.from.x && got.from.y == want.from.y && got.to.x == want.to.x &&
                  got.to.y == want.to.y && got.color == want.color && got.clearAfter == want.clearAfter)
          << "tick " << tick;
      restarts += got.clearAfter;
    }
  }
  EXPECT_GT(restarts, 100);
  for (int hue = 0; hue < HueWheelLength; ++hue) ASSERT_EQ(HueToColor(hue), Reference::Color(hue)) << hue;
}

TEST(Model, GeneratorStartsFromStateOneAndKeepsFifteenBits) {
  saverRandom = {};
  EXPECT_EQ(NextRandom(), 41);
  SeedRandom(-977333389);  // its third state is 0xFFFF1234: bit 31 is not part of the value
  for (int32_t expected : {10860, 16889, 32767}) EXPECT_EQ(NextRandom(), expected);
}

uint64_t Fnv1a(uint64_t hash, int32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    hash = (hash ^ (static_cast<uint32_t>(value) >> shift & 0xFF)) * 0x100000001b3u;
  return hash;
}

// Recorded from a fixed seed on a 640 x 480 window: every restart, and a hash over all
// 1000 frames.
TEST(Model, FixedSeedGivesTheRecordedSequence) {
  animationState = {}, SeedRandom(1700000000), RandomizeArms(), SetClientSize(640, 480);
  uint64_t hash = 0xcbf29ce484222325u;
  std::vector<int> clears;
  for (int tick = 1; tick <= 1000; ++tick) {
    const Frame f = AdvanceFrame();
    if (f.clearAfter) clears.push_back(tick);
    for (int32_t v : {f.from.x, f.from.y, f.to.x, f.to.y, int32_t(f.color), int32_t(f.clearAfter)})
      hash = Fnv1a(hash, v);
  }
  EXPECT_EQ(clears, (std::vector<int>{77, 171, 264, 403, 602, 686, 782, 925}));
  EXPECT_EQ(hash, 0xaaff636cfa3f22d7u);
}

}  // namespace
