// The running saver under Wine: the full-screen window and its command lines, the
// lines it draws, the single-instance rule, real input ending it, and the preview
// inside a parent window that this driver makes.
#include "tests/e2e/driver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char SaverClass[] = "WindowsScreenSaverClass";
const char SaverTitle[] = "Screen Saver";
const char PreviewTitle[] = "Preview";
const char ParentClass[] = "QorvanePreviewParent";

constexpr DWORD SaverStyle = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD PreviewStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;

constexpr DWORD WindowTimeoutMs = 15000;
constexpr DWORD DrawTimeoutMs = 5000;
constexpr DWORD EchoTimeoutMs = 5000;
// A preview whose parent goes away must follow it promptly.
constexpr DWORD ParentGoneTimeoutMs = 1000;
constexpr UINT SendTimeoutMs = 5000;

// Every hue of the wheel has one channel full and one empty, so a line pixel is far
// from grey; Xvfb's root pattern and the black background have equal channels.
constexpr int MinChannelSpread = 128;
// Ticks the saver must visibly draw after an input before the input counts as handled:
// input is retrieved ahead of timer ticks, so a tick drawn after the input was queued
// shows that the input went through the saver's loop.
constexpr int TicksAfterInput = 2;

// ---- Saver windows ---------------------------------------------------------------------

int CountClassWindows(DWORD processId, HWND extraParent) {
  WindowList list = {};
  FindProcessWindows(processId, extraParent, &list);
  int count = 0;
  WindowFacts facts;
  for (int i = 0; i < list.count; ++i) {
    if (ReadWindow(list.windows[i], &facts) && strcmp(facts.className, SaverClass) == 0) ++count;
  }
  return count;
}

// Visible in the style that was read, not only by the time the visibility was asked:
// a window can be found before WS_VISIBLE has been applied.
bool ShownWhenRead(const WindowFacts &facts) { return facts.visible && (facts.style & WS_VISIBLE) != 0; }

// Waits for the process's full-screen window to be visible; returns it, or null.
HWND WaitForSaverWindow(const Process &saver, WindowFacts *facts) {
  HWND window = nullptr;
  const bool found = PollUntil(
      [&] {
        window = FindTopWindow(saver.id, SaverClass, SaverTitle);
        return window != nullptr && ReadWindow(window, facts) && ShownWhenRead(*facts);
      },
      WindowTimeoutMs);
  return found ? window : nullptr;
}

bool StartFullScreen(const char *tail, Process *saver, HWND *window, WindowFacts *facts) {
  if (!CHECKF(StartSaver(tail, saver), "could not start the saver with \"%s\"", tail)) return false;
  *window = WaitForSaverWindow(*saver, facts);
  return CHECKF(*window != nullptr, "no visible \"%s\" window within %lu ms", SaverTitle, WindowTimeoutMs);
}

bool EndsWithExitCode(Process *process, DWORD expected, DWORD timeoutMs) {
  DWORD code = 0;
  if (!CHECKF(WaitForExit(process, timeoutMs, &code), "still running %lu ms after it should have ended",
              timeoutMs)) {
    return false;
  }
  ReleaseProcess(process);
  return CHECK_EQ_U32(code, expected);
}

void EndIfRunning(Process *process) {
  if (process->handle != nullptr) EndProcess(process);
}

// ---- Pixels ------------------------------------------------------------------------------

bool IsColoured(DWORD pixel) {
  const int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
  const int high = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int low = r < g ? (r < b ? r : b) : (g < b ? g : b);
  return high - low >= MinChannelSpread;
}

struct PixelCount {
  int coloured;
  int black;
  int total;
};

PixelCount CountPixels(const ScreenShot &shot, const RECT &area) {
  PixelCount count = {0, 0, 0};
  for (int y = area.top; y < area.bottom && y < shot.height; ++y) {
    for (int x = area.left; x < area.right && x < shot.width; ++x) {
      const DWORD pixel = shot.pixels[y * shot.width + x] & 0xFFFFFF;
      ++count.total;
      if (pixel == 0) ++count.black;
      if (IsColoured(pixel)) ++count.coloured;
    }
  }
  return count;
}

