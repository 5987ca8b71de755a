// The Windows 9x password path of the real saver under Wine. The driver copies the saver
// and the doubles of PASSWORD.CPL and MPR.DLL into a directory of its own, makes Wine
// report Windows 98 to that program (and load the MPR.DLL beside it instead of its own),
// and scripts the verifier's answers. It ends the saver with real input and reads back,
// from the doubles' logs, every call the saver made into them.
#include "tests/e2e/driver.h"
#include "tests/e2e/doubles/doubles.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr char WorkDir[] = "C:\\quorvane-password";
constexpr char SaverFileName[] = "quorvane.scr";
constexpr char VerifierFileName[] = "password.cpl";
constexpr char PasswordChangeFileName[] = "mpr.dll";
constexpr char PasswordChangeAwayName[] = "mpr.dll.away";
constexpr char DoublesDirName[] = "doubles";

constexpr char AppDefaultsKey[] = "Software\\Wine\\AppDefaults\\quorvane.scr";
constexpr char AppDllOverridesKey[] = "Software\\Wine\\AppDefaults\\quorvane.scr\\DllOverrides";
constexpr char DesktopKey[] = "Control Panel\\Desktop";
constexpr char UsePasswordValue[] = "ScreenSaveUsePassword";

constexpr char SaverClass[] = "WindowsScreenSaverClass";
constexpr char SaverTitle[] = "Screen Saver";
constexpr char OwnerClass[] = "QuorvanePasswordOwner";

// Run as `password_test.exe --read-saver-running`, the driver only reports the system's
// saver-running flag as its exit code. Wine keeps that flag per process once read, so the
// suite asks a fresh process each time.
constexpr char ReadFlagSwitch[] = "--read-saver-running";
constexpr int FlagReadFailed = 2;

constexpr DWORD WindowTimeoutMs = 10000;
constexpr DWORD CallTimeoutMs = 10000;
constexpr DWORD CursorTimeoutMs = 3000;
constexpr DWORD FaultExitTimeoutMs = 20000;
constexpr DWORD PasswordRecheckDelayMs = 200;
// A request sent this soon after a refusal lies well inside the quiet period, even when
// the saver takes a while to see it.
constexpr DWORD PromptRequestMs = 100;
// Long enough after a refusal for a request sent inside the quiet period to have shown a
// dialog, had it been going to.
constexpr DWORD QuietWatchMs = 2 * PasswordRecheckDelayMs;
constexpr DWORD FirstCandidateHandle = 999;
constexpr DWORD CandidateLimit = 100000;
constexpr int MaxCalls = 16;
constexpr int MaxLogLine = 256;

// ---- Files and registry ----------------------------------------------------------------

void WorkPath(const char *name, char *path, size_t size) { snprintf(path, size, "%s\\%s", WorkDir, name); }

// The doubles are built into <build>/doubles, beside the saver's own directory entry.
bool CopyBuiltFile(const char *fromDir, const char *subDir, const char *name) {
  char from[MAX_PATH];
  char to[MAX_PATH];
  if (subDir) {
    snprintf(from, sizeof from, "%s\\%s\\%s", fromDir, subDir, name);
  } else {
    snprintf(from, sizeof from, "%s\\%s", fromDir, name);
  }
  WorkPath(name, to, sizeof to);
  return CHECKF(CopyFileA(from, to, FALSE), "cannot copy %s (error %lu)", from, GetLastError());
}

bool PrepareWorkDir() {
  char builtDir[MAX_PATH];
  snprintf(builtDir, sizeof builtDir, "%s", SaverPath());
  char *slash = strrchr(builtDir, '\\');
  if (!CHECKF(slash != nullptr, "saver path %s has no directory", builtDir)) return false;
  *slash = '\0';
  CreateDirectoryA(WorkDir, nullptr);
  return CopyBuiltFile(builtDir, nullptr, SaverFileName) && CopyBuiltFile(builtDir, DoublesDirName, VerifierFileName) &&
         CopyBuiltFile(builtDir, DoublesDirName, PasswordChangeFileName);
}

bool SetUserValue(const char *keyName, const char *valueName, DWORD type, const void *data, DWORD size) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, keyName, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return CHECKF(false, "cannot create HKCU\\%s", keyName);
  }
  const LONG status = RegSetValueExA(key, valueName, 0, type, static_cast<const BYTE *>(data), size);
  RegCloseKey(key);
  return CHECKF(status == ERROR_SUCCESS, "cannot set HKCU\\%s\\%s (%ld)", keyName, valueName, status);
}

