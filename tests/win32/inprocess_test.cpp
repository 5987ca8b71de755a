// What the real program, started from outside, cannot show: the lock's gate while its
// dialog is up, the tick's drawing after many ticks, single answers of the saver window,
// the scroll codes, the timer intervals, and the modes that cannot start.
#include "host/host.h"
#include "resources/resource_ids.h"
#include "saver/animation_model.h"
#include "saver/animation_proc.h"
#include "saver/saver_api.h"
#include "saver/settings.h"
#include "tests/win32/harness.h"

#include <algorithm>
#include <climits>

namespace {

constexpr int Width = 200;
constexpr int Height = 100;
// Wine refuses a new pen once a process holds 65,480 of them.
constexpr int MorePensThanWineHolds = 65536;

HCURSOR Arrow() { return LoadCursorA(nullptr, IDC_ARROW); }

// The password dialog as the saver meets it: while it is up, its own loop hands the saver
// window whatever arrives, a close request and a key included.
struct Verifier {
  BOOL answer = FALSE;
  int asked = 0;
  bool closedWhileAsking = false;
} verifier;

BOOL WINAPI ScriptedVerifier(HWND window) {
  ++verifier.asked;
  if (verifier.asked == 1) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    PostMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
    for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&message);
    verifier.closedWhileAsking = !IsWindow(window);
  }
  SetCursor(Arrow());
  return verifier.answer;
}

// A saver window as RunSaverWindow makes it, but small and without a background brush, so
// that only the saver's own erasing blackens it. A message-only one is out of reach of
// the activation changes that other windows' comings and goings bring.
HWND MakeSaverWindow(HWND parent) {
  hostState = HostState{.instanceHandle = GetModuleHandleA(nullptr)};
  const WNDCLASSA saverClass = {.style = CS_OWNDC, .lpfnWndProc = SaverWindowProc, .lpszClassName = SaverClassName};
  RegisterClassA(&saverClass);
  const HWND window = CreateWindowA(SaverClassName, SaverWindowTitle, WS_POPUP | WS_VISIBLE, 0, 0, Width, Height,
                                    parent, nullptr, nullptr, nullptr);
  // Under Wine a new window of this thread can find a close request waiting that the saver
  // never made, once an earlier visible window has gone.
  for (MSG close; PeekMessageA(&close, window, WM_CLOSE, WM_CLOSE, PM_REMOVE);) {
  }
  return window;
}

struct SaverWindow : testing::Test {
  HWND window = nullptr;
  void TearDown() override {
    DestroyWindow(window);
    UnregisterClassA(SaverClassName, nullptr);
  }
  int LitPixels() {
    const std::vector<uint32_t> pixels = Pixels(GetDC(window), {0, 0, Width, Height});
    return static_cast<int>(std::count_if(pixels.begin(), pixels.end(), [](uint32_t pixel) { return pixel != 0; }));
  }
  int ClosesPosted() {
    int count = 0;
    for (MSG close; PeekMessageA(&close, window, WM_CLOSE, WM_CLOSE, PM_REMOVE);) ++count;
    return count;
  }
};

TEST_F(SaverWindow, TakesTheInputContextAwaySoNoInputMethodWindowShowsOverIt) {
  window = MakeSaverWindow(nullptr);
  EXPECT_EQ(ImmGetContext(window), nullptr);
}

TEST_F(SaverWindow, EveryTickDrawsItsLineInTheWheelColourAfterMorePensThanThePlatformHolds) {
  window = MakeSaverWindow(nullptr);
  for (int tick = 0; tick < MorePensThanWineHolds; ++tick) SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0);
  PatBlt(GetDC(window), 0, 0, Width, Height, WHITENESS);
  SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(GetDC(window)), 0);
  EXPECT_EQ(LitPixels(), 0);

  // From the centre of the client to 50 pixels right of it, at hue 100 stepping by 5.
  animationState.arm1 = {};
  animationState.arm2 = {.radius = 50};
  animationState.hue = 100;
  animationState.hueStep = 5;
  animationState.offscreenTicks = 0;
  SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0);
  EXPECT_EQ(LitPixels(), 50);
  EXPECT_EQ(GetPixel(GetDC(window), 130, 50), HueToColor(105));
}

TEST_F(SaverWindow, AnswersThatHideTheCursorOrCloseTheSaver) {
  window = MakeSaverWindow(HWND_MESSAGE);
  const struct Row {
    UINT message;
    WPARAM wParam;
    bool hidesCursor;
    bool closes;
  } rows[] = {
      {.message = WM_SHOWWINDOW, .wParam = TRUE, .hidesCursor = true},
      {.message = WM_PAINT, .hidesCursor = true},
      {.message = WM_ACTIVATEAPP, .wParam = FALSE, .closes = true},
      // Another program's request for a saver is refused, not passed on.
      {.message = WM_SYSCOMMAND, .wParam = SC_SCREENSAVE},
      // Programs send it to learn whether a window still answers.
      {.message = WM_NULL},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.message);
    SetCursor(Arrow());
    EXPECT_EQ(SendMessageA(window, row.message, row.wParam, 0), 0);
    EXPECT_EQ(GetCursor() == nullptr, row.hidesCursor);
    EXPECT_EQ(ClosesPosted(), row.closes ? 1 : 0);
  }
}