// A copy of the screen's pixels, to see whether anything was drawn since.
struct Picture {
  int width;
  int height;
  DWORD *pixels;
};

bool TakePicture(Picture *picture) {
  ScreenShot shot;
  if (!CaptureScreen(&shot)) return false;
  const size_t size = static_cast<size_t>(shot.width) * shot.height;
  picture->width = shot.width;
  picture->height = shot.height;
  picture->pixels = static_cast<DWORD *>(malloc(size * sizeof(DWORD)));
  if (picture->pixels != nullptr) memcpy(picture->pixels, shot.pixels, size * sizeof(DWORD));
  ReleaseScreenShot(&shot);
  return picture->pixels != nullptr;
}

bool ScreenDiffersFrom(const Picture &picture) {
  ScreenShot shot;
  if (!CaptureScreen(&shot)) return false;
  bool differs = shot.width != picture.width || shot.height != picture.height ||
                 memcmp(shot.pixels, picture.pixels, sizeof(DWORD) * shot.width * shot.height) != 0;
  ReleaseScreenShot(&shot);
  return differs;
}

// Waits until the saver has visibly drawn `ticks` more times.
bool WaitForDrawnTicks(int ticks) {
  for (int i = 0; i < ticks; ++i) {
    Picture before = {0, 0, nullptr};
    if (!TakePicture(&before)) return false;
    const bool changed = PollUntil([&] { return ScreenDiffersFrom(before); }, DrawTimeoutMs);
    free(before.pixels);
    if (!changed) return false;
  }
  return true;
}

// ---- Real input ----------------------------------------------------------------------

POINT ScreenCentre() { return {ScreenWidth() / 2, ScreenHeight() / 2}; }

// ---- The preview's parent ----------------------------------------------------------------

// What the parent has been handed by the preview.
struct ForwardedMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  int count;
};
ForwardedMessage forwarded[2];  // WM_HELP, WM_CONTEXTMENU

ForwardedMessage *ForwardSlot(UINT message) {
  if (message == WM_HELP) return &forwarded[0];
  if (message == WM_CONTEXTMENU) return &forwarded[1];
  return nullptr;
}

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ForwardedMessage *slot = ForwardSlot(message);
  if (slot != nullptr) {
    slot->message = message;
    slot->wParam = wParam;
    slot->lParam = lParam;
    ++slot->count;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterParentClass() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSA parentClass = {};
  parentClass.lpfnWndProc = ParentProc;
  parentClass.hInstance = GetModuleHandleA(nullptr);
  parentClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  parentClass.lpszClassName = ParentClass;
  registered = RegisterClassA(&parentClass) != 0;
  return registered;
}