void DeleteUserValue(const char *keyName, const char *valueName) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, valueName);
  RegCloseKey(key);
}

void SetUserString(const char *keyName, const char *valueName, const char *text) {
  SetUserValue(keyName, valueName, REG_SZ, text, static_cast<DWORD>(strlen(text) + 1));
}

// Wine reads a program's Windows version when the program starts.
void ReportWindows98(bool win98) {
  if (win98) {
    SetUserString(AppDefaultsKey, "Version", "win98");
  } else {
    DeleteUserValue(AppDefaultsKey, "Version");
  }
}

void WriteAnswers(const char *answers) {
  char path[MAX_PATH];
  WorkPath(VerifierAnswersFile, path, sizeof path);
  FILE *file = fopen(path, "w");
  if (!CHECKF(file != nullptr, "cannot write %s", path)) return;
  fputs(answers, file);
  fclose(file);
}

void ForgetCalls() {
  char path[MAX_PATH];
  WorkPath(VerifierLogFile, path, sizeof path);
  DeleteFileA(path);
  WorkPath(PasswordChangeLogFile, path, sizeof path);
  DeleteFileA(path);
}

// ---- What the doubles recorded -----------------------------------------------------------

struct VerifierCall {
  unsigned long window;
  unsigned long enterTick;
  bool holding;
  bool returned;
  bool faulted;
  unsigned long result;
  unsigned long returnTick;
};

struct VerifierLog {
  int count;
  VerifierCall calls[MaxCalls];
};

// Calls each complete line of a log; a line still being written is left for later.
template <typename LineHandler>
void ReadLogLines(const char *fileName, LineHandler handle) {
  char path[MAX_PATH];
  char line[MaxLogLine];
  WorkPath(fileName, path, sizeof path);
  FILE *file = fopen(path, "r");
  if (file == nullptr) return;
  while (fgets(line, sizeof line, file) != nullptr) {
    if (strchr(line, '\n') == nullptr) break;
    handle(line);
  }
  fclose(file);
}

VerifierLog ReadVerifierLog() {
  VerifierLog log = {};
  ReadLogLines(VerifierLogFile, [&log](const char *line) {
    unsigned long first = 0;
    unsigned long second = 0;
    if (sscanf(line, "enter %lu %lu", &first, &second) == 2 && log.count < MaxCalls) {
      log.calls[log.count++] = {first, second, false, false, false, 0, 0};
      return;
    }
    if (log.count == 0) return;
    VerifierCall &call = log.calls[log.count - 1];
    if (sscanf(line, "holding %lu", &first) == 1) {
      call.holding = true;
    } else if (sscanf(line, "fault %lu", &first) == 1) {
      call.faulted = true;
    } else if (sscanf(line, "return %lu %lu", &first, &second) == 2) {
      call.returned = true;
      call.result = first;
      call.returnTick = second;
    }
  });
  return log;
}

struct PasswordChangeCall {
  char provider[64];
  unsigned long owner;
  unsigned long reserved1;
  unsigned long reserved2;
};

int ReadPasswordChangeLog(PasswordChangeCall *call) {
  int count = 0;
  ReadLogLines(PasswordChangeLogFile, [&](const char *line) {
    PasswordChangeCall read = {};
    if (sscanf(line, "change %63s %lu %lu %lu", read.provider, &read.owner, &read.reserved1, &read.reserved2) == 4) {
      if (count++ == 0) *call = read;
    }
  });
  return count;
}

// Waits until the verifier's call number `index` (from 0) satisfies `done`.
template <typename Done>
bool WaitForCall(int index, Done done, VerifierLog *log) {
  const bool seen = PollUntil(
      [&] {
        *log = ReadVerifierLog();
        return log->count > index && done(log->calls[index]);
      },
      CallTimeoutMs);
  return CHECKF(seen, "verifier call %d not seen (calls recorded: %d)", index + 1, log->count);
}

bool WaitForReturn(int index, VerifierLog *log) {
  return WaitForCall(index, [](const VerifierCall &call) { return call.returned; }, log);
}

// ---- The saver and the flag --------------------------------------------------------------

unsigned long HandleNumber(HWND window) { return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)); }