TEST_F(SaverWindow, LockedSaverClosesOnlyOnTheVerifiersYesAskedOnceOutsideTheQuietPeriod) {
  window = MakeSaverWindow(HWND_MESSAGE);
  hostState.onWin9x = 1;
  hostState.verifyProc = ScriptedVerifier;
  const struct Row {
    DWORD sinceLastAnswer;
    BOOL answer;
    int asked;
    bool open;
  } rows[] = {
      {.sinceLastAnswer = 0, .answer = TRUE, .asked = 0, .open = true},
      {.sinceLastAnswer = PasswordRecheckDelay, .answer = FALSE, .asked = 1, .open = true},
      {.sinceLastAnswer = PasswordRecheckDelay, .answer = TRUE, .asked = 1, .open = false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(&row - rows);
    verifier = {.answer = row.answer};
    hostState.lastPasswordCheckTick = GetTickCount() - row.sinceLastAnswer;
    SetCursor(nullptr);
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(verifier.asked, row.asked);
    EXPECT_FALSE(verifier.closedWhileAsking);
    EXPECT_EQ(IsWindow(window) != FALSE, row.open);
    // A refusal hides the arrow that the password dialog showed.
    EXPECT_EQ(GetCursor() == nullptr, row.open);
  }
}

TEST(Speed, ScrollingStepsByOneWithinTheRangeAndFollowsOnlyAReleasedThumb) {
  const HWND dialog = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_CONFIG), nullptr, ConfigDialogProc, 0);
  const HWND scrollBar = GetDlgItem(dialog, IDC_SPEED_SCROLL);
  const struct Row {
    LONG before;
    WORD code;
    WORD thumb;
    LONG after;
  } rows[] = {
      {.before = 5, .code = SB_LINELEFT, .after = 4},
      {.before = 1, .code = SB_PAGELEFT, .after = 1},
      {.before = 5, .code = SB_PAGERIGHT, .after = 6},
      {.before = 10, .code = SB_LINERIGHT, .after = 10},
      {.before = 5, .code = SB_THUMBPOSITION, .thumb = 7, .after = 7},
      {.before = 4, .code = SB_THUMBTRACK, .thumb = 2, .after = 4},
      {.before = 4, .code = SB_ENDSCROLL, .after = 4},
      {.before = 5, .code = SB_LEFT, .after = 1},
      {.before = 5, .code = SB_RIGHT, .after = 10},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.code);
    RedrawSpeed = row.before;
    SetScrollPos(scrollBar, SB_CTL, row.before, FALSE);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(row.code, row.thumb), reinterpret_cast<LPARAM>(scrollBar));
    EXPECT_EQ(RedrawSpeed, row.after);
    EXPECT_EQ(GetScrollPos(scrollBar, SB_CTL), row.after);
  }
  DestroyWindow(dialog);
}

TEST(Speed, TimerIntervalDoublesWithTheSpeedAndSaturatesAtThePlatformsLongest) {
  const struct {
    LONG speed;
    UINT interval;
  } rows[] = {{1, 3}, {5, 50}, {10, 1600}, {0, 1}, {-1, 0}, {30, 1677721600}, {31, USER_TIMER_MAXIMUM}, {LONG_MIN, 0}};
  for (const auto &row : rows) EXPECT_EQ(TimerInterval(row.speed), row.interval) << row.speed;
}

TEST(Startup, WindowHandleIsUnsignedDecimalWrappingAt32Bits) {
  const struct {
    const char *text;
    UINT_PTR handle;
  } rows[] = {{"09", 9}, {"12x", 12}, {"-5", 0}, {"4294967306", 10}};
  for (const auto &row : rows) {
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(ParseWindowHandle(row.text)), row.handle) << row.text;
  }
}

// The password change exists only on Windows 9x, and a preview needs a window to live in.
TEST(Startup, ModesThatCannotStartEndWithMinusOneAndLeaveTheExceptionFilterAsFound) {
  SetUnhandledExceptionFilter(nullptr);
  for (const char *tail : {"x", "a 5", "p 0"}) {
    EXPECT_EQ(SaverMain(GetModuleHandleA(nullptr), tail), ExitCannotStart) << tail;
    EXPECT_EQ(SetUnhandledExceptionFilter(nullptr), nullptr) << tail;
  }
}

}  // namespace
