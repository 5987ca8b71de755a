// Stands in for the system's password library. VerifyScreenSavePwd answers from
// QV_VERIFIER, one character per call ('0' refuse, '1' accept, 'f' fault; the last one
// serves every later call), and appends "verify <window>" to QV_DOUBLE_LOG.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static unsigned calls;

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
  char answers[64] = "0", path[MAX_PATH];
  if (!GetEnvironmentVariableA("QV_VERIFIER", answers, sizeof answers) || !answers[0]) strcpy(answers, "0");
  const char answer = answers[calls < strlen(answers) ? calls++ : strlen(answers) - 1];
  FILE *log = GetEnvironmentVariableA("QV_DOUBLE_LOG", path, MAX_PATH) ? fopen(path, "a") : nullptr;
  if (log) fprintf(log, "verify %lu\n", (unsigned long)(UINT_PTR)window), fclose(log);
  if (answer == 'f') *(volatile int *)(UINT_PTR)16 = 1;  // a broken verifier
  return answer == '1';
}
