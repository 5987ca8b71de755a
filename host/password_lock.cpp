#include "host/host.h"

namespace {

typedef DWORD(WINAPI *PwdChangePasswordProc)(LPCSTR provider, HWND owner, DWORD reserved1, DWORD reserved2);

const char DesktopKey[] = "Control Panel\\Desktop";
const char UsePasswordValue[] = "ScreenSaveUsePassword";
const char PasswordLibrary[] = "PASSWORD.CPL";
const char VerifyEntry[] = "VerifyScreenSavePwd";
const char PasswordChangeLibrary[] = "MPR.DLL";
const char PasswordChangeEntry[] = "PwdChangePasswordA";
const char SaverPasswordProvider[] = "SCRSAVE";

constexpr UINT RemoveTimerFlags = PM_REMOVE | PM_NOYIELD;

// The integer is cleared first, so a stored value shorter than four bytes
// reads as its own low bytes with the rest zero.
bool PasswordSettingOn(HKEY key) {
  DWORD usePassword = 0;
  DWORD size = sizeof usePassword;
  const LONG status =
      RegQueryValueExA(key, UsePasswordValue, nullptr, nullptr, reinterpret_cast<BYTE *>(&usePassword), &size);
  return status == ERROR_SUCCESS && usePassword != 0;
}

void LoadVerifierLibrary() {
  hostState.verifierModule = LoadLibraryA(PasswordLibrary);
  if (hostState.verifierModule == nullptr) return;
  hostState.verifyProc = LibraryEntry<VerifyScreenSavePwdProc>(hostState.verifierModule, VerifyEntry);
  if (hostState.verifyProc != nullptr) {
    SetSaverRunning(TRUE);
  } else {
    UnloadPasswordVerifier();
  }
}

bool WithinRecheckDelay(DWORD now) {
  return hostState.lastPasswordCheckTick != NoPasswordCheckYet &&
         now - hostState.lastPasswordCheckTick < PasswordRecheckDelay;
}

}  // namespace

void LoadPasswordVerifier() {
  if (!hostState.onWin9x) return;
  if (hostState.verifierModule != nullptr) UnloadPasswordVerifier();
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_CURRENT_USER, DesktopKey, &key) != ERROR_SUCCESS) return;
  if (PasswordSettingOn(key)) LoadVerifierLibrary();
  RegCloseKey(key);
}

void UnloadPasswordVerifier() {
  if (!hostState.onWin9x || hostState.verifierModule == nullptr) return;
  FreeLibrary(hostState.verifierModule);
  hostState.verifierModule = nullptr;
  // A library that came without its entry never touched the saver-running flag.
  if (hostState.verifyProc != nullptr) {
    hostState.verifyProc = nullptr;
    SetSaverRunning(FALSE);
  }
}

void SetSaverRunning(BOOL running) {
  if (!hostState.onWin9x) return;
  BOOL previous = FALSE;
  SystemParametersInfoA(SPI_SCREENSAVERRUNNING, running ? 1 : 0, &previous, 0);
}

// The gate on every close request. While the dialog is up its own message
// loop dispatches our messages, queued close requests included, back into the
// window; checkingPassword refuses those, and closing is set before it clears.
LRESULT VerifyPasswordOnClose(HWND window) {
  HostState &host = hostState;
  if (host.checkingPassword) return 0;
  if (host.verifyProc == nullptr) {
    host.closing = 1;
    return 1;
  }
  if (WithinRecheckDelay(GetTickCount())) return 0;

  host.checkingPassword = 1;
  MSG scratch;
  PeekMessageA(&scratch, window, WM_TIMER, WM_TIMER, RemoveTimerFlags);
  PeekMessageA(&scratch, window, WM_TIMER, WM_TIMER, RemoveTimerFlags);
  const LRESULT result = SendMessageA(window, SCRM_VERIFYPW, 0, 0);
  host.closing = result;
  host.checkingPassword = 0;
  if (result == 0) SetCursor(nullptr);
  // The quiet period counts from the end of the dialog, not from its start.
  host.lastPasswordCheckTick = GetTickCount();
  return host.closing;
}

void ChangePassword(HWND owner) {
  const HMODULE library = LoadLibraryA(PasswordChangeLibrary);
  if (library == nullptr) return;
  const auto changePassword = LibraryEntry<PwdChangePasswordProc>(library, PasswordChangeEntry);
  if (changePassword != nullptr) changePassword(SaverPasswordProvider, owner, 0, 0);
  FreeLibrary(library);
}
