// Test double of the system's password library: VerifyScreenSavePwd answers what the
// driver scripted in password_answers.txt and records every call in password_calls.log.
#include "tests/e2e/doubles/doubles.h"

#include <stdint.h>

namespace {

constexpr int MaxAnswerLine = 128;
constexpr WORD ArrowCursorId = 32512;  // IDC_ARROW
constexpr DWORD HoldLimitMs = 30000;  // a held call never outlives a forgotten release

enum AnswerKind { Accept, Refuse, Fault };

struct Answer {
  bool hold;
  AnswerKind kind;
  int result;
};

struct VerifierRecord {
  HMODULE module;
  int calls;
};

VerifierRecord verifier;

void Log(const char *format, unsigned long first, unsigned long second) {
  char path[MAX_PATH];
  char line[MaxAnswerLine];
  if (!PathBesideModule(verifier.module, VerifierLogFile, path, sizeof path)) return;
  snprintf(line, sizeof line, format, first, second);
  AppendLogLine(path, line);
}

// Line `index` (0-based) of the answers, or the last line when there are fewer.
bool ReadAnswerLine(int index, char *line, int size) {
  char path[MAX_PATH];
  if (!PathBesideModule(verifier.module, VerifierAnswersFile, path, sizeof path)) return false;
  FILE *answers = fopen(path, "r");
  if (answers == nullptr) return false;
  bool found = false;
  char current[MaxAnswerLine];
  int lines = 0;
  while (lines <= index && fgets(current, sizeof current, answers) != nullptr) {
    if (current[0] == '\r' || current[0] == '\n') continue;
    snprintf(line, size, "%s", current);
    found = true;
    ++lines;
  }
  fclose(answers);
  return found;
}

// No script, or one that cannot be read, refuses: a broken test then fails, it never hangs.
Answer ReadAnswer(int index) {
  Answer answer = {false, Refuse, 0};
  char line[MaxAnswerLine];
  if (!ReadAnswerLine(index, line, sizeof line)) return answer;
  const char *word = line;
  if (strncmp(word, "hold ", 5) == 0) {
    answer.hold = true;
    word += 5;
  }
  if (sscanf(word, "accept %d", &answer.result) == 1) {
    answer.kind = Accept;
  } else if (strncmp(word, "fault", 5) == 0) {
    answer.kind = Fault;
  }
  return answer;
}

// Like a dialog that is up: the thread's messages, the saver window's included, are
// dispatched until the driver lets the call return.
void HoldUntilReleased() {
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, VerifierReleaseEvent);
  Log("holding %lu", GetTickCount(), 0);
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= HoldLimitMs) break;
    const DWORD handles = release ? 1 : 0;
    if (MsgWaitForMultipleObjects(handles, &release, FALSE, HoldLimitMs - elapsed, QS_ALLINPUT) ==
        WAIT_OBJECT_0 && release) {
      break;
    }
  }
  if (release) CloseHandle(release);
}

// A real access violation, at an address the compiler cannot see to be invalid.
void RaiseAccessViolation() {
  volatile uintptr_t address = 16;
  *reinterpret_cast<volatile int *>(address) = 1;
}

// A real verifier's dialog shows the arrow cursor; this one sets it when it starts to ask
// and again just before it returns, so that only the saver itself can hide it afterwards.
void ShowDialogCursor() { SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(ArrowCursorId))); }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) verifier.module = instance;
  return TRUE;
}

extern "C" BOOL WINAPI VerifyScreenSavePwd(HWND window) {
  const Answer answer = ReadAnswer(verifier.calls++);
  Log("enter %lu %lu", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)), GetTickCount());
  ShowDialogCursor();
  if (answer.hold) HoldUntilReleased();
  if (answer.kind == Fault) {
    Log("fault %lu", GetTickCount(), 0);
    RaiseAccessViolation();
  }
  ShowDialogCursor();
  const BOOL result = answer.kind == Accept ? answer.result : 0;
  Log("return %lu %lu", static_cast<unsigned long>(result), GetTickCount());
  return result;
}
