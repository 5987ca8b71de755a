// The real saver left running at the fastest speed while this driver samples, once a
// second, what the saver process holds: its GDI and USER objects (GetGuiResources), its
// kernel handles (GetProcessHandleCount, and the count in the system's process list) and
// its private memory. After a warm-up none of them may grow beyond a small constant, and
// the saver must still draw and still end with exit code 0 at the first click.
//
// Wine 8 answers 0 to GetGuiResources and to GetProcessHandleCount for another process;
// its process list gives the size of the process's handle table (a power of two, so it
// moves only after many leaked handles), and its memory counters are real. There a
// leaked pen or DC shows as private memory that keeps growing.
//
// QV_SOAK_SECONDS: how long the saver runs (default 20; the long run uses 120).
// The figures go to the output, one "soak:" line per counter.
#include "tests/e2e/driver.h"

#define PSAPI_VERSION 2  // GetProcessMemoryInfo from kernel32 itself
#include <psapi.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

const char SaverClass[] = "WindowsScreenSaverClass";
const char SaverTitle[] = "Screen Saver";
const char SettingsSection[] = "Quorvane";
const char SettingsKey[] = "Redraw Speed";
const char SettingsFileName[] = "googoo.goo";
const char FastestSpeed[] = "1";

constexpr DWORD DefaultSoakSeconds = 20;
constexpr DWORD MaxSoakSeconds = 3600;
constexpr DWORD SampleIntervalMs = 1000;
// Time for the first pens, DCs and caches of the process to appear before the baseline.
constexpr DWORD WarmUpMs = 3000;
constexpr DWORD WindowTimeoutMs = 15000;
constexpr DWORD ExitTimeoutMs = 10000;
// What may come and go between samples without being a leak: a DC and a pen that one
// tick holds, a handle that the system lends for a moment, a few pages of heap. Under
// Wine a pen leaked every tick at this speed adds about 90 KB in 20 s, and the saver's
// private memory otherwise stays the same to the byte.
constexpr DWORD GdiSlack = 2;
constexpr DWORD UserSlack = 2;
constexpr DWORD HandleSlack = 4;
constexpr SIZE_T PrivateBytesSlack = 64 * 1024;
constexpr ULONG SystemProcessList = 5;  // SystemProcessInformation
constexpr ULONG ProcessListBufferSize = 1 << 20;
constexpr int MinScreenChanges = 2;

struct Counters {
  DWORD gdiObjects;
  DWORD userObjects;
  DWORD handles;
  DWORD listedHandles;  // from the system's process list
  SIZE_T privateBytes;
  bool handlesKnown;
  bool listedKnown;
  bool memoryKnown;
};

typedef LONG(WINAPI *QuerySystemInformationProc)(ULONG infoClass, PVOID buffer, ULONG size, PULONG needed);

struct Range {
  unsigned long long first;
  unsigned long long low;
  unsigned long long high;
};

struct SoakRecord {
  Range gdi, user, handles, listedHandles, memory;
  int samples;
  int screenChanges;
  DWORD lastScreenSum;
};

DWORD SoakSeconds() {
  const char *text = getenv("QV_SOAK_SECONDS");
  if (text == nullptr || *text == '\0') return DefaultSoakSeconds;
  const unsigned long seconds = strtoul(text, nullptr, 10);
  if (seconds == 0) return DefaultSoakSeconds;
  return seconds > MaxSoakSeconds ? MaxSoakSeconds : static_cast<DWORD>(seconds);
}

// The handle count that the system's process list gives for the process; looked up at
// run time, as the list is ntdll's and the driver links only the documented libraries.
bool ListedHandleCount(DWORD processId, DWORD *count) {
  static char buffer[ProcessListBufferSize];
  const auto query = reinterpret_cast<QuerySystemInformationProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  ULONG needed = 0;
  if (query == nullptr || query(SystemProcessList, buffer, sizeof buffer, &needed) != 0) return false;
  for (ULONG offset = 0;;) {
    const auto *entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION *>(buffer + offset);
    if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId)) == processId) {
      *count = entry->HandleCount;
      return true;
    }
    if (entry->NextEntryOffset == 0 || offset + entry->NextEntryOffset >= sizeof buffer) return false;
    offset += entry->NextEntryOffset;
  }
}

Counters Sample(const Process &saver) {
  const HANDLE process = saver.handle;
  Counters now = {};
  now.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
  now.userObjects = GetGuiResources(process, GR_USEROBJECTS);
  now.handlesKnown = GetProcessHandleCount(process, &now.handles) != 0;
  now.listedKnown = ListedHandleCount(saver.id, &now.listedHandles);
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  now.memoryKnown = GetProcessMemoryInfo(process, &memory, sizeof memory) != 0;
  now.privateBytes = memory.PagefileUsage;
  return now;
}

void Start(Range *range, unsigned long long value) { *range = {value, value, value}; }

void Widen(Range *range, unsigned long long value) {
  if (value < range->low) range->low = value;
  if (value > range->high) range->high = value;
}

