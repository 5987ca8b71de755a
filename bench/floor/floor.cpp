// The floor for any saver that Wine hosts here: a full-screen black window
// that sets one timer and draws one fixed line per tick with a fresh pen.
// Nothing else: no settings, no model, no input rules. It ends on a key press
// or a click, or when its window is closed.
//
//   floor.exe [interval-ms]      default 50
#include <windows.h>

#include <cstdlib>

namespace {

const char FloorClassName[] = "QuorvaneFloor";
constexpr UINT_PTR FloorTimerId = 1;
constexpr UINT DefaultInterval = 50;

LRESULT CALLBACK FloorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER: {
      const HDC dc = GetDC(window);
      const HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 212, 0));
      const HGDIOBJ previous = SelectObject(dc, pen);
      const POINT line[2] = {{100, 100}, {400, 300}};
      Polyline(dc, line, 2);
      SelectObject(dc, previous);
      DeleteObject(pen);
      ReleaseDC(window, dc);
      return 0;
    }
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
      PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_DESTROY:
      KillTimer(window, FloorTimerId);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  const int requested = std::atoi(commandLine);
  const UINT interval = requested > 0 ? static_cast<UINT>(requested) : DefaultInterval;

  WNDCLASSA floorClass = {};
  floorClass.lpfnWndProc = FloorProc;
  floorClass.hInstance = instance;
  floorClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  floorClass.lpszClassName = FloorClassName;
  if (!RegisterClassA(&floorClass)) return 1;

  const HWND window = CreateWindowExA(WS_EX_TOPMOST, FloorClassName, "Floor", WS_POPUP | WS_VISIBLE, 0, 0,
                                      GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                      instance, nullptr);
  if (window == nullptr) return 1;
  SetTimer(window, FloorTimerId, interval, nullptr);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
