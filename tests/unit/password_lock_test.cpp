// The Windows 9x password lock (the password setting, the verifier library, the
// saver-running flag, the close gate and its quiet period, re-entry while the
// dialog is up, the exception guard) and the "/a" password change.
#include "host/host.h"
#include "tests/unit/sim_test.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr char PasswordLibrary[] = "PASSWORD.CPL";
constexpr char VerifyEntry[] = "VerifyScreenSavePwd";
constexpr char PasswordChangeLibrary[] = "MPR.DLL";
constexpr char PasswordChangeEntry[] = "PwdChangePasswordA";
constexpr char DesktopKey[] = "Control Panel\\Desktop";
constexpr char UsePasswordValue[] = "ScreenSaveUsePassword";
constexpr char GateClass[] = "PasswordGateTestClass";

constexpr DWORD DialogDurationMs = 2500;  // how long the test's "dialog" keeps the user
constexpr DWORD UserPauseMs = 1000;       // between two key presses of the whole-saver runs
constexpr UINT RemoveTimerFlags = PM_REMOVE | PM_NOYIELD;
constexpr DWORD AccessViolation = 0xC0000005u;
constexpr int AcceptedByVerifier = 7;  // any nonzero verifier result accepts
constexpr UINT ExitCodeMinusOne = 0xFFFFFFFFu;

const HCURSOR DialogCursor = reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x7F00));

// ---- The test's PASSWORD.CPL and MPR.DLL ------------------------------------------

// What VerifyScreenSavePwd does in the running test, and what it saw.
struct VerifierRecord {
  std::function<BOOL(HWND)> answer;
  int calls = 0;
  HWND window = nullptr;
  std::string windowClass;
  int checkingPasswordSeen = -1;
  LRESULT closingSeen = -1;
};
VerifierRecord verifier;

BOOL WINAPI TestVerifier(HWND window) {
  ++verifier.calls;
  verifier.window = window;
  verifier.windowClass = IsWindow(window) ? SimGetWindow(window).className : "";
  verifier.checkingPasswordSeen = hostState.checkingPassword;
  verifier.closingSeen = hostState.closing;
  return verifier.answer ? verifier.answer(window) : FALSE;
}

struct PasswordChangeRecord {
  int calls = 0;
  std::string provider;
  HWND owner = nullptr;
  DWORD reserved1 = 1;
  DWORD reserved2 = 1;
};
PasswordChangeRecord passwordChange;

DWORD WINAPI TestPwdChangePassword(LPCSTR provider, HWND owner, DWORD reserved1, DWORD reserved2) {
  ++passwordChange.calls;
  passwordChange.provider = provider ? provider : "(null)";
  passwordChange.owner = owner;
  passwordChange.reserved1 = reserved1;
  passwordChange.reserved2 = reserved2;
  return 0;
}

template <typename Function>
FARPROC AsEntry(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// A refusing or accepting dialog that takes its time, as a user does.
std::function<BOOL(HWND)> Answer(BOOL result) {
  return [result](HWND) {
    SimAdvanceClock(DialogDurationMs);
    return result;
  };
}

// Table rows are named, in test names and in listings.
template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row> &info) {
  return info.param.name;
}

// ---- Fixture -------------------------------------------------------------------------

class PasswordLockTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    verifier = VerifierRecord{};
    passwordChange = PasswordChangeRecord{};
  }

  // A lock still loaded when a test ends stands for a process that ended with it loaded:
  // the system frees the library then. Tests of a whole run check the release themselves.
  void TearDown() override {
    UnloadPasswordVerifier();
    SimTest::TearDown();
  }

  static void UseWin9x() {
    SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    hostState.onWin9x = 1;
  }

  static void InstallVerifier() { SimInstallLibrary(PasswordLibrary, {{VerifyEntry, AsEntry(TestVerifier)}}); }

  static void InstallPasswordChange() {
    SimInstallLibrary(PasswordChangeLibrary, {{PasswordChangeEntry, AsEntry(TestPwdChangePassword)}});
  }

  static void SetPasswordSetting(DWORD value) { SimSetRegistryDword(DesktopKey, UsePasswordValue, value); }

  // Windows 9x with the setting on and the verifier loaded.
  static void LoadLock() {
    UseWin9x();
    InstallVerifier();
    SetPasswordSetting(1);
    LoadPasswordVerifier();
    ASSERT_NE(hostState.verifyProc, nullptr);
  }

  // A window whose procedure is the host's default handling, so that the gate and the
  // verify message meet the real code without the animation in between.
  static HWND MakeGateWindow() {
    WNDCLASSA gateClass = {};
    gateClass.lpfnWndProc = DefaultSaverProc;
    gateClass.hInstance = SimInstance();
    gateClass.lpszClassName = GateClass;
    EXPECT_NE(RegisterClassA(&gateClass), 0);
    const HWND window = CreateWindowExA(0, GateClass, "Gate", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                        nullptr, SimInstance(), nullptr);
    EXPECT_NE(window, nullptr);
    return window;
  }

  static std::vector<SimEvent> PostedCloses() {
    std::vector<SimEvent> closes;
    for (const SimEvent &event : SimJournalOf({SimEventKind::PostMessage})) {
      if (event.message == WM_CLOSE) closes.push_back(event);
    }
    return closes;
  }

  static std::vector<int64_t> SaverRunningCalls() {
    std::vector<int64_t> calls;
    for (const SimEvent &event : SimJournalOf({SimEventKind::SystemParametersInfo})) {
      EXPECT_EQ(event.id, static_cast<UINT_PTR>(SPI_SCREENSAVERRUNNING));
      EXPECT_EQ(event.flags, 0u);
      calls.push_back(event.value);
    }
    return calls;
  }
};

