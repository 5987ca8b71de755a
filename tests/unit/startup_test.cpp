// Start-up: the command tail, the switch table, the owner or parent each mode
// is given, the exit codes, and the exception guard around the modes. Every
// row of the main table is a whole command line run through the process entry,
// with the simulated platform standing in for the system and the user.
#include "host/host.h"
#include "resources/resource_ids.h"
#include "tests/unit/sim_test.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);

namespace {

constexpr char SaverClass[] = "WindowsScreenSaverClass";
constexpr char PasswordChangeLibrary[] = "MPR.DLL";
constexpr char PasswordChangeEntry[] = "PwdChangePasswordA";
constexpr DWORD AccessViolation = 0xC0000005u;
constexpr uint64_t HandleWrap = uint64_t{1} << 32;

enum class Platform { NT, Win9x, Win9xVersionFails };
enum class Mode { None, Config, Save, Preview, Password };
// The window a mode was handed: none, the test's existing window, or the
// foreground window.
enum class Target { None, Window, Foreground };

// ---- The test's MPR.DLL ----------------------------------------------------------

struct PasswordChangeRecord {
  int calls = 0;
  HWND owner = nullptr;
  bool raise = false;
};
PasswordChangeRecord passwordChange;

DWORD WINAPI TestPwdChangePassword(LPCSTR, HWND owner, DWORD, DWORD) {
  ++passwordChange.calls;
  passwordChange.owner = owner;
  if (passwordChange.raise) SimRaiseException(AccessViolation);
  return 0;
}

FARPROC PasswordChangeEntryProc() {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(TestPwdChangePassword));
}

void PressDialogButton(HWND dialog, int id) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// ---- One process run -----------------------------------------------------------------

struct Outcome {
  Mode mode = Mode::None;
  HWND target = nullptr;  // dialog owner, window parent or password-change owner
  DWORD style = 0;        // of the saver window
  int modesRun = 0;
  int exitCode = 0;
};

class StartupTest : public SimTest {
 protected:
  HWND existing = nullptr;
  HWND foreground = nullptr;

  // An existing window whose handle the command lines name, a different
  // foreground window, the test's MPR.DLL, a user who presses OK in the
  // dialog, and a user who closes the saver as soon as it is idle.
  void SetUpScene(Platform platform) {
    passwordChange = {};
    if (platform != Platform::NT) SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    SimFailGetVersionEx(platform == Platform::Win9xVersionFails);
    existing = SimCreatePreviewParent(160, 120);
    foreground = SimCreateForeignWindow(SimWindowShape{});
    SimSetForeground(foreground);
    SimInstallLibrary(PasswordChangeLibrary, {{PasswordChangeEntry, PasswordChangeEntryProc()}});
    SimSetDialogScript([](HWND dialog) { PressDialogButton(dialog, IDC_CONFIG_OK); });
    SimSetIdleHook([] {
      if (const HWND saver = SimFindWindowOfClass(SaverClass)) PostMessageA(saver, WM_CLOSE, 0, 0);
    });
  }

  // "{W}" names the existing window; "{W+2^32}" names it too, after the wrap.
  std::string Expand(std::string line) const {
    const uint64_t handle = reinterpret_cast<uintptr_t>(existing);
    const struct {
      const char *placeholder;
      uint64_t value;
    } names[] = {{"{W}", handle}, {"{W+2^32}", handle + HandleWrap}};
    for (const auto &name : names) {
      for (size_t at; (at = line.find(name.placeholder)) != std::string::npos;) {
        line.replace(at, std::strlen(name.placeholder), std::to_string(name.value));
      }
    }
    return line;
  }

  HWND Resolve(Target target) const {
    switch (target) {
      case Target::Window:
        return existing;
      case Target::Foreground:
        return foreground;
      default:
        return nullptr;
    }
  }

