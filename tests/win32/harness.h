// What the Win32 test programs share: polling.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

// Long enough for a Wine program to start on a busy machine.
constexpr DWORD PollTimeoutMs = 10000;

// Calls `condition` until it holds or the time is up, handling this thread's messages meanwhile.
template <typename Condition>
bool PollUntil(Condition condition) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start >= PollTimeoutMs) return false;
    for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&message);
    Sleep(5);
  }
  return true;
}
