// The real quorvane.scr as the system starts it: command lines, windows, real input, exit
// codes. Run from the build folder, where the saver and the password doubles are. Most
// cases are rows of one scenario table; the dialog's conversation and the display change
// are cases of their own.
#include "resources/resource_ids.h"
#include "tests/win32/harness.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char SaverClass[] = "WindowsScreenSaverClass";
// Where the profile functions put the saver's bare file name: Wine's Windows folder.
const char SettingsPath[] = "C:\\windows\\googoo.goo";
const char Log[] = "doubles.log";
const char Win98Copy[] = "qv98.scr";
const char DesktopKey[] = "Control Panel\\Desktop";
const char UsePassword[] = "ScreenSaveUsePassword";

std::string Decimal(HWND window) { return std::to_string(reinterpret_cast<UINT_PTR>(window)); }

std::string ReadFileText(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

void WriteSpeed(int speed) { std::ofstream(SettingsPath) << "[Quorvane]\nRedraw Speed=" << speed << "\n"; }

// A started program; one still running when the test ends is ended here.
struct Process {
  PROCESS_INFORMATION info = {};
  explicit Process(std::string commandLine, const char *desktop = nullptr) {
    STARTUPINFOA startup = {.cb = sizeof startup, .lpDesktop = const_cast<char *>(desktop)};
    EXPECT_TRUE(
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        << commandLine;
  }
  ~Process() {
    TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  bool Running() const { return WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT; }
  // The exit code, or STILL_ACTIVE if the program does not end in time.
  DWORD Exit() {
    PollUntil([&] { return !Running(); });
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
};

// Read by a fresh process: Wine caches the flag per process.
DWORD SaverRunningFlag() { return Process("process_tests.exe --saver-running").Exit(); }

void PressSpace() {
  keybd_event(VK_SPACE, 0, 0, 0);
  keybd_event(VK_SPACE, 0, KEYEVENTF_KEYUP, 0);
}

// What the parent window of a preview was handed.
UINT parentReceived;

LRESULT CALLBACK RecordingParent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CONTEXTMENU) parentReceived = message;
  return DefWindowProcA(window, message, wParam, lParam);
}

// A frameless window of this process, as a settings window would hold one.
HWND TestWindow(DWORD visible) {
  const WNDCLASSA recording = {.lpfnWndProc = RecordingParent, .lpszClassName = "QvParent"};
  RegisterClassA(&recording);  // fails harmlessly once registered
  return CreateWindowA("QvParent", "", WS_POPUP | visible, 50, 50, 320, 240, nullptr, nullptr, nullptr, nullptr);
}

std::string Text(RECT r) {
  char text[64];
  wsprintfA(text, "%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
  return text;
}

std::string Area(HWND window) {
  RECT area = {};
  GetWindowRect(window, &area);
  return Text(area);
}

RECT VirtualScreen() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

BOOL CALLBACK NoteMonitor(HMONITOR, HDC, RECT *area, LPARAM monitors) {
  reinterpret_cast<std::vector<RECT> *>(monitors)->push_back(*area);
  return TRUE;
}

std::vector<RECT> Monitors() {
  std::vector<RECT> monitors;
  EnumDisplayMonitors(nullptr, nullptr, NoteMonitor, reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

// Pixels that `area` of the screen shows in colours of the saver's wheel: full-strength
// colours dimmed to 5/6, so one component is 0 and one 212.
int WheelPixels(RECT area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  DeleteDC(memory);
  BITMAPINFO info = {
      .bmiHeader = {
          .biSize = sizeof info.bmiHeader, .biWidth = width, .biHeight = -height, .biPlanes = 1, .biBitCount = 32}};
  std::vector<uint32_t> pixels(width * height);
  GetDIBits(screen, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
  int count = 0;
  for (const uint32_t pixel : pixels) {
    const uint32_t components[] = {pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF};
    const auto [low, high] = std::minmax_element(std::begin(components), std::end(components));
    count += *low == 0 && *high == 212;
  }
  return count;
}

// Set up: the window whose handle follows the command line.
enum Parent { NoParent, OwnWindow, HiddenWindow, Desktop };
// Happens, in order, once the saver's window shows. Drawn waits for lines in wheel colours
// on every monitor, and none may come sooner than `quietMs`.
enum Event { Drawn, MoveMouse, PressKey, KeysUntilItEnds, SecondStart, WindowMenuClose, ContextMenu, DestroyParent };

struct Scenario {
  const char *name;
  // Set up: the settings file; the program run as Windows 9x, and the password setting on
  // with the verifier's answers, one a question; the command line.
  int speed = 1;
  bool win98 = false;
  const char *answers = nullptr;
  const char *mode;
  Parent parent = NoParent;
  std::vector<Event> events;
  // Follows: the window by its title, which covers the virtual screen or its parent's
  // client area; the exit code (STILL_ACTIVE: still running); what the doubles wrote, "@",
  // "^" and "*" standing for the saver's window, the parent and the foreground window.
  const char *title = "Screen Saver";
  DWORD quietMs = 0;
  DWORD exitCode = 0;
  const char *log = "";
};

// At speed 10 the first tick comes 1.6 s after the window is made. Wine does not show what
// a child window of another process draws: a preview's drawing is seen on the desktop.
const Scenario Rows[] = {
    {.name = "FullScreenCoversEveryMonitorRunsOnceAndEndsOnAMove",
     .mode = "/s",
     .events = {Drawn, SecondStart, MoveMouse}},
    {.name = "SlowFullScreenWaitsAndEndsFromItsWindowMenu",
     .speed = 10,
     .mode = "/s",
     .events = {Drawn, WindowMenuClose},
     .quietMs = 1500},
    {.name = "PreviewFillsItsParentHandsItContextMenusAndEndsWithIt",
     .mode = "/p",
     .parent = OwnWindow,
     .events = {ContextMenu, DestroyParent},
     .title = "Preview"},
    {.name = "SlowPreviewIgnoresInputAndDrawsOn",
     .speed = 10,
     .mode = "/p",
     .parent = Desktop,
     .events = {MoveMouse, PressKey, Drawn},
     .title = "Preview",
     .quietMs = 1500,
     .exitCode = STILL_ACTIVE},
    {.name = "LockedSaverEndsOnceTheVerifierAccepts",
     .win98 = true,
     .answers = "01",
     .mode = "/s",
     .events = {KeysUntilItEnds},
     .log = "verify @\r\nverify @\r\n"},
    // A verifier that faults ends the saver through its exception guard.
    {.name = "FaultingVerifierEndsTheSaverWithMinusOne",
     .win98 = true,
     .answers = "f",
     .mode = "/s",
     .events = {KeysUntilItEnds},
     .exitCode = 0xFFFFFFFF,
     .log = "verify @\r\n"},
    {.name = "UnlockedSaverOn9xEndsOnAKey", .win98 = true, .mode = "/s", .events = {KeysUntilItEnds}},
    {.name = "PasswordChangeGoesToTheNamedOwner",
     .win98 = true,
     .mode = "/a",
     .parent = HiddenWindow,
     .title = nullptr,
     .log = "change SCRSAVE ^ 0 0\r\n"},
    // A handle that names no window falls back to the foreground window.
    {.name = "PasswordChangeWithoutAnOwnerGoesToTheForegroundWindow",
     .win98 = true,
     .mode = "/a 1",
     .title = nullptr,
     .log = "change SCRSAVE * 0 0\r\n"},
};

HWND MakeParent(Parent parent) {
  if (parent == OwnWindow) return TestWindow(WS_VISIBLE);
  if (parent == HiddenWindow) return TestWindow(0);  // not the foreground window the saver would fall back to
  return parent == Desktop ? GetDesktopWindow() : nullptr;
}

HWND ShownWindow(const Scenario &row, HWND parent) {
  HWND window = nullptr;
  EXPECT_TRUE(PollUntil([&] {
    window = FindWindowExA(parent, nullptr, SaverClass, row.title);
    return IsWindowVisible(window) && (parent || GetForegroundWindow() == window);
  }));
  return window;
}

void RunScenario(const Scenario &row) {
  WriteSpeed(row.speed);
  const DWORD usePassword = row.answers != nullptr;
  RegSetKeyValueA(HKEY_CURRENT_USER, DesktopKey, UsePassword, REG_DWORD, &usePassword, sizeof usePassword);
  SetEnvironmentVariableA("QV_VERIFIER", row.answers);
  DeleteFileA(Log);
  const HWND parent = MakeParent(row.parent);
  EXPECT_TRUE(PollUntil([] { return WheelPixels(VirtualScreen()) == 0; }));  // the last saver's window gone
  SetCursorPos(100, 100);  // the saver measures moves from where the cursor is at its start
  const DWORD start = GetTickCount();
  std::string line = std::string(row.win98 ? Win98Copy : "quorvane.scr") + " " + row.mode;
  if (parent != nullptr) line += " " + Decimal(parent);
  Process saver(line);
  const HWND window = row.title ? ShownWindow(row, parent) : nullptr;
  if (row.title) {
    EXPECT_EQ(Area(window), parent ? Area(parent) : Text(VirtualScreen()));  // a frameless parent: its client area
  }
  if (row.win98) {
    EXPECT_EQ(SaverRunningFlag(), usePassword);
  }
  const RECT last = Monitors().back();
  for (const Event event : row.events) {
    switch (event) {
      case Drawn: {
        char monitors[4] = "1";  // tests/win32/two_monitors.sh runs the first row again with 2
        GetEnvironmentVariableA("QV_MONITORS", monitors, sizeof monitors);
        EXPECT_EQ(Monitors().size(), std::stoul(monitors));
        for (const RECT &monitor : Monitors()) EXPECT_TRUE(PollUntil([&] { return WheelPixels(monitor) > 0; }));
        EXPECT_GE(GetTickCount() - start, row.quietMs);  // read after the look that found the line
        break;
      }
      case MoveMouse:
        SetCursorPos((last.left + last.right) / 2, (last.top + last.bottom) / 2);
        break;
      case PressKey:
        PressSpace();
        break;
      case KeysUntilItEnds:
        EXPECT_TRUE(PollUntil([&] {
          PressSpace();
          return !saver.Running();
        }));
        break;
      case SecondStart:  // it only raises the first
        EXPECT_EQ(Process(std::string("quorvane.scr ") + row.mode).Exit(), 0u);
        break;
      case WindowMenuClose:  // only the window-switching commands are held back
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
      case ContextMenu:  // it must reach the parent
        EXPECT_EQ(SendMessageA(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(60, 60)), 1);
        EXPECT_TRUE(PollUntil([] { return parentReceived == WM_CONTEXTMENU; }));
        break;
      case DestroyParent:
        DestroyWindow(parent);
        break;
    }
  }
  if (row.exitCode == STILL_ACTIVE) {
    EXPECT_TRUE(saver.Running());
  } else {
    EXPECT_EQ(saver.Exit(), row.exitCode);
  }
  std::string log;
  for (const char c : std::string(row.log))
    log += c == '@'   ? Decimal(window)
           : c == '^' ? Decimal(parent)
           : c == '*' ? Decimal(GetForegroundWindow())
                      : std::string(1, c);
  EXPECT_EQ(ReadFileText(Log), log);
  if (row.win98) {
    EXPECT_EQ(SaverRunningFlag(), 0u);
  }
  DestroyWindow(parent);
  DeleteFileA(SettingsPath);
}

// A failure names its row.
void PrintTo(const Scenario &row, std::ostream *out) { *out << row.name; }

struct Scenarios : testing::TestWithParam<Scenario> {};
TEST_P(Scenarios, Run) { RunScenario(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Saver, Scenarios, testing::ValuesIn(Rows),
                         [](const auto &info) { return std::string(info.param.name); });

LONG ChangeDisplay(SIZE size) {
  DEVMODEA mode = {.dmSize = sizeof mode, .dmFields = DM_PELSWIDTH | DM_PELSHEIGHT};
  mode.dmPelsWidth = size.cx;
  mode.dmPelsHeight = size.cy;
  return ChangeDisplaySettingsA(&mode, 0);
}

// Wine shows a desktop named in its Desktops key as a virtual desktop whose display
// settings can change while programs run in it. The test enters it on a thread of its
// own, since a thread that has made windows cannot change its desktop.
TEST(DisplayChange, SaverCoversEachNewScreenAndStillEndsOnAMove) {
  std::thread([] {
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", "qv", REG_SZ, "800x600", 8);
    ASSERT_TRUE(SetThreadDesktop(CreateDesktopA("qv", nullptr, nullptr, 0, GENERIC_ALL, nullptr)));
    SetCursorPos(100, 100);  // inside every size below, so no change moves the cursor
    Process saver("quorvane.scr /s", "qv");
    HWND window = nullptr;
    ASSERT_TRUE(PollUntil([&] { return IsWindowVisible(window = FindWindowA(SaverClass, nullptr)); }));
    for (const SIZE size : {SIZE{640, 480}, SIZE{1024, 768}}) {
      ASSERT_EQ(ChangeDisplay(size), DISP_CHANGE_SUCCESSFUL);
      EXPECT_TRUE(PollUntil([&] { return Area(window) == Text({0, 0, size.cx, size.cy}); }));
      EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
      const int lit = WheelPixels(VirtualScreen());
      EXPECT_TRUE(PollUntil([&] { return WheelPixels(VirtualScreen()) != lit; }));
    }
    EXPECT_TRUE(saver.Running());
    SetCursorPos(100, 110);
    EXPECT_EQ(saver.Exit(), 0u);
  }).join();
}

// The dialog of a configuration start, once it shows.
HWND ShownDialog() {
  HWND dialog = nullptr;
  EXPECT_TRUE(PollUntil([&] {
    dialog = FindWindowA("#32770", "Quorvane");
    return IsWindowVisible(dialog);
  }));
  return dialog;
}

void Press(HWND dialog, WORD id) { PostMessageA(dialog, WM_COMMAND, id, 0); }

void ScrollRight(HWND dialog) {
  const HWND scrollBar = GetDlgItem(dialog, IDC_SPEED_SCROLL);
  SendMessageA(dialog, WM_HSCROLL, SB_LINERIGHT, reinterpret_cast<LPARAM>(scrollBar));
}

TEST(Config, OkSavesTheEditedSpeedCancelLeavesTheFileAndAFailedSaveIsReported) {
  RemoveDirectoryA(SettingsPath);  // left by a run that failed halfway
  WriteSpeed(3);
  const std::string asWritten = ReadFileText(SettingsPath);
  const HWND owner = TestWindow(0);  // hidden, so it is not the foreground window the saver would fall back to
  Process cancelled("quorvane.scr /c:" + Decimal(owner));
  HWND dialog = ShownDialog();
  EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
  GUITHREADINFO input = {.cbSize = sizeof input};
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &input);
  EXPECT_EQ(input.hwndFocus, GetDlgItem(dialog, IDC_CONFIG_OK));  // the first tab stop: the keyboard works at once
  ScrollRight(dialog);
  // Escape arrives as the platform's cancel id, which the dialog leaves alone.
  SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(IsWindowVisible(dialog));

  // A directory where the file belongs makes the save fail; the dialog stays.
  DeleteFileA(SettingsPath);
  CreateDirectoryA(SettingsPath, nullptr);
  Press(dialog, IDC_CONFIG_OK);
  HWND box = nullptr;
  EXPECT_TRUE(PollUntil([&] {
    box = GetLastActivePopup(dialog);
    return box != dialog && IsWindowVisible(box);
  }));
  char reason[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED, 0, reason,
                 sizeof reason, nullptr);
  char text[512] = "";
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  EXPECT_EQ(std::string(text), std::string("The redraw speed could not be saved.\n\n") + reason);
  RemoveDirectoryA(SettingsPath);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(PollUntil([&] { return !IsWindow(box); }));

  // The saver's own Cancel ends it with 0 and writes nothing.
  WriteSpeed(3);
  Press(dialog, IDC_CONFIG_CANCEL);
  EXPECT_EQ(cancelled.Exit(), 0u);
  EXPECT_EQ(ReadFileText(SettingsPath), asWritten);

  Process saved("quorvane.scr /c:" + Decimal(owner));
  dialog = ShownDialog();
  ScrollRight(dialog);
  Press(dialog, IDC_CONFIG_OK);
  EXPECT_EQ(saved.Exit(), 1u);
  EXPECT_EQ(ReadFileText(SettingsPath), "[Quorvane]\r\nRedraw Speed=4\r\n");
  DeleteFileA(SettingsPath);
  DestroyWindow(owner);
}

}  // namespace

int main(int argc, char **argv) {
  // The package test's way to start an installer with an exact command line (an NSIS
  // uninstaller runs in place only with "_?=" unquoted at its end) and learn its whole
  // exit code, of which a shell sees only the low byte.
  if (argc > 2 && strcmp(argv[1], "--exit-code-of") == 0) {
    Process program(argv[2]);
    WaitForSingleObject(program.info.hProcess, INFINITE);
    std::printf("%lu\n", program.Exit());
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "--saver-running") == 0) {
    BOOL running = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
    return running;
  }
  // A copy of the saver that Wine runs as on Windows 9x, beside the password doubles.
  const char AppKey[] = "Software\\Wine\\AppDefaults\\qv98.scr";
  CopyFileA("quorvane.scr", Win98Copy, FALSE);
  RegSetKeyValueA(HKEY_CURRENT_USER, AppKey, "Version", REG_SZ, "win98", 6);
  // Wine loads its own MPR.DLL unless told to load the one beside the program.
  RegSetKeyValueA(HKEY_CURRENT_USER, (std::string(AppKey) + "\\DllOverrides").c_str(), "mpr", REG_SZ, "native", 7);
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  RegDeleteTreeA(HKEY_CURRENT_USER, AppKey);
  RegDeleteKeyValueA(HKEY_CURRENT_USER, DesktopKey, UsePassword);
  DeleteFileA(Win98Copy);
  DeleteFileA(Log);
  return result;
}
