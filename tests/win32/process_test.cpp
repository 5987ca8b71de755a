// The real quorvane.scr as the system starts it: command lines, windows, real input, exit
// codes. Run from the build folder, where the saver and the password doubles are.
#include "resources/resource_ids.h"
#include "tests/win32/harness.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char SaverClass[] = "WindowsScreenSaverClass";

std::string Decimal(HWND window) { return std::to_string(reinterpret_cast<UINT_PTR>(window)); }

std::string ReadFileText(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

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

Process StartSaver(const std::string &arguments, const char *program = "quorvane.scr") {
  return Process("\"" + std::string(program) + "\" " + arguments);
}

// Read by a fresh process: Wine caches the flag per process.
DWORD SaverRunningFlag() { return StartSaver("--saver-running", "process_tests.exe").Exit(); }

HWND ForegroundSaver() {
  HWND window = nullptr;
  EXPECT_TRUE(PollUntil([&] {
    window = FindWindowA(SaverClass, "Screen Saver");
    return IsWindowVisible(window) && GetForegroundWindow() == window;
  }));
  return window;
}

void PressKey() {
  keybd_event(VK_SPACE, 0, 0, 0);
  keybd_event(VK_SPACE, 0, KEYEVENTF_KEYUP, 0);
}

// A frameless window of this process, as a settings window would hold one.
HWND TestWindow(DWORD visible) {
  return CreateWindowA("STATIC", "", WS_POPUP | visible, 50, 50, 320, 240, nullptr, nullptr, nullptr, nullptr);
}

std::string Text(RECT r) {
  char text[64];
  wsprintfA(text, "%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
  return text;
}

template <typename Get>
std::string Area(Get get, HWND window) {
  RECT area = {};
  get(window, &area);
  return Text(area);
}

BOOL CALLBACK NoteMonitor(HMONITOR, HDC, RECT *area, LPARAM monitors) {
  reinterpret_cast<std::vector<RECT> *>(monitors)->push_back(*area);
  return TRUE;
}

// What the screen shows inside `area`, row by row, as 0xRRGGBB.
std::vector<uint32_t> ScreenPixels(RECT area) {
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
  return pixels;
}

// Pixels in colours of the saver's wheel: full-strength colours dimmed to 5/6, so one
// component is 0 and one 212.
int WheelPixels(RECT area) {
  int count = 0;
  for (const uint32_t pixel : ScreenPixels(area)) {
    const uint32_t components[] = {pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF};
    const auto [low, high] = std::minmax_element(std::begin(components), std::end(components));
    if (*low == 0 && *high == 212) ++count;
  }
  return count;
}

RECT VirtualScreen() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

// Where the profile functions put the saver's bare file name: Wine's Windows folder.
const char SettingsPath[] = "C:\\windows\\googoo.goo";

// tests/win32/two_monitors.sh runs this case again with QV_MONITORS=2.
TEST(FullScreen, CoversAndDrawsOnEveryMonitorRunsOnceAndEndsOnAMoveOrItsCloseCommand) {
  char expected[4] = "1";
  GetEnvironmentVariableA("QV_MONITORS", expected, sizeof expected);
  std::vector<RECT> monitors;
  EnumDisplayMonitors(nullptr, nullptr, NoteMonitor, reinterpret_cast<LPARAM>(&monitors));
  ASSERT_EQ(monitors.size(), std::stoul(expected));

  // At the fastest speed the figure reaches every monitor within a few seconds.
  std::ofstream(SettingsPath) << "[Quorvane]\nRedraw Speed=1\n";
  SetCursorPos(100, 100);  // the saver measures moves from where the cursor is at its start
  Process saver = StartSaver("/s");
  EXPECT_EQ(Area(GetWindowRect, ForegroundSaver()), Text(VirtualScreen()));
  for (const RECT &monitor : monitors) EXPECT_TRUE(PollUntil([&] { return WheelPixels(monitor) > 0; }));
  EXPECT_EQ(StartSaver("/s").Exit(), 0u);  // a second start only raises the first
  const RECT &last = monitors.back();
  SetCursorPos((last.left + last.right) / 2, (last.top + last.bottom) / 2);
  EXPECT_EQ(saver.Exit(), 0u);

  // Only the window-switching commands are held back; the window menu's Close goes on.
  Process closed = StartSaver("/s");
  PostMessageA(ForegroundSaver(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(closed.Exit(), 0u);
  DeleteFileA(SettingsPath);
}

LONG ChangeDisplay(SIZE size) {
  DEVMODEA mode = {.dmSize = sizeof mode, .dmFields = DM_PELSWIDTH | DM_PELSHEIGHT};
  mode.dmPelsWidth = size.cx;
  mode.dmPelsHeight = size.cy;
  return ChangeDisplaySettingsA(&mode, 0);
}

bool NewPixelLit(const std::vector<uint32_t> &before) {
  const std::vector<uint32_t> now = ScreenPixels(VirtualScreen());
  for (size_t i = 0; i < now.size() && i < before.size(); ++i) {
    if (now[i] != 0 && before[i] == 0) return true;
  }
  return false;
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
      EXPECT_TRUE(PollUntil([&] { return Area(GetWindowRect, window) == Text({0, 0, size.cx, size.cy}); }));
      EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
      const std::vector<uint32_t> covered = ScreenPixels(VirtualScreen());
      EXPECT_TRUE(PollUntil([&] { return NewPixelLit(covered); }));
    }
    EXPECT_TRUE(saver.Running());
    SetCursorPos(100, 110);
    EXPECT_EQ(saver.Exit(), 0u);
  }).join();
}

// What the file's properties show: the project's version and the saver's name.
TEST(VersionResource, CarriesTheProjectVersionAndTheSaversName) {
  std::vector<char> block(GetFileVersionInfoSizeA("quorvane.scr", nullptr));
  ASSERT_TRUE(GetFileVersionInfoA("quorvane.scr", 0, block.size(), block.data()));
  VS_FIXEDFILEINFO *fixed = nullptr;
  char *description = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(QV_VERSION_MINOR, QV_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, QV_VERSION_PATCH));
  // US English in Unicode: the block that the translation table lists.
  const char DescriptionPath[] = "\\StringFileInfo\\040904B0\\FileDescription";
  ASSERT_TRUE(VerQueryValueA(block.data(), DescriptionPath, reinterpret_cast<void **>(&description), &length));
  EXPECT_EQ(std::string(description), "Quorvane screen saver");
}

