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

namespace {

constexpr int Width = 200;
constexpr int Height = 100;
constexpr COLORREF Black = RGB(0, 0, 0);
// Wine refuses a new pen once a process holds 65,480 of them.
constexpr int MorePensThanWineHolds = 65536;

HCURSOR Arrow() { return LoadCursorA(nullptr, IDC_ARROW); }

// The password dialog as the saver meets it: while it is up, its own loop hands the saver
// window whatever arrives, a close request included.
struct Verifier {
  BOOL answer = FALSE;
  int asked = 0;
  bool closedWhileAsking = false;
} verifier;

BOOL WINAPI ScriptedVerifier(HWND window) {
  ++verifier.asked;
  if (verifier.asked == 1) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&message);
    verifier.closedWhileAsking = !IsWindow(window);
  }
  SetCursor(Arrow());
  return verifier.answer;
}

// A saver window as RunSaverWindow makes it, but small and without a background brush, so
// that only the saver's own erasing blackens it. A message-only one is out of reach of
// the activation changes that other windows bring.
HWND MakeSaverWindow(HWND parent) {
  hostState = HostState{.instanceHandle = GetModuleHandleA(nullptr)};
  const WNDCLASSA saverClass = {.style = CS_OWNDC, .lpfnWndProc = SaverWindowProc, .lpszClassName = SaverClassName};
  RegisterClassA(&saverClass);  // fails harmlessly once registered
  return CreateWindowA(SaverClassName, SaverWindowTitle, WS_POPUP | WS_VISIBLE, 0, 0, Width, Height, parent, nullptr,
                       nullptr, nullptr);
}

int ClosesPosted(HWND window) {
  int count = 0;
  for (MSG close; PeekMessageA(&close, window, WM_CLOSE, WM_CLOSE, PM_REMOVE);) ++count;
  return count;
}

TEST(SaverWindow, TakesTheInputContextAwaySoNoInputMethodWindowShowsOverIt) {
  const HWND window = MakeSaverWindow(nullptr);
  EXPECT_EQ(ImmGetContext(window), nullptr);
}

TEST(SaverWindow, EveryTickDrawsItsLineInTheWheelColourAfterMorePensThanThePlatformHolds) {
  const HWND window = MakeSaverWindow(nullptr);
  const HDC dc = GetDC(window);  // the window's own, kept
  for (int tick = 0; tick < MorePensThanWineHolds; ++tick) SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0);
  PatBlt(dc, 0, 0, Width, Height, WHITENESS);
  SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  EXPECT_EQ(GetPixel(dc, 130, 50), Black);

  // From the centre of the client to 50 pixels right of it, at hue 100 stepping by 5.
  animationState.arm1 = {};
  animationState.arm2 = {.radius = 50};
  animationState.hue = 100;
  animationState.hueStep = 5;
  animationState.offscreenTicks = 0;
  SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0);
  EXPECT_EQ(GetPixel(dc, 130, 50), RGB(0, 105 * 5 / 6, 212));  // blue dimmed to 212, green to 5/6
  EXPECT_EQ(GetPixel(dc, 150, 50), Black);                     // a line leaves out its last point
}

TEST(SaverWindow, AnswersThatHideTheCursorOrCloseTheSaver) {
  const HWND window = MakeSaverWindow(HWND_MESSAGE);
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
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.message);
    SetCursor(Arrow());
    EXPECT_EQ(SendMessageA(window, row.message, row.wParam, 0), 0);
    EXPECT_EQ(GetCursor() == nullptr, row.hidesCursor);
    EXPECT_EQ(ClosesPosted(window), row.closes ? 1 : 0);
  }
}

TEST(SaverWindow, LockedSaverClosesOnlyOnTheVerifiersYesAskedOnceOutsideTheQuietPeriod) {
  const HWND window = MakeSaverWindow(HWND_MESSAGE);
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
  constexpr WORD Thumb = 7;  // where the thumb is when a thumb code comes
  const struct Row {
    LONG before;
    WORD code;
    LONG after;
  } rows[] = {{5, SB_LINELEFT, 4},   {1, SB_PAGELEFT, 1}, {10, SB_LINERIGHT, 10}, {5, SB_THUMBPOSITION, Thumb},
              {4, SB_THUMBTRACK, 4}, {5, SB_LEFT, 1},     {5, SB_RIGHT, 10}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.code);
    RedrawSpeed = row.before;
    SetScrollPos(scrollBar, SB_CTL, row.before, FALSE);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(row.code, Thumb), reinterpret_cast<LPARAM>(scrollBar));
    EXPECT_EQ(RedrawSpeed, row.after);
    EXPECT_EQ(GetScrollPos(scrollBar, SB_CTL), row.after);
  }
  DestroyWindow(dialog);
}

// Windows 95 and NT 4.0 report no virtual-screen metrics: the message's own size is the screen.
TEST(SaverWindow, DisplayChangeWithoutVirtualScreenCoversTheSizeTheMessageCarries) {
  const ScreenArea got = AreaAfterDisplayChange({0, 0, 0, 0}, MAKELPARAM(640, 480));
  EXPECT_EQ(got.width, 640);
  EXPECT_EQ(got.height, 480);
}

TEST(Startup, WindowHandleIsUnsignedDecimalWrappingAt32Bits) {
  const struct {
    const char *text;
    UINT_PTR handle;
  } rows[] = {{"09", 9}, {"12x", 12}, {"4294967306", 10}};
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
