// The default message handling and the Windows 9x password lock, in-process: the
// activity rules, the close gate, the verifier's library and the registry setting,
// and a seeded random run against the locked saver.
#include "host/host.h"
#include "saver/animation_model.h"
#include "saver/animation_proc.h"
#include "tests/win32/harness.h"

#include <random>

namespace {

unsigned propertySeed = 1, propertySteps = 60;

const POINT Reference = {100, 100};
HCURSOR Arrow() { return LoadCursorA(nullptr, IDC_ARROW); }

// What the scripted verifier answers and saw.
struct Verifier {
  LRESULT answer;
  int calls, depth;
  bool sawChecking, sawTimer;
} verifier;

BOOL WINAPI ScriptedVerifier(HWND window) {
  ++verifier.calls;
  verifier.sawChecking = hostState.checkingPassword != 0;
  MSG pending;
  verifier.sawTimer = PeekMessageA(&pending, window, WM_TIMER, WM_TIMER, PM_NOREMOVE);
  SetCursor(Arrow());  // a real password dialog shows the arrow
  return static_cast<BOOL>(verifier.answer);
}

HWND MakeWindow() { return CreateWindowExA(0, "QvDefault", "", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, 0); }

struct LockTest : testing::Test {
  HWND window = nullptr;
  void SetUp() override {
    hostState = HostState{}, verifier = {};
    const WNDCLASSA test = {0, DefaultSaverProc, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, "QvDefault"};
    RegisterClassA(&test);
    window = MakeWindow();
    hostState.lastCursorPos = Reference;
    SetCursorPos(Reference.x, Reference.y);
  }
  void TearDown() override {
    DestroyWindow(window), UnregisterClassA("QvDefault", nullptr);
    for (MSG left; PeekMessageA(&left, nullptr, 0, 0, PM_REMOVE);) {  // a quit or close must not reach the next test
    }
  }
  int ClosesPosted() {
    int count = 0;
    for (MSG close; PeekMessageA(&close, window, WM_CLOSE, WM_CLOSE, PM_REMOVE);) ++count;
    return count;
  }
};

TEST_F(LockTest, ActivityPostsOneCloseOnlyWhileNeitherPreviewClosingNorAsking) {
  const struct {
    UINT message;
    WPARAM wParam;
    bool closes;
  } rows[] = {{WM_KEYDOWN, 0, true},
              {WM_SYSKEYDOWN, 0, true},
              {WM_LBUTTONDOWN, 0, true},
              {WM_RBUTTONDOWN, 0, true},
              {WM_MBUTTONDOWN, 0, true},
              {WM_POWERBROADCAST, 0, true},
              {WM_ACTIVATEAPP, 0, true},
              {WM_ACTIVATEAPP, 1, false},
              {WM_POWER, PWR_CRITICALRESUME, true},
              {WM_POWER, PWR_SUSPENDREQUEST, false},
              {WM_KEYUP, 0, false},
              {WM_LBUTTONUP, 0, false},
              {WM_SHOWWINDOW, 1, false},
              {WM_USER, 0, false}};
  const struct {
    int preview, closing, checking, win9x;
    bool active;
  } states[] = {{0, 0, 0, 0, true}, {0, 0, 0, 1, true}, {1, 0, 0, 0, false}, {0, 1, 0, 1, false}, {0, 0, 1, 1, false}};
  for (const auto &state : states) {
    for (const auto &row : rows) {
      SCOPED_TRACE(testing::Message() << "message " << row.message << " state " << (&state - states));
      hostState.previewMode = state.preview, hostState.closing = state.closing;
      hostState.checkingPassword = state.checking, hostState.onWin9x = state.win9x;
      DefaultSaverProc(window, row.message, row.wParam, 0);
      EXPECT_EQ(ClosesPosted(), row.closes && state.active ? 1 : 0);
      EXPECT_TRUE(IsWindow(window));
    }
  }
}

// Manhattan distance from the reference point; only a close moves the reference.
TEST_F(LockTest, MouseClosesBeyondFourPixelsFromTheReference) {
  const struct {
    POINT cursor;
    bool closes;
  } rows[] = {{{102, 102}, false}, {{103, 102}, true},  {{97, 99}, false}, {{100, 95}, true},
              {{96, 100}, false},  {{100, 100}, false}, {{105, 100}, true}};
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << row.cursor.x << "," << row.cursor.y);
    hostState.lastCursorPos = Reference;
    SetCursorPos(row.cursor.x, row.cursor.y);
    DefaultSaverProc(window, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(ClosesPosted(), row.closes ? 1 : 0);
    const POINT expected = row.closes ? row.cursor : Reference;
    EXPECT_TRUE(hostState.lastCursorPos.x == expected.x && hostState.lastCursorPos.y == expected.y);
  }
}