// A cheap fingerprint of the screen: the saver draws a line every few milliseconds,
// so two samples a second apart differ while it runs.
DWORD ScreenSum() {
  ScreenShot shot;
  if (!CaptureScreen(&shot)) return 0;
  DWORD sum = 0;
  const int pixels = shot.width * shot.height;
  for (int i = 0; i < pixels; ++i) sum = sum * 31 + shot.pixels[i];
  ReleaseScreenShot(&shot);
  return sum;
}

HWND WaitForSaverWindow(const Process &saver) {
  HWND window = nullptr;
  WindowFacts facts;
  PollUntil(
      [&] {
        window = FindTopWindow(saver.id, SaverClass, SaverTitle);
        return window != nullptr && ReadWindow(window, &facts) && facts.visible && (facts.style & WS_VISIBLE);
      },
      WindowTimeoutMs);
  return window;
}

// Lets the saver run for `ms`, looking at it once a second; false when it ended early.
bool RunFor(const Process &saver, DWORD ms, SoakRecord *record, bool measure) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    PumpMessages(SampleIntervalMs);
    if (!CHECKF(ProcessRunning(&saver), "the saver ended by itself after %lu s of the soak",
                static_cast<unsigned long>((GetTickCount() - start) / 1000))) {
      return false;
    }
    const DWORD sum = ScreenSum();
    if (sum != record->lastScreenSum) ++record->screenChanges;
    record->lastScreenSum = sum;
    if (!measure) continue;
    const Counters now = Sample(saver);
    Widen(&record->gdi, now.gdiObjects);
    Widen(&record->user, now.userObjects);
    Widen(&record->handles, now.handles);
    Widen(&record->listedHandles, now.listedHandles);
    Widen(&record->memory, now.privateBytes);
    ++record->samples;
  }
  return true;
}

void Report(const char *name, const Range &range) {
  printf("soak: %-15s after warm-up %llu, lowest %llu, highest %llu\n", name, range.first, range.low, range.high);
}

bool GrewBeyond(const Range &range, unsigned long long slack) { return range.high > range.first + slack; }

void CheckFlat(const SoakRecord &record, const Counters &baseline) {
  CHECKF(!GrewBeyond(record.gdi, GdiSlack), "GDI objects grew from %llu to %llu", record.gdi.first, record.gdi.high);
  CHECKF(!GrewBeyond(record.user, UserSlack), "USER objects grew from %llu to %llu", record.user.first,
         record.user.high);
  if (CHECKF(baseline.handlesKnown, "GetProcessHandleCount failed")) {
    CHECKF(!GrewBeyond(record.handles, HandleSlack), "handles grew from %llu to %llu", record.handles.first,
           record.handles.high);
  }
  if (baseline.listedKnown) {
    CHECKF(!GrewBeyond(record.listedHandles, HandleSlack), "listed handles grew from %llu to %llu",
           record.listedHandles.first, record.listedHandles.high);
  }
  if (baseline.memoryKnown) {
    CHECKF(!GrewBeyond(record.memory, PrivateBytesSlack), "private bytes grew from %llu to %llu",
           record.memory.first, record.memory.high);
  }
}

void RunSoak(DWORD seconds) {
  BeginCase("FastestSpeedKeepsObjectHandleAndMemoryCountsFlat");
  CHECKF(WritePrivateProfileStringA(SettingsSection, SettingsKey, FastestSpeed, SettingsFileName),
         "cannot write the settings file");
  Process saver = {};
  if (CHECKF(StartSaver("/s", &saver), "could not start the saver") &&
      CHECKF(WaitForSaverWindow(saver) != nullptr, "no visible saver window within %lu ms", WindowTimeoutMs)) {
    SoakRecord record = {};
    if (RunFor(saver, WarmUpMs, &record, false)) {
      const Counters baseline = Sample(saver);
      Start(&record.gdi, baseline.gdiObjects);
      Start(&record.user, baseline.userObjects);
      Start(&record.handles, baseline.handles);
      Start(&record.listedHandles, baseline.listedHandles);
      Start(&record.memory, baseline.privateBytes);
      record.screenChanges = 0;
      if (RunFor(saver, seconds * 1000, &record, true)) {
        printf("soak: %lu s at speed 1, %d samples\n", static_cast<unsigned long>(seconds), record.samples);
        Report("GDI objects", record.gdi);
        Report("USER objects", record.user);
        Report("handles", record.handles);
        Report("listed handles", record.listedHandles);
        Report("private bytes", record.memory);
        CheckFlat(record, baseline);
        CHECKF(record.screenChanges >= MinScreenChanges, "the screen changed only %d times: the saver stopped drawing",
               record.screenChanges);
        DWORD exitCode = 0;
        ClickMouse();
        if (CHECKF(WaitForExit(&saver, ExitTimeoutMs, &exitCode), "still running %lu ms after a click",
                   ExitTimeoutMs)) {
          ReleaseProcess(&saver);
          CHECK_EQ_U32(exitCode, 0);
        }
      }
    }
  }
  if (saver.handle != nullptr) EndProcess(&saver);
  EndCase();
}

}  // namespace

int main(int argc, char **argv) {
  BeginSuite("soak", argc, argv);
  RunSoak(SoakSeconds());
  return EndSuite();
}