HWND MakeParent(int x, int y, int width, int height) {
  if (!RegisterParentClass()) return nullptr;
  memset(forwarded, 0, sizeof forwarded);
  return CreateWindowExA(0, ParentClass, "Preview parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width, height,
                         nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void DestroyParent(HWND *parent) {
  if (*parent != nullptr && IsWindow(*parent)) DestroyWindow(*parent);
  *parent = nullptr;
}

// Waits for the process's visible preview child inside the parent.
HWND WaitForPreviewWindow(const Process &saver, HWND parent, WindowFacts *facts) {
  HWND child = nullptr;
  const bool found = PollUntil(
      [&] {
        WindowList list = {};
        FindChildWindows(parent, &list);
        for (int i = 0; i < list.count; ++i) {
          if (ReadWindow(list.windows[i], facts) && facts->processId == saver.id &&
              strcmp(facts->className, SaverClass) == 0 && ShownWhenRead(*facts)) {
            child = list.windows[i];
            return true;
          }
        }
        return false;
      },
      WindowTimeoutMs);
  return found ? child : nullptr;
}

bool StartPreviewIn(HWND parent, const char *format, Process *saver, HWND *child, WindowFacts *facts) {
  char tail[64];
  snprintf(tail, sizeof tail, format, static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(parent)));
  if (!CHECKF(StartSaver(tail, saver), "could not start the saver with \"%s\"", tail)) return false;
  *child = WaitForPreviewWindow(*saver, parent, facts);
  return CHECKF(*child != nullptr, "no visible preview child within %lu ms for \"%s\"", WindowTimeoutMs, tail);
}

// Posts a context-menu request to the preview and waits for it to come back to the
// parent. Posted messages are handled in order, so everything posted to the preview
// before it has been handled once it arrives.
bool EchoThroughPreview(HWND child, HWND parent, LPARAM marker) {
  ForwardedMessage &slot = forwarded[1];
  const int before = slot.count;
  if (!CHECKF(PostMessageA(child, WM_CONTEXTMENU, 0, marker), "could not post to the preview")) return false;
  if (!CHECKF(PollUntil([&] { return slot.count > before; }, EchoTimeoutMs),
              "the context-menu request did not reach the parent within %lu ms", EchoTimeoutMs)) {
    return false;
  }
  return CHECK_EQ_U32(slot.wParam, reinterpret_cast<UINT_PTR>(parent)) && CHECK_EQ_U32(slot.lParam, marker);
}

// ---- Cases: full screen --------------------------------------------------------------

const char *const SaveModeTails[] = {"/s", "-s", "s", "/S", "//s", "/ s", "/s extra"};

void SaveModeTailMakesOneTopmostFullScreenWindow(const char *tail) {
  char name[96];
  snprintf(name, sizeof name, "SaveModeTailMakesOneTopmostFullScreenWindow[%s]", tail);
  BeginCase(name);
  Process saver = {nullptr, 0};
  HWND window = nullptr;
  WindowFacts facts;
  if (StartFullScreen(tail, &saver, &window, &facts)) {
    CHECK_EQ_U32(facts.style, SaverStyle);
    CHECK_EQ_U32(facts.exStyle & WS_EX_TOPMOST, WS_EX_TOPMOST);
    CHECK(facts.topmost);
    CHECKF(facts.windowRect.left == 0 && facts.windowRect.top == 0 && facts.windowRect.right == ScreenWidth() &&
               facts.windowRect.bottom == ScreenHeight(),
           "window at (%ld,%ld)-(%ld,%ld), screen %dx%d", facts.windowRect.left, facts.windowRect.top,
           facts.windowRect.right, facts.windowRect.bottom, ScreenWidth(), ScreenHeight());
    CHECK_EQ_U32(CountClassWindows(saver.id, nullptr), 1);
    CHECK(ProcessRunning(&saver));
  }
  EndIfRunning(&saver);
  EndCase();
}

void FullScreenSaverDrawsColouredLinesOnBlack() {
  BeginCase("FullScreenSaverDrawsColouredLinesOnBlack");
  Process saver = {nullptr, 0};
  HWND window = nullptr;
  WindowFacts facts;
  if (StartFullScreen("/s", &saver, &window, &facts)) {
    PixelCount count = {0, 0, 0};
    const bool drawn = PollUntil(
        [&] {
          ScreenShot shot;
          if (!CaptureScreen(&shot)) return false;
          count = CountPixels(shot, facts.windowRect);
          ReleaseScreenShot(&shot);
          return count.coloured > 0 && count.black > count.total / 2;
        },
        DrawTimeoutMs);
    CHECKF(drawn, "after %lu ms: %d coloured and %d black of %d pixels", DrawTimeoutMs, count.coloured,
           count.black, count.total);
  }
  EndIfRunning(&saver);
  EndCase();
}

void SecondSaveModeStartExitsZeroWithoutWindow() {
  BeginCase("SecondSaveModeStartExitsZeroWithoutWindow");
  Process first = {nullptr, 0}, second = {nullptr, 0};
  HWND window = nullptr;
  WindowFacts facts;
  if (StartFullScreen("/s", &first, &window, &facts)) {
    StartWindowWatch();
    if (CHECK(StartSaver("/s", &second))) {
      const DWORD secondId = second.id;
      EndsWithExitCode(&second, 0, DefaultExitTimeoutMs);
      CHECK_EQ_U32(WindowsCreatedBy(secondId), 0);
    }
    StopWindowWatch();
    CHECK(ProcessRunning(&first));
    CHECK(IsWindow(window));
    CHECK(FindWindowExA(nullptr, window, SaverClass, nullptr) == nullptr);
    CHECK(FindWindowA(SaverClass, nullptr) == window);
  }
  EndIfRunning(&second);
  EndIfRunning(&first);
  EndCase();
}

// Cursor offsets from the saver's reference point, applied one after another: each
// stays within 4 pixels (horizontal plus vertical) of where the saver started.
const POINT SmallOffsets[] = {{1, 0}, {2, 0}, {3, 0}, {3, 1}, {0, 0}, {-2, 2}, {0, -4}, {-4, 0}};

void MouseMovesOfFourPixelsKeepSaverRunning() {
  BeginCase("MouseMovesOfFourPixelsKeepSaverRunning");
  const POINT start = ScreenCentre();
  Process saver = {nullptr, 0};
  HWND window = nullptr;
  WindowFacts facts;
  if (CHECK(MoveMouseTo(start.x, start.y)) && StartFullScreen("/s", &saver, &window, &facts)) {
    for (const POINT &offset : SmallOffsets) {
      if (!CHECK(MoveMouseTo(start.x + offset.x, start.y + offset.y))) break;
    }
    CHECKF(WaitForDrawnTicks(TicksAfterInput), "the saver drew nothing after the moves");
    CHECK(ProcessRunning(&saver));
    CHECK(IsWindow(window));
    // From the same reference point, 3 + 2 = 5 pixels is a move beyond the threshold.
    if (CHECK(MoveMouseTo(start.x + 3, start.y + 2))) EndsWithExitCode(&saver, 0, DefaultExitTimeoutMs);
  }
  EndIfRunning(&saver);
  EndCase();
}

void KeyPressEndsSaverWithZero() {
  BeginCase("KeyPressEndsSaverWithZero");
  Process saver = {nullptr, 0};
  HWND window = nullptr;
  WindowFacts facts;
  // Keys go to the foreground window, which the saver makes itself just after it shows.
  if (StartFullScreen("/s", &saver, &window, &facts) &&
      CHECKF(PollUntil([&] { return GetForegroundWindow() == window; }, WindowTimeoutMs),
             "the saver did not become the foreground window")) {
    if (CHECK(PressKey(VK_SPACE))) EndsWithExitCode(&saver, 0, DefaultExitTimeoutMs);
  }
  EndIfRunning(&saver);
  EndCase();
}

void SetTextReturnsZeroAndKeepsTitle() {
  BeginCase("SetTextReturnsZeroAndKeepsTitle");
  Process saver = {nullptr, 0};
  HWND window = nullptr;
  WindowFacts facts;
  if (StartFullScreen("/s", &saver, &window, &facts)) {
    DWORD_PTR answer = 0xDEAD;
    const LRESULT sent = SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Renamed"),
                                             SMTO_ABORTIFHUNG, SendTimeoutMs, &answer);
    CHECKF(sent != 0, "WM_SETTEXT was not delivered (error %lu)", GetLastError());
    CHECK_EQ_U32(answer, 0);
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    CHECKF(strcmp(title, SaverTitle) == 0, "title became \"%s\"", title);
    CHECK(FindWindowA(SaverClass, SaverTitle) == window);
  }
  EndIfRunning(&saver);
  EndCase();
}

