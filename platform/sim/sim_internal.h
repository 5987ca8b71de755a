// The simulated platform's one process-wide record, shared by its source
// files. Tests use sim.h; nothing outside platform/sim includes this.
#pragma once

#include "platform/sim/sim.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

// Handle ranges: small numbers, distinct per kind, so that a handle of one kind
// never names an object of another, and every handle fits 32 bits. DCs and GDI
// objects are never reused, one of each per animation tick, so their ranges
// hold millions: a long run must not walk into the stock objects.
constexpr uintptr_t FirstWindowHandle = 0x10000;
constexpr uintptr_t WindowHandleStep = 2;
constexpr uintptr_t FirstDcHandle = 0x1000000;
constexpr uintptr_t FirstGdiHandle = 0x4000000;
constexpr uintptr_t StockGdiBase = 0xF000000;
constexpr uintptr_t InstanceHandle = 0x400000;
constexpr uintptr_t FirstModuleHandle = 0x10000000;
constexpr uintptr_t ModuleHandleStep = 0x10000;
constexpr uintptr_t FirstKeyHandle = 0x50000;
constexpr uintptr_t SystemCursorBase = 0x60000;
constexpr UINT FirstAtom = 0xC000;

constexpr DWORD DefaultTickBase = 1000000;
constexpr int64_t DefaultCalendarSeconds = 1700000000;
constexpr unsigned DefaultMessageBudget = 20000;
constexpr int MaxSendDepth = 256;

struct Window {
  uintptr_t handle = 0;
  std::string className;
  std::string title;
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, width = 0, height = 0;
  uintptr_t parent = 0;
  uintptr_t owner = 0;
  HMENU menu = nullptr;
  HINSTANCE instance = nullptr;
  WNDPROC proc = nullptr;
  std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> testProc;
  HBRUSH background = nullptr;
  bool foreign = false;
  bool destroying = false;
  bool destroyed = false;
  bool needsPaint = false;
  bool needsErase = false;
  bool isDialog = false;
  bool dialogEnded = false;
  DLGPROC dialogProc = nullptr;
  INT_PTR dialogResult = 0;
  SimScrollInfo scroll[3] = {{0, 100, 0}, {0, 100, 0}, {0, 100, 0}};
  std::vector<MSG> foreignPosts;
};

struct WindowClass {
  std::string name;
  WNDCLASSA wc;
  ATOM atom;
};

struct Timer {
  uintptr_t window;
  UINT_PTR id;
  UINT requested;
  UINT period;
  uint64_t due;
  TIMERPROC proc;
  uint64_t sequence;
};

struct GdiObject {
  bool isPen = false;
  bool stock = false;
  COLORREF color = 0;
  int style = 0;
  int width = 0;
  bool deleted = false;
  bool deletePending = false;
  int selections = 0;
};

struct Dc {
  uintptr_t window = 0;
  bool released = false;
  bool internal = false;  // the platform's own paint DC, not counted as the program's
  uintptr_t pen = 0;
  uintptr_t brush = 0;
};

struct Library {
  std::string name;
  std::vector<SimEntry> entries;
  bool installed = false;
  bool preloaded = false;
  int loads = 0;  // LoadLibraryA calls not yet freed; below 0 when freed without a load
  uintptr_t handle = 0;
};

struct RegValue {
  std::string name;
  DWORD type = REG_BINARY;
  std::vector<BYTE> bytes;
};

struct OpenKey {
  std::string path;  // lower case, "" for HKEY_CURRENT_USER itself
  bool closed = false;
};

struct World {
  // Clock: now counts simulated milliseconds since the reset.
  uint64_t now = 0;
  DWORD tickBase = DefaultTickBase;
  int64_t calendarMsAtStart = DefaultCalendarSeconds * 1000;

  // Scripted facts.
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  bool failVersion = false;
  std::string commandLine = "quorvane.scr";
  POINT cursorPos = {0, 0};
  uintptr_t foreground = 0;
  RECT screen = {0, 0, 1024, 768};
  HCURSOR cursorShape = nullptr;
  BOOL saverRunning = FALSE;
  DWORD lastError = 0;

