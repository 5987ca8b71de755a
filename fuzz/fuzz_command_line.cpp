// The whole command line, from the text the system hands the process through
// the command tail and SaverMain to the exit code, on a small scripted desktop.
// A reference decoder, written from the command-line rules alone, says which
// mode must run with which window; the run must match it, or end with -1 and
// no window and no dialog.
//
// Input: two bytes of scenario, then the command line itself.
//   byte 0: bits 0-1 platform (0 NT, 1 and 3 Windows 9x, 2 version query fails),
//           bit 2 another full-screen saver already runs, bit 3 the dialog ends
//           with OK (else Cancel), bit 4 MPR.DLL is there, bits 5-6 the
//           foreground window (none, window 0, window 1, a window that is gone),
//           bit 7 the input-method library is loaded.
//   byte 1: bits 0-1 how many scripted windows exist (0-3), bits 2-3 which of
//           them (1-3) has been destroyed again, so its handle names nothing.
// The scripted windows get the handles 65536, 65538 and 65540; the running
// saver, when there is one, the next.
#include "fuzz/fuzz_process.h"

#include "resources/resource_ids.h"

#include <cstring>
#include <string>

namespace {

enum class Mode { Config, Save, Preview, ChangePassword, Refused };

struct Expected {
  Mode mode;
  HWND target;  // dialog owner, preview parent or password-change owner
};

constexpr int MaxScriptedWindows = 3;
constexpr int ScriptedWindowWidth = 152;
constexpr int ScriptedWindowHeight = 112;
constexpr UINT ExitMinusOne = 0xFFFFFFFFu;
constexpr int MaxCloseRequests = 3;
const char SaverClass[] = "WindowsScreenSaverClass";
const char PasswordProvider[] = "SCRSAVE";

struct Desktop {
  HWND windows[MaxScriptedWindows] = {};
  bool alive[MaxScriptedWindows] = {};
  int count = 0;
  HWND runningSaver = nullptr;
  HWND foreground = nullptr;
  bool win9x = false;
  bool pressOk = false;
  bool mprInstalled = false;
};

struct PasswordChangeCall {
  int calls;
  bool providerRight;
  HWND owner;
  DWORD reserved1, reserved2;
};

Desktop desktop;
PasswordChangeCall passwordChange;
int closeRequests;

DWORD WINAPI TestPwdChangePassword(LPCSTR provider, HWND owner, DWORD reserved1, DWORD reserved2) {
  ++passwordChange.calls;
  passwordChange.providerRight = provider != nullptr && std::strcmp(provider, PasswordProvider) == 0;
  passwordChange.owner = owner;
  passwordChange.reserved1 = reserved1;
  passwordChange.reserved2 = reserved2;
  return 0;
}

HIMC WINAPI TestImmAssociateContext(HWND, HIMC) { return nullptr; }

// ---- The reference decoder --------------------------------------------------------

bool BlankOrControl(unsigned char byte) { return byte <= 0x20; }

const unsigned char *AfterProgramName(const unsigned char *p) {
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (!BlankOrControl(*p)) ++p;
  }
  while (*p != '\0' && BlankOrControl(*p)) ++p;
  return p;
}

HWND DecimalHandle(const unsigned char *p) {
  uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = (value * 10 + (*p - '0')) % (uint64_t{1} << 32);
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
}

bool NamesWindow(HWND handle) {
  if (handle == nullptr) return false;
  if (handle == desktop.runningSaver) return true;
  for (int i = 0; i < desktop.count; ++i) {
    if (desktop.alive[i] && desktop.windows[i] == handle) return true;
  }
  return false;
}

HWND OrForeground(HWND owner) { return NamesWindow(owner) ? owner : desktop.foreground; }

const unsigned char *AfterBlanks(const unsigned char *p) {
  while (*p == ' ') ++p;
  return p;
}

Expected Decode(const char *commandLine) {
  const unsigned char *p = AfterProgramName(reinterpret_cast<const unsigned char *>(commandLine));
  while (*p == ' ' || *p == '-' || *p == '/') ++p;
  switch (*p) {
    case '\0':
      return {Mode::Config, nullptr};
    case 's':
    case 'S':
      return {Mode::Save, nullptr};
    case 'c':
    case 'C':
      return {Mode::Config, OrForeground(p[1] == ':' ? DecimalHandle(p + 2) : nullptr)};
    case 'p':
    case 'P':
    case 'l':
    case 'L': {
      const HWND parent = DecimalHandle(AfterBlanks(p + 1));
      if (!NamesWindow(parent)) return {Mode::Refused, nullptr};
      return {Mode::Preview, parent};
    }
    case 'a':
    case 'A':
      if (!desktop.win9x) return {Mode::Refused, nullptr};
      return {Mode::ChangePassword, OrForeground(DecimalHandle(AfterBlanks(p + 1)))};
    default:
      return {Mode::Refused, nullptr};
  }
}

