// Message sequences into the running saver window, in save and preview mode,
// with and without the Windows 9x password lock: posted, sent and cross-thread
// messages of every kind the saver meets, with random wParams, cursor moves and
// clock jumps, fed by the idle hook of the saver's own message loop. The
// password library's verifier may refuse, accept, fault, let time pass and
// dispatch the thread's messages while it is "up", as a real dialog does.
//
// Invariants:
// - the window goes only after a close request that the rules allow: with the
//   lock on, only once the verifier has accepted; with a verifier that always
//   refuses, never; no sequence gets past the lock;
// - through the close gate the verifier is never asked while it is already up,
//   nor within the quiet period after it last returned;
// - the saver-running flag is set exactly while the lock is on;
// - the run ends cleanly when asked to, with exit code 0 (-1 after a fault the
//   guard handled), and nothing leaks: every DC, pen, library and key released.
//
// Input: two scenario bytes, then the registry value's bytes when the scenario
// asks for raw ones, then actions until the input ends (RunAction reads them).
//   byte 0: bits 0-1 platform (0 NT, 1 and 3 Windows 9x, 2 version query fails),
//           bit 2 preview mode, bits 3-4 the password setting (absent, 1, 0, raw
//           bytes), bit 5 PASSWORD.CPL is there, bit 6 it has its entry, bit 7
//           the input decides the verifier's answers (else it always refuses).
//   byte 1: bits 0-1 what the verifier does while up (nothing, dispatch the
//           queue, play actions then dispatch, the input decides), bit 2 the
//           tick count starts just before it wraps, bit 3 the input-method
//           library is loaded, bits 4-7 the raw setting's length.
#include "fuzz/fuzz_process.h"

#include <string>

