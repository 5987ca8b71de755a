// The animation window procedure's process-wide values.
#pragma once

#include <windows.h>

constexpr UINT_PTR AnimationTimerId = 1;

struct AnimationWindowState {
  UINT_PTR timerId = 0;
  RECT clearRect = {0, 0, 0, 0};
  HDC drawDC = nullptr;
};
extern AnimationWindowState animationWindowState;
