#include "host/host.h"
#include "resources/resource_ids.h"
#include "saver/saver_api.h"

#include <cstdint>

HostState hostState;

namespace {

bool IsBlankOrControl(char byte) { return static_cast<unsigned char>(byte) <= ' '; }

bool IsDigit(char byte) { return byte >= '0' && byte <= '9'; }

const char *SkipBlanks(const char *text) {
  while (*text == ' ') ++text;
  return text;
}

HWND ExistingWindowOrForeground(HWND window) {
  if (window == nullptr || !IsWindow(window)) window = GetForegroundWindow();
  return window;
}

// "/c:<hwnd>" names the owner; "/c", "/c 123" and "/c:" fall back to the
// foreground window.
HWND ConfigOwner(const char *afterLetter) {
  HWND owner = nullptr;
  if (*afterLetter == ':') owner = ParseWindowHandle(afterLetter + 1);
  return ExistingWindowOrForeground(owner);
}

int RunMode(const char *tail) {
  for (const char *p = tail;; ++p) {
    switch (*p) {
      case '\0':
        return ShowConfigDialog(nullptr);
      case ' ':
      case '-':
      case '/':
        continue;
      case 'S':
      case 's':
        return RunSaverWindow(nullptr);
      case 'C':
      case 'c':
        return ShowConfigDialog(ConfigOwner(p + 1));
      case 'P':
      case 'p':
      case 'L':
      case 'l':
        return StartPreview(SkipBlanks(p + 1));
      case 'A':
      case 'a':
        if (!hostState.onWin9x) return ExitCannotStart;
        return StartPasswordChange(SkipBlanks(p + 1));
      default:
        return ExitCannotStart;
    }
  }
}

// The exception guard. The system's own last-chance filter decides; ours is
// taken out of the way first so that filter does not call straight back here.
// When the system says to run the handler, the saver-running state is switched
// off before the process ends, so a crashed saver never leaves it set.
LONG WINAPI SaverExceptionFilter(EXCEPTION_POINTERS *exception) {
  SetUnhandledExceptionFilter(nullptr);
  const LONG verdict = UnhandledExceptionFilter(exception);
  if (verdict == EXCEPTION_EXECUTE_HANDLER) {
    SetSaverRunning(FALSE);
    ExitProcess(static_cast<UINT>(ExitAfterException));
  }
  SetUnhandledExceptionFilter(SaverExceptionFilter);
  return verdict;
}

bool ReportsWin9x() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { SaverStartup(); }

// The program's own start-up, in place of the C run-time's: nothing here needs
// the run-time initialised (no constructors, no stdio, no heap), and the run-time's
// exit processing is never run anyway, since the saver ends with ExitProcess.
extern "C" void QuorvaneStartup() { WinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_SHOWDEFAULT); }

void SaverStartup() {
  const char *tail = CommandTail(GetCommandLineA());
  ExitProcess(static_cast<UINT>(SaverMain(GetModuleHandleA(nullptr), tail)));
}

// Steps over the program name, quoted or not, and the blanks and control bytes
// after it. A quoted name ends at its closing quote even when a switch follows
// directly; an unquoted one runs to the first blank.
const char *CommandTail(const char *p) {
  if (*p == '"') {
    do {
      p = CharNextA(p);
    } while (*p != '\0' && *p != '"');
    if (*p == '"') ++p;
  } else if (!IsBlankOrControl(*p)) {
    while (!IsBlankOrControl(*p)) p = CharNextA(p);
  }
  while (*p != '\0' && IsBlankOrControl(*p)) p = CharNextA(p);
  return p;
}

int SaverMain(HINSTANCE instance, const char *tail) {
  hostState.instanceHandle = instance;
  hostState.onWin9x = ReportsWin9x() ? 1 : 0;

  const LPTOP_LEVEL_EXCEPTION_FILTER outerFilter = SetUnhandledExceptionFilter(SaverExceptionFilter);
  const int result = RunMode(tail);
  SetUnhandledExceptionFilter(outerFilter);
  return result;
}

HWND ParseWindowHandle(const char *text) {
  uint32_t value = 0;
  for (; IsDigit(*text); ++text) value = value * 10u + static_cast<uint32_t>(*text - '0');
  return reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
}

int StartPreview(const char *text) {
  const HWND parent = ParseWindowHandle(text);
  if (parent == nullptr || !IsWindow(parent)) return ExitCannotStart;
  return RunSaverWindow(parent);
}

int ShowConfigDialog(HWND owner) {
  if (!PrepareConfigDialog(hostState.instanceHandle)) return 0;
  return static_cast<int>(
      DialogBoxParamA(hostState.instanceHandle, MAKEINTRESOURCEA(IDD_CONFIG), owner, ConfigDialogProc, 0));
}

int StartPasswordChange(const char *text) {
  ChangePassword(ExistingWindowOrForeground(ParseWindowHandle(text)));
  return 0;
}