  // Runs the process from its entry point and reads back which mode ran.
  // WinMain's own arguments are nonsense on purpose: it must ignore them.
  Outcome RunProcess(const std::string &commandLine) {
    SimSetCommandLine(commandLine);
    char ignored[] = "/c:1";
    Outcome out;
    out.exitCode = SimRunProcess([&] { WinMain(nullptr, nullptr, ignored, SW_SHOW); });
    for (const SimEvent &e :
         SimJournalOf({SimEventKind::DialogBox, SimEventKind::CreateWindow, SimEventKind::LoadLibrary})) {
      if (e.kind == SimEventKind::DialogBox) {
        EXPECT_EQ(e.instance, SimInstance());
        Note(&out, Mode::Config, e.window);
      } else if (e.kind == SimEventKind::CreateWindow && e.name == SaverClass) {
        Note(&out, e.parent != nullptr ? Mode::Preview : Mode::Save, e.parent);
        out.style = e.flags;
      } else if (e.kind == SimEventKind::LoadLibrary && e.name == PasswordChangeLibrary) {
        Note(&out, Mode::Password, passwordChange.owner);
      }
    }
    return out;
  }

 private:
  static void Note(Outcome *out, Mode mode, HWND target) {
    ++out->modesRun;
    out->mode = mode;
    out->target = target;
  }
};

// ---- The command-line table ----------------------------------------------------------

struct LineCase {
  const char *name;
  const char *line;
  Platform platform;
  Mode mode;
  Target target;
  int exitCode;
};

constexpr Platform NT = Platform::NT;
constexpr Platform W9x = Platform::Win9x;
constexpr int Ok = 1;  // the dialog's result after OK, as the scripted user ends it
constexpr int CannotStart = -1;

