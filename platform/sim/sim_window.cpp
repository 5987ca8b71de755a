// Window classes, windows, their creation and destruction, the default window
// procedure, and the windows of other processes that tests make.
#include "platform/sim/sim_internal.h"

#include <algorithm>
#include <cstring>

namespace sim {

Window *LiveWindow(uintptr_t window) {
  auto found = W().windows.find(window);
  if (found == W().windows.end() || found->second.destroyed) return nullptr;
  return &found->second;
}

Window *LiveWindow(HWND window) { return LiveWindow(Raw(window)); }

bool IsDescendant(uintptr_t window, uintptr_t ancestor) {
  for (const Window *w = LiveWindow(window); w != nullptr && w->parent != 0; w = LiveWindow(w->parent)) {
    if (w->parent == ancestor) return true;
  }
  return false;
}

HWND CreateWindowRecord(Window record) {
  World &w = W();
  record.handle = w.nextWindow;
  w.nextWindow += WindowHandleStep;
  w.windowOrder.push_back(record.handle);
  const uintptr_t handle = record.handle;
  w.windows.emplace(handle, std::move(record));
  return As<HWND>(handle);
}

namespace {

// Unwinds the send depth even when a test's failure is thrown through it.
struct SendDepth {
  SendDepth() {
    if (++W().sendDepth > MaxSendDepth) {
      --W().sendDepth;
      throw SimError("messages re-enter the window procedures too deeply (endless send loop?)");
    }
  }
  ~SendDepth() { --W().sendDepth; }
  SendDepth(const SendDepth &) = delete;
  SendDepth &operator=(const SendDepth &) = delete;
};

}  // namespace

LRESULT CallWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const Window *target = LiveWindow(window);
  if (target == nullptr) return 0;
  SendDepth depth;
  if (target->isDialog) return DialogWindowProc(window, message, wParam, lParam);
  if (target->testProc) {
    const auto proc = target->testProc;  // the record may move while the procedure runs
    return proc(window, message, wParam, lParam);
  }
  if (target->proc != nullptr) return target->proc(window, message, wParam, lParam);
  return DefaultHandling(window, message, wParam, lParam);
}

LRESULT SendSynthetic(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SimEvent e{SimEventKind::SendMessage};
  e.window = window;
  e.message = message;
  e.wParam = wParam;
  e.lParam = lParam;
  e.synthetic = true;
  const size_t at = Record(e);
  const LRESULT result = CallWindow(window, message, wParam, lParam);
  RecordResult(at, result);
  return result;
}

// A window being shown hears of it first, then waits for its first paint,
// which erases its background.
BOOL ApplyShow(HWND window, bool show) {
  Window *target = LiveWindow(window);
  if (target == nullptr) return FALSE;
  const bool wasVisible = (target->style & WS_VISIBLE) != 0;
  if (show == wasVisible) return wasVisible ? TRUE : FALSE;
  SendSynthetic(window, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
  target = LiveWindow(window);
  if (target == nullptr) return FALSE;
  if (show) {
    target->style |= WS_VISIBLE;
    target->needsPaint = !target->foreign;
    target->needsErase = !target->foreign;
  } else {
    target->style &= ~static_cast<DWORD>(WS_VISIBLE);
  }
  return wasVisible ? TRUE : FALSE;
}

}  // namespace sim

using namespace sim;