// ---- The password setting ----------------------------------------------------------------

enum class KeyState { Present, Missing, OpenFails };

struct PasswordSettingRow {
  const char *name;
  KeyState key;
  bool valuePresent;
  DWORD type;
  std::vector<BYTE> bytes;
  bool locks;
};
void PrintTo(const PasswordSettingRow &row, std::ostream *out) { *out << row.name; }

// The value is read into a zeroed 32-bit integer, 4 bytes at most, whatever its type: a
// shorter value reads as its own low bytes, a longer one cannot be read, and a string
// counts by its bytes ("0" is 0x30 0x00, so on).
const PasswordSettingRow passwordSettingRows[] = {
    {"KeyOpenFails", KeyState::OpenFails, true, REG_DWORD, {1, 0, 0, 0}, false},
    {"KeyMissing", KeyState::Missing, false, REG_DWORD, {}, false},
    {"ValueMissing", KeyState::Present, false, REG_DWORD, {}, false},
    {"DwordZero", KeyState::Present, true, REG_DWORD, {0, 0, 0, 0}, false},
    {"DwordOne", KeyState::Present, true, REG_DWORD, {1, 0, 0, 0}, true},
    {"DwordHighByteOnly", KeyState::Present, true, REG_DWORD, {0, 0, 0, 0x80}, true},
    {"EmptyValue", KeyState::Present, true, REG_BINARY, {}, false},
    {"OneByteOne", KeyState::Present, true, REG_BINARY, {0x01}, true},
    {"OneByteZero", KeyState::Present, true, REG_BINARY, {0x00}, false},
    {"TwoBytesHighOne", KeyState::Present, true, REG_BINARY, {0x00, 0x01}, true},
    {"ThreeBytesZero", KeyState::Present, true, REG_BINARY, {0, 0, 0}, false},
    {"FiveBytesOne", KeyState::Present, true, REG_BINARY, {1, 0, 0, 0, 0}, false},
    {"EightBytesOne", KeyState::Present, true, REG_BINARY, {1, 1, 1, 1, 1, 1, 1, 1}, false},
    {"StringOne", KeyState::Present, true, REG_SZ, {'1', 0}, true},
    {"StringZero", KeyState::Present, true, REG_SZ, {'0', 0}, true},
    {"EmptyString", KeyState::Present, true, REG_SZ, {0}, false},
    {"StringOfFiveBytes", KeyState::Present, true, REG_SZ, {'1', '0', '0', '0', 0}, false},
};

class PasswordSettingTest : public PasswordLockTest, public ::testing::WithParamInterface<PasswordSettingRow> {};

TEST_P(PasswordSettingTest, LoadsLockExactlyWhenTheValueReadsNonzero) {
  const PasswordSettingRow &row = GetParam();
  UseWin9x();
  InstallVerifier();
  if (row.key == KeyState::OpenFails) SimFailRegOpenKey(ERROR_ACCESS_DENIED);
  if (row.key != KeyState::Missing) SimCreateRegistryKey(DesktopKey);
  if (row.valuePresent) SimSetRegistryValue(DesktopKey, UsePasswordValue, row.bytes, row.type);

  LoadPasswordVerifier();

  EXPECT_EQ(hostState.verifyProc != nullptr, row.locks);
  EXPECT_EQ(hostState.verifierModule != nullptr, row.locks);
  EXPECT_EQ(SimScreenSaverRunning(), row.locks ? TRUE : FALSE);
  EXPECT_EQ(SimLibraryLoadCount(PasswordLibrary), row.locks ? 1 : 0);
  EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), row.locks ? 1u : 0u);
  EXPECT_EQ(SimCount(SimEventKind::RegCloseKey), row.key == KeyState::Present ? 1u : 0u);

  UnloadPasswordVerifier();
  EXPECT_EQ(SimScreenSaverRunning(), FALSE);
  EXPECT_EQ(SimLibraryLoadCount(PasswordLibrary), 0);
  EXPECT_EQ(hostState.verifyProc, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Registry, PasswordSettingTest, ::testing::ValuesIn(passwordSettingRows),
                         RowName<PasswordSettingRow>);

