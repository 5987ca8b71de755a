// The saver window, its loop and the animation procedure, with real windows, timers and pixels.
#include "tests/win32/harness.h"

#include "host/host.h"
#include "saver/animation_model.h"
#include "saver/animation_proc.h"
#include "saver/settings.h"

#include <atomic>
#include <climits>
#include <ctime>

namespace {

const char ParentClass[] = "QvTestParent";
MSG forwarded;  // the last context-menu request the parent window received

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CONTEXTMENU) forwarded = {window, message, wParam, lParam, 0, {}};
  return DefWindowProcA(window, message, wParam, lParam);
}

// A 200x100 window at (0,0), by default a saver window without RunSaverWindow; a null title only registers.
HWND MakeWindow(const char *title, DWORD style = WS_POPUP | WS_VISIBLE, const char *name = SaverClassName,
                WNDPROC proc = SaverWindowProc) {
  const WNDCLASSA windowClass = {CS_OWNDC, proc, 0, 0, Instance(), nullptr, nullptr, nullptr, nullptr, name};
  if (RegisterClassA(&windowClass), title == nullptr) return nullptr;
  return CreateWindowExA(0, name, title, style, 0, 0, 200, 100, nullptr, nullptr, Instance(), nullptr);
}

COLORREF PixelAt(HWND window, int x, int y) { return GetPixel(GetDC(window), x, y); }  // an own DC, kept

// The saver's loop beside `script`; a loop that outlives the script by 5 s fails the program, not hangs it.
template <typename Script>
int RunBeside(HWND parent, Script script) {
  std::atomic<int> result = INT_MIN;
  WhileRunning([&] { return result = RunSaverWindow(parent); },
               [&](DWORD) {
                 script();
                 if (!PollUntil([&] { return result != INT_MIN; })) TerminateProcess(GetCurrentProcess(), 3);
               });
  return result;
}

BOOL CALLBACK DestroyEach(HWND window, LPARAM) { return DestroyWindow(window), TRUE; }

class SaverWindow : public testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    EnumThreadWindows(GetCurrentThreadId(), DestroyEach, 0);
    UnregisterClassA(SaverClassName, Instance()), UnregisterClassA(ParentClass, Instance());
    hostState = HostState{.instanceHandle = Instance()}, RedrawSpeed = DefaultRedrawSpeed;
    animationWindowState = {}, inputMethodState = {}, animationState = {}, saverSettings = {}, forwarded = {};
    for (MSG left; PeekMessageA(&left, nullptr, 0, 0, PM_REMOVE);) {  // the quit a destroyed saver leaves behind
    }
  }
};

