// Stands in for the system's network-provider library: PwdChangePasswordA appends
// "change <provider> <owner> <reserved> <reserved>" to doubles.log in the working directory.
#include <windows.h>

#include <stdio.h>

extern "C" __declspec(dllexport) DWORD WINAPI PwdChangePasswordA(LPCSTR provider, HWND owner, DWORD r1, DWORD r2) {
  FILE *log = fopen("doubles.log", "a");
  fprintf(log, "change %s %lu %lu %lu\n", provider, (unsigned long)(UINT_PTR)owner, r1, r2);
  fclose(log);
  return 0;
}