const LineCase LineCases[] = {
    // The program name and the tail.
    {"NameOnlyOpensConfigWithoutOwner", "quorvane.scr", NT, Mode::Config, Target::None, Ok},
    {"QuotedNameThenSwitch", "\"C:\\Program Files\\quorvane.scr\" /s", NT, Mode::Save, Target::None, 0},
    {"SwitchGluedAfterClosingQuote", "\"C:\\Savers\\quorvane.scr\"/s", NT, Mode::Save, Target::None, 0},
    {"QuotedNameWithoutClosingQuote", "\"C:\\Program Files\\quorvane.scr /s", NT, Mode::Config, Target::None, Ok},
    {"SwitchGluedToUnquotedName", "quorvane.scr/s", NT, Mode::Config, Target::None, Ok},
    {"LeadingBlankSkipsNoName", " /s", NT, Mode::Save, Target::None, 0},
    {"LeadingBlankReadsFirstWordAsSwitch", " quorvane.scr /s", NT, Mode::None, Target::None, CannotStart},
    {"LeadingBlankWordStartingWithS", " saver.scr /c", NT, Mode::Save, Target::None, 0},
    {"BlanksAndTabsBeforeSwitch", "quorvane.scr \t \t/s", NT, Mode::Save, Target::None, 0},
    {"TabEndsUnquotedName", "quorvane.scr\t/s", NT, Mode::Save, Target::None, 0},
    {"ControlBytesBeforeSwitch", "quorvane.scr \x01\x1f/s", NT, Mode::Save, Target::None, 0},
    {"BlanksAndTabsOnly", "quorvane.scr \t \t ", NT, Mode::Config, Target::None, Ok},
    {"SeparatorsOnly", "quorvane.scr - / -", NT, Mode::Config, Target::None, Ok},
    {"TabAfterFirstSeparator", "quorvane.scr -\t", NT, Mode::None, Target::None, CannotStart},
    {"TabBetweenSlashAndLetter", "quorvane.scr /\ts", NT, Mode::None, Target::None, CannotStart},
    {"HighByteInsideUnquotedName", "qu\xE9rvane.scr /s", NT, Mode::Save, Target::None, 0},
    {"HighByteStartsUnquotedName", "\xA0/s", NT, Mode::Config, Target::None, Ok},
    {"HighByteInsideQuotedName", "\"\xC7\xE9.scr\"/s", NT, Mode::Save, Target::None, 0},
    {"HighByteFirstInTail", "quorvane.scr \x85/s", NT, Mode::None, Target::None, CannotStart},
    {"HighByteAfterSeparator", "quorvane.scr /\xF3", NT, Mode::None, Target::None, CannotStart},
    // Save mode.
    {"SlashS", "quorvane.scr /s", NT, Mode::Save, Target::None, 0},
    {"DashS", "quorvane.scr -s", NT, Mode::Save, Target::None, 0},
    {"BareS", "quorvane.scr s", NT, Mode::Save, Target::None, 0},
    {"UpperS", "quorvane.scr /S", NT, Mode::Save, Target::None, 0},
    {"DoubleSlashS", "quorvane.scr //s", NT, Mode::Save, Target::None, 0},
    {"SlashBlankS", "quorvane.scr / s", NT, Mode::Save, Target::None, 0},
    {"SlashSWithFurtherText", "quorvane.scr /s extra /c:{W}", NT, Mode::Save, Target::None, 0},
    {"SlashSOnWin9x", "quorvane.scr /s", W9x, Mode::Save, Target::None, 0},
    // Configuration mode and its owner.
    {"SlashCOwnedByForeground", "quorvane.scr /c", NT, Mode::Config, Target::Foreground, Ok},
    {"SlashCColonEmpty", "quorvane.scr /c:", NT, Mode::Config, Target::Foreground, Ok},
    {"SlashCBlankNumberIgnored", "quorvane.scr /c {W}", NT, Mode::Config, Target::Foreground, Ok},
    {"SlashCColonExistingWindow", "quorvane.scr /c:{W}", NT, Mode::Config, Target::Window, Ok},
    {"UpperCColonExistingWindow", "quorvane.scr -C:{W}", NT, Mode::Config, Target::Window, Ok},
    {"SlashCColonMissingWindow", "quorvane.scr /c:999", NT, Mode::Config, Target::Foreground, Ok},
    {"SlashCColonWrappedHandle", "quorvane.scr /c:{W+2^32}", NT, Mode::Config, Target::Window, Ok},
    {"SlashCColonNegative", "quorvane.scr /c:-{W}", NT, Mode::Config, Target::Foreground, Ok},
    {"SlashCColonBlankThenHandle", "quorvane.scr /c: {W}", NT, Mode::Config, Target::Foreground, Ok},
    // Preview mode and its parent.
    {"SlashPAlone", "quorvane.scr /p", NT, Mode::None, Target::None, CannotStart},
    {"SlashPZero", "quorvane.scr /p 0", NT, Mode::None, Target::None, CannotStart},
    {"SlashPColon", "quorvane.scr /p:{W}", NT, Mode::None, Target::None, CannotStart},
    {"SlashPTab", "quorvane.scr /p\t{W}", NT, Mode::None, Target::None, CannotStart},
    {"SlashPMissingWindow", "quorvane.scr /p 999", NT, Mode::None, Target::None, CannotStart},
    {"SlashPTwoToThe32WrapsToZero", "quorvane.scr /p 4294967296", NT, Mode::None, Target::None, CannotStart},
    {"SlashPTwoToThe32PlusOneWrapsToOne", "quorvane.scr /p 4294967297", NT, Mode::None, Target::None, CannotStart},
    {"SlashPBlankHandle", "quorvane.scr /p {W}", NT, Mode::Preview, Target::Window, 0},
    {"SlashPGluedHandle", "quorvane.scr /p{W}", NT, Mode::Preview, Target::Window, 0},
    {"SlashPFourBlanksHandle", "quorvane.scr /p    {W}", NT, Mode::Preview, Target::Window, 0},
    {"SlashPHandleThenLetters", "quorvane.scr /p {W}abc", NT, Mode::Preview, Target::Window, 0},
    {"SlashPWrappedHandle", "quorvane.scr /p {W+2^32}", NT, Mode::Preview, Target::Window, 0},
    {"SlashLBlankHandle", "quorvane.scr /l {W}", NT, Mode::Preview, Target::Window, 0},
    {"UpperLGluedHandle", "quorvane.scr -L{W}", NT, Mode::Preview, Target::Window, 0},
    {"UpperPOnWin9x", "quorvane.scr /P {W}", W9x, Mode::Preview, Target::Window, 0},
    // The password change.
    {"SlashAOnNT", "quorvane.scr /a", NT, Mode::None, Target::None, CannotStart},
    {"SlashAWithHandleOnNT", "quorvane.scr /a {W}", NT, Mode::None, Target::None, CannotStart},
    {"SlashAOnWin9x", "quorvane.scr /a", W9x, Mode::Password, Target::Foreground, 0},
    {"SlashAHandleOnWin9x", "quorvane.scr /a {W}", W9x, Mode::Password, Target::Window, 0},
    {"UpperABlanksHandleOnWin9x", "quorvane.scr /A   {W}", W9x, Mode::Password, Target::Window, 0},
    {"SlashAGluedHandleOnWin9x", "quorvane.scr /a{W}", W9x, Mode::Password, Target::Window, 0},
    {"SlashAMissingWindowOnWin9x", "quorvane.scr /a 999", W9x, Mode::Password, Target::Foreground, 0},
    {"SlashAColonOnWin9x", "quorvane.scr /a:{W}", W9x, Mode::Password, Target::Foreground, 0},
    {"FailedVersionCountsAsNT", "quorvane.scr /a {W}", Platform::Win9xVersionFails, Mode::None, Target::None,
     CannotStart},
    {"FailedVersionStillSaves", "quorvane.scr /s", Platform::Win9xVersionFails, Mode::Save, Target::None, 0},
    // Not a switch.
    {"SlashX", "quorvane.scr /x", NT, Mode::None, Target::None, CannotStart},
    {"SlashDigit", "quorvane.scr /1", NT, Mode::None, Target::None, CannotStart},
    {"QuestionMark", "quorvane.scr /?", W9x, Mode::None, Target::None, CannotStart},
};