// ---- Cases: preview ------------------------------------------------------------------

const char *const PreviewTailFormats[] = {"/p %lu", "/l %lu", "/p%lu", "/p    %lu"};

bool PreviewFillsParentClient(const WindowFacts &facts, HWND parent) {
  RECT client = {0, 0, 0, 0};
  GetClientRect(parent, &client);
  POINT origin = {0, 0};
  ClientToScreen(parent, &origin);
  return CHECKF(facts.windowRect.left == origin.x && facts.windowRect.top == origin.y &&
                    facts.windowRect.right - facts.windowRect.left == client.right &&
                    facts.windowRect.bottom - facts.windowRect.top == client.bottom,
                "preview at (%ld,%ld)-(%ld,%ld), parent client %ldx%ld at (%ld,%ld)", facts.windowRect.left,
                facts.windowRect.top, facts.windowRect.right, facts.windowRect.bottom, client.right, client.bottom,
                origin.x, origin.y);
}

// Wine refuses to post WM_HELP between processes (its lParam points into the sender), so
// the preview's forward of it cannot reach this parent; its answer still can be read.
void PreviewAnswersHelpWithOne(HWND child) {
  HELPINFO help = {};
  help.cbSize = sizeof help;
  DWORD_PTR answer = 0;
  const LRESULT sent = SendMessageTimeoutA(child, WM_HELP, 0, reinterpret_cast<LPARAM>(&help), SMTO_ABORTIFHUNG,
                                           SendTimeoutMs, &answer);
  if (CHECKF(sent != 0, "WM_HELP was not delivered (error %lu)", GetLastError())) CHECK_EQ_U32(answer, 1);
}