// ---- The verifier library ------------------------------------------------------------------

struct VerifierLibraryRow {
  const char *name;
  bool installed;
  bool hasEntry;
};
void PrintTo(const VerifierLibraryRow &row, std::ostream *out) { *out << row.name; }

const VerifierLibraryRow verifierLibraryRows[] = {
    {"LibraryMissing", false, false},
    {"EntryMissing", true, false},
};

class VerifierLibraryTest : public PasswordLockTest, public ::testing::WithParamInterface<VerifierLibraryRow> {};

// Without the library or its entry there is no lock, and the flag (set here by someone
// else) is neither set nor cleared.
TEST_P(VerifierLibraryTest, NoLockAndSaverRunningFlagUntouched) {
  const VerifierLibraryRow &row = GetParam();
  UseWin9x();
  SetPasswordSetting(1);
  if (row.installed) SimInstallLibrary(PasswordLibrary, {{"SomethingElse", AsEntry(TestVerifier)}});
  BOOL previous = FALSE;
  SystemParametersInfoA(SPI_SCREENSAVERRUNNING, TRUE, &previous, 0);
  SimClearJournal();

  LoadPasswordVerifier();
  EXPECT_EQ(hostState.verifyProc, nullptr);
  EXPECT_EQ(hostState.verifierModule, nullptr);
  EXPECT_EQ(SimLibraryLoadCount(PasswordLibrary), 0);
  EXPECT_EQ(SimCount(SimEventKind::FreeLibrary), row.installed ? 1u : 0u);

  UnloadPasswordVerifier();
  EXPECT_EQ(SimCount(SimEventKind::FreeLibrary), row.installed ? 1u : 0u);
  EXPECT_EQ(SimCount(SimEventKind::SystemParametersInfo), 0u);
  EXPECT_EQ(SimScreenSaverRunning(), TRUE);

  // The close gate then lets the close go at once.
  const HWND window = MakeGateWindow();
  EXPECT_EQ(VerifyPasswordOnClose(window), 1);
  EXPECT_EQ(hostState.closing, 1);
  EXPECT_EQ(verifier.calls, 0);
}

INSTANTIATE_TEST_SUITE_P(Library, VerifierLibraryTest, ::testing::ValuesIn(verifierLibraryRows),
                         RowName<VerifierLibraryRow>);

// ---- The saver-running flag ----------------------------------------------------------------

TEST_F(PasswordLockTest, SaverRunningFlagSetOnLoadAndClearedOnUnload) {
  LoadLock();
  EXPECT_EQ(SaverRunningCalls(), (std::vector<int64_t>{1}));
  EXPECT_EQ(SimScreenSaverRunning(), TRUE);
  UnloadPasswordVerifier();
  EXPECT_EQ(SaverRunningCalls(), (std::vector<int64_t>{1, 0}));
  EXPECT_EQ(SimScreenSaverRunning(), FALSE);
  EXPECT_EQ(hostState.verifierModule, nullptr);
  UnloadPasswordVerifier();
  EXPECT_EQ(SaverRunningCalls(), (std::vector<int64_t>{1, 0}));
  EXPECT_EQ(SimCount(SimEventKind::FreeLibrary), 1u);
}

TEST_F(PasswordLockTest, LoadingAgainReleasesTheFirstLockBeforeTheSecond) {
  LoadLock();
  LoadPasswordVerifier();
  EXPECT_EQ(SimLibraryLoadCount(PasswordLibrary), 1);
  EXPECT_EQ(SaverRunningCalls(), (std::vector<int64_t>{1, 0, 1}));
  const std::vector<SimEvent> library = SimJournalOf({SimEventKind::LoadLibrary, SimEventKind::FreeLibrary});
  ASSERT_EQ(library.size(), 3u);
  EXPECT_EQ(library[0].kind, SimEventKind::LoadLibrary);
  EXPECT_EQ(library[1].kind, SimEventKind::FreeLibrary);
  EXPECT_EQ(library[2].kind, SimEventKind::LoadLibrary);
  UnloadPasswordVerifier();
}

