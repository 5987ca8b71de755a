// Test-facing controls of the simulated platform. Tests script the facts the
// program reads (clock, version, command line, cursor, registry, libraries,
// settings files, other windows), drive the one message queue, and read back a
// journal of what the program did. Everything is single-threaded and
// deterministic; SimReset() returns to a fresh platform before every test.
#pragma once

#include "platform/sim/sim_windows.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

// A situation where the real platform would hang or the test's script is
// wrong: reported loudly instead (a test fails with its message).
struct SimError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Thrown by ExitProcess, and by an exception that nothing handled; carries the
// process exit code.
struct SimProcessExit {
  UINT code;
};

// Fresh platform: no windows, classes, queued messages, timers, journal,
// libraries or registry; a new empty profile directory; clock, facts and
// failure scripts back to their defaults.
void SimReset();

// ---- Clock (milliseconds; nothing ever really sleeps) -----------------------
DWORD SimTickCount();                     // what GetTickCount reads
void SimSetTickCount(DWORD tick);         // e.g. near 2^32 for wrap tests
void SimAdvanceClock(DWORD milliseconds);  // timers become due; nothing is dispatched
void SimSetCalendarSeconds(int64_t unixSeconds);  // GetSystemTimeAsFileTime, moves with the clock

// ---- Scripted facts -----------------------------------------------------------
void SimSetPlatformId(DWORD platformId);  // VER_PLATFORM_WIN32_NT (default) or _WINDOWS
void SimFailGetVersionEx(bool fail);
void SimSetCommandLine(const std::string &commandLine);  // default "quorvane.scr"
void SimSetCursorPos(LONG x, LONG y);
void SimSetForeground(HWND window);  // GetForegroundWindow (may name nothing)
void SimSetScreenClipBox(RECT box);  // GetClipBox of the screen DC; default 0,0,1024,768
HINSTANCE SimInstance();             // GetModuleHandleA(NULL), the program's instance
HCURSOR SimCursor();                 // the cursor last given to SetCursor (none at start)
BOOL SimScreenSaverRunning();        // the flag SystemParametersInfoA(SPI_SCREENSAVERRUNNING) keeps

// Registry under HKEY_CURRENT_USER. Values are raw bytes of any length; the
// key (and every key above it) exists once a value is set in it.
void SimSetRegistryValue(const std::string &subKey, const std::string &valueName, const std::vector<BYTE> &bytes,
                         DWORD type = REG_BINARY);
void SimSetRegistryDword(const std::string &subKey, const std::string &valueName, DWORD value);
void SimCreateRegistryKey(const std::string &subKey);
void SimFailRegOpenKey(LONG status);  // every RegOpenKeyA returns status; ERROR_SUCCESS stops that

// Libraries, found by file name without regard to case. An installed library
// is loadable with LoadLibraryA; a module set as loaded is already in the
// process (GetModuleHandleA finds it) and is never to be freed by the program.
struct SimEntry {
  std::string name;
  FARPROC proc;
};
void SimInstallLibrary(const std::string &name, std::vector<SimEntry> entries);
void SimSetModuleLoaded(const std::string &name, std::vector<SimEntry> entries);
int SimLibraryLoadCount(const std::string &name);  // LoadLibraryA calls not yet freed

// Failure scripts.
void SimFailRegisterClass(bool fail);
void SimFailCreateWindow(bool fail);
void SimFailSetTimer(bool fail);
void SimFailDialogBox(bool fail, INT_PTR result = -1);  // DialogBoxParamA returns result at once
void SimSetUnhandledExceptionVerdict(LONG verdict);     // default EXCEPTION_EXECUTE_HANDLER

// ---- Windows -------------------------------------------------------------------
// A window of another process, made by the test: a preview parent, another
// saver's window. Its procedure, when given, is called for messages sent to
// it; messages posted to it never reach this process's queue (see
// SimForeignPosts). Without a procedure it gets DefWindowProcA.
struct SimWindowShape {
  std::string className = "SimForeignWindow";
  std::string title;
  DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
  DWORD exStyle = 0;
  HWND parent = nullptr;
  int width = 0;  // client size
  int height = 0;
  std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> proc;
};
HWND SimCreateForeignWindow(const SimWindowShape &shape);
HWND SimCreatePreviewParent(int width, int height);  // a visible top-level window with that client size
HWND SimCreateRunningSaver();  // another process's "WindowsScreenSaverClass" / "Screen Saver" popup
std::vector<MSG> SimForeignPosts(HWND window);  // messages posted to a foreign window, in order