bool StartSaverCopy(const char *tail, Process *saver) {
  char commandLine[MAX_PATH + 64];
  snprintf(commandLine, sizeof commandLine, "\"%s\\%s\" %s", WorkDir, SaverFileName, tail);
  return StartCommandLine(commandLine, saver);
}

HWND WaitForSaverWindow(const Process &saver) {
  HWND window = nullptr;
  const bool shown = PollUntil(
      [&] {
        window = FindTopWindow(saver.id, SaverClass, SaverTitle);
        return window != nullptr && IsWindowVisible(window);
      },
      WindowTimeoutMs);
  return CHECKF(shown, "no visible saver window within %lu ms", WindowTimeoutMs) ? window : nullptr;
}

bool WaitForExitCode(Process *saver, DWORD timeoutMs, DWORD expected) {
  DWORD exitCode = 0;
  if (!CHECKF(WaitForExit(saver, timeoutMs, &exitCode), "saver still running after %lu ms", timeoutMs)) return false;
  return CHECK_EQ_U32(exitCode, expected);
}

// The flag as a process that has never read it sees it: 0, 1, or -1 when it cannot be read.
int SaverRunningFlag() {
  char self[MAX_PATH];
  char commandLine[MAX_PATH + 32];
  Process reader;
  DWORD exitCode = FlagReadFailed;
  if (!GetModuleFileNameA(nullptr, self, sizeof self)) return -1;
  snprintf(commandLine, sizeof commandLine, "\"%s\" %s", self, ReadFlagSwitch);
  if (!StartCommandLine(commandLine, &reader)) return -1;
  const bool ended = WaitForExit(&reader, DefaultExitTimeoutMs, &exitCode);
  EndProcess(&reader);
  return ended && exitCode != FlagReadFailed ? static_cast<int>(exitCode) : -1;
}

int ReadFlagAndExit() {
  BOOL running = FALSE;
  if (!SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0)) return FlagReadFailed;
  return running ? 1 : 0;
}

// Each case starts with the flag off, whatever an earlier case left behind.
void ClearSaverRunningFlag() {
  BOOL previous = FALSE;
  SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, &previous, 0);
}

HCURSOR ForegroundCursor() {
  CURSORINFO info = {};
  info.cbSize = sizeof info;
  return GetCursorInfo(&info) ? info.hCursor : nullptr;
}

// A later close request comes from the keyboard: a second click this soon after the first
// would arrive as a double-click, which is no close request at all.
bool PressShift() { return CHECKF(PressKey(VK_SHIFT), "cannot send a key press"); }

// ---- The password setting ----------------------------------------------------------------

struct PasswordSetting {
  const char *name;
  bool present;
  DWORD type;
  BYTE bytes[8];
  DWORD size;
  bool locks;
};

// The value is read into a zeroed 32-bit integer without looking at its type: a string
// counts by its bytes, so "0" (0x30 0x00) reads as on; more than 4 bytes cannot be read.
const PasswordSetting passwordSettings[] = {
    {"PasswordSettingMissingClosesAtFirstClick", false, REG_DWORD, {}, 0, false},
    {"PasswordSettingDwordZeroClosesAtFirstClick", true, REG_DWORD, {0, 0, 0, 0}, 4, false},
    {"PasswordSettingDwordOneAsksForPassword", true, REG_DWORD, {1, 0, 0, 0}, 4, true},
    {"PasswordSettingStringOneAsksForPassword", true, REG_SZ, {'1', 0}, 2, true},
    {"PasswordSettingStringZeroReadsAsOnAndAsks", true, REG_SZ, {'0', 0}, 2, true},
    {"PasswordSettingOneByteOneAsksForPassword", true, REG_BINARY, {1}, 1, true},
    {"PasswordSettingOneByteZeroClosesAtFirstClick", true, REG_BINARY, {0}, 1, false},
    {"PasswordSettingOfFiveBytesClosesAtFirstClick", true, REG_BINARY, {1, 0, 0, 0, 0}, 5, false},
};

void ApplyPasswordSetting(const PasswordSetting &setting) {
  if (setting.present) {
    SetUserValue(DesktopKey, UsePasswordValue, setting.type, setting.bytes, setting.size);
  } else {
    DeleteUserValue(DesktopKey, UsePasswordValue);
  }
}

const PasswordSetting &LockOn() { return passwordSettings[2]; }

// A new case with the flag off, no recorded calls and the given answers.
void BeginPasswordCase(const char *name, const char *answers) {
  BeginCase(name);
  ClearSaverRunningFlag();
  ForgetCalls();
  WriteAnswers(answers);
}

