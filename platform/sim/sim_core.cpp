// The simulated platform's record, its reset, the clock, the scripted facts
// and the leak check.
#include "platform/sim/sim_internal.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace sim {

World &W() {
  static World world;
  return world;
}

std::string Lower(std::string text) {
  for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EqualNoCase(const std::string &a, const std::string &b) { return Lower(a) == Lower(b); }

DWORD Tick() { return static_cast<DWORD>(W().tickBase + W().now); }

std::string SafeString(LPCSTR text) {
  if (text == nullptr) return "";
  if (IS_INTRESOURCE(text)) return "#" + std::to_string(Raw(text));
  return text;
}

}  // namespace sim

using namespace sim;

void SimReset() {
  World &w = W();
  w = World{};
  ResetGdi();
  ResetProfileDir();
}

// ---- Clock -------------------------------------------------------------------
DWORD SimTickCount() { return Tick(); }

void SimSetTickCount(DWORD tick) { W().tickBase = static_cast<DWORD>(tick - static_cast<DWORD>(W().now)); }

void SimAdvanceClock(DWORD milliseconds) { W().now += milliseconds; }

void SimSetCalendarSeconds(int64_t unixSeconds) {
  W().calendarMsAtStart = unixSeconds * 1000 - static_cast<int64_t>(W().now);
}

DWORD WINAPI GetTickCount() { return Tick(); }

VOID WINAPI GetSystemTimeAsFileTime(LPFILETIME time) {
  constexpr int64_t FileTimeAtUnixEpoch = 116444736000000000;
  constexpr int64_t FileTimeTicksPerMs = 10000;
  if (time == nullptr) return;
  const int64_t ms = W().calendarMsAtStart + static_cast<int64_t>(W().now);
  const uint64_t ticks = static_cast<uint64_t>(FileTimeAtUnixEpoch + ms * FileTimeTicksPerMs);
  time->dwLowDateTime = static_cast<DWORD>(ticks);
  time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

// Sleeping lets simulated time pass; nothing really waits.
VOID WINAPI Sleep(DWORD milliseconds) {
  SimEvent e{SimEventKind::Sleep};
  e.value = milliseconds;
  Record(e);
  W().now += milliseconds;
}

// ---- Scripted facts -----------------------------------------------------------
void SimSetPlatformId(DWORD platformId) { W().platformId = platformId; }
void SimFailGetVersionEx(bool fail) { W().failVersion = fail; }
void SimSetCommandLine(const std::string &commandLine) { W().commandLine = commandLine; }
void SimSetCursorPos(LONG x, LONG y) { W().cursorPos = {x, y}; }
void SimSetForeground(HWND window) { W().foreground = Raw(window); }
void SimSetScreenClipBox(RECT box) { W().screen = box; }
HINSTANCE SimInstance() { return As<HINSTANCE>(InstanceHandle); }
HCURSOR SimCursor() { return W().cursorShape; }
BOOL SimScreenSaverRunning() { return W().saverRunning; }
void SimFailRegisterClass(bool fail) { W().failRegisterClass = fail; }
void SimFailCreateWindow(bool fail) { W().failCreateWindow = fail; }
void SimFailSetTimer(bool fail) { W().failSetTimer = fail; }
void SimFailDialogBox(bool fail, INT_PTR result) {
  W().failDialog = fail;
  W().failDialogResult = result;
}
void SimSetUnhandledExceptionVerdict(LONG verdict) { W().exceptionVerdict = verdict; }
void SimSetIdleHook(std::function<void()> hook) { W().idleHook = std::move(hook); }
void SimSetMessageBudget(unsigned messages) {
  W().budget = messages;
  W().taken = 0;
}
void SimSetDialogScript(std::function<void(HWND dialog)> script) { W().dialogScript = std::move(script); }

DWORD WINAPI GetLastError() { return W().lastError; }
VOID WINAPI SetLastError(DWORD error) { W().lastError = error; }

// ---- Leak check -----------------------------------------------------------------
std::string SimLeakReport() {
  const World &w = W();
  std::ostringstream report;
  for (const auto &[handle, dc] : w.dcs) {
    if (!dc.internal && !dc.released) {
      report << "DC " << SimHex(As<void *>(handle)) << " of window " << SimHex(As<void *>(dc.window))
             << " not released\n";
    }
  }
  for (const auto &[handle, object] : w.objects) {
    if (!object.stock && !object.deleted) {
      report << (object.isPen ? "pen " : "GDI object ") << SimHex(As<void *>(handle))
             << (object.deletePending ? " deleted while still selected into a DC\n" : " not deleted\n");
    }
  }
  for (const Library &library : w.libraries) {
    if (library.loads > 0) report << "library " << library.name << " loaded " << library.loads << " more time(s) than freed\n";
    if (library.loads < 0) report << "library " << library.name << " freed " << -library.loads << " time(s) without a load\n";
  }
  for (const auto &[handle, key] : w.openKeys) {
    if (!key.closed) report << "registry key " << SimHex(As<void *>(handle)) << " (" << key.path << ") not closed\n";
  }
  return report.str();
}
