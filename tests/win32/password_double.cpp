// Stands in for the system's password library. VerifyScreenSavePwd answers from
// QV_VERIFIER, one character per call ('0' refuse, '1' accept, 'f' fault; the last one
// serves every later call), and appends "verify <window>" to doubles.log in the working directory.
#include <windows.h>

#include <stdio.h>

static DWORD calls;

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
  char answers[64] = "0";
  const DWORD count = GetEnvironmentVariableA("QV_VERIFIER", answers, sizeof answers);
  const char answer = answers[calls < count ? calls : count - 1];
  ++calls;
  FILE *log = fopen("doubles.log", "a");
  fprintf(log, "verify %lu\n", (unsigned long)(UINT_PTR)window);
  fclose(log);
  if (answer == 'f') *(volatile int *)(UINT_PTR)16 = 1;  // a broken verifier
  return answer == '1';
}
