// Stands in for the system's password library. VerifyScreenSavePwd answers from
// QV_VERIFIER, one character per call ('0' refuse, '1' accept, 'f' fault; the last
// one serves every later call), and appends "verify <window>" to QV_DOUBLE_LOG.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static int calls;

static void LogCall(const char *line) {
  char path[MAX_PATH];
  if (!GetEnvironmentVariableA("QV_DOUBLE_LOG", path, MAX_PATH)) return;
  if (FILE *log = fopen(path, "a")) fprintf(log, "%s\n", line), fclose(log);
}

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
  char answers[64] = "0", line[64];
  GetEnvironmentVariableA("QV_VERIFIER", answers, sizeof answers);
  const size_t last = strlen(answers) ? strlen(answers) - 1 : 0;
  const char answer = answers[calls < (int)last ? calls : last];
  ++calls;
  snprintf(line, sizeof line, "verify %lu", (unsigned long)(UINT_PTR)window);
  LogCall(line);
  if (answer == 'f') *(volatile int *)(UINT_PTR)16 = 1;  // a broken verifier
  return answer == '1';
}
