// What the Win32 test programs share: polling, and reading what a device context shows.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

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

// What `dc` shows inside `area`, row by row, as 0xRRGGBB.
inline std::vector<uint32_t> Pixels(HDC dc, RECT area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  BITMAPINFO info = {};
  info.bmiHeader = {
      .biSize = sizeof info.bmiHeader, .biWidth = width, .biHeight = -height, .biPlanes = 1, .biBitCount = 32};
  void *bits = nullptr;
  const HDC memory = CreateCompatibleDC(dc);
  const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return {};  // a process out of GDI objects shows nothing
  SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, dc, area.left, area.top, SRCCOPY);
  GdiFlush();
  const auto *first = static_cast<const uint32_t *>(bits);
  std::vector<uint32_t> pixels(first, first + width * height);
  DeleteDC(memory);
  DeleteObject(bitmap);
  return pixels;
}
