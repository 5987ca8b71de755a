// The harness shared by the end-to-end driver programs. Each driver is a Win32 console
// program that runs under Wine beside the real quorvane.scr: it starts the saver, watches
// its windows and pixels, sends it real input, and reports one line per case
// ("PASS name" / "FAIL name: detail") and a last line "<suite>: N passed, M failed".
//
// Every wait is a poll with a timeout; every process a driver starts is recorded and
// ended by its own handle before the driver exits.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// ---- Suite and cases ----------------------------------------------------------------------

// Call first: names the suite and takes the saver's path from QV_SCR or argv[1].
void BeginSuite(const char *suite, int argc, char **argv);
// Prints the summary line, ends every process the driver still has running, and returns
// the driver's exit code (0 when every case passed).
int EndSuite();

// A case groups checks; the first failing check's detail is what the FAIL line shows.
void BeginCase(const char *name);
bool EndCase();
bool CaseFailing();
void FailCase(const char *format, ...) __attribute__((format(printf, 1, 2)));

bool CheckThat(bool condition, const char *text, const char *file, int line);
bool CheckEqualU32(unsigned long actual, unsigned long expected, const char *actualText,
                   const char *file, int line);

#define CHECK(condition) CheckThat((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ_U32(actual, expected) \
  CheckEqualU32((unsigned long)(actual), (unsigned long)(expected), #actual, __FILE__, __LINE__)
// A check with its own detail text: CHECKF(ok, "title was \"%s\"", title).
#define CHECKF(condition, ...) ((condition) ? true : (FailCase(__VA_ARGS__), false))

// ---- Processes -------------------------------------------------------------------------------

struct Process {
  HANDLE handle;
  DWORD id;
};

constexpr DWORD ExitCodeMinusOne = 0xFFFFFFFFu;
constexpr DWORD DefaultExitTimeoutMs = 10000;

// The saver's path as Windows sees it.
const char *SaverPath();
// Starts `"<saver>" <tail>` (just `"<saver>"` when the tail is empty).
bool StartSaver(const char *tail, Process *process);
// Starts a whole command line as given, program name included.
bool StartCommandLine(const char *commandLine, Process *process);
// Waits for the process to end, dispatching this thread's messages meanwhile; on success
// stores the full 32-bit exit code. False on timeout (the process keeps running).
bool WaitForExit(Process *process, DWORD timeoutMs, DWORD *exitCode);
bool ProcessRunning(const Process *process);
// Ends a process this driver started, by its own handle, and forgets it.
void EndProcess(Process *process);
// Forgets a process that has ended by itself, closing its handle.
void ReleaseProcess(Process *process);

// ---- Polling ---------------------------------------------------------------------------------

constexpr DWORD PollIntervalMs = 10;

// Dispatches this thread's messages for up to `ms` between polls; never used as a wait.
void PumpMessages(DWORD ms);

// Calls `condition` until it is true or `timeoutMs` has passed; pumps messages between
// tries. True when the condition held.
template <typename Condition>
bool PollUntil(Condition condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return condition();
    PumpMessages(PollIntervalMs);
  }
}

// ---- Windows ---------------------------------------------------------------------------------

constexpr int MaxWindows = 64;

struct WindowList {
  int count;
  HWND windows[MaxWindows];
};

struct WindowFacts {
  char className[256];
  char title[256];
  LONG style;
  LONG exStyle;
  RECT windowRect;
  RECT clientRect;
  HWND parent;  // the real parent (GetAncestor GA_PARENT); the desktop for top-level windows
  DWORD processId;
  bool visible;
  bool topmost;
};

// Top-level windows that belong to the process.
void FindTopWindows(DWORD processId, WindowList *list);
// Every descendant window of the parent (any process).
void FindChildWindows(HWND parent, WindowList *list);
// Every window of the process: its top-level windows and their descendants, and the
// descendants of `extraParent` (which may be null) that belong to the process.
void FindProcessWindows(DWORD processId, HWND extraParent, WindowList *list);
// The first top-level window of the process with that class and title (either may be null).
HWND FindTopWindow(DWORD processId, const char *className, const char *title);
bool ReadWindow(HWND window, WindowFacts *facts);

// Records, from now until StopWindowWatch, every window that any process other than this
// driver creates, even one that lives between two polls. Fed by a system event hook whose
// events arrive while this thread dispatches messages (WaitForExit and PollUntil do).
void StartWindowWatch();
void StopWindowWatch();
// Windows created by the process since StartWindowWatch.
int WindowsCreatedBy(DWORD processId);

// ---- Screen ------------------------------------------------------------------------------------

struct ScreenShot {
  int width;
  int height;
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ oldBitmap;
  const DWORD *pixels;  // top-down rows of 0x00RRGGBB
};

int ScreenWidth();
int ScreenHeight();
bool CaptureScreen(ScreenShot *shot);
void ReleaseScreenShot(ScreenShot *shot);
COLORREF ShotPixel(const ScreenShot *shot, int x, int y);  // as COLORREF (0x00BBGGRR)
// Pixels inside the rectangle (clipped to the shot) that are not black.
int CountNonBlack(const ScreenShot *shot, RECT area);
// One pixel straight from the screen.
COLORREF ScreenPixel(int x, int y);

// ---- Input -----------------------------------------------------------------------------------

bool MoveMouseTo(int x, int y);
bool MoveMouseBy(int dx, int dy);
bool ClickMouse();
bool PressKey(WORD virtualKey);
