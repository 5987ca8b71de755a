#include "host/host.h"
#include "resources/resource_ids.h"
#include "saver/saver_api.h"

InputMethodState inputMethodState;

const char SaverClassName[] = "WindowsScreenSaverClass";
const char SaverWindowTitle[] = "Screen Saver";
const char PreviewWindowTitle[] = "Preview";

namespace {

const char AutoPlayMessageName[] = "QueryCancelAutoPlay";
const char InputMethodLibrary[] = "IMM32.DLL";
const char AssociateContextEntry[] = "ImmAssociateContext";

constexpr UINT SaverClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
constexpr DWORD SaverStyle = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD SaverExStyle = WS_EX_TOPMOST;
constexpr DWORD PreviewStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;

// What a window that cannot be made returns: the saver could not start.
constexpr int ExitNoWindow = ExitCannotStart;

struct WindowPlacement {
  const char *title;
  DWORD style;
  DWORD exStyle;
  int x, y, width, height;
};

WNDCLASSA SaverClass() {
  WNDCLASSA saverClass = {};
  saverClass.style = SaverClassStyle;
  saverClass.lpfnWndProc = SaverWindowProc;
  saverClass.hInstance = hostState.instanceHandle;
  saverClass.hIcon = LoadIconA(hostState.instanceHandle, MAKEINTRESOURCEA(IDI_SAVER_ICON));
  saverClass.hCursor = nullptr;
  saverClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  saverClass.lpszClassName = SaverClassName;
  return saverClass;
}

WindowPlacement PreviewPlacement(HWND parent) {
  RECT client = {0, 0, 0, 0};
  GetClientRect(parent, &client);
  return {PreviewWindowTitle, PreviewStyle, 0, 0, 0, client.right, client.bottom};
}

WindowPlacement FullScreenPlacement() {
  RECT screen = {0, 0, 0, 0};
  const HDC dc = GetDC(nullptr);
  GetClipBox(dc, &screen);
  ReleaseDC(nullptr, dc);
  const int width = screen.right - screen.left;
  const int height = screen.bottom - screen.top;
  return {SaverWindowTitle, SaverStyle, SaverExStyle, screen.left, screen.top, width, height};
}

// A full-screen saver that already runs is raised instead of started twice.
bool RaisedRunningSaver() {
  const HWND other = FindWindowA(SaverClassName, SaverWindowTitle);
  if (other == nullptr || !IsWindow(other)) return false;
  SetForegroundWindow(other);
  return true;
}

int RunMessageLoop() {
  MSG message = {};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

// The saver takes the window's input context away while it runs, so no
// input-method window appears over it, and gives it back when it goes.
void DetachInputContext(HWND window) {
  InputMethodState &ime = inputMethodState;
  ime.immModule = GetModuleHandleA(InputMethodLibrary);
  if (ime.immModule == nullptr) return;
  ime.immAssociateProc = LibraryEntry<ImmAssociateContextProc>(ime.immModule, AssociateContextEntry);
  if (ime.immAssociateProc != nullptr) ime.savedInputContext = ime.immAssociateProc(window, nullptr);
}

void RestoreInputContext(HWND window) {
  const InputMethodState &ime = inputMethodState;
  if (ime.immModule != nullptr && ime.immAssociateProc != nullptr && ime.savedInputContext != nullptr) {
    ime.immAssociateProc(window, ime.savedInputContext);
  }
}

void HideCursorUnlessPreview() {
  if (!hostState.previewMode) SetCursor(nullptr);
}

void OnCreate(HWND window) {
  DetachInputContext(window);
  GetCursorPos(&hostState.lastCursorPos);
  HideCursorUnlessPreview();
}

void OnDestroy(HWND window) {
  RestoreInputContext(window);
  PostQuitMessage(0);
}

// A preview hands help and context-menu requests to the settings window that
// holds it.
void ForwardToParent(HWND window, UINT message, LPARAM lParam) {
  const HWND parent = GetParent(window);
  if (parent != nullptr && IsWindow(parent)) {
    PostMessageA(parent, message, reinterpret_cast<WPARAM>(parent), lParam);
  }
}

// While the message is delivered the screen's clip box still reports the old size;
// the virtual-screen metrics already report the new one.
void CoverNewScreen(HWND window, LPARAM lParam) {
  const ScreenArea virtualScreen = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                                    GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  const ScreenArea area = AreaAfterDisplayChange(virtualScreen, lParam);
  SetWindowPos(window, HWND_TOPMOST, area.x, area.y, area.width, area.height, SWP_NOACTIVATE);
}

bool IsSwitchingCommand(WPARAM command) {
  return command == SC_NEXTWINDOW || command == SC_PREVWINDOW || command == SC_SCREENSAVE;
}

}  // namespace

// Windows 95 and NT 4.0 know no virtual screen and report its metrics as 0; there the
// one monitor is the screen, at the width and height that the message carries.
ScreenArea AreaAfterDisplayChange(ScreenArea virtualScreen, LPARAM lParam) {
  if (virtualScreen.width > 0 && virtualScreen.height > 0) return virtualScreen;
  return {0, 0, LOWORD(lParam), HIWORD(lParam)};
}

int RunSaverWindow(HWND parent) {
  const WNDCLASSA saverClass = SaverClass();
  WindowPlacement placement;
  if (parent != nullptr) {
    placement = PreviewPlacement(parent);
    hostState.previewMode = 1;
  } else {
    placement = FullScreenPlacement();
    if (RaisedRunningSaver()) return 0;
    LoadPasswordVerifier();
  }
  hostState.autoPlayMessage = hostState.onWin9x ? RegisterWindowMessageA(AutoPlayMessageName) : 0;

  HWND window = nullptr;
  if (RegisterClassA(&saverClass)) {
    window =
        CreateWindowExA(placement.exStyle, SaverClassName, placement.title, placement.style, placement.x, placement.y,
                        placement.width, placement.height, parent, nullptr, hostState.instanceHandle, nullptr);
  }
  int result = ExitNoWindow;
  if (window != nullptr) {
    if (!hostState.previewMode) SetForegroundWindow(window);
    result = RunMessageLoop();
  }
  UnloadPasswordVerifier();
  return result;
}

LRESULT WINAPI SaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const HostState &host = hostState;
  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      break;
    case WM_DESTROY:
      OnDestroy(window);
      break;
    case WM_SETTEXT:
      // The title is how a second start finds this saver; it stays as it is.
      return 0;
    case WM_PAINT:
      if (host.closing) return DefWindowProcA(window, message, wParam, lParam);
      HideCursorUnlessPreview();
      break;
    case WM_HELP:
    case WM_CONTEXTMENU:
      if (!host.previewMode) break;
      ForwardToParent(window, message, lParam);
      return 1;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (host.closing) return DefWindowProcA(window, message, wParam, lParam);
      break;
    case WM_SYSCOMMAND:
      if (!host.previewMode && IsSwitchingCommand(wParam)) return 0;
      break;
    case WM_DISPLAYCHANGE:
      // A monitor plugged in or a new resolution must not leave part of the desktop
      // uncovered; a preview follows its parent instead.
      if (!host.previewMode) CoverNewScreen(window, lParam);
      break;
    case WM_TIMER:
      if (host.closing) return 0;
      Sleep(0);
      break;
    default:
      break;
  }
  return AnimationProc(window, message, wParam, lParam);
}
