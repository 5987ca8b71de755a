// The fixture of every unit test: a fresh simulated platform, every
// process-wide record of the program back at its initial value, and a leak
// check when the test is done.
#pragma once

#include "tests/fresh_process.h"

#include <gtest/gtest.h>

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { FreshProcess(); }

  void TearDown() override { EXPECT_EQ(SimLeakReport(), "") << "journal:\n" << SimJournalText(); }
};
