// The end-to-end harness: process control, window discovery, screen reading, real input
// and the case report. See driver.h.
#include "tests/e2e/driver.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

constexpr int MaxStartedProcesses = 32;
constexpr int MaxWatchedWindows = 256;
constexpr int DetailSize = 1024;
constexpr DWORD EndProcessTimeoutMs = 5000;
constexpr UINT EndedByDriverCode = 0xDEADu;
constexpr int NormalizedMouseRange = 65536;  // absolute SendInput coordinates are 0..65535

struct SuiteRecord {
  const char *name;
  char saverPath[MAX_PATH];
  int passed;
  int failed;
  const char *caseName;
  bool caseOpen;
  bool caseFailed;
  char detail[DetailSize];
  HANDLE started[MaxStartedProcesses];
  DWORD startedThreads[MaxStartedProcesses];
  int startedCount;
};

struct WindowWatch {
  HWINEVENTHOOK hook;
  int count;
  HWND windows[MaxWatchedWindows];
  DWORD threads[MaxWatchedWindows];
  DWORD processes[MaxWatchedWindows];
};

SuiteRecord suite;
WindowWatch watch;

const char *BaseName(const char *path) {
  const char *slash = strrchr(path, '/');
  const char *backslash = strrchr(path, '\\');
  if (backslash > slash) slash = backslash;
  return slash ? slash + 1 : path;
}

void AppendDetail(const char *format, va_list args) {
  size_t used = strlen(suite.detail);
  if (used > 0 && used + 2 < sizeof(suite.detail)) {
    strcat(suite.detail, "; ");
    used += 2;
  }
  if (used + 1 < sizeof(suite.detail)) {
    vsnprintf(suite.detail + used, sizeof(suite.detail) - used, format, args);
  }
}

void DefaultSaverPath() {
  char *slash;
  DWORD length = GetModuleFileNameA(nullptr, suite.saverPath, sizeof(suite.saverPath));
  if (length == 0 || length >= sizeof(suite.saverPath)) {
    strcpy(suite.saverPath, "quorvane.scr");
    return;
  }
  slash = strrchr(suite.saverPath, '\\');
  if (!slash) slash = strrchr(suite.saverPath, '/');
  if (slash && (size_t)(slash + 1 - suite.saverPath) + sizeof("quorvane.scr") <= sizeof(suite.saverPath)) {
    strcpy(slash + 1, "quorvane.scr");
  } else {
    strcpy(suite.saverPath, "quorvane.scr");
  }
}

void RememberStarted(const PROCESS_INFORMATION &info) {
  if (suite.startedCount < MaxStartedProcesses) {
    suite.started[suite.startedCount] = info.hProcess;
    suite.startedThreads[suite.startedCount] = info.dwThreadId;
    ++suite.startedCount;
  }
}

void ForgetStarted(HANDLE handle) {
  for (int i = 0; i < suite.startedCount; ++i) {
    if (suite.started[i] == handle) {
      suite.started[i] = suite.started[suite.startedCount - 1];
      suite.startedThreads[i] = suite.startedThreads[suite.startedCount - 1];
      --suite.startedCount;
      return;
    }
  }
}

DWORD MainThreadOf(DWORD processId) {
  for (int i = 0; i < suite.startedCount; ++i) {
    if (GetProcessId(suite.started[i]) == processId) return suite.startedThreads[i];
  }
  return 0;
}

void AddWindow(WindowList *list, HWND window) {
  for (int i = 0; i < list->count; ++i) {
    if (list->windows[i] == window) return;
  }
  if (list->count < MaxWindows) list->windows[list->count++] = window;
}

DWORD WindowProcess(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  return processId;
}

struct WindowSearch {
  DWORD processId;
  WindowList *list;
};

BOOL CALLBACK CollectTopWindow(HWND window, LPARAM parameter) {
  WindowSearch *search = reinterpret_cast<WindowSearch *>(parameter);
  if (WindowProcess(window) == search->processId) AddWindow(search->list, window);
  return TRUE;
}

BOOL CALLBACK CollectChildWindow(HWND window, LPARAM parameter) {
  WindowSearch *search = reinterpret_cast<WindowSearch *>(parameter);
  if (search->processId == 0 || WindowProcess(window) == search->processId) {
    AddWindow(search->list, window);
  }
  return TRUE;
}

void CollectDescendants(HWND parent, DWORD processId, WindowList *list) {
  WindowSearch search = {processId, list};
  EnumChildWindows(parent, CollectChildWindow, reinterpret_cast<LPARAM>(&search));
}

