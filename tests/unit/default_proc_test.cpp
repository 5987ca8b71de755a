// The rules that end a running saver: every activity message in every state of
// the host, the mouse threshold and its reference point, the AutoPlay query,
// the verify message, and a close request where there is no password lock.
#include "tests/unit/sim_test.h"

#include <climits>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

const char TestClass[] = "DefaultProcTestClass";
const char TestTitle[] = "Screen Saver";
const char AutoPlayName[] = "QueryCancelAutoPlay";

constexpr int ClientWidth = 1024;
constexpr int ClientHeight = 768;
constexpr POINT Reference = {500, 400};
constexpr LONG FarMove = 40;  // a cursor offset well beyond the threshold

// wParam values of WM_POWERBROADCAST and WM_ACTIVATE that the platform names.
constexpr WPARAM PowerBroadcastQuerySuspend = 0x0;
constexpr WPARAM PowerBroadcastSuspend = 0x4;
constexpr WPARAM PowerBroadcastResumeSuspend = 0x7;
constexpr WPARAM PowerBroadcastStatusChange = 0xA;
constexpr WPARAM PowerBroadcastResumeAutomatic = 0x12;
constexpr WPARAM PowerBroadcastSettingChange = 0x8013;
constexpr WPARAM ActivateInactive = 0;
constexpr WPARAM WheelOneNotchDown = 0xFF880000;  // -120 in the high word

constexpr LPARAM KeyDownBits = 0x00390001;    // repeat 1, scan code of the space bar
constexpr LPARAM SysKeyDownBits = 0x20380001;  // the Alt key, context bit set
constexpr LPARAM ClientPointFarAway = MAKELPARAM(1000, 700);
constexpr LPARAM SetCursorOverClient = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
constexpr LRESULT ClosingValue = 0x100;  // any nonzero result of the close check

// Every table row prints as its name.
template <typename Case>
  requires requires(const Case &c) { c.name; }
void PrintTo(const Case &c, std::ostream *out) {
  *out << c.name;
}

// ---- The test's password verifier --------------------------------------------------

struct VerifierScript {
  BOOL answer = TRUE;
  int calls = 0;
  HWND window = nullptr;
};
VerifierScript verifier;

BOOL WINAPI ScriptedVerifier(HWND window) {
  ++verifier.calls;
  verifier.window = window;
  return verifier.answer;
}

// ---- States of the host --------------------------------------------------------------

enum class State { Running, Preview, Closing, CheckingPassword };

const char *StateName(State state) {
  switch (state) {
    case State::Running: return "Running";
    case State::Preview: return "Preview";
    case State::Closing: return "Closing";
    case State::CheckingPassword: return "CheckingPassword";
  }
  return "?";
}

void PrintTo(State state, std::ostream *out) { *out << StateName(state); }

const State AllStates[] = {State::Running, State::Preview, State::Closing, State::CheckingPassword};

void Enter(State state) {
  switch (state) {
    case State::Running: break;
    case State::Preview: hostState.previewMode = 1; break;
    case State::Closing: hostState.closing = ClosingValue; break;
    case State::CheckingPassword: hostState.checkingPassword = 1; break;
  }
}

// ---- What one message led to ---------------------------------------------------------

struct Outcome {
  LRESULT result = 0;
  size_t closeRequests = 0;  // PostMessageA(window, WM_CLOSE, 0, 0)
  size_t otherPosts = 0;
  size_t hiddenCursors = 0;  // SetCursor(NULL)
  size_t otherCursors = 0;
  size_t defaultCalls = 0;  // DefWindowProcA with the message's own arguments
  size_t otherDefaultCalls = 0;
  LRESULT defaultResult = 0;  // what the last of those answered
  bool defaultAfterCloseRequest = false;
};