// On the NT family the lock never runs: no registry read, no library, no flag.
TEST_F(PasswordLockTest, NothingOfTheLockRunsOnNt) {
  InstallVerifier();
  SetPasswordSetting(1);
  hostState.onWin9x = 0;
  LoadPasswordVerifier();
  SetSaverRunning(TRUE);
  UnloadPasswordVerifier();
  EXPECT_EQ(hostState.verifyProc, nullptr);
  EXPECT_EQ(SimCount(SimEventKind::RegOpenKey), 0u);
  EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), 0u);
  EXPECT_EQ(SimCount(SimEventKind::SystemParametersInfo), 0u);
}

// ---- The close gate --------------------------------------------------------------------------

TEST_F(PasswordLockTest, WithoutLockCloseIsAllowedAtOnce) {
  UseWin9x();
  const HWND window = MakeGateWindow();
  SimClearJournal();
  EXPECT_EQ(VerifyPasswordOnClose(window), 1);
  EXPECT_EQ(hostState.closing, 1);
  EXPECT_EQ(hostState.lastPasswordCheckTick, NoPasswordCheckYet);
  EXPECT_EQ(SimCount(SimEventKind::PeekMessage), 0u);
  EXPECT_EQ(SimCount(SimEventKind::SendMessage), 0u);
}

// Steps in their order: the flag is up while the timer ticks are removed and the verify
// message is sent; after a refusal the cursor is hidden again.
TEST_F(PasswordLockTest, RefusalRunsTheStepsInOrder) {
  LoadLock();
  const HWND window = MakeGateWindow();
  verifier.answer = [](HWND) {
    SetCursor(DialogCursor);
    return FALSE;
  };
  SimClearJournal();

  EXPECT_EQ(VerifyPasswordOnClose(window), 0);

  const std::vector<SimEvent> steps =
      SimJournalOf({SimEventKind::PeekMessage, SimEventKind::SendMessage, SimEventKind::SetCursor});
  ASSERT_EQ(steps.size(), 5u) << SimJournalText();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(steps[i].kind, SimEventKind::PeekMessage);
    EXPECT_EQ(steps[i].window, window);
    EXPECT_EQ(steps[i].min, WM_TIMER);
    EXPECT_EQ(steps[i].max, WM_TIMER);
    EXPECT_EQ(steps[i].flags, RemoveTimerFlags);
  }
  EXPECT_EQ(steps[2].kind, SimEventKind::SendMessage);
  EXPECT_EQ(steps[2].message, SCRM_VERIFYPW);
  EXPECT_EQ(steps[2].window, window);
  EXPECT_EQ(steps[3].kind, SimEventKind::SetCursor);
  EXPECT_EQ(steps[3].cursor, DialogCursor);
  EXPECT_EQ(steps[4].kind, SimEventKind::SetCursor);
  EXPECT_EQ(steps[4].cursor, nullptr);
  EXPECT_EQ(SimCursor(), nullptr);

  EXPECT_EQ(verifier.window, window);
  EXPECT_EQ(verifier.checkingPasswordSeen, 1);
  EXPECT_EQ(verifier.closingSeen, 0);
  EXPECT_EQ(hostState.checkingPassword, 0);
  EXPECT_EQ(hostState.closing, 0);
  EXPECT_TRUE(IsWindow(window));
}

// Pending ticks are dropped ahead of the dialog, one per call, two calls.
TEST_F(PasswordLockTest, TwoPendingTimerTicksAreRemovedBeforeTheDialog) {
  LoadLock();
  const HWND window = MakeGateWindow();
  constexpr UINT TimerPeriodMs = 50;
  for (UINT_PTR id = 1; id <= 3; ++id) SetTimer(window, id, TimerPeriodMs, nullptr);
  SimAdvanceClock(TimerPeriodMs);
  SimClearJournal();
  verifier.answer = Answer(FALSE);

  VerifyPasswordOnClose(window);

  const std::vector<SimEvent> peeks = SimJournalOf({SimEventKind::PeekMessage});
  ASSERT_EQ(peeks.size(), 2u);
  for (const SimEvent &peek : peeks) {
    EXPECT_EQ(peek.result, TRUE);
    EXPECT_EQ(peek.message, WM_TIMER);
  }
}

// A message another thread sends arrives inside PeekMessageA; it already meets the
// dialog flag, so it neither asks for a close nor opens a second dialog.
TEST_F(PasswordLockTest, MessagesArrivingWhileTicksAreRemovedMeetTheDialogFlag) {
  LoadLock();
  const HWND window = MakeGateWindow();
  verifier.answer = Answer(FALSE);
  SimSendFromOtherThread(window, WM_KEYDOWN, VK_SPACE, 0);
  SimSendFromOtherThread(window, WM_CLOSE, 0, 0);
  SimClearJournal();

  EXPECT_EQ(VerifyPasswordOnClose(window), 0);

  EXPECT_EQ(verifier.calls, 1);
  EXPECT_TRUE(PostedCloses().empty());
  EXPECT_TRUE(SimQueuedMessages().empty());
}