struct SimWindowInfo {
  HWND handle;
  std::string className;
  std::string title;
  DWORD style;
  DWORD exStyle;
  int x, y, width, height;  // position and client size
  HWND parent;              // the parent of a child window
  HWND owner;               // the owner of a popup or dialog
  HMENU menu;               // a child's identifier
  HINSTANCE instance;
  bool foreign;
  bool needsPaint;
};
SimWindowInfo SimGetWindow(HWND window);  // throws SimError for a handle that names no window
std::vector<HWND> SimWindows();           // live windows, in creation order
HWND SimFindWindowOfClass(const std::string &className);  // newest live one, or none

// ---- The message queue ----------------------------------------------------------
// When GetMessageA finds nothing, it calls the idle hook (which may post input,
// move the cursor, advance the clock, destroy a window, ...); if still nothing
// is there it moves the clock to the next timer; if there is none it throws
// SimError. Every message taken off the queue counts against the budget
// (20000 after a reset, or what SimSetMessageBudget gave, counted from then);
// exhausting it throws SimError.
void SimSetIdleHook(std::function<void()> hook);
// A message another thread sends to one of our windows: delivered by a direct
// call of the window procedure inside the next GetMessageA or PeekMessageA
// (whatever its filter), before anything is taken from the queue.
void SimSendFromOtherThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SimSetMessageBudget(unsigned messages);
std::vector<MSG> SimQueuedMessages();  // posted messages waiting, in order
bool SimQuitPending();
int SimPumpMessages();  // dispatches what is due now (posted, paint, timers) but not WM_QUIT; returns the count

struct SimTimerInfo {
  HWND window;
  UINT_PTR id;
  UINT requested;  // interval as given to SetTimer
  UINT period;     // interval as the platform runs it (clamped to 10 ms .. USER_TIMER_MAXIMUM)
  DWORD dueTick;
};
std::vector<SimTimerInfo> SimTimers();

// ---- Modal dialog --------------------------------------------------------------------
// DialogBoxParamA creates the dialog and its controls, sends WM_INITDIALOG,
// calls the script with the dialog window, then runs its modal loop over the
// queued messages. A dialog still open once nothing is left to do throws
// SimError.
void SimSetDialogScript(std::function<void(HWND dialog)> script);
struct SimScrollInfo {
  int min, max, pos;
};
SimScrollInfo SimScrollBar(HWND window, int bar = SB_CTL);

// ---- Structured-exception stand-in ---------------------------------------------------
// An exception nothing handled: UnhandledExceptionFilter runs (which first calls
// the top-level filter set with SetUnhandledExceptionFilter); "continue
// execution" returns, anything else ends the process with the exception code.
void SimRaiseException(DWORD code);
LPTOP_LEVEL_EXCEPTION_FILTER SimTopLevelFilter();
int SimRunProcess(const std::function<void()> &body);  // the code given to ExitProcess

// ---- Profile (INI) files: real files in a per-test directory -------------------------
std::string SimProfileDir();
std::string SimProfilePath(const std::string &fileName);  // where a bare file name lands
bool SimFileExists(const std::string &fileName);
std::string SimReadFile(const std::string &fileName);  // raw bytes; empty when missing
void SimWriteFile(const std::string &fileName, const std::string &bytes);