// Keys, clicks and a real mouse move across the preview must not close it.
void PreviewIgnoresInput(HWND child, HWND parent, const WindowFacts &facts) {
  const UINT inputs[] = {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_MOUSEMOVE};
  for (UINT message : inputs) CHECK(PostMessageA(child, message, VK_SPACE, 0));
  const int x = (facts.windowRect.left + facts.windowRect.right) / 2;
  const int y = (facts.windowRect.top + facts.windowRect.bottom) / 2;
  CHECK(MoveMouseTo(x, y));
  CHECK(MoveMouseTo(x + 10, y + 10));
  // The first echo follows the input; the second follows any close request it made.
  EchoThroughPreview(child, parent, 1);
  EchoThroughPreview(child, parent, 2);
  CHECK(IsWindow(child));
}

void PreviewTailMakesChildOfParentClientSize(const char *format) {
  char name[96];
  snprintf(name, sizeof name, "PreviewTailMakesChildOfParentClientSize[%s]", format);
  BeginCase(name);
  Process saver = {nullptr, 0};
  HWND parent = MakeParent(60, 40, 331, 257);
  HWND child = nullptr;
  WindowFacts facts;
  if (CHECK(parent != nullptr) && StartPreviewIn(parent, format, &saver, &child, &facts)) {
    CHECKF(strcmp(facts.title, PreviewTitle) == 0, "title \"%s\"", facts.title);
    CHECK_EQ_U32(facts.style, PreviewStyle);
    CHECK_EQ_U32(facts.exStyle, 0);
    CHECK(facts.parent == parent);
    PreviewFillsParentClient(facts, parent);
    CHECK_EQ_U32(CountClassWindows(saver.id, parent), 1);
    PreviewAnswersHelpWithOne(child);
    PreviewIgnoresInput(child, parent, facts);
    CHECK(ProcessRunning(&saver));
    DestroyParent(&parent);
    EndsWithExitCode(&saver, 0, ParentGoneTimeoutMs);
  }
  DestroyParent(&parent);
  EndIfRunning(&saver);
  EndCase();
}