void CALLBACK WindowCreated(HWINEVENTHOOK, DWORD, HWND window, LONG objectId, LONG childId,
                            DWORD thread, DWORD) {
  if (objectId != OBJID_WINDOW || childId != CHILDID_SELF || !window) return;
  if (watch.count >= MaxWatchedWindows) return;
  watch.windows[watch.count] = window;
  watch.threads[watch.count] = thread;
  // The window may already be gone when the event arrives; the thread still names it.
  watch.processes[watch.count] = WindowProcess(window);
  ++watch.count;
}

void SendMouse(DWORD flags, LONG dx, LONG dy) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = dx;
  input.mi.dy = dy;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof(input));
}

// The normalized coordinate that lands exactly on `pixel` whichever way the system
// rounds (pixel = normalized * size / 65536).
LONG Normalized(int pixel, int size) {
  long long value = ((long long)pixel * NormalizedMouseRange + size - 1) / size;
  if (value > NormalizedMouseRange - 1) value = NormalizedMouseRange - 1;
  if (value < 0) value = 0;
  return (LONG)value;
}

bool CursorAt(int x, int y) {
  POINT position;
  return GetCursorPos(&position) && position.x == x && position.y == y;
}

}  // namespace

// ---- Suite and cases ----------------------------------------------------------------------

void BeginSuite(const char *name, int argc, char **argv) {
  char fromEnvironment[MAX_PATH];
  DWORD length;
  setvbuf(stdout, nullptr, _IONBF, 0);
  memset(&suite, 0, sizeof(suite));
  suite.name = name;
  length = GetEnvironmentVariableA("QV_SCR", fromEnvironment, sizeof(fromEnvironment));
  if (argc > 1 && strlen(argv[1]) < sizeof(suite.saverPath)) {
    strcpy(suite.saverPath, argv[1]);
  } else if (length > 0 && length < sizeof(fromEnvironment)) {
    strcpy(suite.saverPath, fromEnvironment);
  } else {
    DefaultSaverPath();
  }
}

int EndSuite() {
  if (suite.caseOpen) EndCase();
  StopWindowWatch();
  while (suite.startedCount > 0) {
    Process leftover = {suite.started[0], GetProcessId(suite.started[0])};
    EndProcess(&leftover);
  }
  printf("%s: %d passed, %d failed\n", suite.name, suite.passed, suite.failed);
  // A suite that ran no case proves nothing and counts as a failure.
  return (suite.failed == 0 && suite.passed > 0) ? 0 : 1;
}

void BeginCase(const char *name) {
  if (suite.caseOpen) EndCase();
  suite.caseName = name;
  suite.caseOpen = true;
  suite.caseFailed = false;
  suite.detail[0] = '\0';
}

bool EndCase() {
  bool passed = !suite.caseFailed;
  if (!suite.caseOpen) return true;
  suite.caseOpen = false;
  if (passed) {
    ++suite.passed;
    printf("PASS %s\n", suite.caseName);
  } else {
    ++suite.failed;
    printf("FAIL %s: %s\n", suite.caseName, suite.detail);
  }
  return passed;
}

bool CaseFailing() { return suite.caseFailed; }

void FailCase(const char *format, ...) {
  va_list args;
  suite.caseFailed = true;
  va_start(args, format);
  AppendDetail(format, args);
  va_end(args);
}

bool CheckThat(bool condition, const char *text, const char *file, int line) {
  if (!condition) FailCase("%s is false (%s:%d)", text, BaseName(file), line);
  return condition;
}

bool CheckEqualU32(unsigned long actual, unsigned long expected, const char *actualText,
                   const char *file, int line) {
  if (actual != expected) {
    FailCase("%s is 0x%08lX, expected 0x%08lX (%s:%d)", actualText, actual, expected,
             BaseName(file), line);
  }
  return actual == expected;
}

// ---- Processes -------------------------------------------------------------------------------

const char *SaverPath() { return suite.saverPath; }

bool StartSaver(const char *tail, Process *process) {
  char commandLine[2048];
  int written;
  if (tail && tail[0]) {
    written = snprintf(commandLine, sizeof(commandLine), "\"%s\" %s", suite.saverPath, tail);
  } else {
    written = snprintf(commandLine, sizeof(commandLine), "\"%s\"", suite.saverPath);
  }
  if (written < 0 || (size_t)written >= sizeof(commandLine)) {
    FailCase("command line too long");
    return false;
  }
  return StartCommandLine(commandLine, process);
}

