// The real quorvane.scr as the system starts it: command lines, windows, real input, exit codes.
#include "tests/win32/harness.h"

#include <algorithm>
#include <cstdint>

// A file beside this program (the build puts the saver and the doubles there), or it.
std::string Beside(const char *name) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return name ? strcpy(strrchr(path, '\\') + 1, name), path : path;
}

std::string Quoted(const std::string &path) { return "\"" + path + "\""; }
std::string Decimal(HWND window) { return std::to_string(reinterpret_cast<UINT_PTR>(window)); }

BOOL CALLBACK NoteVisible(HWND window, LPARAM seen) {
  return *reinterpret_cast<bool *>(seen) |= IsWindowVisible(window), TRUE;
}

// A started program; one still running when the test ends is ended here.
struct Process {
  PROCESS_INFORMATION info = {};
  explicit Process(std::string commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    EXPECT_TRUE(
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        << commandLine;
  }
  ~Process() {
    if (info.hProcess != nullptr && Running()) TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess), CloseHandle(info.hThread);
  }
  bool Running() const { return WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT; }
  // The exit code (STILL_ACTIVE if it does not end in time); `seen` notes any window shown.
  DWORD Exit(bool *seen = nullptr) {
    PollUntil([&] {
      if (seen) EnumThreadWindows(info.dwThreadId, NoteVisible, reinterpret_cast<LPARAM>(seen));
      return !Running();
    });
    DWORD code = STILL_ACTIVE;
    return GetExitCodeProcess(info.hProcess, &code), code;
  }
};

Process StartSaver(const std::string &arguments, const std::string &program = Beside("quorvane.scr")) {
  return Process(Quoted(program) + " " + arguments);
}

// The saver has drawn: something is lit, all of it in colours of its wheel. Each is
// a full-strength colour dimmed to 5/6: one component 0, one 212, the third between.
bool ScreenShowsWheelLines() {
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
  uint32_t *bits = nullptr;
  const HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
  const HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, reinterpret_cast<void **>(&bits), nullptr, 0);
  SelectObject(memory, dib), BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY), GdiFlush();
  bool lit = false, wheel = true;
  for (int i = 0; i < width * height; ++i) {
    const int r = bits[i] >> 16 & 0xFF, g = bits[i] >> 8 & 0xFF, b = bits[i] & 0xFF;
    wheel = wheel && ((r | g | b) == 0 || (std::max({r, g, b}) == 212 && std::min({r, g, b}) == 0));
    lit = lit || (r | g | b) != 0;
  }
  DeleteDC(memory), DeleteObject(dib), ReleaseDC(nullptr, screen);
  return lit && wheel;
}

void CursorToCentre(int dy = 0) {
  SetCursorPos(GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2 + dy);
}
void PressKey() { keybd_event(VK_SPACE, 0, 0, 0), keybd_event(VK_SPACE, 0, KEYEVENTF_KEYUP, 0); }

HWND ForegroundSaver() {
  const HWND window = WaitForWindow("WindowsScreenSaverClass", "Screen Saver");
  EXPECT_TRUE(PollUntil([&] { return window != nullptr && GetForegroundWindow() == window; }));
  return window;
}

// A window of this process, as a settings window would be: 320x240, frameless.
HWND TestWindow(DWORD visible) {
  const WNDCLASSA windowClass = {0,       DefWindowProcA, 0,       0,       GetModuleHandleA(nullptr),
                                 nullptr, nullptr,        nullptr, nullptr, "QvProcessTest"};
  RegisterClassA(&windowClass);  // fails harmlessly once registered
  return CreateWindowA("QvProcessTest", "Test", WS_POPUP | visible, 50, 50, 320, 240, nullptr, nullptr,
                       GetModuleHandleA(nullptr), nullptr);
}

// Read by a fresh process: Wine caches the flag per process.
DWORD SaverRunningFlag() { return Process(Quoted(Beside(nullptr)) + " --saver-running").Exit(); }

TEST(Process, FullScreenDrawsWheelColoursRunsOnceAndEndsOnRealInput) {
  CursorToCentre();  // the saver measures moves from where the cursor is when it starts
  Process saver = StartSaver("/s");
  ForegroundSaver();
  EXPECT_TRUE(PollUntil(ScreenShowsWheelLines));

  Process second = StartSaver("/s");
  bool seen = false;
  EXPECT_EQ(second.Exit(&seen), 0u);
  EXPECT_FALSE(seen);

  CursorToCentre(10);
  EXPECT_EQ(saver.Exit(), 0u);

  Process keyed = StartSaver("/s");
  ForegroundSaver();
  PressKey();
  EXPECT_EQ(keyed.Exit(), 0u);
}

TEST(Process, PreviewEndsWithItsParent) {
  const HWND parent = TestWindow(WS_VISIBLE);
  Process saver = StartSaver("/p " + Decimal(parent));
  HWND preview = nullptr;
  EXPECT_TRUE(PollUntil(
      [&] { return IsWindowVisible(preview = FindWindowExA(parent, nullptr, "WindowsScreenSaverClass", "Preview")); }));
  DestroyWindow(parent);
  EXPECT_EQ(saver.Exit(), 0u);
}