TEST(Preview, FillsItsParentsClientAreaAndEndsWithTheParent) {
  const HWND parent = TestWindow(WS_VISIBLE);
  // As the system may start it: the program's name unquoted.
  Process saver("quorvane.scr /p " + Decimal(parent));
  HWND preview = nullptr;
  EXPECT_TRUE(PollUntil([&] {
    preview = FindWindowExA(parent, nullptr, SaverClass, "Preview");
    return IsWindowVisible(preview);
  }));
  EXPECT_EQ(Area(GetWindowRect, preview), Area(GetWindowRect, parent));  // a frameless parent: its client area
  DestroyWindow(parent);
  EXPECT_EQ(saver.Exit(), 0u);
}

// The speed read from the file sets the pace: at 10 the first tick comes 1.6 s after the
// window is made, so no line may show within 1.5 s of the start, however slow the machine,
// and then one must. (At speed 1 the full-screen case above draws at once.) A preview of
// the desktop is a window of its own, whose drawing Wine shows.
TEST(SavedSpeed, TenHoldsBackTheFirstLineInBothModes) {
  constexpr DWORD QuietMs = 1500;
  std::ofstream(SettingsPath) << "[Quorvane]\nRedraw Speed=10";
  for (const std::string &arguments : {std::string("/s"), "/p " + Decimal(GetDesktopWindow())}) {
    EXPECT_TRUE(PollUntil([] { return WheelPixels(VirtualScreen()) == 0; }));  // the last saver's window gone
    const DWORD start = GetTickCount();
    Process saver = StartSaver(arguments);
    EXPECT_TRUE(PollUntil([&] { return WheelPixels(VirtualScreen()) > 0; })) << arguments;
    EXPECT_GE(GetTickCount() - start, QuietMs) << arguments;  // read after the look that found the line
  }
  DeleteFileA(SettingsPath);
}