// With the lock off the first click ends the saver and the verifier is never asked; with
// it on the saver asks (the double accepts) and then ends. The flag is set only while a
// lock is loaded.
void RunPasswordSetting(const PasswordSetting &setting) {
  BeginPasswordCase(setting.name, "accept 1\n");
  ApplyPasswordSetting(setting);
  Process saver;
  const HWND window = StartSaverCopy("/s", &saver) ? WaitForSaverWindow(saver) : nullptr;
  if (window) {
    const int flagWhileRunning = SaverRunningFlag();
    CHECKF(flagWhileRunning == (setting.locks ? 1 : 0), "saver-running flag %d while the saver runs",
           flagWhileRunning);
    ClickMouse();
    WaitForExitCode(&saver, DefaultExitTimeoutMs, 0);
    const VerifierLog log = ReadVerifierLog();
    CHECKF(log.count == (setting.locks ? 1 : 0), "verifier called %d time(s)", log.count);
    if (log.count > 0) CHECK_EQ_U32(log.calls[0].window, HandleNumber(window));
    const int flagAfterExit = SaverRunningFlag();
    CHECKF(flagAfterExit == 0, "saver-running flag %d after the saver ended", flagAfterExit);
  }
  EndProcess(&saver);
  EndCase();
}

// ---- Refusal, quiet period, acceptance ----------------------------------------------------

struct LockedRun {
  Process saver;
  HWND window;
  VerifierLog log;
};

// The first request: the verifier holds like a dialog that is up (the rest of the click is
// dispatched meanwhile), then refuses and leaves its arrow cursor behind. The saver stays
// and hides the cursor again.
bool RefuseFirstRequest(LockedRun *run) {
  BeginPasswordCase("RefusedPasswordKeepsSaverRunningAndCursorHidden", "hold refuse\nrefuse\n");
  ApplyPasswordSetting(LockOn());
  HANDLE release = CreateEventA(nullptr, FALSE, FALSE, VerifierReleaseEvent);
  bool ok = StartSaverCopy("/s", &run->saver) && (run->window = WaitForSaverWindow(run->saver)) != nullptr;
  if (ok) {
    ClickMouse();
    ok = WaitForCall(0, [](const VerifierCall &call) { return call.holding; }, &run->log);
    SetEvent(release);
  }
  ok = ok && WaitForReturn(0, &run->log) &&
       CHECKF(PollUntil([] { return ForegroundCursor() == nullptr; }, CursorTimeoutMs),
              "cursor still shown after the refusal");
  ok = ok && CHECK(ProcessRunning(&run->saver)) && CHECK(IsWindowVisible(run->window));
  ok = ok && CHECK_EQ_U32(run->log.calls[0].window, HandleNumber(run->window));
  if (release) CloseHandle(release);
  return EndCase() && ok;
}

// Once the quiet period after a refusal is over, a click asks again.
bool AskAgainAfterQuietPeriod(LockedRun *run) {
  BeginCase("CloseRequestAfterQuietPeriodAsksAgain");
  const DWORD refusedAt = run->log.calls[0].returnTick;
  PollUntil([&] { return GetTickCount() - refusedAt >= QuietWatchMs; }, QuietWatchMs + CallTimeoutMs);
  PressShift();
  bool ok = WaitForReturn(1, &run->log) && CHECK_EQ_U32(run->log.calls[1].result, 0);
  ok = ok && CHECKF(run->log.calls[1].enterTick - refusedAt >= PasswordRecheckDelayMs,
                    "asked %lu ms after the refusal", run->log.calls[1].enterTick - refusedAt);
  ok = ok && CHECK(ProcessRunning(&run->saver));
  return EndCase() && ok;
}

// A click right after a refusal is dropped without a dialog, and the saver stays.
bool StayQuietWithinQuietPeriod(LockedRun *run) {
  BeginCase("CloseRequestWithinQuietPeriodAsksNothing");
  const DWORD refusedAt = run->log.calls[1].returnTick;
  PressShift();
  const DWORD clickedAfter = GetTickCount() - refusedAt;
  bool ok = CHECKF(clickedAfter < PromptRequestMs, "the click came only %lu ms after the refusal", clickedAfter);
  PollUntil([&] { return GetTickCount() - refusedAt >= QuietWatchMs; }, QuietWatchMs + CallTimeoutMs);
  run->log = ReadVerifierLog();
  ok = ok && CHECKF(run->log.count == 2, "verifier called %d time(s)", run->log.count);
  ok = ok && CHECK(ProcessRunning(&run->saver));
  return EndCase() && ok;
}

