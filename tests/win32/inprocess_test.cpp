// What the real program, started from outside, cannot show: each message's answer in each
// state, the lock's gate while its dialog is up, the tick's drawing after many ticks, the
// seed, the scroll codes, the command tail, and the modes that cannot start.
#include "host/host.h"
#include "resources/resource_ids.h"
#include "saver/animation_model.h"
#include "saver/animation_proc.h"
#include "saver/saver_api.h"
#include "saver/settings.h"
#include "tests/win32/harness.h"

#include <ctime>
#include <string>

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
HWND MakeSaverWindow(HWND parent, HostState host = {}) {
  hostState = host;
  hostState.instanceHandle = GetModuleHandleA(nullptr);
  const WNDCLASSA saverClass = {.style = CS_OWNDC, .lpfnWndProc = SaverWindowProc, .lpszClassName = SaverClassName};
  RegisterClassA(&saverClass);  // fails harmlessly once registered
  return CreateWindowA(SaverClassName, SaverWindowTitle, WS_POPUP | WS_VISIBLE, 0, 0, Width, Height, parent, nullptr,
                       nullptr, nullptr);
}

// A destroyed saver window leaves a quit request, which the filter lets through.
int ClosesPosted(HWND window) {
  int count = 0;
  for (MSG close; PeekMessageA(&close, window, WM_CLOSE, WM_CLOSE, PM_REMOVE);) count += close.message == WM_CLOSE;
  return count;
}

TEST(SaverWindow, TakesTheInputContextAwaySoNoInputMethodWindowShowsOverItAndGivesItBack) {
  const HWND window = MakeSaverWindow(nullptr);
  EXPECT_EQ(ImmGetContext(window), nullptr);
  SaverWindowProc(window, WM_DESTROY, 0, 0);
  EXPECT_NE(ImmGetContext(window), nullptr);
}

TEST(SaverWindow, EveryTickDrawsItsLineInTheWheelColourAfterMorePensThanThePlatformHolds) {
  const HWND window = MakeSaverWindow(nullptr);
  const HDC dc = GetDC(window);  // the window's own, kept
  // A fresh window is erased whole, before any tick has measured it.
  PatBlt(dc, 0, 0, Width, Height, WHITENESS);
  EXPECT_NE(SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
  EXPECT_EQ(GetPixel(dc, Width - 1, Height - 1), Black);
  for (int tick = 0; tick < MorePensThanWineHolds; ++tick) SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0);
  SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);

  // From the centre of the client to 50 pixels right of it, at hue 100 stepping by 5.
  animationState.arm1 = {};
  animationState.arm2 = {.radius = 50};
  animationState.hue = 100;
  animationState.hueStep = 5;
  animationState.offscreenTicks = 0;
  SaverWindowProc(window, WM_TIMER, AnimationTimerId, 0);
  EXPECT_EQ(GetPixel(dc, 130, 50), RGB(0, 105 * 5 / 6, 212));  // blue dimmed to 212, green to 5/6
  EXPECT_EQ(GetPixel(dc, 150, 50), Black);                     // a line leaves out its last point
  // The window's own device context keeps the pen it had: the tick's pen is gone.
  EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
}

// A new window seeds its figure from the calendar second, so two starts in different
// seconds draw different figures. A start that spans a second's turn is made again.
TEST(SaverWindow, SeedsItsFigureFromTheCalendarSecond) {
  AnimationState drawn;
  time_t second = 0;
  EXPECT_TRUE(PollUntil([&] {
    saverRandom = {};
    second = time(nullptr);
    DestroyWindow(MakeSaverWindow(HWND_MESSAGE));
    drawn = animationState;
    return time(nullptr) == second;
  }));
  SeedRandom(static_cast<int32_t>(second));
  RandomizeArms();
  EXPECT_EQ(drawn.arm1.radius, animationState.arm1.radius);
  EXPECT_EQ(drawn.arm2.angleStep, animationState.arm2.angleStep);
  EXPECT_EQ(drawn.hue, animationState.hue);
}

// What each message does in each state: whether it posts a close request or hides the
// cursor. A preview and a saver that is closing leave input alone. For a mouse move,
// wParam is how far the cursor stands from the reference point of the mouse rule.
enum Effect { Nothing, Closes, HidesCursor };

