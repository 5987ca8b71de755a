// Command lines that must not start any mode: the real saver ends with exit code -1
// (0xFFFFFFFF as a Win32 parent reads it) and creates no window at all.
#include "tests/e2e/driver.h"

#include <stdio.h>

namespace {

// A handle that names no window: the driver looks for one before it uses it.
constexpr DWORD FirstCandidateHandle = 999;
constexpr DWORD CandidateLimit = 100000;

struct RefusedCommandLine {
  const char *name;
  const char *tail;  // "%lu" stands for a handle that names no window
};

const RefusedCommandLine refusedCommandLines[] = {
    {"UnknownLetterXExitsMinusOne", "/x"},
    {"DigitAsSwitchExitsMinusOne", "/1"},
    {"ByteAbove0x7FAsSwitchExitsMinusOne", "/\xE9"},
    {"PreviewWithoutHandleExitsMinusOne", "/p"},
    {"PreviewLWithoutHandleExitsMinusOne", "/l"},
    {"PreviewWithHandleZeroExitsMinusOne", "/p 0"},
    {"PreviewWithColonBeforeHandleExitsMinusOne", "/p:123"},
    {"PreviewWithHandleOfNoWindowExitsMinusOne", "/p %lu"},
    {"PreviewWithHandleWrappingToZeroExitsMinusOne", "/p 4294967296"},
    {"PreviewWithSignedHandleExitsMinusOne", "/p -12"},
    {"PreviewWithTabBeforeHandleExitsMinusOne", "/p\t123"},
    {"ChangePasswordOnNtExitsMinusOne", "/a"},
    {"ChangePasswordWithOwnerOnNtExitsMinusOne", "/a 123"},
    {"TabBetweenSlashAndLetterExitsMinusOne", "/\ts"},
    {"TabBetweenDashAndLetterExitsMinusOne", "-\ts"},
};

DWORD HandleOfNoWindow() {
  for (DWORD candidate = FirstCandidateHandle; candidate < CandidateLimit; ++candidate) {
    if (!IsWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(candidate)))) return candidate;
  }
  return 0;
}

void RunRefusedCommandLine(const RefusedCommandLine &row, DWORD freeHandle) {
  char tail[64];
  Process saver;
  DWORD exitCode = 0;
  BeginCase(row.name);
  snprintf(tail, sizeof(tail), row.tail, static_cast<unsigned long>(freeHandle));
  StartWindowWatch();
  if (StartSaver(tail, &saver)) {
    if (CHECKF(WaitForExit(&saver, DefaultExitTimeoutMs, &exitCode),
               "still running after %lu ms", DefaultExitTimeoutMs)) {
      CHECK_EQ_U32(exitCode, ExitCodeMinusOne);
      // Creation events are queued to this thread as the saver makes a window, so by the
      // time it has exited they are all here: draining the queue is enough.
      PumpMessages(0);
      CHECKF(WindowsCreatedBy(saver.id) == 0, "created %d window(s)", WindowsCreatedBy(saver.id));
    }
    EndProcess(&saver);
  }
  StopWindowWatch();
  EndCase();
}

}  // namespace

int main(int argc, char **argv) {
  BeginSuite("cmdline", argc, argv);
  DWORD freeHandle = HandleOfNoWindow();
  for (const RefusedCommandLine &row : refusedCommandLines) RunRefusedCommandLine(row, freeHandle);
  return EndSuite();
}
