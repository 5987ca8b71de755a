// The full-screen saver in a desktop whose display changes while it runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char DesktopName[] = "qvdisplay";

template <typename Condition>
bool PollUntil(Condition condition) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > 10000) return false;
    Sleep(10);
  }
  return true;
}

// Wine shows a desktop named in its Desktops key as a virtual desktop of that size, whose
// display settings can change at run time.
void EnterVirtualDesktop() {
  RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", DesktopName, REG_SZ, "800x600", 8);
  const HDESK desktop = CreateDesktopA(DesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  ASSERT_TRUE(SetThreadDesktop(desktop));
}

std::string SaverPath() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  return text.substr(0, text.rfind('\\') + 1) + "quorvane.scr";
}

RECT VirtualScreen() {
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return {x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN), y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

LONG ChangeDisplay(DWORD width, DWORD height) {
  DEVMODEA mode = {};
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = width;
  mode.dmPelsHeight = height;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  return ChangeDisplaySettingsA(&mode, 0);
}

// Whether each pixel of the screen is lit, copied in one blit.
std::vector<bool> LitPixels() {
  const RECT screen = VirtualScreen();
  const int width = screen.right - screen.left;
  const int height = screen.bottom - screen.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void *bits = nullptr;
  const HDC screenDC = GetDC(nullptr);
  const HDC memoryDC = CreateCompatibleDC(screenDC);
  const HBITMAP bitmap = CreateDIBSection(screenDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  SelectObject(memoryDC, bitmap);
  BitBlt(memoryDC, 0, 0, width, height, screenDC, screen.left, screen.top, SRCCOPY);
  GdiFlush();
  const DWORD *pixels = static_cast<const DWORD *>(bits);
  const std::vector<bool> lit(pixels, pixels + width * height);
  DeleteDC(memoryDC);
  DeleteObject(bitmap);
  ReleaseDC(nullptr, screenDC);
  return lit;
}

bool NewLineDrawn(const std::vector<bool> &before) {
  const std::vector<bool> now = LitPixels();
  for (size_t i = 0; i < now.size() && i < before.size(); ++i) {
    if (now[i] && !before[i]) return true;
  }
  return false;
}

bool Covers(HWND window, const RECT &screen) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return EqualRect(&rect, &screen) != FALSE;
}

TEST(DisplayChange, SaverCoversEachNewScreenKeepsDrawingAndStillEndsOnAMove) {
  EnterVirtualDesktop();
  SetCursorPos(100, 100);  // inside every size below, so no change moves it
  std::string commandLine = "\"" + SaverPath() + "\" /s";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.lpDesktop = const_cast<char *>(DesktopName);
  PROCESS_INFORMATION saver = {};
  ASSERT_TRUE(
      CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &saver));
  HWND window = nullptr;
  ASSERT_TRUE(PollUntil([&] { return IsWindowVisible(window = FindWindowA("WindowsScreenSaverClass", nullptr)); }));

  const SIZE sizes[] = {{640, 480}, {1024, 768}};
  for (const SIZE &size : sizes) {
    SCOPED_TRACE(size.cx);
    const std::vector<bool> before = LitPixels();
    ASSERT_EQ(ChangeDisplay(size.cx, size.cy), DISP_CHANGE_SUCCESSFUL);
    const RECT screen = VirtualScreen();
    EXPECT_EQ(screen.right, size.cx);
    EXPECT_TRUE(PollUntil([&] { return Covers(window, screen); }));
    EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
    EXPECT_TRUE(PollUntil([&] { return NewLineDrawn(before); }));
  }

  EXPECT_EQ(WaitForSingleObject(saver.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetCursorPos(100, 110);
  EXPECT_EQ(WaitForSingleObject(saver.hProcess, 10000), WAIT_OBJECT_0);
  DWORD exitCode = STILL_ACTIVE;
  GetExitCodeProcess(saver.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  TerminateProcess(saver.hProcess, 1);
  CloseHandle(saver.hProcess);
  CloseHandle(saver.hThread);
}

}  // namespace