Outcome Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SimClearJournal();
  Outcome out;
  out.result = DefaultSaverProc(window, message, wParam, lParam);
  for (const SimEvent &e : SimJournal()) {
    switch (e.kind) {
      case SimEventKind::PostMessage: {
        const bool close = e.window == window && e.message == WM_CLOSE && e.wParam == 0 && e.lParam == 0;
        ++(close ? out.closeRequests : out.otherPosts);
        break;
      }
      case SimEventKind::SetCursor:
        ++(e.cursor == nullptr ? out.hiddenCursors : out.otherCursors);
        break;
      case SimEventKind::DefWindowProc:
        if (e.window == window && e.message == message && e.wParam == wParam && e.lParam == lParam) {
          ++out.defaultCalls;
          out.defaultResult = e.result;
          out.defaultAfterCloseRequest = out.closeRequests > 0;
        } else {
          ++out.otherDefaultCalls;
        }
        break;
      default:
        break;
    }
  }
  return out;
}

class DefaultProcTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    verifier = VerifierScript{};
    hostState.instanceHandle = SimInstance();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefaultSaverProc;
    windowClass.hInstance = SimInstance();
    windowClass.lpszClassName = TestClass;
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    window = CreateWindowExA(0, TestClass, TestTitle, WS_POPUP, 0, 0, ClientWidth, ClientHeight, nullptr, nullptr,
                             SimInstance(), nullptr);
    ASSERT_NE(window, nullptr);
    PlaceCursor(0, 0);
    hostState.lastCursorPos = Reference;
    SimClearJournal();
  }

  // The cursor at an offset from the reference point.
  static void PlaceCursor(LONG dx, LONG dy) { SimSetCursorPos(Reference.x + dx, Reference.y + dy); }

  static void ExpectAtReference(POINT p) {
    EXPECT_EQ(p.x, Reference.x);
    EXPECT_EQ(p.y, Reference.y);
  }

  HWND window = nullptr;
};

// ---- The activity rules, each message in each state -------------------------------------

// What a message leads to while the rules apply.
enum class Rule { Nothing, CloseRequest, HideCursor, HideCursorAnswerOne };

struct ActivityCase {
  const char *name;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  Rule rule;
};