// ---- Journal --------------------------------------------------------------------------
enum class SimEventKind {
  GetDC,
  ReleaseDC,
  CreatePen,
  SelectObject,
  DeleteObject,
  Polyline,
  FillRect,
  SetCursor,
  PostMessage,
  PostQuitMessage,
  SendMessage,  // SendMessageA calls and the messages the platform itself sends
  DispatchMessage,
  PeekMessage,
  SetTimer,
  KillTimer,
  Sleep,
  SetForegroundWindow,
  SystemParametersInfo,
  RegisterClass,
  CreateWindow,
  DestroyWindow,
  ShowWindow,
  DialogBox,
  EndDialog,
  SetScrollRange,
  SetScrollPos,
  LoadLibrary,
  FreeLibrary,
  RegOpenKey,
  RegQueryValue,
  RegCloseKey,
  WriteProfileString,
  SetUnhandledExceptionFilter,
  UnhandledExceptionFilter,
  RaiseException,
  ExitProcess,
  DefWindowProc,          // the program's calls of DefWindowProcA
  RegisterWindowMessage,  // name: the message name; result: its identifier
};

// One call. Only the fields that matter for its kind are filled:
//   window            the window named (message target, DC's window, timer's,
//                     dialog; DialogBox: the owner); PeekMessage: the filter
//   message/wParam/lParam  Post/Send/Dispatch; PeekMessage: the message taken
//   dc, object, previous   GDI calls (object: pen made/selected/deleted, FillRect's brush)
//   color, penStyle, penWidth  CreatePen; Polyline: colour of the selected pen
//   points, rect      Polyline points; FillRect rectangle; CreateWindow x,y,x+w,y+h
//   id, value         timer id / scroll bar / dialog template / SPI action, and a number
//                     (interval, position, milliseconds, uiParam, exit or exception code)
//   min, max, flags   scroll range; PeekMessage filter range and flags; SPI winIni; class
//                     style; window style (flags) and extended style (max)
//   name, text, extra, file  strings: class/library/section/subkey/template; title/key/value name;
//                     profile value; profile file name as given
//   handles           CreateWindow parent/menu/instance/param; RegisterClass proc/instance/icon/cursor/brush;
//                     PeekMessage: parent = window of the message taken; SetUnhandledExceptionFilter:
//                     param = the filter; FreeLibrary, Reg*: object = module or key; RegOpenKey:
//                     previous = the key opened
//   synthetic         SendMessage made by the platform itself (WM_CREATE, WM_SIZE, ...)
//   result            the call's result (filled in when it returns)
struct SimEvent {
  explicit SimEvent(SimEventKind eventKind) : kind(eventKind) {}

  SimEventKind kind;
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  HDC dc = nullptr;
  HGDIOBJ object = nullptr;
  HGDIOBJ previous = nullptr;
  COLORREF color = 0;
  int penStyle = 0;
  int penWidth = 0;
  std::vector<POINT> points;
  RECT rect = {0, 0, 0, 0};
  UINT_PTR id = 0;
  int64_t value = 0;
  int64_t min = 0;
  int64_t max = 0;
  uint32_t flags = 0;
  std::string name;
  std::string text;
  std::string extra;
  std::string file;
  HWND parent = nullptr;
  HMENU menu = nullptr;
  HINSTANCE instance = nullptr;
  void *param = nullptr;
  WNDPROC proc = nullptr;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH brush = nullptr;
  bool synthetic = false;
  INT_PTR result = 0;

  std::string Text() const;  // one line, e.g. "PostMessage window=0x10001 WM_CLOSE 0 0 -> 1"
};

const std::vector<SimEvent> &SimJournal();
std::vector<SimEvent> SimJournalOf(std::initializer_list<SimEventKind> kinds);
// One line per event of the given kinds (all kinds when empty), joined by "\n".
std::string SimJournalText(std::initializer_list<SimEventKind> kinds = {});
size_t SimCount(SimEventKind kind);
void SimClearJournal();
std::string SimHex(const void *handle);  // how Text() writes a handle: "0x10001", "0x0"
std::string SimMessageName(UINT message);  // "WM_CLOSE", or "0xC000" for others

// ---- Leak check ---------------------------------------------------------------------------
// Empty when every DC was released, every non-stock GDI object deleted, every
// library loaded was freed (and none freed that was not loaded) and every
// registry key closed; otherwise one line per leak.
std::string SimLeakReport();

// Long runs (benchmarks): forgets the DCs already released and the GDI objects
// already deleted. Their handles are never given out again, so nothing the
// program can see changes; only the leak check no longer lists them, and it
// would not have.
void SimForgetFinishedGdi();