// ---- The scripted desktop -----------------------------------------------------------------

void ScriptPlatform(uint8_t platform) {
  if (platform == 2) {
    SimFailGetVersionEx(true);
    desktop.win9x = false;
    return;
  }
  desktop.win9x = platform != 0;
  SimSetPlatformId(desktop.win9x ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT);
}

void ScriptWindows(uint8_t windows) {
  desktop.count = windows & 3;
  for (int i = 0; i < desktop.count; ++i) {
    desktop.windows[i] = SimCreatePreviewParent(ScriptedWindowWidth, ScriptedWindowHeight);
    desktop.alive[i] = true;
  }
  const int gone = (windows >> 2) & 3;
  if (gone >= 1 && gone <= desktop.count) {
    DestroyWindow(desktop.windows[gone - 1]);
    desktop.alive[gone - 1] = false;
  }
}

HWND ForegroundChoice(int choice) {
  switch (choice) {
    case 1:
      return desktop.count > 0 ? desktop.windows[0] : nullptr;
    case 2:
      return desktop.count > 1 ? desktop.windows[1] : nullptr;
    case 3:  // a handle that names nothing (any more)
      return reinterpret_cast<HWND>(uintptr_t{0x10000} + 2 * MaxScriptedWindows + 0x100);
    default:
      return nullptr;
  }
}