bool StartCommandLine(const char *commandLine, Process *process) {
  char writable[2048];
  STARTUPINFOA startup = {};
  PROCESS_INFORMATION info = {};
  process->handle = nullptr;
  process->id = 0;
  if (strlen(commandLine) >= sizeof(writable)) {
    FailCase("command line too long");
    return false;
  }
  strcpy(writable, commandLine);
  startup.cb = sizeof(startup);
  if (!CreateProcessA(nullptr, writable, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    FailCase("CreateProcess(%s) failed with error %lu", commandLine, GetLastError());
    return false;
  }
  CloseHandle(info.hThread);
  RememberStarted(info);
  process->handle = info.hProcess;
  process->id = info.dwProcessId;
  return true;
}

bool WaitForExit(Process *process, DWORD timeoutMs, DWORD *exitCode) {
  DWORD start = GetTickCount();
  if (!process->handle) return false;
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    DWORD remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    DWORD result = MsgWaitForMultipleObjects(1, &process->handle, FALSE, remaining, QS_ALLINPUT);
    if (result == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(process->handle, &code);
      if (exitCode) *exitCode = code;
      return true;
    }
    if (result != WAIT_OBJECT_0 + 1) return false;
    PumpMessages(0);
  }
}

bool ProcessRunning(const Process *process) {
  return process->handle && WaitForSingleObject(process->handle, 0) == WAIT_TIMEOUT;
}

void EndProcess(Process *process) {
  if (!process->handle) return;
  if (ProcessRunning(process)) {
    TerminateProcess(process->handle, EndedByDriverCode);
    WaitForSingleObject(process->handle, EndProcessTimeoutMs);
  }
  ReleaseProcess(process);
}

void ReleaseProcess(Process *process) {
  if (!process->handle) return;
  ForgetStarted(process->handle);
  CloseHandle(process->handle);
  process->handle = nullptr;
}

// ---- Polling ---------------------------------------------------------------------------------