// Messages answered here rather than by the system: the cursor is hidden on showing and on
// every WM_SETCURSOR outside preview and the password dialog; the AutoPlay query closes in
// every state and, while a verifier is loaded, cancels the AutoPlay; the private verify
// message reaches the verifier only on Windows 9x.
TEST_F(LockTest, CursorAutoPlayQueryAndVerifyMessage) {
  const UINT autoPlay = RegisterWindowMessageA("QueryCancelAutoPlay");
  const struct {
    UINT registered, message;
    WPARAM wParam;
    int win9x, preview, checking;
    bool scripted, closes, hidden;
    LRESULT result;
    int calls;
  } rows[] = {{0, WM_SETCURSOR, 0, 0, 0, 0, false, false, true, 1, 0},
              {0, WM_SETCURSOR, 0, 0, 1, 0, false, false, false, 0, 0},
              {0, WM_SETCURSOR, 0, 0, 0, 1, false, false, false, 0, 0},
              {0, WM_SHOWWINDOW, 1, 0, 0, 0, false, false, true, 0, 0},
              {0, WM_SHOWWINDOW, 0, 0, 0, 0, false, false, false, 0, 0},
              {0, WM_SHOWWINDOW, 1, 0, 0, 1, false, false, false, 0, 0},
              {autoPlay, autoPlay, 0, 1, 0, 0, false, true, false, 0, 0},
              {autoPlay, autoPlay, 0, 1, 1, 0, true, true, false, 1, 0},
              {0, WM_NULL, 0, 0, 0, 0, false, false, false, 0, 0},
              {0, SCRM_VERIFYPW, 0, 0, 0, 0, true, false, false, 0, 0},
              {0, SCRM_VERIFYPW, 0, 1, 0, 0, false, false, false, 1, 0},
              {0, SCRM_VERIFYPW, 0, 1, 0, 0, true, false, false, 7, 1},
              {0, SCRM_VERIFYPW, 0, 1, 1, 0, true, false, false, 0, 0}};
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    hostState.autoPlayMessage = row.registered, hostState.onWin9x = row.win9x, hostState.previewMode = row.preview;
    hostState.checkingPassword = row.checking, hostState.verifyProc = row.scripted ? ScriptedVerifier : nullptr;
    verifier = {7, 0, 0, false, false};
    SetCursor(Arrow());
    EXPECT_EQ(DefaultSaverProc(window, row.message, row.wParam, 0), row.result);
    EXPECT_EQ(ClosesPosted(), row.closes ? 1 : 0);
    EXPECT_TRUE(verifier.calls == row.calls && (GetCursor() == nullptr) == row.hidden);
  }
}