TEST_F(SaverWindow, FullScreenCoversTheScreenOnTopUntilClosed) {
  hostState.onWin9x = 1;   // no password is set, so nothing asks for one
  SetCursorPos(321, 123);  // away from (0,0), where a lost reference point would sit
  const int result = RunBeside(nullptr, [] {
    HWND window = nullptr;
    if (!PollUntil([&] { return IsWindowVisible(window = FindWindowA(SaverClassName, SaverWindowTitle)); })) return;
    WNDCLASSA info = {};
    EXPECT_TRUE(GetClassInfoA(Instance(), SaverClassName, &info));
    EXPECT_TRUE(info.style == (CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC) && !info.hIcon && !info.hCursor &&
                info.hbrBackground == GetStockObject(BLACK_BRUSH) && info.lpfnWndProc == SaverWindowProc);
    EXPECT_TRUE(GetWindowLongA(window, GWL_STYLE) == LONG(WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN) &&
                GetWindowLongA(window, GWL_EXSTYLE) == LONG{WS_EX_TOPMOST});
    RECT rect = {}, screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    EXPECT_TRUE(GetWindowRect(window, &rect) && EqualRect(&rect, &screen));
    EXPECT_TRUE(PollUntil([&] { return GetForegroundWindow() == window; }));
    EXPECT_TRUE(hostState.lastCursorPos.x == 321 && hostState.lastCursorPos.y == 123 &&
                hostState.autoPlayMessage == RegisterWindowMessageA("QueryCancelAutoPlay"));
    EXPECT_EQ(SendMessageA(window, WM_CONTEXTMENU, WPARAM(window), MAKELPARAM(7, 9)), 0);  // no parent to ask
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  EXPECT_EQ(result, 0);
}

TEST_F(SaverWindow, PreviewFillsItsParentPassesContextMenusUpAndClosesOnTheSystemClose) {
  const HWND parent = MakeWindow("Settings", WS_POPUP | WS_VISIBLE, ParentClass, ParentProc);
  SetForegroundWindow(parent);
  const int result = RunBeside(parent, [&] {
    HWND preview = nullptr;  // found by its title
    const auto shown = [&] { return IsWindowVisible(preview = FindWindowExA(parent, nullptr, nullptr, "Preview")); };
    if (!PollUntil(shown)) return;
    EXPECT_EQ(GetWindowLongA(preview, GWL_STYLE), LONG{WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN});
    RECT rect = {}, parentRect = {};  // the parent has no border: its client is all of it
    EXPECT_TRUE(GetWindowRect(preview, &rect) && GetWindowRect(parent, &parentRect) && EqualRect(&rect, &parentRect));
    EXPECT_TRUE(hostState.previewMode == 1 && hostState.autoPlayMessage == 0);
    EXPECT_EQ(GetForegroundWindow(), parent);
    // Wine refuses to post WM_HELP even within a process, so the context menu stands for both.
    EXPECT_EQ(SendMessageA(preview, WM_CONTEXTMENU, WPARAM(preview), MAKELPARAM(7, 9)), 1);
    EXPECT_TRUE(PollUntil([&] { return forwarded.wParam == WPARAM(parent) && forwarded.lParam == MAKELPARAM(7, 9); }));
    PostMessageA(preview, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  EXPECT_EQ(result, 0);
}

TEST_F(SaverWindow, SecondStartRaisesTheRunningSaverAndATakenClassStartsNothing) {
  const struct {
    const char *existingTitle;
    bool preview;
    int result;
  } rows[] = {// the class is taken first
              {nullptr, false, -1},
              {"Screen Saver", false, 0},
              {"Screen Saver", true, -1},
              {"Preview", false, -1}};
  for (const auto &row : rows) {
    SCOPED_TRACE(&row - rows);
    const HWND parent = MakeWindow("Settings", WS_POPUP | WS_VISIBLE, ParentClass, ParentProc);
    const HWND existing = MakeWindow(row.existingTitle);
    SetForegroundWindow(parent);
    PostQuitMessage(77);  // a loop that should not run ends at once
    EXPECT_EQ(RunSaverWindow(row.preview ? parent : nullptr), row.result);
    EXPECT_EQ(FindWindowExA(nullptr, nullptr, SaverClassName, nullptr), existing);
    EXPECT_EQ(GetForegroundWindow(), row.result == 0 ? existing : parent);
    TearDown();
  }
}

TEST_F(SaverWindow, CreationDetachesInputHidesTheCursorAndStartsTheAnimation) {
  WriteFileText(SettingsPath(), "[Quorvane]\r\nRedraw Speed=3\r\n");
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  const HWND window = MakeWindow(SaverWindowTitle, WS_POPUP);  // hidden: showing would hide the cursor by itself
  const int32_t now = int32_t(time(nullptr));
  DeleteFileA(SettingsPath().c_str());
  EXPECT_TRUE(GetCursor() == nullptr && ImmGetContext(window) == nullptr);
  EXPECT_TRUE(RedrawSpeed == 3 && animationWindowState.timerId == AnimationTimerId);
  const auto seededAt = [](uint32_t state) {  // the calendar seconds, then ten draws for the arms
    for (int draw = 0; draw < 10; ++draw) state = state * 214013u + 2531011u;
    return int32_t(state);
  };
  EXPECT_TRUE(saverRandom.state == seededAt(now) || saverRandom.state == seededAt(now - 1));
  SaverWindowProc(window, WM_DESTROY, 0, 0);  // gives the context back and stops the timer
  const HIMC context = ImmGetContext(window);
  EXPECT_TRUE(context != nullptr && context == inputMethodState.savedInputContext);
  ImmReleaseContext(window, context);
  EXPECT_TRUE(animationWindowState.timerId == 0 && !KillTimer(window, AnimationTimerId));
}

TEST_F(SaverWindow, TimerIntervalDoublesWithTheSpeedAndSaturates) {
  const struct {
    LONG speed;
    UINT interval;
  } rows[] = {{1, 3},
              {2, 6},
              {5, 50},
              {10, 1600},
              {0, 1},
              {-1, 0},
              {30, 1677721600u},
              {31, 0x7FFFFFFF},
              {1000, 0x7FFFFFFF},
              {INT_MIN, 0}};
  for (const auto &row : rows) EXPECT_EQ(TimerInterval(row.speed), row.interval) << row.speed;
}

// The ticks draw a line from the centre of the 200x100 client to the right, hue 100 stepping by 5.
TEST_F(SaverWindow, ProcedureKeepsTheTitleSizesTheModelErasesAndDrawsUnlessClosing) {
  const HWND window = MakeWindow(SaverWindowTitle);
  EXPECT_TRUE(!SetWindowTextA(window, "Other") && FindWindowA(SaverClassName, SaverWindowTitle) == window);
  SaverWindowProc(window, WM_SIZE, 0, MAKELPARAM(300, 250));
  EXPECT_TRUE(animationState.width == 300 && animationState.height == 250);
  const struct {
    int previewMode, closing;
    bool drawn, cursorHidden, closeRequested;
  } rows[] = {{0, 1, false, false, false}, {1, 0, true, false, false}, {0, 0, true, true, true}};
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << row.previewMode << row.closing);
    hostState.previewMode = row.previewMode, hostState.closing = row.closing;
    PatBlt(GetDC(window), 0, 0, 200, 100, BLACKNESS);
    animationState = {{0, 0, 0, 0}, {50, 0, 0, 0}, 100, 5, 0, 200, 100};
    EXPECT_EQ(SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0), 0);
    EXPECT_TRUE(animationState.hue == (row.drawn ? 105 : 100) &&
                PixelAt(window, 130, 50) == (row.drawn ? HueToColor(105) : RGB(0, 0, 0)));
    EXPECT_EQ(GetCurrentObject(GetDC(window), OBJ_PEN), GetStockObject(BLACK_PEN));  // the tick's pen is gone
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    SaverWindowProc(window, WM_PAINT, 0, 0);
    EXPECT_EQ(GetCursor() == nullptr, row.cursorHidden);
    SaverWindowProc(window, WM_KEYDOWN, 0, 0);
    MSG close;
    EXPECT_EQ(PeekMessageA(&close, window, WM_CLOSE, WM_CLOSE, PM_REMOVE), BOOL(row.closeRequested));
  }
  // A restart clears the client after its tick, the line just drawn included, by the tick's own
  animationWindowState.clearRect = {};  // client rectangle, not one left from erasing at showing
  SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0);
  animationState = {{1000, 0, 0, 0}, {2000, 0, 0, 0}, 100, 5, RestartThreshold - 1, 200, 100};
  SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0);
  EXPECT_TRUE(PixelAt(window, 130, 50) == RGB(0, 0, 0) && PixelAt(window, 199, 99) == RGB(0, 0, 0));
  // Erasing last, so the ticks above had no clearing rectangle but their own.
  PatBlt(GetDC(window), 0, 0, 200, 100, WHITENESS);
  SaverWindowProc(window, WM_ERASEBKGND, WPARAM(GetDC(window)), 0);
  EXPECT_TRUE(PixelAt(window, 0, 0) == RGB(0, 0, 0) && PixelAt(window, 199, 99) == RGB(0, 0, 0));
}

}  // namespace
