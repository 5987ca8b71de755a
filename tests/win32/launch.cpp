// Starts the command line given as its one argument exactly as it stands, waits for it and
// prints its whole exit code. The shell sees only an exit code's low byte (3010 arrives as
// 194), and an NSIS uninstaller runs in place only when "_?=" stands unquoted at the end of
// its command line, which no quoting shell passes on.
#include <windows.h>

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  STARTUPINFOA startup = {.cb = sizeof startup};
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, argv[1], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return 1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  std::printf("%lu\n", code);
  return 0;
}