const ActivityCase ActivityCases[] = {
    {"ShowWindowBeingShown", WM_SHOWWINDOW, TRUE, 0, Rule::HideCursor},
    {"ShowWindowWithWParamTwo", WM_SHOWWINDOW, 2, 0, Rule::HideCursor},
    {"ShowWindowBeingHidden", WM_SHOWWINDOW, FALSE, 0, Rule::Nothing},
    {"ActivateAppLosingActivation", WM_ACTIVATEAPP, FALSE, 0, Rule::CloseRequest},
    {"ActivateAppGainingActivation", WM_ACTIVATEAPP, TRUE, 0, Rule::Nothing},
    {"ActivateAppWithWParamTwo", WM_ACTIVATEAPP, 2, 0, Rule::Nothing},
    {"SetCursorOverClient", WM_SETCURSOR, 0, SetCursorOverClient, Rule::HideCursorAnswerOne},
    {"SetCursorWithoutArguments", WM_SETCURSOR, 0, 0, Rule::HideCursorAnswerOne},
    {"PowerCriticalResume", WM_POWER, PWR_CRITICALRESUME, 0, Rule::CloseRequest},
    {"PowerSuspendRequest", WM_POWER, PWR_SUSPENDREQUEST, 0, Rule::Nothing},
    {"PowerSuspendResume", WM_POWER, PWR_SUSPENDRESUME, 0, Rule::Nothing},
    {"PowerWParamZero", WM_POWER, 0, 0, Rule::Nothing},
    {"PowerWParamFour", WM_POWER, 4, 0, Rule::Nothing},
    {"PowerWParamCriticalResumeInHighBits", WM_POWER, 0x10003, 0, Rule::Nothing},
    {"KeyDown", WM_KEYDOWN, VK_SPACE, KeyDownBits, Rule::CloseRequest},
    {"KeyDownWithoutArguments", WM_KEYDOWN, 0, 0, Rule::CloseRequest},
    {"SysKeyDown", WM_SYSKEYDOWN, VK_MENU, SysKeyDownBits, Rule::CloseRequest},
    {"MouseMoveBeyondThreshold", WM_MOUSEMOVE, 0, ClientPointFarAway, Rule::CloseRequest},
    {"LeftButtonDown", WM_LBUTTONDOWN, MK_LBUTTON, ClientPointFarAway, Rule::CloseRequest},
    {"RightButtonDown", WM_RBUTTONDOWN, MK_RBUTTON, ClientPointFarAway, Rule::CloseRequest},
    {"MiddleButtonDown", WM_MBUTTONDOWN, MK_MBUTTON, ClientPointFarAway, Rule::CloseRequest},
    {"PowerBroadcastQuerySuspend", WM_POWERBROADCAST, PowerBroadcastQuerySuspend, 0, Rule::CloseRequest},
    {"PowerBroadcastSuspend", WM_POWERBROADCAST, PowerBroadcastSuspend, 0, Rule::CloseRequest},
    {"PowerBroadcastResumeSuspend", WM_POWERBROADCAST, PowerBroadcastResumeSuspend, 0, Rule::CloseRequest},
    {"PowerBroadcastStatusChange", WM_POWERBROADCAST, PowerBroadcastStatusChange, 0, Rule::CloseRequest},
    {"PowerBroadcastResumeAutomatic", WM_POWERBROADCAST, PowerBroadcastResumeAutomatic, 0, Rule::CloseRequest},
    {"PowerBroadcastSettingChange", WM_POWERBROADCAST, PowerBroadcastSettingChange, 0, Rule::CloseRequest},
    {"PowerBroadcastAllBitsSet", WM_POWERBROADCAST, 0xFFFFFFFF, 0, Rule::CloseRequest},
    {"KeyUp", WM_KEYUP, VK_SPACE, KeyDownBits, Rule::Nothing},
    {"SysKeyUp", WM_SYSKEYUP, VK_MENU, SysKeyDownBits, Rule::Nothing},
    {"Char", WM_CHAR, ' ', KeyDownBits, Rule::Nothing},
    {"LeftButtonUp", WM_LBUTTONUP, 0, ClientPointFarAway, Rule::Nothing},
    {"RightButtonUp", WM_RBUTTONUP, 0, ClientPointFarAway, Rule::Nothing},
    {"MiddleButtonUp", WM_MBUTTONUP, 0, ClientPointFarAway, Rule::Nothing},
    {"LeftButtonDoubleClick", WM_LBUTTONDBLCLK, MK_LBUTTON, ClientPointFarAway, Rule::Nothing},
    {"ExtraButtonDown", WM_XBUTTONDOWN, MK_XBUTTON1, ClientPointFarAway, Rule::Nothing},
    {"MouseWheel", WM_MOUSEWHEEL, WheelOneNotchDown, ClientPointFarAway, Rule::Nothing},
    {"NullWithoutAutoPlayRegistered", WM_NULL, 0, 0, Rule::Nothing},
    {"ActivateInactive", WM_ACTIVATE, ActivateInactive, 0, Rule::Nothing},
    {"Timer", WM_TIMER, 1, 0, Rule::Nothing},
    {"GetTextLength", WM_GETTEXTLENGTH, 0, 0, Rule::Nothing},
    {"UserMessage", WM_USER, 1, 2, Rule::Nothing},
    {"MessageAfterVerify", SCRM_VERIFYPW + 1, 0, 0, Rule::Nothing},
};

class ActivityRuleTest : public DefaultProcTest, public ::testing::WithParamInterface<std::tuple<ActivityCase, State>> {};

