// The fixture of every unit test: a fresh simulated platform, every
// process-wide record of the program back at its initial value, and a leak
// check when the test is done.
#pragma once

#include "host/host.h"
#include "platform/sim/sim.h"
#include "saver/animation_model.h"
#include "saver/animation_proc.h"
#include "saver/settings.h"

#include <gtest/gtest.h>

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimReset();
    hostState = HostState{};
    inputMethodState = {};
    animationState = {};
    saverRandom = {};
    saverSettings = {};
    RedrawSpeed = DefaultRedrawSpeed;
    animationWindowState = {};
  }

  void TearDown() override { EXPECT_EQ(SimLeakReport(), "") << "journal:\n" << SimJournalText(); }
};