TEST_F(PasswordLockTest, AcceptedCloseTakesTheVerifiersOwnValue) {
  LoadLock();
  const HWND window = MakeGateWindow();
  verifier.answer = Answer(AcceptedByVerifier);
  const DWORD start = SimTickCount();
  SimClearJournal();

  EXPECT_EQ(VerifyPasswordOnClose(window), AcceptedByVerifier);

  EXPECT_EQ(hostState.closing, AcceptedByVerifier);
  EXPECT_EQ(hostState.checkingPassword, 0);
  EXPECT_EQ(hostState.lastPasswordCheckTick, start + DialogDurationMs);
  EXPECT_EQ(SimCount(SimEventKind::SetCursor), 0u);
}

// The default handling of the same WM_CLOSE destroys the window once the gate allows it.
TEST_F(PasswordLockTest, AcceptedCloseDestroysTheWindowWithTheSameClose) {
  LoadLock();
  const HWND window = MakeGateWindow();
  verifier.answer = Answer(AcceptedByVerifier);
  PostMessageA(window, WM_CLOSE, 0, 0);

  SimPumpMessages();

  EXPECT_EQ(verifier.calls, 1);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(SimCount(SimEventKind::DestroyWindow), 1u);
}

// After a refusal the mouse reference point is where the cursor stands once the dialog
// has gone, so a small move from there asks for nothing.
TEST_F(PasswordLockTest, RefusedCloseRetakesTheCursorPositionAndStaysOpen) {
  LoadLock();
  const HWND window = MakeGateWindow();
  SimSetCursorPos(10, 10);
  hostState.lastCursorPos = {10, 10};
  verifier.answer = [](HWND) {
    SimSetCursorPos(300, 400);
    return FALSE;
  };

  EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);

  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(hostState.lastCursorPos.x, 300);
  EXPECT_EQ(hostState.lastCursorPos.y, 400);
  SimSetCursorPos(302, 402);
  SimClearJournal();
  SendMessageA(window, WM_MOUSEMOVE, 0, 0);
  EXPECT_TRUE(PostedCloses().empty());
}

// ---- The quiet period after a dialog -----------------------------------------------------------

struct QuietPeriodRow {
  const char *name;
  DWORD dialogReturnsAt;
  DWORD sinceReturnMs;  // when the next request comes
  bool asks;
};
void PrintTo(const QuietPeriodRow &row, std::ostream *out) { *out << row.name; }

const QuietPeriodRow quietPeriodRows[] = {
    {"RequestAt150MsIsRefusedSilently", 5000, 150, false},
    {"RequestAt199MsIsRefusedSilently", 5000, 199, false},
    {"RequestAt200MsAsksAgain", 5000, 200, true},
    {"RequestMuchLaterAsksAgain", 5000, 60000, true},
    {"RequestAtTick99AfterWrapIsRefusedSilently", 0xFFFFFFFFu - 99, 199, false},
    {"RequestAtTick100AfterWrapAsksAgain", 0xFFFFFFFFu - 99, 200, true},
    {"DialogReturningAtAllBitsSetLeavesNoQuietPeriod", 0xFFFFFFFFu, 0, true},
    {"DialogReturningAtAllBitsSetLeavesNoQuietPeriodAfterWrap", 0xFFFFFFFFu, 1, true},
};

class QuietPeriodTest : public PasswordLockTest, public ::testing::WithParamInterface<QuietPeriodRow> {};

// The quiet period counts from the end of the dialog, with unsigned 32-bit arithmetic.
TEST_P(QuietPeriodTest, SecondRequestAsksOnlyAfterTheQuietPeriod) {
  const QuietPeriodRow &row = GetParam();
  LoadLock();
  const HWND window = MakeGateWindow();
  verifier.answer = Answer(FALSE);
  SimSetTickCount(row.dialogReturnsAt - DialogDurationMs);
  ASSERT_EQ(VerifyPasswordOnClose(window), 0);
  ASSERT_EQ(hostState.lastPasswordCheckTick, row.dialogReturnsAt);
  SimAdvanceClock(row.sinceReturnMs);
  SetCursor(DialogCursor);
  SimClearJournal();

  EXPECT_EQ(VerifyPasswordOnClose(window), 0);

  EXPECT_EQ(verifier.calls, row.asks ? 2 : 1);
  if (!row.asks) {
    // Refused without any change: no dialog, no tick, no cursor, no timer removal.
    EXPECT_EQ(hostState.lastPasswordCheckTick, row.dialogReturnsAt);
    EXPECT_EQ(SimCount(SimEventKind::PeekMessage), 0u);
    EXPECT_EQ(SimCount(SimEventKind::SetCursor), 0u);
    EXPECT_EQ(SimCursor(), DialogCursor);
  } else {
    EXPECT_EQ(hostState.lastPasswordCheckTick, row.dialogReturnsAt + row.sinceReturnMs + DialogDurationMs);
  }
}