TEST(SaverWindow, InputClosesAndShowingHidesTheCursorOnlyInFullScreen) {
  const struct {
    UINT message;
    WPARAM wParam;
    Effect inFullScreen;
  } rows[] = {
      {WM_KEYDOWN, 0, Closes},
      {WM_SYSKEYDOWN, 0, Closes},
      {WM_LBUTTONDOWN, 0, Closes},
      {WM_RBUTTONDOWN, 0, Closes},
      {WM_MBUTTONDOWN, 0, Closes},
      {WM_POWERBROADCAST, 0, Closes},
      {WM_POWER, PWR_CRITICALRESUME, Closes},
      {WM_POWER, PWR_SUSPENDREQUEST, Nothing},
      {WM_ACTIVATEAPP, FALSE, Closes},
      {WM_ACTIVATEAPP, TRUE, Nothing},
      {WM_MOUSEMOVE, 5, Closes},
      {WM_MOUSEMOVE, 4, Nothing},
      {WM_SHOWWINDOW, TRUE, HidesCursor},
      {WM_SHOWWINDOW, FALSE, Nothing},
      {WM_SETCURSOR, 0, HidesCursor},
      {WM_PAINT, 0, HidesCursor},
  };
  for (const HostState state : {HostState{}, HostState{.previewMode = 1}, HostState{.closing = 1}}) {
    for (const auto &row : rows) {
      SCOPED_TRACE(testing::Message() << row.message << " " << row.wParam << " preview " << state.previewMode);
      const HWND window = MakeSaverWindow(HWND_MESSAGE, state);
      POINT cursor = {};
      GetCursorPos(&cursor);
      hostState.lastCursorPos = {cursor.x + 2, cursor.y + 2 - static_cast<LONG>(row.wParam)};
      SetCursor(Arrow());
      SendMessageA(window, row.message, row.wParam, 0);
      const Effect effect = state.previewMode || state.closing ? Nothing : row.inFullScreen;
      EXPECT_EQ(ClosesPosted(window), effect == Closes);
      EXPECT_EQ(GetCursor() == nullptr, effect == HidesCursor);
      DestroyWindow(window);
    }
  }
}

// Answers that the system or another program reads.
TEST(SaverWindow, AnswersKeepTheTitleAndTellThe9xShellAboutTheLock) {
  const UINT autoPlay = RegisterWindowMessageA("QueryCancelAutoPlay");
  const struct {
    HostState host;
    UINT message;
    LRESULT result;
  } rows[] = {
      {{}, WM_SETTEXT, 0},       // the title is how a second start finds the saver
      {{}, WM_SETCURSOR, TRUE},  // the cursor stays hidden
      {{}, SCRM_VERIFYPW, 0},
      {{.onWin9x = 1}, SCRM_VERIFYPW, TRUE},
      // AutoPlay ends the saver, and is cancelled while the lock holds the screen.
      {{.onWin9x = 1, .autoPlayMessage = autoPlay}, autoPlay, 0},
      {{.onWin9x = 1, .autoPlayMessage = autoPlay, .verifyProc = ScriptedVerifier}, autoPlay, TRUE},
  };
  for (const auto &row : rows) {
    const HWND window = MakeSaverWindow(HWND_MESSAGE, row.host);
    EXPECT_EQ(SendMessageA(window, row.message, 0, 0), row.result) << row.message;
    EXPECT_EQ(ClosesPosted(window), row.message == autoPlay) << row.message;
    DestroyWindow(window);
  }
}

TEST(SaverWindow, LockedSaverClosesOnlyOnTheVerifiersYesAskedOnceOutsideTheQuietPeriod) {
  const HWND window = MakeSaverWindow(HWND_MESSAGE, {.onWin9x = 1, .verifyProc = ScriptedVerifier});
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
  } rows[] = {{5, SB_LINELEFT, 4},          {1, SB_PAGELEFT, 1},   {10, SB_LINERIGHT, 10},
              {9, SB_PAGERIGHT, 10},        {4, SB_THUMBTRACK, 4}, {5, SB_LEFT, 1},
              {5, SB_THUMBPOSITION, Thumb}, {5, SB_ENDSCROLL, 5},  {5, SB_RIGHT, 10}};
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
  EXPECT_EQ(got.x, 0);
  EXPECT_EQ(got.y, 0);
  EXPECT_EQ(got.width, 640);
  EXPECT_EQ(got.height, 480);
}

// The program's name, quoted or not, and the blanks and control bytes after it.
TEST(Startup, CommandTailStartsAfterTheProgramsName) {
  const struct {
    const char *line;
    const char *tail;
  } rows[] = {{"\"C:\\a b\\q.scr\" /s", "/s"},
              {"\"q.scr\"/p 5", "/p 5"},
              {"q.scr \t /c", "/c"},
              {"\"q.scr", ""},
              {" \x01/s", "/s"},
              {"q.scr", ""}};
  for (const auto &row : rows) EXPECT_EQ(std::string(CommandTail(row.line)), row.tail) << row.line;
}

TEST(Startup, WindowHandleIsUnsignedDecimalWrappingAt32Bits) {
  const struct {
    const char *text;
    UINT_PTR handle;
  } rows[] = {{"09", 9}, {"12x", 12}, {"4294967306", 10}, {"x1", 0}};
  for (const auto &row : rows) {
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(ParseWindowHandle(row.text)), row.handle) << row.text;
  }
}

// The password change exists only on Windows 9x, and a preview needs a window to live in.
TEST(Startup, ModesThatCannotStartEndWithMinusOneAndLeaveTheExceptionFilterAsFound) {
  SetUnhandledExceptionFilter(nullptr);
  for (const char *tail : {"x", "- a 5", "p 0", "/L"}) {
    EXPECT_EQ(SaverMain(GetModuleHandleA(nullptr), tail), ExitCannotStart) << tail;
    EXPECT_EQ(SetUnhandledExceptionFilter(nullptr), nullptr) << tail;
  }
}

}  // namespace