namespace {

const char DesktopKey[] = "Control Panel\\Desktop";
const char UsePasswordValue[] = "ScreenSaveUsePassword";
const char PasswordLibrary[] = "PASSWORD.CPL";
const char VerifyEntry[] = "VerifyScreenSavePwd";
const char SaverClass[] = "WindowsScreenSaverClass";

constexpr DWORD AccessViolation = 0xC0000005;
constexpr UINT ExitMinusOne = 0xFFFFFFFFu;
constexpr int PreviewWidth = 152;
constexpr int PreviewHeight = 112;
constexpr DWORD TickJustBeforeWrap = 0xFFFFFF00u;
constexpr unsigned MessageBudget = 2000000;
constexpr int MaxNestedActions = 4;
constexpr int ActionCount = 11;
constexpr int MaxEndingAttempts = 3;
// Past the quiet period after a refused password, so the ending close is asked.
constexpr DWORD EndingClockStep = 1000;

enum class Answer { AlwaysRefuse, InputDecides };
enum class WhileUp { Nothing, Dispatch, ActThenDispatch, InputDecides };

struct Scenario {
  bool win9x = false;
  bool preview = false;
  Answer answer = Answer::AlwaysRefuse;
  WhileUp whileUp = WhileUp::Nothing;
};

struct RunRecord {
  Scenario scenario;
  InputBytes *input = nullptr;
  HWND parent = nullptr;
  HWND saver = nullptr;
  bool lockOn = false;  // the verifier was loaded when the window was made
  bool ending = false;  // the input is used up: the run is being ended
  bool parentDestroyed = false;
  int endingAttempts = 0;
  int gateDepth = 0;  // verifier calls through the close gate now running
  bool everAccepted = false;
  BOOL lastAnswer = FALSE;
  bool answered = false;  // a verifier call has returned
  DWORD lastReturnTick = 0;
  bool faulted = false;
};

RunRecord run;

// ---- Messages the saver meets ------------------------------------------------------------
// The system's own creation, destruction and quit messages are left out: posted
// by anyone they end any message loop, locked or not. So is the saver's private
// verify message, which only the saver sends; one action asks it on purpose.
const UINT Messages[] = {
    WM_CLOSE,       WM_KEYDOWN,     WM_SYSKEYDOWN,  WM_KEYUP,       WM_CHAR,       WM_MOUSEMOVE,
    WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_LBUTTONUP,   WM_MOUSEWHEEL, WM_ACTIVATEAPP,
    WM_ACTIVATE,    WM_SHOWWINDOW,  WM_SETCURSOR,   WM_POWER,       WM_POWERBROADCAST, WM_PAINT,
    WM_ERASEBKGND,  WM_SIZE,        WM_SETTEXT,     WM_HELP,        WM_CONTEXTMENU, WM_SYSCOMMAND,
    WM_TIMER,       WM_NULL,        WM_NCDESTROY,
};
constexpr size_t MessageCount = sizeof Messages / sizeof Messages[0];

const WPARAM SystemCommands[] = {SC_CLOSE,          SC_SCREENSAVE, SC_NEXTWINDOW, SC_PREVWINDOW,
                                 SC_CLOSE | 3,      SC_SCREENSAVE | 1, SC_MINIMIZE, SC_KEYMENU};
constexpr size_t SystemCommandCount = sizeof SystemCommands / sizeof SystemCommands[0];
constexpr uint8_t AutoPlayChoice = 0xFF;

struct Message {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

bool LeftOut(UINT message) {
  return message == WM_CREATE || message == WM_DESTROY || message == WM_QUIT || message == SCRM_VERIFYPW;
}

WPARAM PickWParam(UINT message, InputBytes &input) {
  if (message == WM_SYSCOMMAND && (input.Byte() & 1)) return SystemCommands[input.Byte() % SystemCommandCount];
  switch (input.Byte() & 3) {
    case 0:
      return 0;
    case 1:
      return input.Byte() & 7;
    default:
      return input.Dword();
  }
}

// A message of the table, the AutoPlay query, or any other number. A message of
// the table may carry any lParam: the saver never reads through it. Any other
// number carries none, since the platform's default handling may.
Message PickMessage(InputBytes &input) {
  const uint8_t choice = input.Byte();
  Message picked = {WM_NULL, 0, 0};
  if (choice < MessageCount) {
    picked.message = Messages[choice];
    picked.wParam = PickWParam(picked.message, input);
    if (input.Byte() & 1) picked.lParam = static_cast<LPARAM>(input.Dword());
  } else if (choice == AutoPlayChoice) {
    picked.message = hostState.autoPlayMessage;
  } else {
    const UINT raw = input.Word();
    picked.message = LeftOut(raw) ? WM_NULL : raw;
    picked.wParam = PickWParam(picked.message, input);
  }
  return picked;
}

// ---- Actions -----------------------------------------------------------------------------

// A coordinate moved by a small step; at the ends of the range it wraps, as the
// input may have put the cursor anywhere.
LONG Moved(LONG coordinate, int step) {
  return static_cast<LONG>(static_cast<uint32_t>(coordinate) + static_cast<uint32_t>(step));
}

void MoveCursor(InputBytes &input) {
  POINT now;
  GetCursorPos(&now);
  const int kind = input.Byte() & 3;
  if (kind == 3) {
    SimSetCursorPos(static_cast<LONG>(input.Dword()), static_cast<LONG>(input.Dword()));
    return;
  }
  const int dx = static_cast<int8_t>(input.Byte()) >> (kind * 2);
  const int dy = static_cast<int8_t>(input.Byte()) >> (kind * 2);
  SimSetCursorPos(Moved(now.x, dx), Moved(now.y, dy));
}

void DestroyParent() {
  if (!run.scenario.preview || run.parentDestroyed) return;
  run.parentDestroyed = true;
  DestroyWindow(run.parent);
}

// Someone outside sends the saver its private verify message: the verifier is
// asked without the close gate, and its answer closes nothing.
void AskFromOutside() { SendMessageA(run.saver, SCRM_VERIFYPW, 0, 0); }

// One action from the input. Nested actions (played while the verifier is up)
// neither destroy the parent nor ask the verifier from outside.
void RunAction(InputBytes &input, bool nested) {
  const uint8_t action = input.Byte() % ActionCount;
  switch (action) {
    case 0:
    case 1: {
      const Message m = PickMessage(input);
      PostMessageA(run.saver, m.message, m.wParam, m.lParam);
      break;
    }
    case 2: {
      const Message m = PickMessage(input);
      SendMessageA(run.saver, m.message, m.wParam, m.lParam);
      break;
    }
    case 3: {
      const Message m = PickMessage(input);
      SimSendFromOtherThread(run.saver, m.message, m.wParam, m.lParam);
      break;
    }
    case 4:
    case 5:
      MoveCursor(input);
      break;
    case 6:
      SimAdvanceClock(input.Word());
      break;
    case 7:
      SimSetTickCount(input.Dword());
      break;
    case 8:
      break;  // nothing: the next tick comes
    case 9:
      if (!nested && (input.Byte() & 7) == 0) DestroyParent();
      break;
    case 10:
      if (!nested && (input.Byte() & 7) == 0) AskFromOutside();
      break;
  }
}

// ---- The saver window -------------------------------------------------------------------------

HWND OwnSaverWindow() {
  for (HWND window : SimWindows()) {
    const SimWindowInfo info = SimGetWindow(window);
    if (!info.foreign && info.className == SaverClass) return window;
  }
  return nullptr;
}

// The first time the loop waits, the window and the lock are as the run keeps them.
void NoteWindow() {
  if (run.saver != nullptr) return;
  run.saver = OwnSaverWindow();
  FUZZ_CHECK(run.saver != nullptr, "the saver loop runs without a saver window");
  run.lockOn = hostState.verifyProc != nullptr;
  FUZZ_CHECK(!run.lockOn || (run.scenario.win9x && !run.scenario.preview), "a lock outside Windows 9x save mode");
}

// ---- The verifier ---------------------------------------------------------------------------

constexpr uint8_t FaultChoice = 0xFA;

bool Faults(InputBytes &input) {
  return !run.ending && run.scenario.answer == Answer::InputDecides && input.Byte() == FaultChoice;
}

BOOL ChooseAnswer(InputBytes &input) {
  if (run.ending) return TRUE;
  if (run.scenario.answer == Answer::AlwaysRefuse) return FALSE;
  switch (input.Byte() & 3) {
    case 0:
    case 1:
      return FALSE;
    case 2:
      return TRUE;
    default:
      return static_cast<BOOL>(input.Dword() | 1);
  }
}

void BehaveWhileUp(InputBytes &input) {
  WhileUp whileUp = run.scenario.whileUp;
  if (whileUp == WhileUp::InputDecides) whileUp = static_cast<WhileUp>(input.Byte() % 3);
  if (whileUp == WhileUp::ActThenDispatch) {
    const int actions = input.Byte() % (MaxNestedActions + 1);
    for (int i = 0; i < actions && !input.Empty(); ++i) RunAction(input, true);
  }
  if (whileUp != WhileUp::Nothing) SimPumpMessages();
}

// Asked through the close gate (which raises the dialog flag first): never while
// another gate call is up, never within the quiet period after the last answer (a
// last answer at the all-ones tick leaves none).
void CheckGateCall() {
  FUZZ_CHECK(run.gateDepth == 0, "the verifier was asked again while it was up");
  if (!run.answered || run.lastReturnTick == NoPasswordCheckYet) return;
  const DWORD since = GetTickCount() - run.lastReturnTick;
  FUZZ_CHECK(since >= PasswordRecheckDelay, "the verifier was asked %u ms after it last returned", since);
}

void RecordGateAnswer(BOOL answer) {
  run.answered = true;
  run.lastAnswer = answer;
  run.everAccepted = run.everAccepted || answer != 0;
  run.lastReturnTick = GetTickCount();
}

BOOL WINAPI TestVerifier(HWND window) {
  InputBytes &input = *run.input;
  NoteWindow();
  const bool throughGate = hostState.checkingPassword != 0;
  FUZZ_CHECK(window == run.saver, "the verifier was given %s, not the saver window", SimHex(window).c_str());
  FUZZ_CHECK(run.lockOn, "a verifier that was never loaded was asked");
  if (throughGate) CheckGateCall();
  run.gateDepth += throughGate ? 1 : 0;
  SimAdvanceClock(input.Byte());  // the user takes a moment to type
  BehaveWhileUp(input);
  if (Faults(input)) {
    run.faulted = true;
    SimRaiseException(AccessViolation);
  }
  const BOOL answer = ChooseAnswer(input);
  run.gateDepth -= throughGate ? 1 : 0;
  if (throughGate) RecordGateAnswer(answer);
  return answer;
}

// ---- The run ---------------------------------------------------------------------------------

void CheckLockState() {
  FUZZ_CHECK(SimScreenSaverRunning() == (run.lockOn ? TRUE : FALSE), "the saver-running flag is %s with the lock %s",
             SimScreenSaverRunning() ? "on" : "off", run.lockOn ? "on" : "off");
  FUZZ_CHECK((hostState.verifyProc != nullptr) == run.lockOn, "the lock changed while the window ran");
  if (!run.scenario.win9x || run.scenario.preview) {
    FUZZ_CHECK(hostState.closing == 0, "closing was set outside Windows 9x save mode");
  }
  if (run.lockOn && !run.everAccepted) {
    FUZZ_CHECK(hostState.closing == 0, "closing was set without an accepted password");
    FUZZ_CHECK(IsWindow(run.saver), "the locked saver window went without an accepted password");
  }
}

// The input is used up: end the run as the user would, with a password that
// is accepted now; a preview ends with its parent.
void EndRun() {
  run.ending = true;
  FUZZ_CHECK(++run.endingAttempts <= MaxEndingAttempts, "the saver does not end when asked to");
  SimAdvanceClock(EndingClockStep);
  if (run.scenario.preview) {
    DestroyParent();
  } else {
    PostMessageA(run.saver, WM_CLOSE, 0, 0);
  }
}

void OnIdle() {
  NoteWindow();
  CheckLockState();
  if (run.input->Empty()) {
    EndRun();
  } else {
    RunAction(*run.input, false);
  }
}

// ---- The scenario ------------------------------------------------------------------------------

void ScriptPlatform(uint8_t platform) {
  run.scenario.win9x = platform == 1 || platform == 3;
  if (platform == 2) {
    SimFailGetVersionEx(true);
  } else {
    SimSetPlatformId(run.scenario.win9x ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT);
  }
}

void ScriptPasswordSetting(int setting, int rawLength, InputBytes &input) {
  switch (setting) {
    case 1:
      SimSetRegistryDword(DesktopKey, UsePasswordValue, 1);
      break;
    case 2:
      SimSetRegistryDword(DesktopKey, UsePasswordValue, 0);
      break;
    case 3: {
      std::vector<BYTE> bytes;
      for (int i = 0; i < rawLength; ++i) bytes.push_back(input.Byte());
      SimSetRegistryValue(DesktopKey, UsePasswordValue, bytes);
      break;
    }
    default:
      break;
  }
}

HIMC WINAPI TestImmAssociateContext(HWND, HIMC) { return nullptr; }

std::string ScriptScenario(InputBytes &input) {
  const uint8_t first = input.Byte();
  const uint8_t second = input.Byte();
  ScriptPlatform(first & 3);
  run.scenario.preview = (first & 4) != 0;
  ScriptPasswordSetting((first >> 3) & 3, second >> 4, input);
  if (first & 32) {
    SimInstallLibrary(PasswordLibrary, {{(first & 64) ? VerifyEntry : "SomethingElse", AsEntry(TestVerifier)}});
  }
  run.scenario.answer = (first & 128) ? Answer::InputDecides : Answer::AlwaysRefuse;
  run.scenario.whileUp = static_cast<WhileUp>(second & 3);
  if (second & 4) SimSetTickCount(TickJustBeforeWrap);
  if (second & 8) SimSetModuleLoaded("IMM32.DLL", {{"ImmAssociateContext", AsEntry(TestImmAssociateContext)}});
  if (!run.scenario.preview) return "quorvane.scr /s";
  run.parent = SimCreatePreviewParent(PreviewWidth, PreviewHeight);
  return "quorvane.scr /p " + std::to_string(reinterpret_cast<uintptr_t>(run.parent));
}

// ---- After the run ------------------------------------------------------------------------------

size_t CloseRequestsDelivered() {
  return CountMessages(SimEventKind::DispatchMessage, run.saver, WM_CLOSE) +
         CountMessages(SimEventKind::SendMessage, run.saver, WM_CLOSE);
}

// The window went before the run was ended: only a close request the rules
// allow may have taken it.
void CheckEarlyEnd() {
  if (run.lockOn) {
    FUZZ_CHECK(run.everAccepted && run.lastAnswer != 0 && hostState.closing != 0,
               "the locked saver window went without an accepted password");
  } else if (!(run.scenario.preview && run.parentDestroyed)) {
    FUZZ_CHECK(CloseRequestsDelivered() > 0, "the saver window went without a close request");
  }
}

void CheckFault(UINT exitCode) {
  FUZZ_CHECK(exitCode == ExitMinusOne, "a faulting verifier ended the process with %u", exitCode);
  FUZZ_CHECK(!SimScreenSaverRunning(), "the saver-running flag stayed on after the fault");
  // The process is gone; what it held of the library is no leak of the program.
  while (SimLibraryLoadCount(PasswordLibrary) > 0) FreeLibrary(GetModuleHandleA(PasswordLibrary));
}

void CheckEnd(UINT exitCode) {
  if (run.faulted) {
    CheckFault(exitCode);
  } else {
    FUZZ_CHECK(exitCode == 0, "the saver ended with %u", exitCode);
    FUZZ_CHECK(!IsWindow(run.saver), "the loop ended with the saver window still there");
    if (!run.ending) CheckEarlyEnd();
    if (run.lockOn) FUZZ_CHECK(hostState.closing != 0, "the locked saver ended without closing being set");
    FUZZ_CHECK(!SimScreenSaverRunning(), "the saver-running flag stayed on after the run");
  }
  FUZZ_CHECK(SimLibraryLoadCount(PasswordLibrary) == 0, "PASSWORD.CPL still loaded after the run");
  const std::string leaks = SimLeakReport();
  FUZZ_CHECK(leaks.empty(), "leaks at the end of the process:\n%s", leaks.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  InputBytes input{data, size};
  RunInput([&] {
    FreshProcess();
    run = RunRecord{};
    run.input = &input;
    SimSetCommandLine(ScriptScenario(input));
    SimSetMessageBudget(MessageBudget);
    SimSetIdleHook(OnIdle);
    const UINT exitCode = static_cast<UINT>(SimRunProcess([] { SaverStartup(); }));
    CheckEnd(exitCode);
  });
  return 0;
}