void AcceptAfterRefusals(LockedRun *run) {
  BeginCase("AcceptedPasswordEndsSaverWithExitCodeZero");
  CHECKF(SaverRunningFlag() == 1, "saver-running flag not set while the lock is on");
  WriteAnswers("accept 7\n");
  PressShift();
  if (WaitForReturn(2, &run->log)) {
    CHECK_EQ_U32(run->log.calls[2].result, 7);
    WaitForExitCode(&run->saver, DefaultExitTimeoutMs, 0);
    CHECKF(SaverRunningFlag() == 0, "saver-running flag still set after the saver ended");
  }
  EndCase();
}

void RunRefusalAndAcceptance() {
  LockedRun run = {};
  if (RefuseFirstRequest(&run) && AskAgainAfterQuietPeriod(&run) && StayQuietWithinQuietPeriod(&run)) {
    AcceptAfterRefusals(&run);
  }
  EndProcess(&run.saver);
}

// A verifier that faults: the exception guard clears the flag and the saver ends with -1
// rather than hanging.
void RunFaultingVerifier() {
  BeginPasswordCase("FaultingVerifierClearsSaverRunningFlagAndExitsMinusOne", "fault\n");
  ApplyPasswordSetting(LockOn());
  Process saver;
  if (StartSaverCopy("/s", &saver) && WaitForSaverWindow(saver)) {
    CHECKF(SaverRunningFlag() == 1, "saver-running flag not set while the lock is on");
    ClickMouse();
    VerifierLog log;
    if (WaitForCall(0, [](const VerifierCall &call) { return call.faulted; }, &log)) {
      WaitForExitCode(&saver, FaultExitTimeoutMs, ExitCodeMinusOne);
      CHECKF(SaverRunningFlag() == 0, "saver-running flag still set after the fault");
    }
  }
  EndProcess(&saver);
  EndCase();
}

// ---- The NT platform ------------------------------------------------------------------------

void RunOnNt() {
  ReportWindows98(false);

  BeginPasswordCase("ChangePasswordOnNtExitsMinusOneAndCallsNothing", "accept 1\n");
  Process saver;
  PasswordChangeCall change;
  if (StartSaverCopy("/a", &saver)) {
    WaitForExitCode(&saver, DefaultExitTimeoutMs, ExitCodeMinusOne);
    CHECKF(ReadPasswordChangeLog(&change) == 0, "PwdChangePasswordA was called");
  }
  EndProcess(&saver);
  EndCase();

  BeginPasswordCase("PasswordSettingOnNtClosesAtFirstClickWithoutAsking", "accept 1\n");
  ApplyPasswordSetting(LockOn());
  if (StartSaverCopy("/s", &saver) && WaitForSaverWindow(saver)) {
    CHECKF(SaverRunningFlag() == 0, "saver-running flag set on NT");
    ClickMouse();
    WaitForExitCode(&saver, DefaultExitTimeoutMs, 0);
    CHECKF(ReadVerifierLog().count == 0, "verifier called on NT");
  }
  EndProcess(&saver);
  EndCase();

  ReportWindows98(true);
}

// ---- Changing the password ("/a") -------------------------------------------------------------

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateOwnerWindow(int x) {
  return CreateWindowExA(0, OwnerClass, "Password owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, 10, 200, 100, nullptr,
                         nullptr, GetModuleHandleA(nullptr), nullptr);
}

struct Owners {
  HWND foreground;
  HWND other;
};

bool MakeOwners(Owners *owners) {
  WNDCLASSA ownerClass = {};
  ownerClass.lpfnWndProc = OwnerProc;
  ownerClass.hInstance = GetModuleHandleA(nullptr);
  ownerClass.lpszClassName = OwnerClass;
  RegisterClassA(&ownerClass);
  owners->other = CreateOwnerWindow(300);
  owners->foreground = CreateOwnerWindow(10);
  if (!owners->foreground || !owners->other) return false;
  SetForegroundWindow(owners->foreground);
  return PollUntil([&] { return GetForegroundWindow() == owners->foreground; }, WindowTimeoutMs);
}

DWORD HandleOfNoWindow() {
  for (DWORD candidate = FirstCandidateHandle; candidate < CandidateLimit; ++candidate) {
    if (!IsWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(candidate)))) return candidate;
  }
  return 0;
}