TEST(Config, OkSavesTheEditedSpeedReportsAFailedSaveAndEndsWithOne) {
  RemoveDirectoryA(SettingsPath);  // left by a run that failed halfway
  std::ofstream(SettingsPath) << "[Quorvane]\nRedraw Speed=3\n";
  const HWND owner = TestWindow(0);  // hidden, so it is not the foreground window the saver would fall back to
  Process saver = StartSaver("/c:" + Decimal(owner));
  HWND dialog = nullptr;
  ASSERT_TRUE(PollUntil([&] {
    dialog = FindWindowA("#32770", "Quorvane");
    return IsWindowVisible(dialog);
  }));
  EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
  GUITHREADINFO input = {.cbSize = sizeof input};
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &input);
  EXPECT_EQ(input.hwndFocus, GetDlgItem(dialog, IDC_CONFIG_OK));  // the first tab stop: the keyboard works at once
  const HWND scrollBar = GetDlgItem(dialog, IDC_SPEED_SCROLL);
  SendMessageA(dialog, WM_HSCROLL, SB_LINERIGHT, reinterpret_cast<LPARAM>(scrollBar));
  // Escape arrives as the platform's cancel id, which the dialog leaves alone.
  SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(IsWindowVisible(dialog));

  // A directory where the file belongs makes the save fail.
  DeleteFileA(SettingsPath);
  CreateDirectoryA(SettingsPath, nullptr);
  PostMessageA(dialog, WM_COMMAND, IDC_CONFIG_OK, 0);
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

  PostMessageA(dialog, WM_COMMAND, IDC_CONFIG_OK, 0);
  EXPECT_EQ(saver.Exit(), 1u);
  EXPECT_EQ(ReadFileText(SettingsPath), "[Quorvane]\r\nRedraw Speed=4\r\n");
  DeleteFileA(SettingsPath);
  DestroyWindow(owner);
}

// A copy of the saver that Wine runs as on Windows 9x, beside the password doubles.
struct Win9x : testing::Test {
  static constexpr char AppKey[] = "Software\\Wine\\AppDefaults\\qv98.scr";
  static constexpr char DesktopKey[] = "Control Panel\\Desktop";
  static constexpr char UsePassword[] = "ScreenSaveUsePassword";
  static constexpr char Log[] = "doubles.log";

  static void SetUpTestSuite() {
    CopyFileA("quorvane.scr", "qv98.scr", FALSE);
    RegSetKeyValueA(HKEY_CURRENT_USER, AppKey, "Version", REG_SZ, "win98", 6);
    // Wine loads its own MPR.DLL unless told to load the one beside the program.
    RegSetKeyValueA(HKEY_CURRENT_USER, (std::string(AppKey) + "\\DllOverrides").c_str(), "mpr", REG_SZ, "native", 7);
  }
  static void TearDownTestSuite() {
    RegDeleteTreeA(HKEY_CURRENT_USER, AppKey);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, DesktopKey, UsePassword);
    DeleteFileA("qv98.scr");
    DeleteFileA(Log);
  }
};

TEST_F(Win9x, KeysEndTheLockedSaverOnlyOnceTheVerifierAccepts) {
  const struct Row {
    DWORD usePassword;
    const char *answers;  // one per question, as password.cpl's double reads them
    DWORD exitCode;
    int questions;
  } rows[] = {
      {.usePassword = 1, .answers = "01", .exitCode = 0, .questions = 2},
      // A verifier that faults ends the saver through its exception guard.
      {.usePassword = 1, .answers = "f", .exitCode = 0xFFFFFFFF, .questions = 1},
      {.usePassword = 0, .answers = "1", .exitCode = 0, .questions = 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.answers);
    RegSetKeyValueA(HKEY_CURRENT_USER, DesktopKey, UsePassword, REG_DWORD, &row.usePassword, sizeof row.usePassword);
    SetEnvironmentVariableA("QV_VERIFIER", row.answers);
    DeleteFileA(Log);
    Process saver = StartSaver("/s", "qv98.scr");
    const HWND window = ForegroundSaver();
    EXPECT_EQ(SaverRunningFlag(), row.usePassword);
    EXPECT_TRUE(PollUntil([&] {
      PressKey();
      return !saver.Running();
    }));
    EXPECT_EQ(saver.Exit(), row.exitCode);
    std::string questions;
    for (int i = 0; i < row.questions; ++i) questions += "verify " + Decimal(window) + "\r\n";
    EXPECT_EQ(ReadFileText(Log), questions);
    EXPECT_EQ(SaverRunningFlag(), 0u);
  }
}

TEST_F(Win9x, PasswordChangeGoesToTheNamedOwner) {
  const HWND owner = TestWindow(0);
  DeleteFileA(Log);
  EXPECT_EQ(StartSaver("/a " + Decimal(owner), "qv98.scr").Exit(), 0u);
  EXPECT_EQ(ReadFileText(Log), "change SCRSAVE " + Decimal(owner) + " 0 0\r\n");
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
    DWORD code = 0;
    GetExitCodeProcess(program.info.hProcess, &code);
    std::printf("%lu\n", code);
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "--saver-running") == 0) {
    BOOL running = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
    return running;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