INSTANTIATE_TEST_SUITE_P(Ticks, QuietPeriodTest, ::testing::ValuesIn(quietPeriodRows),
                         RowName<QuietPeriodRow>);

// ---- Re-entry while the dialog is up ----------------------------------------------------------

// The dialog's own loop dispatches the saver window's queued messages: input raises no
// close request and the queued close is refused at once, without a second dialog, a new
// tick or timer removal.
TEST_F(PasswordLockTest, NestedInputAndCloseDuringTheDialogChangeNothing) {
  LoadLock();
  const HWND window = MakeGateWindow();
  SimSetCursorPos(100, 100);
  hostState.lastCursorPos = {100, 100};
  struct Nested {
    int calls = 0;
    size_t peeks = 0;
    size_t posts = 0;
    int checkingPassword = -1;
    LRESULT closing = -1;
    DWORD lastTick = 0;
    bool windowAlive = false;
  } nested;
  verifier.answer = [&nested](HWND dialogOwner) {
    constexpr size_t OwnPosts = 5;
    const size_t peeksBefore = SimCount(SimEventKind::PeekMessage);
    const size_t postsBefore = SimCount(SimEventKind::PostMessage) + OwnPosts;
    SimSetCursorPos(200, 250);
    PostMessageA(dialogOwner, WM_KEYDOWN, VK_SPACE, 0);
    PostMessageA(dialogOwner, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    PostMessageA(dialogOwner, WM_MOUSEMOVE, 0, 0);
    PostMessageA(dialogOwner, WM_POWERBROADCAST, 0, 0);
    PostMessageA(dialogOwner, WM_CLOSE, 0, 0);
    SimPumpMessages();
    nested.calls = verifier.calls;
    nested.peeks = SimCount(SimEventKind::PeekMessage) - peeksBefore;
    nested.posts = SimCount(SimEventKind::PostMessage) - postsBefore;
    nested.checkingPassword = hostState.checkingPassword;
    nested.closing = hostState.closing;
    nested.lastTick = hostState.lastPasswordCheckTick;
    nested.windowAlive = IsWindow(dialogOwner) != FALSE;
    return FALSE;
  };

  EXPECT_EQ(VerifyPasswordOnClose(window), 0);

  EXPECT_EQ(nested.calls, 1);
  EXPECT_EQ(nested.peeks, 0u);
  EXPECT_EQ(nested.posts, 0u);
  EXPECT_EQ(nested.checkingPassword, 1);
  EXPECT_EQ(nested.closing, 0);
  EXPECT_EQ(nested.lastTick, NoPasswordCheckYet);
  EXPECT_TRUE(nested.windowAlive);
  EXPECT_TRUE(SimQueuedMessages().empty());
  // The refused nested close re-took the reference point.
  EXPECT_EQ(hostState.lastCursorPos.x, 200);
  EXPECT_EQ(hostState.lastCursorPos.y, 250);
}

// ---- The whole saver on Windows 9x --------------------------------------------------------------

class SaverRunTest : public PasswordLockTest {
 protected:
  // Each time the loop runs dry, a while later, the user presses a key; `presses` times.
  static void PressKeyWhenIdle(int presses) {
    SimSetIdleHook([presses]() mutable {
      const HWND saver = SimFindWindowOfClass(SaverClassName);
      if (saver == nullptr || presses == 0) return;
      --presses;
      SimAdvanceClock(UserPauseMs);
      PostMessageA(saver, WM_KEYDOWN, VK_SPACE, 0);
    });
  }
};

TEST_F(SaverRunTest, LockOffFirstKeyEndsSaverWithoutAsking) {
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  InstallVerifier();
  SetPasswordSetting(0);
  PressKeyWhenIdle(1);

  EXPECT_EQ(SaverMain(SimInstance(), "/s"), 0);

  EXPECT_EQ(verifier.calls, 0);
  EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), 0u);
  EXPECT_EQ(SimCount(SimEventKind::SystemParametersInfo), 0u);
  EXPECT_EQ(hostState.closing, 1);
}

TEST_F(SaverRunTest, RefusedThenAcceptedPasswordEndsSaverAndReleasesTheLock) {
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  InstallVerifier();
  SetPasswordSetting(1);
  verifier.answer = [](HWND) {
    SimAdvanceClock(DialogDurationMs);
    return verifier.calls == 1 ? FALSE : AcceptedByVerifier;
  };
  PressKeyWhenIdle(2);

  EXPECT_EQ(SaverMain(SimInstance(), "/s"), 0);

  EXPECT_EQ(verifier.calls, 2);
  EXPECT_EQ(verifier.windowClass, SaverClassName);
  EXPECT_EQ(hostState.closing, AcceptedByVerifier);
  EXPECT_EQ(SaverRunningCalls(), (std::vector<int64_t>{1, 0}));
  EXPECT_EQ(SimLibraryLoadCount(PasswordLibrary), 0);
}

