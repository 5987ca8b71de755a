#include "saver/animation_proc.h"

#include "host/host_api.h"
#include "saver/animation_model.h"
#include "saver/saver_api.h"
#include "saver/settings.h"

#include <cstdint>

AnimationWindowState animationWindowState;

namespace {

constexpr int64_t FileTimeTicksPerSecond = 10000000;
constexpr int64_t FileTimeAtUnixEpoch = 116444736000000000;

int32_t CalendarSeconds() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const int64_t ticks = static_cast<int64_t>(static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
  return static_cast<int32_t>((ticks - FileTimeAtUnixEpoch) / FileTimeTicksPerSecond);
}

HBRUSH BlackBrush() { return static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)); }

void StartAnimation(HWND window) {
  LocateSettings();
  ReadRedrawSpeed();
  SeedRandom(CalendarSeconds());
  RandomizeArms();
  animationWindowState.timerId = SetTimer(window, AnimationTimerId, RedrawInterval(RedrawSpeed), nullptr);
}

void StopAnimation(HWND window) {
  if (animationWindowState.timerId != 0) KillTimer(window, animationWindowState.timerId);
  animationWindowState.timerId = 0;
}

void EraseToBlack(HWND window) {
  AnimationWindowState &a = animationWindowState;
  a.drawDC = GetDC(window);
  GetClientRect(window, &a.clearRect);
  FillRect(a.drawDC, &a.clearRect, BlackBrush());
  ReleaseDC(window, a.drawDC);
  a.drawDC = nullptr;
}

// One line per tick, with a pen that lives for this tick only. On a restart the
// line is drawn first and the clear follows, so it is never seen.
void DrawTick(HWND window) {
  AnimationWindowState &a = animationWindowState;
  a.drawDC = GetDC(window);
  GetClientRect(window, &a.clearRect);
  const Frame frame = AdvanceFrame();
  const HPEN pen = CreatePen(PS_SOLID, 1, frame.color);
  const HGDIOBJ previousPen = SelectObject(a.drawDC, pen);
  const POINT line[2] = {{frame.from.x, frame.from.y}, {frame.to.x, frame.to.y}};
  Polyline(a.drawDC, line, 2);
  SelectObject(a.drawDC, previousPen);
  DeleteObject(pen);
  if (frame.clearAfter) FillRect(a.drawDC, &a.clearRect, BlackBrush());
  ReleaseDC(window, a.drawDC);
  a.drawDC = nullptr;
}

}  // namespace

LRESULT WINAPI AnimationProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      StartAnimation(window);
      break;
    case WM_DESTROY:
      StopAnimation(window);
      break;
    case WM_SIZE:
      SetClientSize(LOWORD(lParam), HIWORD(lParam));
      break;
    case WM_ERASEBKGND:
      EraseToBlack(window);
      break;
    case WM_TIMER:
      DrawTick(window);
      break;
    default:
      break;
  }
  return DefaultSaverProc(window, message, wParam, lParam);
}