class CommandLineTest : public StartupTest, public testing::WithParamInterface<LineCase> {};

TEST_P(CommandLineTest, RunsTheModeTheFirstSwitchNames) {
  const LineCase &c = GetParam();
  SetUpScene(c.platform);
  const Outcome out = RunProcess(Expand(c.line));
  EXPECT_EQ(out.exitCode, c.exitCode);
  EXPECT_EQ(out.mode, c.mode);
  EXPECT_EQ(out.modesRun, c.mode == Mode::None ? 0 : 1);
  EXPECT_EQ(out.target, Resolve(c.target));
  const DWORD kind = out.style & (WS_POPUP | WS_CHILD);
  if (c.mode == Mode::Save) {
    EXPECT_EQ(kind, static_cast<DWORD>(WS_POPUP));
  }
  if (c.mode == Mode::Preview) {
    EXPECT_EQ(kind, static_cast<DWORD>(WS_CHILD));
  }
  EXPECT_EQ(passwordChange.calls, c.mode == Mode::Password ? 1 : 0);
  EXPECT_EQ(hostState.instanceHandle, SimInstance());
  EXPECT_EQ(hostState.onWin9x, c.platform == Platform::Win9x ? 1 : 0);
  EXPECT_EQ(SimTopLevelFilter(), nullptr) << "the guard is taken down when the mode returns";
}

INSTANTIATE_TEST_SUITE_P(WholeLines, CommandLineTest, testing::ValuesIn(LineCases),
                         [](const testing::TestParamInfo<LineCase> &info) { return info.param.name; });

// ---- Smaller tables -------------------------------------------------------------------

TEST_F(StartupTest, CommandTailPointsIntoTheCommandLineItself) {
  struct Case {
    const char *line;
    size_t tailOffset;
  };
  const Case cases[] = {
      {"quorvane.scr /s", 13},
      {"\"a b.scr\"/s", 9},
      {"\"a b.scr\"  \t/s", 12},
      {"\"a b.scr /s", 11},
      {"quorvane.scr/s", 14},
      {" \t/s", 2},
      {"", 0},
      {"\"", 1},
      {"q\xE9.scr \xE9", 7},
      {"q.scr \x7f", 6},
  };
  for (const Case &c : cases) EXPECT_EQ(CommandTail(c.line), c.line + c.tailOffset) << '"' << c.line << '"';
}

TEST_F(StartupTest, ParseWindowHandleReadsUnsignedDecimalDigitsAndWraps) {
  struct Case {
    const char *text;
    uint32_t handle;
  };
  const Case cases[] = {
      {"00012", 12},
      {"12abc", 12},
      {"-12", 0},
      {" 12", 0},
      {"4294967296", 0},
      {"4294967297", 1},
      {"4294967295", 0xFFFFFFFFu},
      {"", 0},
      {"12:34", 12},
      {"99999999999999999999", 1661992959u},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(ParseWindowHandle(c.text)), c.handle) << '"' << c.text << '"';
  }
}