TEST_F(SaverRunTest, PreviewNeverLoadsTheLock) {
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  InstallVerifier();
  SetPasswordSetting(1);
  const HWND parent = SimCreatePreviewParent(150, 110);
  SimSetIdleHook([parent] {
    if (IsWindow(parent)) DestroyWindow(parent);
  });
  const std::string tail = "/p " + std::to_string(reinterpret_cast<uintptr_t>(parent));

  EXPECT_EQ(SaverMain(SimInstance(), tail.c_str()), 0);

  EXPECT_EQ(SimCount(SimEventKind::RegOpenKey), 0u);
  EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), 0u);
  EXPECT_EQ(SimCount(SimEventKind::SystemParametersInfo), 0u);
}

TEST_F(SaverRunTest, LockSettingOnNtIsNeverRead) {
  InstallVerifier();
  SetPasswordSetting(1);
  PressKeyWhenIdle(1);

  EXPECT_EQ(SaverMain(SimInstance(), "/s"), 0);

  EXPECT_EQ(verifier.calls, 0);
  EXPECT_EQ(SimCount(SimEventKind::RegOpenKey), 0u);
  EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), 0u);
  EXPECT_EQ(SimCount(SimEventKind::SystemParametersInfo), 0u);
  EXPECT_EQ(hostState.closing, 0);
}

// ---- The exception guard --------------------------------------------------------------------------

struct ExceptionGuardRow {
  const char *name;
  DWORD platform;
  bool raisedByVerifier;  // else raised by the loop itself while it waits
  LONG verdict;
  UINT exitCode;
  std::vector<int64_t> saverRunningCalls;
};
void PrintTo(const ExceptionGuardRow &row, std::ostream *out) { *out << row.name; }

const ExceptionGuardRow exceptionGuardRows[] = {
    {"VerifierFaultOnWin9xClearsFlagAndExitsMinusOne", VER_PLATFORM_WIN32_WINDOWS, true, EXCEPTION_EXECUTE_HANDLER,
     ExitCodeMinusOne, {1, 0}},
    {"LoopFaultOnWin9xClearsFlagAndExitsMinusOne", VER_PLATFORM_WIN32_WINDOWS, false, EXCEPTION_EXECUTE_HANDLER,
     ExitCodeMinusOne, {1, 0}},
    {"VerifierFaultLeftToTheSystemEndsWithTheExceptionCode", VER_PLATFORM_WIN32_WINDOWS, true,
     EXCEPTION_CONTINUE_SEARCH, AccessViolation, {1}},
    {"LoopFaultOnNtExitsMinusOneWithoutTouchingTheFlag", VER_PLATFORM_WIN32_NT, false, EXCEPTION_EXECUTE_HANDLER,
     ExitCodeMinusOne, {}},
};

class ExceptionGuardTest : public SaverRunTest, public ::testing::WithParamInterface<ExceptionGuardRow> {};

TEST_P(ExceptionGuardTest, HandledFaultSwitchesTheFlagOffBeforeTheProcessEnds) {
  const ExceptionGuardRow &row = GetParam();
  SimSetPlatformId(row.platform);
  SimSetUnhandledExceptionVerdict(row.verdict);
  InstallVerifier();
  SetPasswordSetting(1);
  if (row.raisedByVerifier) {
    verifier.answer = [](HWND) -> BOOL {
      SimRaiseException(AccessViolation);
      return FALSE;
    };
    PressKeyWhenIdle(1);
  } else {
    SimSetIdleHook([] { SimRaiseException(AccessViolation); });
  }

  const int exitCode = SimRunProcess([] { SaverMain(SimInstance(), "/s"); });

  EXPECT_EQ(static_cast<UINT>(exitCode), row.exitCode);
  EXPECT_EQ(SaverRunningCalls(), row.saverRunningCalls);
  EXPECT_EQ(SimScreenSaverRunning(), row.saverRunningCalls.size() == 1 ? TRUE : FALSE);
}

INSTANTIATE_TEST_SUITE_P(Guard, ExceptionGuardTest, ::testing::ValuesIn(exceptionGuardRows),
                         RowName<ExceptionGuardRow>);

// ---- "/a": changing the password ------------------------------------------------------------------

enum class OwnerRule { Foreground, Given, None };