enum OwnerChoice { ForegroundOwner, OtherOwner };

struct ChangePasswordLine {
  const char *name;
  const char *tail;  // "%lu" stands for the handle of the row's argument
  OwnerChoice expected;
  bool argumentNamesNoWindow;
};

const ChangePasswordLine changePasswordLines[] = {
    {"ChangePasswordWithoutHandleUsesForegroundWindow", "/a", ForegroundOwner, false},
    {"ChangePasswordWithHandleZeroUsesForegroundWindow", "/a 0", ForegroundOwner, false},
    {"ChangePasswordWithHandleOfNoWindowUsesForegroundWindow", "/a %lu", ForegroundOwner, true},
    {"ChangePasswordWithWindowHandleUsesThatWindow", "/a %lu", OtherOwner, false},
    {"ChangePasswordWithBlanksBeforeHandleUsesThatWindow", "/a   %lu", OtherOwner, false},
    {"ChangePasswordWithDashSwitchUsesThatWindow", "-A %lu", OtherOwner, false},
};

void RunChangePasswordLine(const ChangePasswordLine &row, const Owners &owners) {
  char tail[64];
  BeginPasswordCase(row.name, "accept 1\n");
  const unsigned long argument = row.argumentNamesNoWindow ? HandleOfNoWindow() : HandleNumber(owners.other);
  snprintf(tail, sizeof tail, row.tail, argument);
  const HWND expected = row.expected == ForegroundOwner ? owners.foreground : owners.other;
  Process saver;
  if (CHECKF(GetForegroundWindow() == owners.foreground, "the driver's window is not in the foreground") &&
      StartSaverCopy(tail, &saver)) {
    WaitForExitCode(&saver, DefaultExitTimeoutMs, 0);
    PasswordChangeCall change = {};
    const int calls = ReadPasswordChangeLog(&change);
    if (CHECKF(calls == 1, "PwdChangePasswordA called %d time(s)", calls)) {
      CHECKF(strcmp(change.provider, "SCRSAVE") == 0, "provider \"%s\"", change.provider);
      CHECK_EQ_U32(change.owner, HandleNumber(expected));
      CHECK_EQ_U32(change.reserved1, 0);
      CHECK_EQ_U32(change.reserved2, 0);
    }
  }
  EndProcess(&saver);
  EndCase();
}

void RunChangePasswordWithoutLibrary() {
  char present[MAX_PATH];
  char away[MAX_PATH];
  WorkPath(PasswordChangeFileName, present, sizeof present);
  WorkPath(PasswordChangeAwayName, away, sizeof away);
  BeginPasswordCase("ChangePasswordWithoutMprLibraryExitsZero", "accept 1\n");
  Process saver;
  if (CHECKF(MoveFileA(present, away), "cannot move %s away", present) && StartSaverCopy("/a", &saver)) {
    WaitForExitCode(&saver, DefaultExitTimeoutMs, 0);
  }
  EndProcess(&saver);
  MoveFileA(away, present);
  EndCase();
}

void RunChangePassword() {
  Owners owners = {};
  BeginCase("DriverOwnsTheForegroundWindow");
  const bool owned = CHECKF(MakeOwners(&owners), "cannot make the driver's window the foreground window");
  EndCase();
  if (owned) {
    for (const ChangePasswordLine &row : changePasswordLines) RunChangePasswordLine(row, owners);
  }
  RunChangePasswordWithoutLibrary();
  if (owners.foreground) DestroyWindow(owners.foreground);
  if (owners.other) DestroyWindow(owners.other);
}

// ---- Suite ---------------------------------------------------------------------------------

bool PrepareSuite() {
  BeginCase("SaverAndDoublesInstalledForWindows98");
  PrepareWorkDir();
  ReportWindows98(true);
  // Native MPR.DLL for this program only: Wine would otherwise load its own.
  SetUserString(AppDllOverridesKey, "mpr", "native");
  return EndCase();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], ReadFlagSwitch) == 0) return ReadFlagAndExit();
  BeginSuite("password", argc, argv);
  if (PrepareSuite()) {
    for (const PasswordSetting &setting : passwordSettings) RunPasswordSetting(setting);
    RunRefusalAndAcceptance();
    RunFaultingVerifier();
    RunOnNt();
    RunChangePassword();
  }
  return EndSuite();
}