TEST_F(LockTest, CloseIsCarriedOutUnlessTheVerifierRefuses) {
  const struct {
    int win9x, preview, closing;
    bool scripted;
    LRESULT answer;
    bool destroyed;
    int calls;
  } rows[] = {{0, 0, 0, true, 0, true, 0}, {1, 0, 0, false, 0, true, 0}, {1, 0, 0, true, 0, false, 1},
              {1, 0, 0, true, 9, true, 1}, {1, 1, 0, true, 0, true, 0},  {1, 0, 1, true, 0, true, 0}};
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    if (!IsWindow(window)) window = MakeWindow();
    hostState = {.onWin9x = row.win9x,
                 .previewMode = row.preview,
                 .closing = row.closing,
                 .verifyProc = row.scripted ? ScriptedVerifier : nullptr};
    verifier = {row.answer, 0, 0, false, false};
    SetCursorPos(333, 222);
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(!IsWindow(window) == row.destroyed && verifier.calls == row.calls);
    // A refusal takes the cursor where it is as the new reference.
    EXPECT_EQ(hostState.lastCursorPos.x, row.destroyed ? 0 : 333);
    if (row.win9x && !row.preview && !row.closing) {
      EXPECT_EQ(hostState.closing, row.scripted ? row.answer : 1);
    }
  }
}

TEST_F(LockTest, CloseGateAsksOnceOutsideTheQuietPeriodAndClearsPendingTicks) {
  const DWORD never = 0xFFFFFFFFu;  // `ago`: since the last answer, or never
  const struct {
    int checking;
    DWORD ago;
    LRESULT answer, result;
    int calls;
  } rows[] = {{1, never, 1, 0, 0}, {0, 100, 1, 0, 0}, {0, 200, 0, 0, 1}, {0, never, 0, 0, 1}, {0, never, 5, 5, 1}};
  hostState.onWin9x = 1, hostState.verifyProc = ScriptedVerifier;
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    hostState.checkingPassword = row.checking, hostState.closing = 0, verifier = {row.answer, 0, 0, false, false};
    SetTimer(window, 1, 50, nullptr), SetTimer(window, 2, 50, nullptr);  // both pending when the gate asks
    MSG tick;
    ASSERT_TRUE(PollUntil([&] { return PeekMessageA(&tick, window, WM_TIMER, WM_TIMER, PM_NOREMOVE) != 0; }));
    SetCursor(nullptr);
    const DWORD before = GetTickCount();
    hostState.lastPasswordCheckTick = row.ago == never ? NoPasswordCheckYet : before - row.ago;
    EXPECT_EQ(VerifyPasswordOnClose(window), row.result);
    KillTimer(window, 1), KillTimer(window, 2);
    EXPECT_EQ(verifier.calls, row.calls);
    if (!row.calls) continue;
    EXPECT_TRUE(verifier.sawChecking && !verifier.sawTimer);
    EXPECT_TRUE(hostState.checkingPassword == 0 && hostState.closing == row.result);
    EXPECT_LE(hostState.lastPasswordCheckTick - before, GetTickCount() - before);
    // A refusal hides the arrow that the password dialog showed.
    EXPECT_EQ(GetCursor() == nullptr, row.result == 0);
  }
}

void SetUsePassword(DWORD type, const char *bytes, DWORD size) {
  RegDeleteKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "ScreenSaveUsePassword");
  if (type != REG_NONE)
    RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "ScreenSaveUsePassword", type, bytes, size);
}

BOOL SaverRunning() {
  BOOL on = FALSE;
  return SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &on, 0) && on;
}

