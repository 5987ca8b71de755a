// What the host provides to the saver: the shared process record, the private
// verify message and the default message handling at the end of every chain.
#pragma once

#include <windows.h>

// Asks the saver window to run the password check (answered by DefaultSaverProc).
constexpr UINT SCRM_VERIFYPW = WM_APP;

// "VerifyScreenSavePwd" of the system's password library: nonzero accepts.
typedef BOOL(WINAPI *VerifyScreenSavePwdProc)(HWND window);

constexpr DWORD NoPasswordCheckYet = 0xFFFFFFFFu;

struct HostState {
  HINSTANCE instanceHandle = nullptr;
  int onWin9x = 0;
  int previewMode = 0;
  UINT autoPlayMessage = 0;
  POINT lastCursorPos = {0, 0};
  int mouseMoveThreshold = 4;
  LRESULT closing = 0;  // only ever tested for zero or nonzero
  int checkingPassword = 0;
  DWORD lastPasswordCheckTick = NoPasswordCheckYet;
  HMODULE verifierModule = nullptr;
  VerifyScreenSavePwdProc verifyProc = nullptr;
};

extern HostState hostState;

LRESULT WINAPI DefaultSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
