// Test double of the system's network-provider library: PwdChangePasswordA records its
// arguments in mpr_calls.log and shows nothing.
#include "tests/e2e/doubles/doubles.h"

#include <stdint.h>

namespace {

constexpr int MaxLogLine = 256;
constexpr int MaxProviderShown = 64;

HMODULE libraryModule;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) libraryModule = instance;
  return TRUE;
}

extern "C" DWORD WINAPI PwdChangePasswordA(LPCSTR provider, HWND owner, DWORD reserved1, DWORD reserved2) {
  char path[MAX_PATH];
  char line[MaxLogLine];
  if (!PathBesideModule(libraryModule, PasswordChangeLogFile, path, sizeof path)) return 0;
  snprintf(line, sizeof line, "change %.*s %lu %lu %lu", MaxProviderShown, provider ? provider : "(null)",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(owner)), static_cast<unsigned long>(reserved1),
           static_cast<unsigned long>(reserved2));
  AppendLogLine(path, line);
  return 0;
}
