// The settings file's bytes, as "googoo.goo" in the profile directory, read by
// both readers: the animation window at its creation (the timer it starts) and
// the configuration dialog at its initialization (the position it shows), then
// a few scroll steps and OK or Cancel.
//
// Input: the file's bytes, then, read from the end backwards, the dialog's
// script: the last byte's bit 0 chooses OK (else Cancel) and its bits 1-3 the
// number of scroll steps; each step before it is three bytes (code, thumb
// position low, high), the step nearest the end first.
//
// Invariants: nothing crashes or hits undefined behaviour; the animation runs
// the value as read and its timer interval follows the power-of-two rule; the
// dialog shows the value when it lies in 1 to 10 and 5 otherwise, and its
// value never leaves 1 to 10; OK writes exactly that value, Cancel leaves the
// file byte for byte as it was.
#include "fuzz/fuzz_process.h"

#include "resources/resource_ids.h"
#include "saver/animation_proc.h"
#include "saver/saver_api.h"
#include "saver/settings.h"

#include <string>
#include <vector>

namespace {

const char SettingsFile[] = TEXT_SETTINGS_FILE;
const char SettingsSection[] = TEXT_SAVER_NAME;
const char SettingsKey[] = "Redraw Speed";
constexpr int StoredDefault = 5;
constexpr int MaxScrollSteps = 7;
constexpr int BytesPerStep = 3;
// From this speed on, 2 to its power no longer fits a signed 32-bit integer and
// the interval is the program's own choice; it must still not be shorter.
constexpr LONG FirstUnboundedSpeed = 31;
constexpr int TicksBeforeClose = 2;

struct ScrollStep {
  WORD code;
  WORD thumb;
};

struct DialogScript {
  bool pressOk = false;
  int steps = 0;
  ScrollStep step[MaxScrollSteps] = {};
};

DialogScript script;
LONG storedValue;
int idleCalls;

// The interval for a speed, from the rule: 2 to the power of the speed, as a
// whole number, times 1.5625, truncated. Exact in integers for 0 to 30.
uint64_t ReferenceInterval(LONG speed) {
  if (speed < 0) return 0;
  return (uint64_t{1} << speed) * 25 / 16;
}

// Splits the input: the dialog's script from the end, the file before it.
std::string ReadScript(const uint8_t *data, size_t size) {
  script = DialogScript{};
  if (size == 0) return "";
  const uint8_t last = data[--size];
  script.pressOk = (last & 1) != 0;
  const int wanted = (last >> 1) & 7;
  for (; script.steps < wanted && size >= BytesPerStep; ++script.steps) {
    size -= BytesPerStep;
    script.step[script.steps] = {data[size], static_cast<WORD>(data[size + 1] | data[size + 2] << 8)};
  }
  return std::string(reinterpret_cast<const char *>(data), size);
}

// ---- The animation's reader ---------------------------------------------------------

void CheckInterval(LONG speed, UINT interval) {
  if (speed < FirstUnboundedSpeed) {
    FUZZ_CHECK(interval == ReferenceInterval(speed), "speed %d gives interval %u, expected %llu",
               static_cast<int>(speed), interval, static_cast<unsigned long long>(ReferenceInterval(speed)));
  } else {
    FUZZ_CHECK(interval >= ReferenceInterval(FirstUnboundedSpeed - 1), "speed %d gives the short interval %u",
               static_cast<int>(speed), interval);
  }
}

HWND SaverWindow() { return SimFindWindowOfClass("WindowsScreenSaverClass"); }

// Lets the animation draw a couple of ticks at its interval, then closes it.
void TickThenClose() {
  FUZZ_CHECK(++idleCalls <= TicksBeforeClose + 2, "the saver window does not close on request");
  if (idleCalls > TicksBeforeClose) PostMessageA(SaverWindow(), WM_CLOSE, 0, 0);
}

void RunAnimationReader() {
  idleCalls = 0;
  SimSetIdleHook(TickThenClose);
  FUZZ_CHECK(RunSaverWindow(nullptr) == 0, "the saver run did not end with 0");
  FUZZ_CHECK(RedrawSpeed == storedValue, "the animation runs speed %d, the file holds %d",
             static_cast<int>(RedrawSpeed), static_cast<int>(storedValue));
  const std::vector<SimEvent> timers = SimJournalOf({SimEventKind::SetTimer});
  FUZZ_CHECK(timers.size() == 1, "%zu timers started", timers.size());
  CheckInterval(storedValue, static_cast<UINT>(timers[0].value));
  CheckInterval(storedValue, TimerInterval(storedValue));
}

// ---- The dialog's reader ---------------------------------------------------------------

HWND ScrollBarOf(HWND dialog) { return GetDlgItem(dialog, IDC_SPEED_SCROLL); }

void CheckShown(HWND dialog, const char *when) {
  const int shown = SimScrollBar(ScrollBarOf(dialog)).pos;
  FUZZ_CHECK(RedrawSpeed >= MinRedrawSpeed && RedrawSpeed <= MaxRedrawSpeed, "the dialog's value %d %s",
             static_cast<int>(RedrawSpeed), when);
  FUZZ_CHECK(shown == RedrawSpeed, "the thumb shows %d, the value is %d, %s", shown, static_cast<int>(RedrawSpeed),
             when);
}

void PlayDialogScript(HWND dialog) {
  const bool storedInRange = storedValue >= MinRedrawSpeed && storedValue <= MaxRedrawSpeed;
  CheckShown(dialog, "when the dialog opens");
  FUZZ_CHECK(RedrawSpeed == (storedInRange ? storedValue : StoredDefault), "the file holds %d, the dialog opens at %d",
             static_cast<int>(storedValue), static_cast<int>(RedrawSpeed));
  for (int i = 0; i < script.steps; ++i) {
    const ScrollStep &step = script.step[i];
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(step.code, step.thumb), reinterpret_cast<LPARAM>(ScrollBarOf(dialog)));
    CheckShown(dialog, "after a scroll step");
  }
  const int id = script.pressOk ? IDC_CONFIG_OK : IDC_CONFIG_CANCEL;
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// OK hands the platform exactly the value shown, under the saver's names. Whether
// the platform's rewrite of an arbitrary file reads back the same is the
// platform's affair: its profile functions keep any line they do not understand,
// so a file whose first kept line starts with the bytes FE FF is rewritten into
// one that reads as UTF-16. A file that was empty must read back the value.
void CheckWrite(const std::string &fileBefore) {
  const std::vector<SimEvent> writes = SimJournalOf({SimEventKind::WriteProfileString});
  FUZZ_CHECK(writes.size() == 1, "OK wrote %zu times", writes.size());
  const SimEvent &write = writes[0];
  FUZZ_CHECK(write.name == SettingsSection && write.text == SettingsKey && write.file == SettingsFile,
             "OK wrote [%s] %s in %s", write.name.c_str(), write.text.c_str(), write.file.c_str());
  FUZZ_CHECK(write.extra == std::to_string(RedrawSpeed), "OK wrote \"%s\", the dialog showed %d",
             write.extra.c_str(), static_cast<int>(RedrawSpeed));
  if (!fileBefore.empty()) return;
  const LONG stored = static_cast<LONG>(GetPrivateProfileIntA(SettingsSection, SettingsKey, -1, SettingsFile));
  FUZZ_CHECK(stored == RedrawSpeed, "OK stored %d, the dialog showed %d", static_cast<int>(stored),
             static_cast<int>(RedrawSpeed));
}

void RunDialogReader(const std::string &fileBefore) {
  SimClearJournal();
  SimSetDialogScript(PlayDialogScript);
  const int result = ShowConfigDialog(nullptr);
  FUZZ_CHECK(result == (script.pressOk ? 1 : 0), "the dialog ended with %d", result);
  if (script.pressOk) {
    CheckWrite(fileBefore);
  } else {
    FUZZ_CHECK(SimReadFile(SettingsFile) == fileBefore, "Cancel changed the settings file");
    FUZZ_CHECK(SimCount(SimEventKind::WriteProfileString) == 0, "Cancel wrote the settings file");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  RunInput([&] {
    FreshProcess();
    const std::string file = ReadScript(data, size);
    SimWriteFile(SettingsFile, file);
    hostState.instanceHandle = SimInstance();
    storedValue = static_cast<LONG>(GetPrivateProfileIntA(SettingsSection, SettingsKey, StoredDefault, SettingsFile));
    RunAnimationReader();
    RunDialogReader(SimReadFile(SettingsFile));
    const std::string leaks = SimLeakReport();
    FUZZ_CHECK(leaks.empty(), "leaks:\n%s", leaks.c_str());
  });
  return 0;
}
