#include "host/host.h"

#include <cstdint>

namespace {

// A close request is always queued, never sent: it comes back through the
// whole chain of procedures and meets the close check there.
void RequestClose(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }

// How far apart two coordinates lie, without the library's absolute value, whose
// code needs a newer processor than a 486.
int64_t Distance(LONG a, LONG b) {
  const int64_t difference = int64_t{a} - b;
  return difference < 0 ? -difference : difference;
}

// Small movements add up against the reference point until they have carried
// the cursor more than the threshold away from it. A failed read counts as no
// movement.
void ApplyMouseRule(HWND window) {
  POINT now = hostState.lastCursorPos;
  GetCursorPos(&now);
  const int64_t distance = Distance(now.x, hostState.lastCursorPos.x) + Distance(now.y, hostState.lastCursorPos.y);
  if (distance > hostState.mouseMoveThreshold) {
    RequestClose(window);
    hostState.lastCursorPos = now;
  }
}

void ApplyActivityRule(HWND window, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_SHOWWINDOW:
      if (wParam != 0) SetCursor(nullptr);
      break;
    case WM_ACTIVATEAPP:
      if (wParam == 0) RequestClose(window);
      break;
    case WM_POWER:
      if (wParam == PWR_CRITICALRESUME) RequestClose(window);
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_POWERBROADCAST:
      RequestClose(window);
      break;
    case WM_MOUSEMOVE:
      ApplyMouseRule(window);
      break;
    default:
      break;
  }
}

}  // namespace

LRESULT WINAPI DefaultSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  HostState &host = hostState;
  if (!host.previewMode && !host.closing) {
    if (message == WM_CLOSE) {
      if (host.onWin9x && !VerifyPasswordOnClose(window)) {
        GetCursorPos(&host.lastCursorPos);
        return 0;
      }
    } else if (message == SCRM_VERIFYPW) {
      if (host.onWin9x) return host.verifyProc ? host.verifyProc(window) : 1;
    } else if (!host.checkingPassword) {
      if (message == WM_SETCURSOR) {
        SetCursor(nullptr);
        return 1;
      }
      ApplyActivityRule(window, message, wParam);
    }
  }
  // The saver's own procedure has already painted the background black; the system's
  // default would fill it a second time with the class brush.
  if (message == WM_ERASEBKGND) return 1;
  // Answering the AutoPlay query nonzero cancels the AutoPlay of the medium just
  // inserted, so nothing starts behind a locked saver.
  if (host.autoPlayMessage != 0 && message == host.autoPlayMessage) {
    RequestClose(window);
    return host.verifyProc ? 1 : 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