TEST(Process, ConfigurationOkSavesAndExitsWithOne) {
  DeleteFileA(SettingsPath().c_str());
  // Hidden, so it is not the foreground window the saver would fall back to.
  const HWND owner = TestWindow(0);
  Process saver = StartSaver("/c:" + Decimal(owner));
  const HWND dialog = WaitForWindow("#32770", "Quorvane");
  ASSERT_NE(dialog, nullptr);
  SendMessageA(dialog, WM_HSCROLL, SB_RIGHT, reinterpret_cast<LPARAM>(GetDlgItem(dialog, 3)));
  PostMessageA(dialog, WM_COMMAND, 4, 0);
  EXPECT_EQ(saver.Exit(), 1u);
  EXPECT_EQ(ReadFileText(SettingsPath()), "[Quorvane]\r\nRedraw Speed=10\r\n");
  DeleteFileA(SettingsPath().c_str());
  DestroyWindow(owner);
}

// A copy of the saver that Wine runs as on Windows 9x, with the password doubles beside it.
struct Win9x : testing::Test {
  static inline std::string dir, log;
  static constexpr char AppKey[] = "Software\\Wine\\AppDefaults\\qv98.scr";
  static constexpr char Desktop[] = "Control Panel\\Desktop", UseValue[] = "ScreenSaveUsePassword";
  static constexpr const char *Files[] = {"qv98.scr", "password.cpl", "mpr.dll", "doubles.log"};

  static void SetUpTestSuite() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir = std::string(temp) + "qv-process-9x\\";
    log = dir + Files[3];
    CreateDirectoryA(dir.c_str(), nullptr);
    for (int i = 0; i < 3; ++i)
      CopyFileA(Beside(i ? Files[i] : "quorvane.scr").c_str(), (dir + Files[i]).c_str(), FALSE);
    RegSetKeyValueA(HKEY_CURRENT_USER, AppKey, "Version", REG_SZ, "win98", 6);
    RegSetKeyValueA(HKEY_CURRENT_USER, (std::string(AppKey) + "\\DllOverrides").c_str(), "mpr", REG_SZ, "native", 7);
    SetEnvironmentVariableA("QV_DOUBLE_LOG", log.c_str());
  }
  static void TearDownTestSuite() {
    RegDeleteTreeA(HKEY_CURRENT_USER, AppKey);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, Desktop, UseValue);  // a test prefix has none of its own
    for (const char *file : Files) DeleteFileA((dir + file).c_str());
    RemoveDirectoryA(dir.c_str());
  }
  static Process StartLocked(DWORD usePassword, const char *answers) {
    RegSetKeyValueA(HKEY_CURRENT_USER, Desktop, UseValue, REG_DWORD, &usePassword, sizeof usePassword);
    SetEnvironmentVariableA("QV_VERIFIER", answers);
    DeleteFileA(log.c_str());
    CursorToCentre();
    return StartSaver("/s", dir + Files[0]);
  }
};

// Keys are pressed until the saver ends: a refusal keeps it, a faulting verifier ends
// it through its exception guard, which clears the flag.
TEST_F(Win9x, KeysEndTheLockedSaverOnceTheVerifierAccepts) {
  const struct {
    DWORD usePassword;
    const char *answers;
    DWORD exitCode;
    int questions;
  } rows[] = {{1, "01", 0, 2}, {1, "f", 0xFFFFFFFFu, 1}, {0, "1", 0, 0}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.answers);
    Process saver = StartLocked(row.usePassword, row.answers);
    const HWND window = ForegroundSaver();
    EXPECT_EQ(SaverRunningFlag(), row.usePassword) << "flag while running";
    EXPECT_TRUE(PollUntil([&] { return !saver.Running() || (PressKey(), false); }));
    EXPECT_EQ(saver.Exit(), row.exitCode);
    std::string questions;
    for (int i = 0; i < row.questions; ++i) questions += "verify " + Decimal(window) + "\r\n";
    EXPECT_EQ(ReadFileText(log), questions);
    EXPECT_EQ(SaverRunningFlag(), 0u);
  }
}

TEST_F(Win9x, PasswordChangeGoesToTheNamedOwnerOrTheForegroundWindow) {
  const HWND named = TestWindow(0), front = TestWindow(WS_VISIBLE);
  ASSERT_TRUE(PollUntil([&] { return SetForegroundWindow(front), GetForegroundWindow() == front; }));
  const std::pair<std::string, HWND> rows[] = {{"/a " + Decimal(named), named}, {"/a", front}};
  for (const auto &[arguments, owner] : rows) {
    SCOPED_TRACE(arguments);
    DeleteFileA(log.c_str());
    Process saver = StartSaver(arguments, dir + Files[0]);
    EXPECT_EQ(saver.Exit(), 0u);
    EXPECT_EQ(ReadFileText(log), "change SCRSAVE " + Decimal(owner) + " 0 0\r\n");
  }
  DestroyWindow(named), DestroyWindow(front);
}

int main(int argc, char **argv) {
  BOOL running = FALSE;
  if (argc > 1 && strcmp(argv[1], "--saver-running") == 0)
    return SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0) && running;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
