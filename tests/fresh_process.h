// A fresh simulated process: a new platform, and every process-wide record of
// the program back at its initial value. The unit tests and the fuzzers start
// each case from here.
#pragma once

#include "host/host.h"
#include "platform/sim/sim.h"
#include "saver/animation_model.h"
#include "saver/animation_proc.h"
#include "saver/settings.h"

inline void FreshProcess() {
  SimReset();
  hostState = HostState{};
  inputMethodState = {};
  animationState = {};
  saverRandom = {};
  saverSettings = {};
  RedrawSpeed = DefaultRedrawSpeed;
  animationWindowState = {};
}