struct ChangePasswordRow {
  const char *name;
  const char *tail;  // "{}" stands for the given window's number
  bool foregroundExists;
  OwnerRule owner;
};
void PrintTo(const ChangePasswordRow &row, std::ostream *out) { *out << row.name; }

const ChangePasswordRow changePasswordRows[] = {
    {"NoHandleUsesForegroundWindow", "/a", true, OwnerRule::Foreground},
    {"HandleZeroUsesForegroundWindow", "/a 0", true, OwnerRule::Foreground},
    {"HandleOfNoWindowUsesForegroundWindow", "/a 77777", true, OwnerRule::Foreground},
    {"HandleWrappingToZeroUsesForegroundWindow", "/a 4294967296", true, OwnerRule::Foreground},
    {"WindowHandleUsesThatWindow", "/a {}", true, OwnerRule::Given},
    {"HandleAfterBlanksUsesThatWindow", "-A   {}", true, OwnerRule::Given},
    {"HandleRightAfterLetterUsesThatWindow", "a{}", true, OwnerRule::Given},
    {"NoHandleAndNoForegroundWindowPassesNone", "/a", false, OwnerRule::None},
};

class ChangePasswordTest : public PasswordLockTest, public ::testing::WithParamInterface<ChangePasswordRow> {};

TEST_P(ChangePasswordTest, CallsPwdChangePasswordWithTheOwnerAndExitsZero) {
  const ChangePasswordRow &row = GetParam();
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  InstallPasswordChange();
  const HWND given = SimCreatePreviewParent(200, 100);
  const HWND foreground = SimCreatePreviewParent(300, 200);
  SimSetForeground(row.foregroundExists ? foreground : nullptr);
  std::string tail = row.tail;
  const size_t mark = tail.find("{}");
  if (mark != std::string::npos) tail.replace(mark, 2, std::to_string(reinterpret_cast<uintptr_t>(given)));

  EXPECT_EQ(SaverMain(SimInstance(), tail.c_str()), 0);

  const HWND expected = row.owner == OwnerRule::Given ? given : row.owner == OwnerRule::Foreground ? foreground : nullptr;
  ASSERT_EQ(passwordChange.calls, 1);
  EXPECT_EQ(passwordChange.provider, "SCRSAVE");
  EXPECT_EQ(passwordChange.owner, expected);
  EXPECT_EQ(passwordChange.reserved1, 0u);
  EXPECT_EQ(passwordChange.reserved2, 0u);
  EXPECT_EQ(SimLibraryLoadCount(PasswordChangeLibrary), 0);
}

INSTANTIATE_TEST_SUITE_P(Owner, ChangePasswordTest, ::testing::ValuesIn(changePasswordRows),
                         RowName<ChangePasswordRow>);

struct PasswordChangeLibraryRow {
  const char *name;
  bool installed;
  bool hasEntry;
  size_t frees;
};
void PrintTo(const PasswordChangeLibraryRow &row, std::ostream *out) { *out << row.name; }

const PasswordChangeLibraryRow passwordChangeLibraryRows[] = {
    {"LibraryMissingExitsZero", false, false, 0},
    {"EntryMissingFreesLibraryAndExitsZero", true, false, 1},
    {"EntryPresentIsCalledThenFreedAndExitsZero", true, true, 1},
};

class PasswordChangeLibraryTest : public PasswordLockTest,
                                  public ::testing::WithParamInterface<PasswordChangeLibraryRow> {};

TEST_P(PasswordChangeLibraryTest, ExitCodeIsZeroWhateverTheLibraryDoes) {
  const PasswordChangeLibraryRow &row = GetParam();
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  if (row.hasEntry) {
    InstallPasswordChange();
  } else if (row.installed) {
    SimInstallLibrary(PasswordChangeLibrary, {{"PwdSetPasswordA", AsEntry(TestPwdChangePassword)}});
  }

  EXPECT_EQ(SaverMain(SimInstance(), "/a"), 0);

  EXPECT_EQ(passwordChange.calls, row.hasEntry ? 1 : 0);
  EXPECT_EQ(SimCount(SimEventKind::FreeLibrary), row.frees);
  EXPECT_EQ(SimLibraryLoadCount(PasswordChangeLibrary), 0);
}

INSTANTIATE_TEST_SUITE_P(Mpr, PasswordChangeLibraryTest, ::testing::ValuesIn(passwordChangeLibraryRows),
                         RowName<PasswordChangeLibraryRow>);

TEST_F(PasswordLockTest, ChangePasswordOnNtExitsMinusOneAndCallsNothing) {
  InstallPasswordChange();
  SimSetForeground(SimCreatePreviewParent(300, 200));

  EXPECT_EQ(SaverMain(SimInstance(), "/a"), -1);

  EXPECT_EQ(passwordChange.calls, 0);
  EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), 0u);
}

}  // namespace