// The setting is read as a 4-byte integer; shorter values fill its low bytes.
TEST_F(LockTest, PasswordLibraryLoadsOnWindows9xWhenTheSettingIsOn) {
  const struct {
    int win9x;
    DWORD type;
    const char *bytes;
    DWORD size;
    bool locked;
  } rows[] = {{1, REG_NONE, "", 0, false},
              {1, REG_DWORD, "\0\0\0\0", 4, false},
              {1, REG_DWORD, "\1\0\0\0", 4, true},
              {1, REG_BINARY, "\1", 1, true},
              {1, REG_BINARY, "\0\1", 2, true},
              {1, REG_BINARY, "\0", 1, false},
              {1, REG_BINARY, "\1\0\0\0\0", 5, false},
              {0, REG_DWORD, "\1\0\0\0", 4, false}};
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    hostState.onWin9x = row.win9x;
    SetUsePassword(row.type, row.bytes, row.size);
    LoadPasswordVerifier();
    EXPECT_TRUE((hostState.verifierModule != nullptr) == row.locked && (hostState.verifyProc != nullptr) == row.locked);
    EXPECT_EQ(SaverRunning(), row.locked);
    LoadPasswordVerifier(), UnloadPasswordVerifier();  // a second load replaces the first
    EXPECT_TRUE(!hostState.verifierModule && !hostState.verifyProc && !GetModuleHandleA("password.cpl"));
    EXPECT_FALSE(SaverRunning());
  }
  SetUsePassword(REG_NONE, "", 0);
}

// While the verifier asks, its dialog's loop hands the saver window whatever arrives;
// none of it may close the saver or ask again. Only the verifier's yes closes it.
std::mt19937 chance;
bool lastAnswer;

void PostRandomActivity(HWND window) {
  const UINT messages[] = {WM_KEYDOWN, WM_LBUTTONDOWN, WM_CLOSE, WM_ACTIVATEAPP, WM_MOUSEMOVE, WM_TIMER, WM_SETCURSOR};
  const UINT message = messages[chance() % std::size(messages)];
  if (message == WM_MOUSEMOVE) SetCursorPos(200 + chance() % 20, 200 + chance() % 20);
  PostMessageA(window, message, message == WM_TIMER ? AnimationTimerId : 0, 0);
}

void Pump() {
  for (MSG m; PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&m);
}

BOOL WINAPI NestingVerifier(HWND window) {
  EXPECT_EQ(verifier.depth, 0) << "the verifier was asked while it was asking";
  ++verifier.depth, ++verifier.calls;
  for (unsigned i = chance() % 4; i > 0; --i) PostRandomActivity(window);
  Pump();
  EXPECT_TRUE(IsWindow(window)) << "closed while the verifier was asking";
  --verifier.depth;
  return lastAnswer = chance() % 4 == 0;
}

TEST(LockProperty, NothingButTheVerifiersYesClosesTheLockedSaver) {
  chance.seed(propertySeed);
  const WNDCLASSA saverClass = {0, SaverWindowProc, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, SaverClassName};
  RegisterClassA(&saverClass);
  HWND window = nullptr;
  for (unsigned step = 0; step < propertySteps; ++step) {
    if (!window) {
      hostState = {.onWin9x = 1, .verifyProc = NestingVerifier}, lastAnswer = false;
      window = CreateWindowExA(0, SaverClassName, "Screen Saver", WS_POPUP, 0, 0, 64, 64, 0, 0, 0, 0);
    }
    // Now and then wait out the quiet period, so that the verifier is asked again.
    if (chance() % 3 == 0)
      PollUntil([] { return GetTickCount() - hostState.lastPasswordCheckTick >= PasswordRecheckDelay; });
    PostRandomActivity(window);
    Pump();
    if (!IsWindow(window)) {
      ASSERT_TRUE(lastAnswer) << "closed without the verifier's yes at step " << step;
      window = nullptr;
    } else {
      ASSERT_FALSE(lastAnswer && hostState.closing) << "accepted but still open at step " << step;
    }
  }
  DestroyWindow(window), Pump(), UnregisterClassA(SaverClassName, nullptr);
  EXPECT_GT(verifier.calls, 0);
}

}  // namespace

// --seed N and --count N choose the random run; the rest goes to GoogleTest.
int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--seed")) propertySeed = strtoul(argv[i + 1], nullptr, 10);
    if (!strcmp(argv[i], "--count")) propertySteps = strtoul(argv[i + 1], nullptr, 10);
  }
  return RUN_ALL_TESTS();
}
