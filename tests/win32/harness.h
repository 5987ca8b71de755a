// What the Win32 test programs share: polling, a script thread beside a modal loop,
// and the few facts about this process's windows and files that several tests read.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

// Calls `condition` until it holds or `ms` have passed, handling this thread's messages meanwhile.
template <typename Condition>
bool PollUntil(Condition condition, DWORD ms = 5000) {
  for (const DWORD start = GetTickCount(); !condition(); Sleep(5)) {
    if (GetTickCount() - start >= ms) return condition();
    for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&message);
  }
  return true;
}

// Runs `modal` on this thread (a dialog, a message loop) while `script` drives it from a
// second thread, which gets this thread's id; returns what `modal` returned.
template <typename Modal, typename Script>
auto WhileRunning(Modal modal, Script script) {
  const DWORD owner = GetCurrentThreadId();
  std::thread driver([&] { script(owner); });
  const auto result = modal();
  driver.join();
  return result;
}

// A visible top-level window with that class and title (the tests run one saver at a time).
inline HWND VisibleWindow(const char *className, const char *title) {
  const HWND window = FindWindowA(className, title);
  return IsWindowVisible(window) ? window : nullptr;
}

inline HWND WaitForWindow(const char *className, const char *title) {
  HWND window = nullptr;
  PollUntil([&] { return (window = VisibleWindow(className, title)) != nullptr; });
  return window;
}

// The settings file as the profile functions place a bare file name.
inline std::string SettingsPath() {
  char path[MAX_PATH];
  GetWindowsDirectoryA(path, MAX_PATH);
  return std::string(path) + "\\googoo.goo";
}

inline std::string ReadFileText(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

inline void WriteFileText(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}