// The configuration dialog's result is the exit code, whatever it is.
TEST_F(StartupTest, ConfigurationExitCodeIsTheDialogResult) {
  struct Case {
    int button;  // 0: the dialog cannot be shown
    INT_PTR failure;
    int exitCode;
  };
  const Case cases[] = {{IDC_CONFIG_OK, 0, 1}, {IDC_CONFIG_CANCEL, 0, 0}, {0, -1, -1}, {0, 0, 0}};
  for (const Case &c : cases) {
    SimReset();
    SetUpScene(Platform::NT);
    SimSetDialogScript([&](HWND dialog) { PressDialogButton(dialog, c.button); });
    if (c.button == 0) SimFailDialogBox(true, c.failure);
    EXPECT_EQ(RunProcess("quorvane.scr /c").exitCode, c.exitCode) << "button " << c.button;
  }
}

// ---- The exception guard ---------------------------------------------------------------

enum class RaiseIn { Dialog, PasswordChange };

struct GuardCase {
  const char *name;
  Platform platform;
  RaiseIn where;
  LONG verdict;
  int exitCode;
  size_t saverRunningOffCalls;
};

const GuardCase GuardCases[] = {
    {"HandledOnNTExitsMinusOne", NT, RaiseIn::Dialog, EXCEPTION_EXECUTE_HANDLER, -1, 0},
    {"HandledOnWin9xClearsSaverRunning", W9x, RaiseIn::Dialog, EXCEPTION_EXECUTE_HANDLER, -1, 1},
    {"HandledInPasswordChange", W9x, RaiseIn::PasswordChange, EXCEPTION_EXECUTE_HANDLER, -1, 1},
    {"ContinueSearchLeftToSystem", W9x, RaiseIn::Dialog, EXCEPTION_CONTINUE_SEARCH, static_cast<int>(AccessViolation),
     0},
    {"ContinueExecutionResumesMode", W9x, RaiseIn::Dialog, EXCEPTION_CONTINUE_EXECUTION, Ok, 0},
};

class SaverMainGuardTest : public StartupTest, public testing::WithParamInterface<GuardCase> {};

TEST_P(SaverMainGuardTest, SystemFilterDecidesAndHandlerSwitchesSaverRunningOff) {
  const GuardCase &c = GetParam();
  SetUpScene(c.platform);
  SimSetUnhandledExceptionVerdict(c.verdict);
  const char *line = "quorvane.scr /c";
  if (c.where == RaiseIn::PasswordChange) {
    passwordChange.raise = true;
    line = "quorvane.scr /a";
  } else {
    SimSetDialogScript([](HWND dialog) {
      SimRaiseException(AccessViolation);
      PressDialogButton(dialog, IDC_CONFIG_OK);
    });
  }
  const Outcome out = RunProcess(line);
  EXPECT_EQ(out.exitCode, c.exitCode);
  size_t saverRunningOff = 0;
  for (const SimEvent &e : SimJournalOf({SimEventKind::SystemParametersInfo})) {
    EXPECT_EQ(e.id, static_cast<UINT_PTR>(SPI_SCREENSAVERRUNNING));
    if (e.value == 0) ++saverRunningOff;
  }
  EXPECT_EQ(saverRunningOff, c.saverRunningOffCalls);
  // The library the dying process held is of no concern to the leak check.
  if (out.exitCode != 0 && c.where == RaiseIn::PasswordChange) FreeLibrary(GetModuleHandleA(PasswordChangeLibrary));
}

INSTANTIATE_TEST_SUITE_P(Verdicts, SaverMainGuardTest, testing::ValuesIn(GuardCases),
                         [](const testing::TestParamInfo<GuardCase> &info) { return info.param.name; });

// After an exception the program let run on, the guard is back in place and
// catches the next one.
TEST_F(StartupTest, GuardStaysInPlaceAfterAnExceptionThatContinues) {
  SetUpScene(Platform::Win9x);
  SimSetUnhandledExceptionVerdict(EXCEPTION_CONTINUE_EXECUTION);
  SimSetDialogScript([](HWND) {
    SimRaiseException(AccessViolation);
    SimSetUnhandledExceptionVerdict(EXCEPTION_EXECUTE_HANDLER);
    SimRaiseException(AccessViolation);
  });
  EXPECT_EQ(RunProcess("quorvane.scr /c").exitCode, -1);
  EXPECT_EQ(SimJournalOf({SimEventKind::SystemParametersInfo}).size(), 1u);
}

}  // namespace