void PumpMessages(DWORD ms) {
  DWORD start = GetTickCount();
  MSG message;
  for (;;) {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

// ---- Windows ---------------------------------------------------------------------------------

void FindTopWindows(DWORD processId, WindowList *list) {
  WindowSearch search = {processId, list};
  list->count = 0;
  EnumWindows(CollectTopWindow, reinterpret_cast<LPARAM>(&search));
}

void FindChildWindows(HWND parent, WindowList *list) {
  list->count = 0;
  CollectDescendants(parent, 0, list);
}

void FindProcessWindows(DWORD processId, HWND extraParent, WindowList *list) {
  WindowList top;
  FindTopWindows(processId, &top);
  list->count = 0;
  for (int i = 0; i < top.count; ++i) {
    AddWindow(list, top.windows[i]);
    CollectDescendants(top.windows[i], processId, list);
  }
  if (extraParent) CollectDescendants(extraParent, processId, list);
}

HWND FindTopWindow(DWORD processId, const char *className, const char *title) {
  WindowList list;
  WindowFacts facts;
  FindTopWindows(processId, &list);
  for (int i = 0; i < list.count; ++i) {
    if (!ReadWindow(list.windows[i], &facts)) continue;
    if (className && strcmp(facts.className, className) != 0) continue;
    if (title && strcmp(facts.title, title) != 0) continue;
    return list.windows[i];
  }
  return nullptr;
}

bool ReadWindow(HWND window, WindowFacts *facts) {
  memset(facts, 0, sizeof(*facts));
  if (!IsWindow(window)) return false;
  // Visibility first: a window caught while it is being shown then never reads
  // as visible with a style that still lacks WS_VISIBLE.
  facts->visible = IsWindowVisible(window) != FALSE;
  GetClassNameA(window, facts->className, sizeof(facts->className));
  // For another process's window this reads the stored title; no WM_GETTEXT is sent.
  GetWindowTextA(window, facts->title, sizeof(facts->title));
  facts->style = GetWindowLongA(window, GWL_STYLE);
  facts->exStyle = GetWindowLongA(window, GWL_EXSTYLE);
  GetWindowRect(window, &facts->windowRect);
  GetClientRect(window, &facts->clientRect);
  facts->parent = GetAncestor(window, GA_PARENT);
  facts->processId = WindowProcess(window);
  facts->topmost = (facts->exStyle & WS_EX_TOPMOST) != 0;
  return IsWindow(window) != FALSE;
}

void StartWindowWatch() {
  StopWindowWatch();
  watch.count = 0;
  watch.hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, WindowCreated,
                               0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
}

void StopWindowWatch() {
  if (watch.hook) UnhookWinEvent(watch.hook);
  watch.hook = nullptr;
}

int WindowsCreatedBy(DWORD processId) {
  DWORD mainThread = MainThreadOf(processId);
  int count = 0;
  for (int i = 0; i < watch.count; ++i) {
    if (watch.processes[i] == processId || (mainThread && watch.threads[i] == mainThread)) ++count;
  }
  return count;
}

// ---- Screen ------------------------------------------------------------------------------------

int ScreenWidth() { return GetSystemMetrics(SM_CXSCREEN); }
int ScreenHeight() { return GetSystemMetrics(SM_CYSCREEN); }

bool CaptureScreen(ScreenShot *shot) {
  BITMAPINFO info = {};
  void *bits = nullptr;
  HDC screen;
  memset(shot, 0, sizeof(*shot));
  shot->width = ScreenWidth();
  shot->height = ScreenHeight();
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = shot->width;
  info.bmiHeader.biHeight = -shot->height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  screen = GetDC(nullptr);
  if (!screen) return false;
  shot->dc = CreateCompatibleDC(screen);
  shot->bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!shot->dc || !shot->bitmap) {
    ReleaseDC(nullptr, screen);
    ReleaseScreenShot(shot);
    return false;
  }
  shot->oldBitmap = SelectObject(shot->dc, shot->bitmap);
  BOOL copied = BitBlt(shot->dc, 0, 0, shot->width, shot->height, screen, 0, 0, SRCCOPY);
  ReleaseDC(nullptr, screen);
  GdiFlush();
  shot->pixels = static_cast<const DWORD *>(bits);
  if (!copied) ReleaseScreenShot(shot);
  return copied != FALSE;
}

void ReleaseScreenShot(ScreenShot *shot) {
  if (shot->dc && shot->oldBitmap) SelectObject(shot->dc, shot->oldBitmap);
  if (shot->bitmap) DeleteObject(shot->bitmap);
  if (shot->dc) DeleteDC(shot->dc);
  memset(shot, 0, sizeof(*shot));
}

COLORREF ShotPixel(const ScreenShot *shot, int x, int y) {
  if (!shot->pixels || x < 0 || y < 0 || x >= shot->width || y >= shot->height) return CLR_INVALID;
  DWORD pixel = shot->pixels[(size_t)y * shot->width + x];
  return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

int CountNonBlack(const ScreenShot *shot, RECT area) {
  int count = 0;
  if (!shot->pixels) return 0;
  if (area.left < 0) area.left = 0;
  if (area.top < 0) area.top = 0;
  if (area.right > shot->width) area.right = shot->width;
  if (area.bottom > shot->height) area.bottom = shot->height;
  for (int y = area.top; y < area.bottom; ++y) {
    const DWORD *row = shot->pixels + (size_t)y * shot->width;
    for (int x = area.left; x < area.right; ++x) {
      if ((row[x] & 0x00FFFFFFu) != 0) ++count;
    }
  }
  return count;
}

COLORREF ScreenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  COLORREF colour = screen ? GetPixel(screen, x, y) : CLR_INVALID;
  if (screen) ReleaseDC(nullptr, screen);
  return colour;
}

// ---- Input -----------------------------------------------------------------------------------

bool MoveMouseTo(int x, int y) {
  SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, Normalized(x, ScreenWidth()),
            Normalized(y, ScreenHeight()));
  return PollUntil([&] { return CursorAt(x, y); }, 2000);
}

// Relative moves go through the absolute path: relative input is subject to the
// system's pointer acceleration, and the tests need exact pixel distances.
bool MoveMouseBy(int dx, int dy) {
  POINT position;
  if (!GetCursorPos(&position)) return false;
  return MoveMouseTo(position.x + dx, position.y + dy);
}

bool ClickMouse() {
  SendMouse(MOUSEEVENTF_LEFTDOWN, 0, 0);
  SendMouse(MOUSEEVENTF_LEFTUP, 0, 0);
  return true;
}

bool PressKey(WORD virtualKey) {
  INPUT inputs[2] = {};
  for (int i = 0; i < 2; ++i) {
    inputs[i].type = INPUT_KEYBOARD;
    inputs[i].ki.wVk = virtualKey;
    inputs[i].ki.wScan = (WORD)MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
  }
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  return SendInput(2, inputs, sizeof(INPUT)) == 2;
}
