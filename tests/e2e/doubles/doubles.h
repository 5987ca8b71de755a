// What the password driver and the test doubles of PASSWORD.CPL and MPR.DLL agree on:
// the files beside the doubles through which the driver scripts them and reads back what
// they were called with, and the event that ends a held verifier.
//
// password_answers.txt, one answer per call (the last line serves every later call):
//   accept <n>      return n (nonzero: the password was accepted)
//   refuse          return 0
//   fault           raise an access violation (a broken verifier)
// Any answer may start with "hold ": the verifier then behaves like a dialog that is up,
// dispatching the thread's messages, until the driver sets the release event.
//
// password_calls.log, lines per call: "enter <window> <tick>", for a held call
// "holding <tick>", then "return <result> <tick>" (or "fault <tick>" just before the fault).
// mpr_calls.log, one line per call: "change <provider> <owner> <reserved1> <reserved2>".
// Windows are written as unsigned decimal numbers, ticks as GetTickCount values.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <stdio.h>
#include <string.h>

constexpr char VerifierAnswersFile[] = "password_answers.txt";
constexpr char VerifierLogFile[] = "password_calls.log";
constexpr char PasswordChangeLogFile[] = "mpr_calls.log";
constexpr char VerifierReleaseEvent[] = "QuorvaneVerifierRelease";

// The full path of `name` in the directory of `module`; false when it does not fit.
inline bool PathBesideModule(HMODULE module, const char *name, char *path, DWORD size) {
  DWORD length = GetModuleFileNameA(module, path, size);
  if (length == 0 || length >= size) return false;
  char *slash = strrchr(path, '\\');
  char *start = slash ? slash + 1 : path;
  if (static_cast<size_t>(start - path) + strlen(name) + 1 > size) return false;
  strcpy(start, name);
  return true;
}

// Appends one line in a single write, so that a reader never sees half of it; the file is
// opened and closed each time so that the driver can read it while the saver runs, and so
// that a line written just before a fault is kept.
inline void AppendLogLine(const char *path, const char *line) {
  char buffer[512];
  const int length = snprintf(buffer, sizeof buffer, "%s\r\n", line);
  if (length <= 0 || length >= static_cast<int>(sizeof buffer)) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, buffer, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}