// While the saver runs, a message does what its rule says; in preview, once a
// close was accepted, and while the password dialog is up, every one of them
// goes untouched to the default handling.
TEST_P(ActivityRuleTest, FollowsItsRuleOnlyWhileTheSaverRuns) {
  const auto &[c, state] = GetParam();
  Enter(state);
  PlaceCursor(FarMove, 0);
  const HostState before = hostState;
  const Rule rule = state == State::Running ? c.rule : Rule::Nothing;

  const Outcome out = Deliver(window, c.message, c.wParam, c.lParam);

  EXPECT_EQ(out.closeRequests, rule == Rule::CloseRequest ? 1u : 0u);
  EXPECT_EQ(out.otherPosts, 0u);
  EXPECT_EQ(out.hiddenCursors, rule == Rule::HideCursor || rule == Rule::HideCursorAnswerOne ? 1u : 0u);
  EXPECT_EQ(out.otherCursors, 0u);
  EXPECT_EQ(out.otherDefaultCalls, 0u);
  if (rule == Rule::HideCursorAnswerOne) {
    EXPECT_EQ(out.defaultCalls, 0u);
    EXPECT_EQ(out.result, 1);
  } else {
    EXPECT_EQ(out.defaultCalls, 1u);
    EXPECT_EQ(out.result, out.defaultResult);
  }
  if (rule == Rule::CloseRequest) {
    EXPECT_TRUE(out.defaultAfterCloseRequest);
  }

  // A close request is queued, never carried out on the spot.
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(SimQueuedMessages().size(), out.closeRequests);
  const bool referenceMoves = state == State::Running && c.message == WM_MOUSEMOVE;
  EXPECT_EQ(hostState.lastCursorPos.x, referenceMoves ? Reference.x + FarMove : Reference.x);
  EXPECT_EQ(hostState.lastCursorPos.y, Reference.y);
  EXPECT_EQ(hostState.closing, before.closing);
  EXPECT_EQ(hostState.previewMode, before.previewMode);
  EXPECT_EQ(hostState.checkingPassword, before.checkingPassword);
}

INSTANTIATE_TEST_SUITE_P(EachMessageInEachState, ActivityRuleTest,
                         ::testing::Combine(::testing::ValuesIn(ActivityCases), ::testing::ValuesIn(AllStates)),
                         [](const auto &info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  StateName(std::get<1>(info.param));
                         });

// ---- The mouse rule ------------------------------------------------------------------------

struct MouseCase {
  const char *name;
  LONG dx, dy;  // cursor offset from the reference point
  bool closes;
};

const MouseCase MouseCases[] = {
    {"NoMovement", 0, 0, false},
    {"ThreeRightOneDownSumsFour", 3, 1, false},
    {"TwoLeftTwoDownSumsFour", -2, 2, false},
    {"FourUp", 0, -4, false},
    {"FourLeft", -4, 0, false},
    {"ThreeRightTwoDownSumsFive", 3, 2, true},
    {"FiveLeft", -5, 0, true},
    {"TwoLeftThreeUpSumsFive", -2, -3, true},
    {"FarDiagonal", 300, -200, true},
};

class MouseRuleTest : public DefaultProcTest, public ::testing::WithParamInterface<MouseCase> {};

// The distance is the horizontal plus the vertical offset of the cursor as the
// system reports it; the point carried by the message plays no part.
TEST_P(MouseRuleTest, ClosesOnlyBeyondFourPixelsAndThenMovesTheReference) {
  const MouseCase &c = GetParam();
  PlaceCursor(c.dx, c.dy);

  const Outcome out = Deliver(window, WM_MOUSEMOVE, 0, ClientPointFarAway);

  EXPECT_EQ(out.closeRequests, c.closes ? 1u : 0u);
  EXPECT_EQ(out.defaultCalls, 1u);
  EXPECT_EQ(hostState.lastCursorPos.x, c.closes ? Reference.x + c.dx : Reference.x);
  EXPECT_EQ(hostState.lastCursorPos.y, c.closes ? Reference.y + c.dy : Reference.y);
}

