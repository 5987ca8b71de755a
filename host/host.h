// The host's own operations: start-up and modes, the saver window, the
// password lock. Only host/ and the tests include this.
#pragma once

#include "host/host_api.h"

#include <imm.h>  // HIMC only; the library itself is looked up at run time

// Start-up and command line.
[[noreturn]] void SaverStartup();
const char *CommandTail(const char *commandLine);
int SaverMain(HINSTANCE instance, const char *tail);
HWND ParseWindowHandle(const char *text);
int StartPreview(const char *text);
int ShowConfigDialog(HWND owner);
int StartPasswordChange(const char *text);

// The exit code of a mode that cannot start, and of a run that the exception
// guard ended.
constexpr int ExitCannotStart = -1;
constexpr int ExitAfterException = -1;

// Saver window and message loop.
typedef HIMC(WINAPI *ImmAssociateContextProc)(HWND window, HIMC context);

struct InputMethodState {
  HMODULE immModule = nullptr;
  ImmAssociateContextProc immAssociateProc = nullptr;
  HIMC savedInputContext = nullptr;
};
extern InputMethodState inputMethodState;

extern const char SaverClassName[];
extern const char SaverWindowTitle[];
extern const char PreviewWindowTitle[];

// What a full-screen saver covers after a display change.
struct ScreenArea {
  int x, y, width, height;
};
ScreenArea AreaAfterDisplayChange(ScreenArea virtualScreen, LPARAM lParam);

int RunSaverWindow(HWND parent);
LRESULT WINAPI SaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Password lock and password change (Windows 9x only).
constexpr DWORD PasswordRecheckDelay = 200;

void LoadPasswordVerifier();
void UnloadPasswordVerifier();
void SetSaverRunning(BOOL running);
LRESULT VerifyPasswordOnClose(HWND window);
void ChangePassword(HWND owner);

// Looks up an entry of a library loaded at run time, typed as the caller
// expects it. The detour through a parameterless function type is the
// sanctioned way to convert between function pointer types.
template <typename Entry>
Entry LibraryEntry(HMODULE library, const char *name) {
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}