namespace {

const char *const BuiltInClasses[] = {"Button", "Static", "ScrollBar", "Edit", "#32770"};

const WindowClass *FindClass(LPCSTR className) {
  World &w = W();
  if (className == nullptr) return nullptr;
  if (IS_INTRESOURCE(className)) {
    for (const auto &[name, entry] : w.classes) {
      if (entry.atom == Raw(className)) return &entry;
    }
    return nullptr;
  }
  auto found = w.classes.find(Lower(className));
  return found == w.classes.end() ? nullptr : &found->second;
}

std::string BuiltInClass(LPCSTR className) {
  if (className == nullptr || IS_INTRESOURCE(className)) return "";
  for (const char *name : BuiltInClasses) {
    if (EqualNoCase(name, className)) return name;
  }
  return "";
}

int ClampedSize(int size, int fallback) {
  if (size == CW_USEDEFAULT) return fallback;
  return std::max(size, 0);
}

void CollectSubtree(uintptr_t window, std::vector<uintptr_t> *doomed) {
  doomed->push_back(window);
  for (uintptr_t id : W().windowOrder) {
    const Window *child = LiveWindow(id);
    if (child != nullptr && child->parent == window && !child->destroying) CollectSubtree(id, doomed);
  }
}

void DestroyOwnedPopups(uintptr_t owner) {
  const std::vector<uintptr_t> order = W().windowOrder;
  for (uintptr_t id : order) {
    const Window *owned = LiveWindow(id);
    if (owned != nullptr && owned->owner == owner && !(owned->style & WS_CHILD) && !owned->destroying) {
      DestroyWindow(As<HWND>(id));
    }
  }
}

void ForgetWindow(uintptr_t id) {
  Window *window = LiveWindow(id);
  if (window == nullptr) return;
  window->destroyed = true;
  window->needsPaint = false;
  ForgetWindowMessages(id);
  if (W().foreground == id) W().foreground = 0;
}

HWND CreateAndAnnounce(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                       int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (W().failCreateWindow) return nullptr;
  const WindowClass *registered = FindClass(className);
  const std::string builtIn = registered ? "" : BuiltInClass(className);
  if (registered == nullptr && builtIn.empty()) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  if (parent != nullptr && LiveWindow(parent) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if ((style & WS_CHILD) && parent == nullptr) {
    SetLastError(ERROR_TLW_WITH_WSCHILD);
    return nullptr;
  }
  Window record;
  record.className = registered ? registered->name : builtIn;
  record.title = SafeString(windowName);
  record.style = style & ~static_cast<DWORD>(WS_VISIBLE);  // shown once created
  record.exStyle = exStyle;
  record.x = x == CW_USEDEFAULT ? 0 : x;
  record.y = y == CW_USEDEFAULT ? 0 : y;
  record.width = ClampedSize(width, 640);
  record.height = ClampedSize(height, 480);
  (style & WS_CHILD ? record.parent : record.owner) = Raw(parent);
  record.menu = menu;
  record.instance = instance;
  record.proc = registered ? registered->wc.lpfnWndProc : nullptr;
  record.background = registered ? registered->wc.hbrBackground : nullptr;
  const HWND window = CreateWindowRecord(record);

  CREATESTRUCTA create = {param, instance, menu, parent, record.height, record.width, record.y, record.x,
                          static_cast<LONG>(style), windowName, className, exStyle};
  if (SendSynthetic(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(window);
    return nullptr;
  }
  if (LiveWindow(window) == nullptr) return nullptr;
  SendSynthetic(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(record.width, record.height));
  if (style & WS_VISIBLE) ApplyShow(window, true);
  return LiveWindow(window) ? window : nullptr;
}

LRESULT CopyTitle(const Window &window, WPARAM size, LPARAM buffer) {
  char *out = reinterpret_cast<char *>(buffer);
  if (out == nullptr || size == 0) return 0;
  const size_t count = std::min<size_t>(window.title.size(), size - 1);
  std::memcpy(out, window.title.data(), count);
  out[count] = '\0';
  return static_cast<LRESULT>(count);
}

// Validates the window and, the first time after it was shown, lets it erase
// its background.
LRESULT DefaultPaint(HWND window) {
  Window *target = LiveWindow(window);
  if (target == nullptr) return 0;
  target->needsPaint = false;
  if (!target->needsErase) return 0;
  target->needsErase = false;
  const HDC dc = OpenPaintDc(Raw(window));
  SendSynthetic(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  ClosePaintDc(dc);
  return 0;
}

bool IsSystemCursorId(uintptr_t id) { return (id >= 32512 && id <= 32516) || (id >= 32640 && id <= 32651); }
bool IsSystemIconId(uintptr_t id) { return id >= 32512 && id <= 32518; }

constexpr uintptr_t SystemIconBase = 0x70000;

}  // namespace

// ---- Classes and registered messages ---------------------------------------------
ATOM WINAPI RegisterClassA(const WNDCLASSA *windowClass) {
  SimEvent e{SimEventKind::RegisterClass};
  if (windowClass != nullptr) {
    e.name = SafeString(windowClass->lpszClassName);
    e.flags = windowClass->style;
    e.proc = windowClass->lpfnWndProc;
    e.min = windowClass->cbClsExtra;
    e.max = windowClass->cbWndExtra;
    e.instance = windowClass->hInstance;
    e.icon = windowClass->hIcon;
    e.cursor = windowClass->hCursor;
    e.brush = windowClass->hbrBackground;
    e.text = windowClass->lpszMenuName ? SafeString(windowClass->lpszMenuName) : "none";
  }
  const size_t at = Record(e);
  World &w = W();
  if (w.failRegisterClass || windowClass == nullptr || windowClass->lpszClassName == nullptr ||
      IS_INTRESOURCE(windowClass->lpszClassName)) {
    return 0;
  }
  const std::string key = Lower(windowClass->lpszClassName);
  if (w.classes.count(key) != 0) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  WindowClass entry{windowClass->lpszClassName, *windowClass, static_cast<ATOM>(w.nextAtom++)};
  entry.wc.lpszClassName = nullptr;  // the caller's text may not outlive the call
  entry.wc.lpszMenuName = nullptr;
  w.classes.emplace(key, entry);
  RecordResult(at, entry.atom);
  return entry.atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
  const WindowClass *entry = FindClass(className);
  if (entry == nullptr) return FALSE;
  for (const auto &[handle, window] : W().windows) {
    if (!window.destroyed && EqualNoCase(window.className, entry->name)) return FALSE;
  }
  W().classes.erase(Lower(entry->name));
  return TRUE;
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
  SimEvent e{SimEventKind::RegisterWindowMessage};
  e.name = SafeString(name);
  const size_t at = Record(e);
  if (name == nullptr || IS_INTRESOURCE(name) || *name == '\0') return 0;
  World &w = W();
  auto [entry, added] = w.registeredMessages.emplace(Lower(name), 0);
  if (added) entry->second = w.nextAtom++;
  RecordResult(at, entry->second);
  return entry->second;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR iconName) {
  if (instance == nullptr && IS_INTRESOURCE(iconName) && IsSystemIconId(Raw(iconName))) {
    return As<HICON>(SystemIconBase + Raw(iconName));
  }
  return nullptr;  // the program carries no icon
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR cursorName) {
  if (instance == nullptr && IS_INTRESOURCE(cursorName) && IsSystemCursorId(Raw(cursorName))) {
    return As<HCURSOR>(SystemCursorBase + Raw(cursorName));
  }
  return nullptr;
}

// ---- Creation and destruction ---------------------------------------------------------
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  SimEvent e{SimEventKind::CreateWindow};
  e.max = exStyle;
  e.name = SafeString(className);
  e.text = SafeString(windowName);
  e.flags = style;
  e.rect = {x, y, x + width, y + height};
  e.parent = parent;
  e.menu = menu;
  e.instance = instance;
  e.param = param;
  const size_t at = Record(e);
  const HWND window =
      CreateAndAnnounce(exStyle, className, windowName, style, x, y, width, height, parent, menu, instance, param);
  RecordResult(at, static_cast<INT_PTR>(Raw(window)));
  return window;
}

// WM_DESTROY goes to the window first and then down to its children; owned
// popups go before their owner. Timers and queued messages die with them.
BOOL WINAPI DestroyWindow(HWND window) {
  SimEvent e{SimEventKind::DestroyWindow};
  e.window = window;
  const size_t at = Record(e);
  Window *target = LiveWindow(window);
  if (target == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (target->destroying) return TRUE;
  DestroyOwnedPopups(Raw(window));
  std::vector<uintptr_t> doomed;
  CollectSubtree(Raw(window), &doomed);
  for (uintptr_t id : doomed) W().windows[id].destroying = true;
  for (uintptr_t id : doomed) SendSynthetic(As<HWND>(id), WM_DESTROY, 0, 0);
  for (uintptr_t id : doomed) ForgetWindow(id);
  RecordResult(at, TRUE);
  return TRUE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
  SimEvent e{SimEventKind::ShowWindow};
  e.window = window;
  e.value = command;
  const size_t at = Record(e);
  const BOOL wasVisible = ApplyShow(window, command != SW_HIDE);
  RecordResult(at, wasVisible);
  return wasVisible;
}

// ---- Default handling and messages to procedures ----------------------------------------
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SimEvent e{SimEventKind::DefWindowProc};
  e.window = window;
  e.message = message;
  e.wParam = wParam;
  e.lParam = lParam;
  const size_t at = Record(e);
  const LRESULT result = DefaultHandling(window, message, wParam, lParam);
  RecordResult(at, result);
  return result;
}

LRESULT sim::DefaultHandling(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Window *target = LiveWindow(window);
  if (target == nullptr) return 0;
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_PAINT:
      return DefaultPaint(window);
    case WM_ERASEBKGND:
      return target->background != nullptr ? 1 : 0;
    case WM_SETTEXT:
      target->title = lParam ? reinterpret_cast<const char *>(lParam) : "";
      return TRUE;
    case WM_GETTEXT:
      return CopyTitle(*target, wParam, lParam);
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(target->title.size());
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) SendSynthetic(window, WM_CLOSE, 0, 0);
      return 0;
    default:
      return 0;
  }
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SimEvent e{SimEventKind::SendMessage};
  e.window = window;
  e.message = message;
  e.wParam = wParam;
  e.lParam = lParam;
  const size_t at = Record(e);
  if (LiveWindow(window) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  const LRESULT result = CallWindow(window, message, wParam, lParam);
  RecordResult(at, result);
  return result;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(window, message, wParam, lParam) : 0;
}

// ---- Questions about windows ---------------------------------------------------------------
BOOL WINAPI IsWindow(HWND window) { return LiveWindow(window) != nullptr ? TRUE : FALSE; }

HWND WINAPI GetParent(HWND window) {
  const Window *target = LiveWindow(window);
  if (target == nullptr) return nullptr;
  return As<HWND>(target->style & WS_CHILD ? target->parent : target->owner);
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
  const Window *target = LiveWindow(window);
  if (target == nullptr || rect == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *rect = {0, 0, target->width, target->height};
  return TRUE;
}

LONG WINAPI GetWindowLongA(HWND window, int index) {
  const Window *target = LiveWindow(window);
  if (target == nullptr) return 0;
  switch (index) {
    case GWL_STYLE: return static_cast<LONG>(target->style);
    case GWL_EXSTYLE: return static_cast<LONG>(target->exStyle);
    case GWL_ID: return static_cast<LONG>(Raw(target->menu));
    case GWL_HINSTANCE: return static_cast<LONG>(Raw(target->instance));
    case GWL_HWNDPARENT: return static_cast<LONG>(target->owner);
    default: return 0;
  }
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  if (LiveWindow(window) == nullptr) return FALSE;
  return static_cast<BOOL>(SendSynthetic(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

// Another process's window answers from the title the system keeps; our own
// windows are asked.
int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax <= 0) return 0;
  buffer[0] = '\0';
  const Window *target = LiveWindow(window);
  if (target == nullptr) return 0;
  if (target->foreign) return static_cast<int>(CopyTitle(*target, static_cast<WPARAM>(bufferMax), reinterpret_cast<LPARAM>(buffer)));
  return static_cast<int>(SendSynthetic(window, WM_GETTEXT, static_cast<WPARAM>(bufferMax),
                                        reinterpret_cast<LPARAM>(buffer)));
}

// Top-level windows only, newest first, class and title without regard to case.
HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
  const std::vector<uintptr_t> &order = W().windowOrder;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const Window *window = LiveWindow(*it);
    if (window == nullptr || (window->style & WS_CHILD)) continue;
    if (className != nullptr && !IS_INTRESOURCE(className) && !EqualNoCase(window->className, className)) continue;
    if (windowName != nullptr && !EqualNoCase(window->title, windowName)) continue;
    return As<HWND>(*it);
  }
  return nullptr;
}

HWND WINAPI GetForegroundWindow() { return As<HWND>(W().foreground); }

BOOL WINAPI SetForegroundWindow(HWND window) {
  SimEvent e{SimEventKind::SetForegroundWindow};
  e.window = window;
  const size_t at = Record(e);
  if (LiveWindow(window) == nullptr) return FALSE;
  W().foreground = Raw(window);
  RecordResult(at, TRUE);
  return TRUE;
}

BOOL WINAPI GetCursorPos(LPPOINT point) {
  if (point == nullptr) return FALSE;
  *point = W().cursorPos;
  return TRUE;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
  SimEvent e{SimEventKind::SetCursor};
  e.cursor = cursor;
  Record(e);
  const HCURSOR previous = W().cursorShape;
  W().cursorShape = cursor;
  return previous;
}

// ---- Test controls ------------------------------------------------------------------------
HWND SimCreateForeignWindow(const SimWindowShape &shape) {
  if (shape.parent != nullptr && LiveWindow(shape.parent) == nullptr) throw SimError("foreign window: parent names no window");
  if ((shape.style & WS_CHILD) && shape.parent == nullptr) throw SimError("foreign window: a child needs a parent");
  Window record;
  record.className = shape.className;
  record.title = shape.title;
  record.style = shape.style;
  record.exStyle = shape.exStyle;
  record.width = std::max(shape.width, 0);
  record.height = std::max(shape.height, 0);
  (shape.style & WS_CHILD ? record.parent : record.owner) = Raw(shape.parent);
  record.foreign = true;
  record.testProc = shape.proc;
  return CreateWindowRecord(record);
}

HWND SimCreatePreviewParent(int width, int height) {
  SimWindowShape shape;
  shape.className = "SimPreviewParent";
  shape.title = "Display Properties";
  shape.width = width;
  shape.height = height;
  return SimCreateForeignWindow(shape);
}

HWND SimCreateRunningSaver() {
  SimWindowShape shape;
  shape.className = "WindowsScreenSaverClass";
  shape.title = "Screen Saver";
  shape.style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  shape.exStyle = WS_EX_TOPMOST;
  shape.width = W().screen.right - W().screen.left;
  shape.height = W().screen.bottom - W().screen.top;
  return SimCreateForeignWindow(shape);
}

std::vector<MSG> SimForeignPosts(HWND window) {
  auto found = W().windows.find(Raw(window));
  return found == W().windows.end() ? std::vector<MSG>{} : found->second.foreignPosts;
}

SimWindowInfo SimGetWindow(HWND window) {
  const Window *w = LiveWindow(window);
  if (w == nullptr) throw SimError("SimGetWindow: " + SimHex(window) + " names no window");
  return {window,         w->className, w->title, w->style, w->exStyle, w->x, w->y, w->width, w->height,
          As<HWND>(w->parent), As<HWND>(w->owner), w->menu, w->instance, w->foreign, w->needsPaint};
}

std::vector<HWND> SimWindows() {
  std::vector<HWND> live;
  for (uintptr_t id : W().windowOrder) {
    if (LiveWindow(id) != nullptr) live.push_back(As<HWND>(id));
  }
  return live;
}

HWND SimFindWindowOfClass(const std::string &className) {
  const std::vector<uintptr_t> &order = W().windowOrder;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const Window *window = LiveWindow(*it);
    if (window != nullptr && EqualNoCase(window->className, className)) return As<HWND>(*it);
  }
  return nullptr;
}