  // Failure scripts.
  bool failRegisterClass = false;
  bool failCreateWindow = false;
  bool failSetTimer = false;
  bool failDialog = false;
  INT_PTR failDialogResult = -1;
  LONG regOpenFailure = ERROR_SUCCESS;
  LONG exceptionVerdict = EXCEPTION_EXECUTE_HANDLER;

  // Windows, classes, registered messages.
  std::map<uintptr_t, Window> windows;
  std::vector<uintptr_t> windowOrder;
  uintptr_t nextWindow = FirstWindowHandle;
  std::map<std::string, WindowClass> classes;  // by lower-case name
  std::map<std::string, UINT> registeredMessages;
  UINT nextAtom = FirstAtom;

  // The queue and timers.
  std::deque<MSG> posted;
  std::deque<MSG> incomingSends;  // sent by other threads, delivered at the next retrieval
  bool quitPending = false;
  int quitCode = 0;
  std::vector<Timer> timers;
  uint64_t timerSequence = 0;
  std::function<void()> idleHook;
  unsigned budget = DefaultMessageBudget;
  unsigned taken = 0;
  int sendDepth = 0;
  std::function<void(HWND)> dialogScript;

  // GDI.
  std::map<uintptr_t, GdiObject> objects;
  std::map<uintptr_t, Dc> dcs;
  uintptr_t nextObject = FirstGdiHandle;
  uintptr_t nextDc = FirstDcHandle;

  // Libraries, registry, exceptions.
  std::vector<Library> libraries;
  std::map<std::string, std::map<std::string, RegValue>> keys;  // lower-case path -> lower-case value name
  std::map<uintptr_t, OpenKey> openKeys;
  uintptr_t nextKey = FirstKeyHandle;
  LPTOP_LEVEL_EXCEPTION_FILTER topFilter = nullptr;
  int filterDepth = 0;

  std::vector<SimEvent> journal;
  size_t journalBase = 0;  // events cleared so far, so that results still find their event
  std::string profileDir;
};

World &W();

// Journal: returns the index, so a result can be filled in when the call returns.
size_t Record(SimEvent event);
void RecordResult(size_t index, INT_PTR result);
SimEvent *Recorded(size_t index);  // null once the test cleared the journal

// Helpers shared by the source files.
std::string Lower(std::string text);
bool EqualNoCase(const std::string &a, const std::string &b);
inline uintptr_t Raw(const void *handle) { return reinterpret_cast<uintptr_t>(handle); }
template <class Handle>
Handle As(uintptr_t value) {
  return reinterpret_cast<Handle>(value);
}
DWORD Tick();
std::string SafeString(LPCSTR text);  // "" for NULL, "#n" for an integer resource

// Windows (sim_window.cpp) used by the queue, GDI and dialog code.
Window *LiveWindow(HWND window);  // null when the handle names no live window
Window *LiveWindow(uintptr_t window);
bool IsDescendant(uintptr_t window, uintptr_t ancestor);
LRESULT CallWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendSynthetic(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND CreateWindowRecord(Window record);
BOOL ApplyShow(HWND window, bool show);
LRESULT DialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefaultHandling(HWND window, UINT message, WPARAM wParam, LPARAM lParam);  // DefWindowProcA, unjournaled

// Queue (sim_queue.cpp).
bool TakeMessage(MSG *msg, HWND filter, UINT first, UINT last, bool remove, bool includeQuit);
void ForgetWindowMessages(uintptr_t window);
void CountTaken();

// GDI (sim_gdi.cpp): the platform's own paint DC for DefWindowProcA(WM_PAINT).
HDC OpenPaintDc(uintptr_t window);
void ClosePaintDc(HDC dc);
void ResetGdi();

// Profile directory (sim_profile.cpp).
void ResetProfileDir();

}  // namespace sim