INSTANTIATE_TEST_SUITE_P(Offsets, MouseRuleTest, ::testing::ValuesIn(MouseCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Small movements add up against a reference point that stays put until they
// carry the cursor more than four pixels from it.
TEST_F(DefaultProcTest, FiveSinglePixelStepsCloseOnTheFifth) {
  const POINT directions[] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  for (const POINT step : directions) {
    SCOPED_TRACE(testing::Message() << "step (" << step.x << "," << step.y << ")");
    hostState.lastCursorPos = Reference;
    for (LONG n = 1; n <= 5; ++n) {
      PlaceCursor(n * step.x, n * step.y);
      const Outcome out = Deliver(window, WM_MOUSEMOVE, 0, 0);
      EXPECT_EQ(out.closeRequests, n == 5 ? 1u : 0u) << "step " << n;
    }
    EXPECT_EQ(hostState.lastCursorPos.x, Reference.x + 5 * step.x);
    EXPECT_EQ(hostState.lastCursorPos.y, Reference.y + 5 * step.y);

    // Measured from the new reference, one more step is small again.
    PlaceCursor(6 * step.x, 6 * step.y);
    EXPECT_EQ(Deliver(window, WM_MOUSEMOVE, 0, 0).closeRequests, 0u);
  }
}

struct FarCursorCase {
  const char *name;
  POINT reference;
  POINT cursor;
  bool closes;
};

const FarCursorCase FarCursorCases[] = {
    {"CornerToOppositeCorner", {INT_MAX, INT_MAX}, {INT_MIN, INT_MIN}, true},
    {"LeftEdgeToRightEdge", {INT_MIN, 0}, {INT_MAX, 0}, true},
    {"OriginToMostNegative", {0, 0}, {INT_MIN, INT_MIN}, true},
    {"MinusOneToMostPositive", {-1, -1}, {INT_MAX, INT_MAX}, true},
    {"StillAtTheExtremes", {INT_MIN, INT_MAX}, {INT_MIN, INT_MAX}, false},
    {"FourFromTheExtremes", {INT_MAX, INT_MIN}, {INT_MAX - 2, INT_MIN + 2}, false},
    {"FiveFromTheExtremes", {INT_MIN, INT_MAX}, {INT_MIN + 3, INT_MAX - 2}, true},
};

class FarCursorTest : public DefaultProcTest, public ::testing::WithParamInterface<FarCursorCase> {};

// Offsets between the extremes of the coordinate range are measured without
// overflow.
TEST_P(FarCursorTest, MeasuresTheDistanceWithoutOverflow) {
  const FarCursorCase &c = GetParam();
  hostState.lastCursorPos = c.reference;
  SimSetCursorPos(c.cursor.x, c.cursor.y);

  const Outcome out = Deliver(window, WM_MOUSEMOVE, 0, 0);

  EXPECT_EQ(out.closeRequests, c.closes ? 1u : 0u);
  const POINT expected = c.closes ? c.cursor : c.reference;
  EXPECT_EQ(hostState.lastCursorPos.x, expected.x);
  EXPECT_EQ(hostState.lastCursorPos.y, expected.y);
}

INSTANTIATE_TEST_SUITE_P(Extremes, FarCursorTest, ::testing::ValuesIn(FarCursorCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- The AutoPlay query -----------------------------------------------------------------------

class AutoPlayQueryTest : public DefaultProcTest, public ::testing::WithParamInterface<std::tuple<State, bool>> {};

// The query closes the saver in every state and is answered "cancel" (1) while
// the password lock is loaded, so that nothing starts behind it; the verifier
// itself is not asked.
TEST_P(AutoPlayQueryTest, PostsACloseRequestAndCancelsOnlyWhileAVerifierIsLoaded) {
  const auto &[state, verifierLoaded] = GetParam();
  hostState.onWin9x = 1;
  hostState.autoPlayMessage = RegisterWindowMessageA(AutoPlayName);
  ASSERT_NE(hostState.autoPlayMessage, 0u);
  if (verifierLoaded) hostState.verifyProc = ScriptedVerifier;
  Enter(state);

  const Outcome out = Deliver(window, hostState.autoPlayMessage, 0, 0);

  EXPECT_EQ(out.result, verifierLoaded ? 1 : 0);
  EXPECT_EQ(out.closeRequests, 1u);
  EXPECT_EQ(out.defaultCalls + out.otherDefaultCalls, 0u);
  EXPECT_EQ(out.hiddenCursors, 0u);
  EXPECT_EQ(verifier.calls, 0);
  EXPECT_TRUE(IsWindow(window));
}

INSTANTIATE_TEST_SUITE_P(EachState, AutoPlayQueryTest,
                         ::testing::Combine(::testing::ValuesIn(AllStates), ::testing::Bool()),
                         [](const auto &info) {
                           return std::string(StateName(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) ? "_WithVerifier" : "_WithoutVerifier");
                         });

// Message 0 is the AutoPlay message only once that was registered: unregistered,
// WM_NULL is an ordinary message, whatever else the host has loaded.
TEST_F(DefaultProcTest, NullMessageGoesToTheDefaultWhenAutoPlayWasNotRegistered) {
  hostState.onWin9x = 1;
  hostState.verifyProc = ScriptedVerifier;
  for (const State state : AllStates) {
    SCOPED_TRACE(StateName(state));
    hostState.previewMode = hostState.checkingPassword = 0;
    hostState.closing = 0;
    Enter(state);
    const Outcome out = Deliver(window, WM_NULL, 0, 0);
    EXPECT_EQ(out.closeRequests, 0u);
    EXPECT_EQ(out.defaultCalls, 1u);
    EXPECT_EQ(out.result, out.defaultResult);
  }
}

TEST_F(DefaultProcTest, NullMessageStaysOrdinaryWhenAutoPlayIsRegistered) {
  hostState.onWin9x = 1;
  hostState.verifyProc = ScriptedVerifier;
  hostState.autoPlayMessage = RegisterWindowMessageA(AutoPlayName);
  const Outcome out = Deliver(window, WM_NULL, 0, 0);
  EXPECT_EQ(out.closeRequests, 0u);
  EXPECT_EQ(out.defaultCalls, 1u);
}

// ---- The verify message ---------------------------------------------------------------------

enum class Verifier { None, Refuses, Accepts, AnswersSeven, AnswersMinusOne };

struct VerifyCase {
  const char *name;
  int onWin9x;
  Verifier verifier;
  State state;
  bool runsVerifier;  // otherwise the message goes to DefWindowProcA
  LRESULT result;     // when it does not go to DefWindowProcA
};

const VerifyCase VerifyCases[] = {
    {"NotWin9xGoesToDefault", 0, Verifier::AnswersSeven, State::Running, false, 0},
    {"NotWin9xWithoutVerifierGoesToDefault", 0, Verifier::None, State::Running, false, 0},
    {"Win9xWithoutVerifierAnswersOne", 1, Verifier::None, State::Running, false, 1},
    {"Win9xRefusedAnswersZero", 1, Verifier::Refuses, State::Running, true, 0},
    {"Win9xAcceptedAnswersOne", 1, Verifier::Accepts, State::Running, true, 1},
    {"Win9xAnswerPassesUnchanged", 1, Verifier::AnswersSeven, State::Running, true, 7},
    {"Win9xNegativeAnswerPassesUnchanged", 1, Verifier::AnswersMinusOne, State::Running, true, -1},
    {"Win9xWhileCheckingPasswordRunsVerifier", 1, Verifier::AnswersSeven, State::CheckingPassword, true, 7},
    {"Win9xWhileCheckingWithoutVerifierAnswersOne", 1, Verifier::None, State::CheckingPassword, false, 1},
    {"Win9xInPreviewGoesToDefault", 1, Verifier::AnswersSeven, State::Preview, false, 0},
    {"Win9xWhileClosingGoesToDefault", 1, Verifier::AnswersSeven, State::Closing, false, 0},
    {"Win9xWithoutVerifierInPreviewGoesToDefault", 1, Verifier::None, State::Preview, false, 0},
    {"Win9xWithoutVerifierWhileClosingGoesToDefault", 1, Verifier::None, State::Closing, false, 0},
};

BOOL VerifierAnswer(Verifier v) {
  switch (v) {
    case Verifier::Refuses: return 0;
    case Verifier::Accepts: return 1;
    case Verifier::AnswersSeven: return 7;
    case Verifier::AnswersMinusOne: return -1;
    case Verifier::None: break;
  }
  return 0;
}

bool AnsweredWithoutDefault(const VerifyCase &c) {
  return c.onWin9x && (c.state == State::Running || c.state == State::CheckingPassword);
}

class VerifyMessageTest : public DefaultProcTest, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(VerifyMessageTest, RunsTheVerifierOnlyOnWin9xOutsidePreviewAndBeforeClosing) {
  const VerifyCase &c = GetParam();
  hostState.onWin9x = c.onWin9x;
  if (c.verifier != Verifier::None) {
    hostState.verifyProc = ScriptedVerifier;
    verifier.answer = VerifierAnswer(c.verifier);
  }
  Enter(c.state);

  const Outcome out = Deliver(window, SCRM_VERIFYPW, 0, 0);

  EXPECT_EQ(verifier.calls, c.runsVerifier ? 1 : 0);
  if (c.runsVerifier) {
    EXPECT_EQ(verifier.window, window);
  }
  if (AnsweredWithoutDefault(c)) {
    EXPECT_EQ(out.defaultCalls, 0u);
    EXPECT_EQ(out.result, c.result);
  } else {
    EXPECT_EQ(out.defaultCalls, 1u);
    EXPECT_EQ(out.result, out.defaultResult);
  }
  EXPECT_EQ(out.otherDefaultCalls, 0u);
  EXPECT_EQ(out.closeRequests + out.otherPosts, 0u);
  EXPECT_EQ(out.hiddenCursors, 0u);
  EXPECT_TRUE(IsWindow(window));
}

INSTANTIATE_TEST_SUITE_P(Branches, VerifyMessageTest, ::testing::ValuesIn(VerifyCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- A close request without the password lock ------------------------------------------------

class CloseWithoutLockTest : public DefaultProcTest, public ::testing::WithParamInterface<State> {};

// Off Windows 9x nothing stands between a close request and the default
// handling, which destroys the window; even a loaded verifier is not asked.
TEST_P(CloseWithoutLockTest, GoesToTheDefaultAndDestroysTheWindow) {
  Enter(GetParam());
  const LRESULT closingBefore = hostState.closing;
  hostState.verifyProc = ScriptedVerifier;
  verifier.answer = FALSE;
  PlaceCursor(FarMove, FarMove);

  const Outcome out = Deliver(window, WM_CLOSE, 0, 0);

  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.defaultCalls, 1u);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(SimCount(SimEventKind::DestroyWindow), 1u);
  bool destroyReachedDefault = false;
  for (const SimEvent &e : SimJournalOf({SimEventKind::DefWindowProc})) {
    destroyReachedDefault |= e.window == window && e.message == WM_DESTROY;
  }
  EXPECT_TRUE(destroyReachedDefault);
  EXPECT_EQ(verifier.calls, 0);
  EXPECT_EQ(hostState.closing, closingBefore);
  ExpectAtReference(hostState.lastCursorPos);
  EXPECT_EQ(out.closeRequests + out.otherPosts, 0u);
  EXPECT_EQ(out.hiddenCursors, 0u);
}

INSTANTIATE_TEST_SUITE_P(EachState, CloseWithoutLockTest, ::testing::ValuesIn(AllStates),
                         [](const auto &info) { return std::string(StateName(info.param)); });

}  // namespace