void PressDialogButton(HWND dialog) {
  const int id = desktop.pressOk ? IDC_CONFIG_OK : IDC_CONFIG_CANCEL;
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

HWND OwnSaverWindow() {
  for (HWND window : SimWindows()) {
    const SimWindowInfo info = SimGetWindow(window);
    if (!info.foreign && info.className == SaverClass) return window;
  }
  return nullptr;
}

// The saver's loop has nothing to do: ask its window to close, as a key press
// would. A window that will not close after a few requests is a finding.
void CloseSaverWhenIdle() {
  FUZZ_CHECK(++closeRequests <= MaxCloseRequests, "the saver window does not close on request");
  const HWND saver = OwnSaverWindow();
  FUZZ_CHECK(saver != nullptr, "the saver loop waits with no saver window");
  PostMessageA(saver, WM_CLOSE, 0, 0);
}

void ScriptDesktop(uint8_t scenario, uint8_t windows) {
  desktop = Desktop{};
  passwordChange = PasswordChangeCall{};
  closeRequests = 0;
  ScriptPlatform(scenario & 3);
  ScriptWindows(windows);
  if (scenario & 4) desktop.runningSaver = SimCreateRunningSaver();
  desktop.pressOk = (scenario & 8) != 0;
  desktop.mprInstalled = (scenario & 16) != 0;
  if (desktop.mprInstalled) SimInstallLibrary("MPR.DLL", {{"PwdChangePasswordA", AsEntry(TestPwdChangePassword)}});
  desktop.foreground = ForegroundChoice((scenario >> 5) & 3);
  SimSetForeground(desktop.foreground);
  if (scenario & 128) SimSetModuleLoaded("IMM32.DLL", {{"ImmAssociateContext", AsEntry(TestImmAssociateContext)}});
  SimSetDialogScript(PressDialogButton);
  SimSetIdleHook(CloseSaverWhenIdle);
}

// ---- What happened ------------------------------------------------------------------------

struct Observed {
  UINT exitCode;
  std::vector<SimEvent> created;  // windows the program created
  std::vector<SimEvent> dialogs;
  std::vector<SimEvent> raised;  // SetForegroundWindow calls
  size_t libraryLoads;
};

Observed Observe(UINT exitCode) {
  Observed seen{exitCode, {}, {}, {}, 0};
  for (const SimEvent &event : SimJournal()) {
    if (event.kind == SimEventKind::CreateWindow && event.result != 0) seen.created.push_back(event);
    if (event.kind == SimEventKind::DialogBox) seen.dialogs.push_back(event);
    if (event.kind == SimEventKind::SetForegroundWindow) seen.raised.push_back(event);
    if (event.kind == SimEventKind::LoadLibrary) ++seen.libraryLoads;
  }
  return seen;
}

void CheckConfig(const Expected &expected, const Observed &seen) {
  FUZZ_CHECK(seen.created.empty(), "configuration mode created a window");
  FUZZ_CHECK(seen.dialogs.size() == 1, "configuration mode showed %zu dialogs", seen.dialogs.size());
  const SimEvent &dialog = seen.dialogs[0];
  FUZZ_CHECK(dialog.window == expected.target, "dialog owner %s, expected %s", SimHex(dialog.window).c_str(),
             SimHex(expected.target).c_str());
  FUZZ_CHECK(static_cast<INT_PTR>(static_cast<int>(seen.exitCode)) == dialog.result,
             "exit code %u is not the dialog's result %ld", seen.exitCode, static_cast<long>(dialog.result));
  if (NamesWindow(expected.target) || expected.target == nullptr) {
    FUZZ_CHECK(seen.exitCode == (desktop.pressOk ? 1u : 0u), "dialog ended with %u after %s", seen.exitCode,
               desktop.pressOk ? "OK" : "Cancel");
  }
}

void CheckWindowMode(const Expected &expected, const Observed &seen) {
  FUZZ_CHECK(seen.exitCode == 0, "a saver run ended with %u", seen.exitCode);
  FUZZ_CHECK(seen.dialogs.empty(), "a saver mode showed a dialog");
  if (expected.mode == Mode::Save && desktop.runningSaver != nullptr) {
    FUZZ_CHECK(seen.created.empty(), "a second full-screen saver was created");
    FUZZ_CHECK(seen.raised.size() == 1 && seen.raised[0].window == desktop.runningSaver,
               "the running saver was not raised");
    return;
  }
  FUZZ_CHECK(seen.created.size() == 1, "%zu windows created", seen.created.size());
  const SimEvent &window = seen.created[0];
  FUZZ_CHECK(window.parent == expected.target, "window parent %s, expected %s", SimHex(window.parent).c_str(),
             SimHex(expected.target).c_str());
  FUZZ_CHECK(window.text == (expected.mode == Mode::Save ? "Screen Saver" : "Preview"), "window title \"%s\"",
             window.text.c_str());
}

void CheckChangePassword(const Expected &expected, const Observed &seen) {
  FUZZ_CHECK(seen.exitCode == 0, "change password ended with %u", seen.exitCode);
  FUZZ_CHECK(seen.created.empty() && seen.dialogs.empty(), "change password made a window or a dialog");
  if (!desktop.mprInstalled) {
    FUZZ_CHECK(passwordChange.calls == 0, "a missing MPR.DLL was called");
    return;
  }
  FUZZ_CHECK(passwordChange.calls == 1, "PwdChangePasswordA called %d times", passwordChange.calls);
  FUZZ_CHECK(passwordChange.providerRight && passwordChange.reserved1 == 0 && passwordChange.reserved2 == 0,
             "PwdChangePasswordA called with the wrong provider or reserved values");
  FUZZ_CHECK(passwordChange.owner == expected.target, "password owner %s, expected %s",
             SimHex(passwordChange.owner).c_str(), SimHex(expected.target).c_str());
}

void CheckRefused(const Observed &seen) {
  FUZZ_CHECK(seen.exitCode == ExitMinusOne, "a command line that names no mode ended with %u", seen.exitCode);
  FUZZ_CHECK(seen.created.empty(), "a refused command line created a window");
  FUZZ_CHECK(seen.dialogs.empty(), "a refused command line showed a dialog");
  FUZZ_CHECK(seen.libraryLoads == 0 && passwordChange.calls == 0, "a refused command line loaded a library");
}

void CheckOutcome(const Expected &expected, const Observed &seen) {
  switch (expected.mode) {
    case Mode::Config:
      CheckConfig(expected, seen);
      break;
    case Mode::Save:
    case Mode::Preview:
      CheckWindowMode(expected, seen);
      break;
    case Mode::ChangePassword:
      CheckChangePassword(expected, seen);
      break;
    case Mode::Refused:
      CheckRefused(seen);
      break;
  }
  const std::string leaks = SimLeakReport();
  FUZZ_CHECK(leaks.empty(), "leaks at the end of the process:\n%s", leaks.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  InputBytes input{data, size};
  RunInput([&] {
    FreshProcess();
    const uint8_t scenario = input.Byte();
    const uint8_t windows = input.Byte();
    ScriptDesktop(scenario, windows);
    std::string commandLine(reinterpret_cast<const char *>(data + input.at), size - input.at);
    commandLine.resize(std::strlen(commandLine.c_str()));  // the process sees it up to its NUL
    SimSetCommandLine(commandLine);
    const Expected expected = Decode(commandLine.c_str());
    const UINT exitCode = static_cast<UINT>(SimRunProcess([] { SaverStartup(); }));
    CheckOutcome(expected, Observe(exitCode));
  });
  return 0;
}