void PreviewAndFullScreenSaverRunSideBySide() {
  BeginCase("PreviewAndFullScreenSaverRunSideBySide");
  Process preview = {nullptr, 0}, full = {nullptr, 0};
  HWND parent = MakeParent(80, 80, 240, 180);
  HWND child = nullptr, window = nullptr;
  WindowFacts previewFacts, fullFacts;
  const POINT start = ScreenCentre();
  if (CHECK(parent != nullptr) && StartPreviewIn(parent, "/p %lu", &preview, &child, &previewFacts) &&
      CHECK(MoveMouseTo(start.x, start.y)) && StartFullScreen("/s", &full, &window, &fullFacts)) {
    CHECK(ProcessRunning(&preview));
    CHECK(IsWindow(child));
    CHECK_EQ_U32(CountClassWindows(full.id, nullptr), 1);
    if (CHECK(MoveMouseTo(start.x + 5, start.y))) EndsWithExitCode(&full, 0, DefaultExitTimeoutMs);
    EchoThroughPreview(child, parent, 3);
    CHECK(ProcessRunning(&preview));
    DestroyParent(&parent);
    EndsWithExitCode(&preview, 0, ParentGoneTimeoutMs);
  }
  DestroyParent(&parent);
  EndIfRunning(&full);
  EndIfRunning(&preview);
  EndCase();
}

// Wine does not show what one process draws into another's child window, but the desktop
// window is a parent whose children reach the screen: a preview there can be seen drawing.
void PreviewInDesktopDrawsAndIgnoresRealInput() {
  BeginCase("PreviewInDesktopDrawsAndIgnoresRealInput");
  Process saver = {nullptr, 0};
  HWND child = nullptr;
  WindowFacts facts;
  const HWND desktop = GetDesktopWindow();
  const POINT start = ScreenCentre();
  if (CHECK(MoveMouseTo(start.x, start.y)) && StartPreviewIn(desktop, "/p %lu", &saver, &child, &facts)) {
    CHECKF(strcmp(facts.title, PreviewTitle) == 0, "title \"%s\"", facts.title);
    PixelCount count = {0, 0, 0};
    const bool drawn = PollUntil(
        [&] {
          ScreenShot shot;
          if (!CaptureScreen(&shot)) return false;
          count = CountPixels(shot, facts.windowRect);
          ReleaseScreenShot(&shot);
          return count.coloured > 0 && count.black > count.total / 2;
        },
        DrawTimeoutMs);
    CHECKF(drawn, "after %lu ms: %d coloured and %d black of %d pixels", DrawTimeoutMs, count.coloured,
           count.black, count.total);
    CHECK(MoveMouseTo(start.x + 40, start.y + 30));
    CHECK(PressKey(VK_SPACE));
    CHECKF(WaitForDrawnTicks(TicksAfterInput), "the preview drew nothing after the input");
    CHECK(ProcessRunning(&saver));
    CHECK(IsWindow(child));
    // A close request the platform makes still ends it, with 0.
    if (CHECK(PostMessageA(child, WM_CLOSE, 0, 0))) EndsWithExitCode(&saver, 0, DefaultExitTimeoutMs);
  }
  EndIfRunning(&saver);
  EndCase();
}

}  // namespace

int main(int argc, char **argv) {
  BeginSuite("saver", argc, argv);
  for (const char *tail : SaveModeTails) SaveModeTailMakesOneTopmostFullScreenWindow(tail);
  FullScreenSaverDrawsColouredLinesOnBlack();
  SecondSaveModeStartExitsZeroWithoutWindow();
  MouseMovesOfFourPixelsKeepSaverRunning();
  KeyPressEndsSaverWithZero();
  SetTextReturnsZeroAndKeepsTitle();
  for (const char *format : PreviewTailFormats) PreviewTailMakesChildOfParentClientSize(format);
  PreviewInDesktopDrawsAndIgnoresRealInput();
  PreviewAndFullScreenSaverRunSideBySide();
  return EndSuite();
}
