// The configuration dialog of the real saver: its template and string table as compiled
// into quorvane.scr, the command lines that open it and the owner each one gives it, the
// controls it shows, how "OK", "Cancel", Escape and the close box end it (or not), what it
// leaves in the settings file, and that a speed it saves reaches the next full-screen run.
#include "tests/e2e/driver.h"

#include <stdio.h>
#include <string.h>

namespace {

// ---- What the dialog is ---------------------------------------------------------------------

constexpr WORD ConfigDialogId = 2003;
constexpr int ScrollBarId = 3;
constexpr int OkId = 4;
constexpr int CancelId = 5;
constexpr int SlowestSpeed = 10;
constexpr int FastestSpeed = 1;
constexpr int DefaultSpeed = 5;
constexpr int MiddleSpeed = 7;

constexpr DWORD DialogResultOk = 1;
constexpr DWORD DialogResultCancel = 0;

const char DialogClass[] = "#32770";
const char DialogCaption[] = "Quorvane";
const char SaverClass[] = "WindowsScreenSaverClass";
const char SaverTitle[] = "Screen Saver";
const char SettingsSection[] = "Quorvane";
const char SettingsKey[] = "Redraw Speed";
const char SettingsFileName[] = "googoo.goo";

// Predefined control classes, by ordinal.
constexpr WORD ButtonClass = 0x0080;
constexpr WORD StaticClass = 0x0082;
constexpr WORD ScrollBarClass = 0x0084;
constexpr WORD OrdinalMarker = 0xFFFF;

struct DialogControl {
  WORD id;
  WORD classOrdinal;
  const char *text;
  DWORD style;
  short x, y, cx, cy;
};

constexpr DWORD DialogStyle = 0x90C800C0u;
constexpr short DialogX = 6, DialogY = 18, DialogCx = 160, DialogCy = 63;
constexpr WORD FontPoints = 8;
const char FontName[] = "MS Shell Dlg";

const DialogControl dialogControls[] = {
    {101, ButtonClass, "Redraw Speed", 0x50000007u, 0, 6, 98, 40},
    {3, ScrollBarClass, "", 0x50000000u, 5, 31, 89, 10},
    {103, StaticClass, "Fast", 0x50020000u, 6, 21, 20, 8},
    {104, StaticClass, "Slow", 0x50020000u, 75, 21, 20, 8},
    {4, ButtonClass, "OK", 0x50010000u, 117, 10, 40, 14},
    {5, ButtonClass, "Cancel", 0x50010000u, 117, 32, 40, 14},
};
constexpr int ControlCount = sizeof(dialogControls) / sizeof(dialogControls[0]);

// The string table's one block (ids 0 to 15) and what it holds.
constexpr WORD StringsPerBlock = 16;
constexpr WORD FirstStringBlock = 1;
const char *const expectedStrings[StringsPerBlock] = {"", "Quorvane", "googoo.goo"};

// ---- Timeouts and measurement ------------------------------------------------------------------

constexpr DWORD AppearTimeoutMs = 15000;
constexpr DWORD SettleTimeoutMs = 5000;
constexpr DWORD SendTimeoutMs = 5000;
constexpr DWORD ForegroundTimeoutMs = 5000;
// Long enough for several ticks at speed 10 (1600 ms apart), short enough to keep the
// suite quick; only the ratio between the two speeds is asserted.
constexpr DWORD ObservationMs = 5000;
constexpr int FastRunMinimumChanges = 10;
constexpr int SpeedRatio = 3;

// ---- Byte images -------------------------------------------------------------------------------

constexpr size_t MaxImage = 2048;

struct ByteImage {
  unsigned char data[MaxImage];
  size_t size;
};

void PutWord(ByteImage *image, WORD value) {
  if (image->size + 2 > MaxImage) return;
  memcpy(image->data + image->size, &value, 2);
  image->size += 2;
}

void PutDword(ByteImage *image, DWORD value) {
  PutWord(image, LOWORD(value));
  PutWord(image, HIWORD(value));
}

void PutText(ByteImage *image, const char *text) {
  for (; *text; ++text) PutWord(image, static_cast<unsigned char>(*text));
  PutWord(image, 0);
}

void PutRect(ByteImage *image, short x, short y, short cx, short cy) {
  PutWord(image, static_cast<WORD>(x));
  PutWord(image, static_cast<WORD>(y));
  PutWord(image, static_cast<WORD>(cx));
  PutWord(image, static_cast<WORD>(cy));
}

void AlignToDword(ByteImage *image) {
  while (image->size % 4 != 0) image->data[image->size++] = 0;
}

// The standard (not extended) template: header, no menu, the default class, the caption,
// the font, then each control on a DWORD boundary with an ordinal class and no creation data.
void BuildExpectedTemplate(ByteImage *image) {
  image->size = 0;
  PutDword(image, DialogStyle);
  PutDword(image, 0);
  PutWord(image, ControlCount);
  PutRect(image, DialogX, DialogY, DialogCx, DialogCy);
  PutWord(image, 0);  // no menu
  PutWord(image, 0);  // the default dialog class
  PutText(image, DialogCaption);
  PutWord(image, FontPoints);
  PutText(image, FontName);
  for (const DialogControl &control : dialogControls) {
    AlignToDword(image);
    PutDword(image, control.style);
    PutDword(image, 0);
    PutRect(image, control.x, control.y, control.cx, control.cy);
    PutWord(image, control.id);
    PutWord(image, OrdinalMarker);
    PutWord(image, control.classOrdinal);
    PutText(image, control.text);
    PutWord(image, 0);  // no creation data
  }
}

void CheckSameBytes(const unsigned char *actual, size_t actualSize, const ByteImage &expected) {
  size_t common = actualSize < expected.size ? actualSize : expected.size;
  for (size_t i = 0; i < common; ++i) {
    if (actual[i] != expected.data[i]) {
      FailCase("byte %u is 0x%02X, expected 0x%02X", static_cast<unsigned>(i), actual[i], expected.data[i]);
      return;
    }
  }
  CHECKF(actualSize == expected.size, "%u bytes, expected %u", static_cast<unsigned>(actualSize),
         static_cast<unsigned>(expected.size));
}

// ---- Resources of quorvane.scr -----------------------------------------------------------------

struct ResourceBytes {
  const unsigned char *data;
  DWORD size;
};

bool FindResourceBytes(HMODULE module, LPCSTR type, LPCSTR name, ResourceBytes *bytes) {
  HRSRC found = FindResourceA(module, name, type);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  bytes->data = loaded ? static_cast<const unsigned char *>(LockResource(loaded)) : nullptr;
  bytes->size = found ? SizeofResource(module, found) : 0;
  return bytes->data != nullptr;
}

HMODULE LoadSaverAsData() {
  HMODULE module = LoadLibraryExA(SaverPath(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  CHECKF(module != nullptr, "LoadLibraryEx(%s) failed with error %lu", SaverPath(), GetLastError());
  return module;
}

struct NameList {
  int count;
  ULONG_PTR names[16];  // integer ids; a named resource counts as 0
};

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR parameter) {
  NameList *list = reinterpret_cast<NameList *>(parameter);
  if (list->count < 16) list->names[list->count] = IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : 0;
  ++list->count;
  return TRUE;
}

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR parameter) {
  return CollectName(nullptr, nullptr, type, parameter);
}

void CheckOnlyName(HMODULE module, LPCSTR type, ULONG_PTR expected, const char *what) {
  NameList list = {};
  EnumResourceNamesA(module, type, CollectName, reinterpret_cast<LONG_PTR>(&list));
  CHECKF(list.count == 1 && list.names[0] == expected, "%d %s resource(s), the first %lu; expected only %lu",
         list.count, what, static_cast<unsigned long>(list.names[0]), static_cast<unsigned long>(expected));
}

void TemplateMatchesByteForByte() {
  BeginCase("DialogTemplate2003MatchesByteForByte");
  HMODULE module = LoadSaverAsData();
  ResourceBytes bytes;
  ByteImage expected;
  if (module && CHECKF(FindResourceBytes(module, RT_DIALOG, MAKEINTRESOURCEA(ConfigDialogId), &bytes),
                       "no dialog resource 2003")) {
    BuildExpectedTemplate(&expected);
    CheckSameBytes(bytes.data, bytes.size, expected);
    CheckOnlyName(module, RT_DIALOG, ConfigDialogId, "dialog");
  }
  if (module) FreeLibrary(module);
  EndCase();
}

void CheckStringBlock(const ResourceBytes &block) {
  const unsigned char *p = block.data;
  const unsigned char *end = block.data + block.size;
  for (int i = 0; i < StringsPerBlock; ++i) {
    WORD length;
    if (!CHECKF(p + 2 <= end, "block ends before string %d", i)) return;
    memcpy(&length, p, 2);
    p += 2;
    const char *want = expectedStrings[i] ? expectedStrings[i] : "";
    bool same = length == strlen(want) && p + 2 * length <= end;
    for (WORD c = 0; same && c < length; ++c) same = p[2 * c] == static_cast<unsigned char>(want[c]) && p[2 * c + 1] == 0;
    CHECKF(same, "string %d has %u characters, expected \"%s\"", i, length, want);
    p += 2 * length;
  }
}

void StringTableHoldsOnlyNameAndFile() {
  BeginCase("StringTableHoldsOnlyStrings1And2");
  HMODULE module = LoadSaverAsData();
  ResourceBytes block;
  if (module && CHECKF(FindResourceBytes(module, RT_STRING, MAKEINTRESOURCEA(FirstStringBlock), &block),
                       "no string block 1")) {
    CheckStringBlock(block);
    CheckOnlyName(module, RT_STRING, FirstStringBlock, "string block");
  }
  if (module) FreeLibrary(module);
  EndCase();
}

// No icon, no manifest, no version: the saver carries the dialog and the strings only.
void OnlyDialogAndStringResources() {
  BeginCase("ResourcesAreTheDialogAndTheStringTableOnly");
  HMODULE module = LoadSaverAsData();
  if (module) {
    NameList types = {};
    EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    bool onlyThose = types.count == 2;
    for (int i = 0; onlyThose && i < types.count; ++i) {
      onlyThose = types.names[i] == reinterpret_cast<ULONG_PTR>(RT_DIALOG) ||
                  types.names[i] == reinterpret_cast<ULONG_PTR>(RT_STRING);
    }
    CHECKF(onlyThose, "%d resource types, the first %lu", types.count, static_cast<unsigned long>(types.names[0]));
    FreeLibrary(module);
  }
  EndCase();
}

// ---- The settings file -------------------------------------------------------------------------

constexpr size_t MaxSettingsBytes = 4096;

struct FileBytes {
  bool exists;
  DWORD size;
  char data[MaxSettingsBytes];
};

const char *SettingsPath() {
  static char path[MAX_PATH];
  UINT length = GetWindowsDirectoryA(path, MAX_PATH);
  snprintf(path + length, MAX_PATH - length, "\\%s", SettingsFileName);
  return path;
}

void ReadSettingsBytes(FileBytes *bytes) {
  HANDLE file = CreateFileA(SettingsPath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bytes->exists = file != INVALID_HANDLE_VALUE;
  bytes->size = 0;
  if (!bytes->exists) return;
  ReadFile(file, bytes->data, sizeof(bytes->data), &bytes->size, nullptr);
  CloseHandle(file);
}

bool SameBytes(const FileBytes &a, const FileBytes &b) {
  return a.exists == b.exists && a.size == b.size && memcmp(a.data, b.data, a.size) == 0;
}

// Writes the file as given (nullptr: no file at all).
void SeedSettings(const char *content) {
  DeleteFileA(SettingsPath());
  if (!content) return;
  HANDLE file = CreateFileA(SettingsPath(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (!CHECKF(file != INVALID_HANDLE_VALUE, "cannot create %s", SettingsPath())) return;
  WriteFile(file, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
  CloseHandle(file);
}

// The stored speed as the profile functions read it; -1 when the key is missing.
int StoredSpeed() {
  return static_cast<int>(GetPrivateProfileIntA(SettingsSection, SettingsKey, -1, SettingsFileName));
}

void StoredSpeedText(char *text, DWORD size) {
  GetPrivateProfileStringA(SettingsSection, SettingsKey, "(missing)", text, size, SettingsFileName);
}

// ---- The driver's own windows ------------------------------------------------------------------

const char OwnerClass[] = "QvConfigTestOwner";
constexpr int OwnerSize = 120;

struct OwnerWindows {
  HWND foreground;  // made the foreground window before each start
  HWND other;       // exists, but is never the foreground window
};

OwnerWindows owners;

HWND CreateOwnerWindow(const char *title, int x) {
  return CreateWindowExA(0, OwnerClass, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, ScreenHeight() - 2 * OwnerSize,
                         OwnerSize, OwnerSize, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

bool CreateOwnerWindows() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = OwnerClass;
  RegisterClassA(&windowClass);
  owners.foreground = CreateOwnerWindow("foreground owner", ScreenWidth() - 3 * OwnerSize);
  owners.other = CreateOwnerWindow("other owner", ScreenWidth() - 2 * OwnerSize);
  return owners.foreground && owners.other;
}

// A modal dialog disables its owner; one that did not end cleanly leaves it so.
void RestoreOwners() {
  EnableWindow(owners.foreground, TRUE);
  EnableWindow(owners.other, TRUE);
}

// A dialog that ended hands the activation back to its owner through this thread's
// queue; that has to be handled first, or it would take the foreground back later.
bool MakeOwnerForeground() {
  RestoreOwners();
  PumpMessages(0);
  SetForegroundWindow(owners.foreground);
  return CHECKF(PollUntil([] { return GetForegroundWindow() == owners.foreground; }, ForegroundTimeoutMs),
                "the driver's window did not become the foreground window");
}

// A handle that named a window once and names none now.
HWND DestroyedWindowHandle() {
  HWND window = CreateOwnerWindow("gone", 0);
  DestroyWindow(window);
  return IsWindow(window) ? nullptr : window;
}

unsigned long HandleNumber(HWND window) { return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)); }

// ---- The dialog from outside ------------------------------------------------------------------

struct Dialog {
  Process process;
  HWND window;
  HWND scrollBar;
  HWND ok;
  HWND cancel;
};

// Starts the saver with the tail and waits until its dialog is visible (so that its
// initialization has run) and its controls are there.
bool OpenDialog(const char *tail, Dialog *dialog) {
  memset(dialog, 0, sizeof(*dialog));
  if (!StartSaver(tail, &dialog->process)) return false;
  bool shown = PollUntil(
      [&] {
        dialog->window = FindTopWindow(dialog->process.id, DialogClass, nullptr);
        return dialog->window && IsWindowVisible(dialog->window);
      },
      AppearTimeoutMs);
  if (!CHECKF(shown, "no visible dialog after %lu ms (tail \"%s\")", AppearTimeoutMs, tail)) return false;
  dialog->scrollBar = GetDlgItem(dialog->window, ScrollBarId);
  dialog->ok = GetDlgItem(dialog->window, OkId);
  dialog->cancel = GetDlgItem(dialog->window, CancelId);
  return CHECKF(dialog->scrollBar && dialog->ok && dialog->cancel, "controls 3, 4 and 5 not all found");
}

int ScrollPosition(const Dialog &dialog) {
  DWORD_PTR position = static_cast<DWORD_PTR>(-1);
  if (!SendMessageTimeoutA(dialog.scrollBar, SBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &position)) return -1;
  return static_cast<int>(position);
}

bool ScrollPositionBecomes(const Dialog &dialog, int expected) {
  bool reached = PollUntil([&] { return ScrollPosition(dialog) == expected; }, SettleTimeoutMs);
  return CHECKF(reached, "scroll position %d, expected %d", ScrollPosition(dialog), expected);
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool FocusBecomes(const Dialog &dialog, HWND expected, const char *name) {
  return CHECKF(PollUntil([&] { return FocusOf(dialog.window) == expected; }, SettleTimeoutMs),
                "keyboard focus is not on \"%s\"", name);
}

bool DialogForeground(const Dialog &dialog) {
  return CHECKF(PollUntil([&] { return GetForegroundWindow() == dialog.window; }, ForegroundTimeoutMs),
                "the dialog is not the foreground window");
}

void Scroll(const Dialog &dialog, WORD code, WORD position = 0) {
  PostMessageA(dialog.window, WM_HSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(dialog.scrollBar));
}

void ClickAtCentre(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  MoveMouseTo((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  ClickMouse();
}

// Waits for the saver to end and checks its exit code, all 32 bits of it.
void ExpectExit(Dialog *dialog, DWORD expected) {
  DWORD code = 0;
  if (CHECKF(WaitForExit(&dialog->process, DefaultExitTimeoutMs, &code), "still running after %lu ms",
             DefaultExitTimeoutMs)) {
    CHECK_EQ_U32(code, expected);
  }
  EndProcess(&dialog->process);
  RestoreOwners();
}

void PressCancel(Dialog *dialog) {
  PostMessageA(dialog->cancel, BM_CLICK, 0, 0);
  ExpectExit(dialog, DialogResultCancel);
}

void PressOk(Dialog *dialog) {
  PostMessageA(dialog->ok, BM_CLICK, 0, 0);
  ExpectExit(dialog, DialogResultOk);
}

// Leaves the dialog's own queue empty of everything this driver's input caused so far:
// Tab moves the focus between "OK" and "Cancel", and input is handled in order, so once
// the focus has moved every earlier key and click has been handled, together with what
// their handling posted (posted messages come before input).
bool InputHandled(const Dialog &dialog) {
  HWND from = FocusOf(dialog.window);
  HWND to = from == dialog.ok ? dialog.cancel : dialog.ok;
  PressKey(VK_TAB);
  return CHECKF(PollUntil([&] { return FocusOf(dialog.window) == to; }, SettleTimeoutMs),
                "Tab did not move the focus; the dialog may be gone");
}

// The same for messages this driver posted: a scroll to one end and then to the other,
// each awaited, so whatever the earlier messages posted in turn has been handled too.
bool PostedHandled(const Dialog &dialog) {
  Scroll(dialog, SB_LEFT);
  if (!ScrollPositionBecomes(dialog, FastestSpeed)) return false;
  Scroll(dialog, SB_RIGHT);
  return ScrollPositionBecomes(dialog, SlowestSpeed);
}

// ---- Command lines and owners -------------------------------------------------------------------

enum ExpectedOwner { OwnerNone, OwnerForeground, OwnerOther };

struct OpeningRow {
  const char *name;
  const char *tail;  // "%lu" stands for a handle: the other window's, or a destroyed one's
  ExpectedOwner owner;
  bool destroyedHandle;
};

const OpeningRow openingRows[] = {
    {"ColonHandleOfExistingWindowIsTheOwner", "/c:%lu", OwnerOther, false},
    {"ColonHandleOfNoWindowFallsBackToForeground", "/c:%lu", OwnerForeground, true},
    {"UpperCaseColonHandleIsTheOwner", "-C:%lu", OwnerOther, false},
    {"BareCOpensWithForegroundOwner", "/c", OwnerForeground, false},
    {"BlankBeforeNumberIgnoresNumber", "/c %lu", OwnerForeground, false},
    {"BlankBefore123OpensWithForegroundOwner", "/c 123", OwnerForeground, false},
    {"ColonWithoutNumberOpensWithForegroundOwner", "/c:", OwnerForeground, false},
    {"EmptyCommandLineOpensWithoutOwner", "", OwnerNone, false},
};

const char *OwnerName(HWND owner) {
  if (!owner) return "none";
  if (owner == owners.foreground) return "the foreground window";
  if (owner == owners.other) return "the named window";
  return "another window";
}

void RunOpeningRow(const OpeningRow &row) {
  char tail[64];
  HWND named = row.destroyedHandle ? DestroyedWindowHandle() : owners.other;
  HWND expected = row.owner == OwnerNone ? nullptr : row.owner == OwnerForeground ? owners.foreground : owners.other;
  Dialog dialog;
  BeginCase(row.name);
  snprintf(tail, sizeof(tail), row.tail, HandleNumber(named));
  if (CHECKF(named != nullptr, "no handle to use") && MakeOwnerForeground() && OpenDialog(tail, &dialog)) {
    char caption[64] = "";
    GetWindowTextA(dialog.window, caption, sizeof(caption));
    CHECKF(strcmp(caption, DialogCaption) == 0, "caption \"%s\"", caption);
    HWND owner = GetWindow(dialog.window, GW_OWNER);
    CHECKF(owner == expected, "owner is %s, expected %s", OwnerName(owner), OwnerName(expected));
    PressCancel(&dialog);
  }
  EndProcess(&dialog.process);
  RestoreOwners();
  EndCase();
}

// ---- The controls ---------------------------------------------------------------------------------

void CheckControl(HWND control, const char *className, const char *text) {
  char actualClass[64] = "", actualText[64] = "";
  GetClassNameA(control, actualClass, sizeof(actualClass));
  GetWindowTextA(control, actualText, sizeof(actualText));
  CHECKF(lstrcmpiA(actualClass, className) == 0, "control %d is a \"%s\"", GetDlgCtrlID(control), actualClass);
  CHECKF(strcmp(actualText, text) == 0, "control %d reads \"%s\"", GetDlgCtrlID(control), actualText);
}

void ControlsAndFocus() {
  BeginCase("ShowsScrollBar1To10AtDefaultOkCancelAndFocusOnOk");
  Dialog dialog;
  SeedSettings(nullptr);
  if (MakeOwnerForeground() && OpenDialog("/c", &dialog)) {
    int low = -1, high = -1;
    CheckControl(dialog.scrollBar, "ScrollBar", "");
    CheckControl(dialog.ok, "Button", "OK");
    CheckControl(dialog.cancel, "Button", "Cancel");
    GetScrollRange(dialog.scrollBar, SB_CTL, &low, &high);
    CHECKF(low == FastestSpeed && high == SlowestSpeed, "range %d..%d", low, high);
    ScrollPositionBecomes(dialog, DefaultSpeed);
    FocusBecomes(dialog, dialog.ok, "OK");
    PressCancel(&dialog);
  }
  EndProcess(&dialog.process);
  EndCase();
}

// ---- Stored values -----------------------------------------------------------------------------

struct StoredRow {
  const char *name;
  const char *file;  // nullptr: no settings file
  int shown;         // the thumb's position when the dialog opens, and what OK writes
};

const StoredRow storedRows[] = {
    {"NoFileOpensAt5AndOkCreatesFileWith5", nullptr, DefaultSpeed},
    {"Stored1OpensAtLeftEnd", "[Quorvane]\r\nRedraw Speed=1\r\n", FastestSpeed},
    {"Stored10OpensAtRightEnd", "[Quorvane]\r\nRedraw Speed=10\r\n", SlowestSpeed},
    {"Stored7OpensAt7", "[Quorvane]\r\nRedraw Speed=7\r\n", MiddleSpeed},
    {"Stored0OpensAt5AndOkWrites5", "[Quorvane]\r\nRedraw Speed=0\r\n", DefaultSpeed},
    {"Stored11OpensAt5AndOkWrites5", "[Quorvane]\r\nRedraw Speed=11\r\n", DefaultSpeed},
    {"StoredTextOpensAt5AndOkWrites5", "[Quorvane]\r\nRedraw Speed=abc\r\n", DefaultSpeed},
    {"StoredNegativeOpensAt5AndOkWrites5", "[Quorvane]\r\nRedraw Speed=-3\r\n", DefaultSpeed},
};

void RunStoredRow(const StoredRow &row) {
  Dialog dialog;
  BeginCase(row.name);
  SeedSettings(row.file);
  if (MakeOwnerForeground() && OpenDialog("/c", &dialog)) {
    ScrollPositionBecomes(dialog, row.shown);
    PressOk(&dialog);
    char text[32], expected[32];
    StoredSpeedText(text, sizeof(text));
    snprintf(expected, sizeof(expected), "%d", row.shown);
    CHECKF(strcmp(text, expected) == 0, "stored \"%s\", expected \"%s\"", text, expected);
  }
  EndProcess(&dialog.process);
  EndCase();
}

// ---- Ending the dialog ---------------------------------------------------------------------------

// Everything else in the file stays as it was around the one key that OK rewrites.
const char seededFile[] =
    "; kept by hand\r\n[Other]\r\nRedraw Speed=2\r\n\r\n[Quorvane]\r\nRedraw Speed=3\r\nExtra=yes\r\n";

void OkWritesScrolledValueAndExitsOne() {
  BeginCase("OkAfterScrollingWritesValueAndExitsOne");
  Dialog dialog;
  SeedSettings(seededFile);
  if (MakeOwnerForeground() && OpenDialog("/c", &dialog) && ScrollPositionBecomes(dialog, 3)) {
    Scroll(dialog, SB_LINERIGHT);
    Scroll(dialog, SB_PAGERIGHT);
    Scroll(dialog, SB_THUMBTRACK, 9);  // dragging changes nothing ...
    Scroll(dialog, SB_ENDSCROLL);
    ScrollPositionBecomes(dialog, 5);
    Scroll(dialog, SB_THUMBPOSITION, 8);  // ... until the thumb is released
    ScrollPositionBecomes(dialog, 8);
    ClickAtCentre(dialog.ok);
    ExpectExit(&dialog, DialogResultOk);
    CHECKF(StoredSpeed() == 8, "stored speed %d", StoredSpeed());
    CHECKF(GetPrivateProfileIntA("Other", SettingsKey, -1, SettingsFileName) == 2, "the other section changed");
  }
  EndProcess(&dialog.process);
  EndCase();
}

void ScrollBarArrowStepsByOne() {
  BeginCase("ClickOnRightArrowStepsOneAndKeyboardOkWrites");
  Dialog dialog;
  SeedSettings("[Quorvane]\r\nRedraw Speed=4\r\n");
  if (MakeOwnerForeground() && OpenDialog("/c", &dialog) && ScrollPositionBecomes(dialog, 4) &&
      DialogForeground(dialog)) {
    RECT bar;
    GetWindowRect(dialog.scrollBar, &bar);
    int arrow = bar.bottom - bar.top;  // the arrow buttons are as wide as the bar is high
    MoveMouseTo(bar.right - arrow / 2 - 1, (bar.top + bar.bottom) / 2);
    ClickMouse();
    ScrollPositionBecomes(dialog, 5);
    FocusBecomes(dialog, dialog.ok, "OK");
    PressKey(VK_SPACE);
    ExpectExit(&dialog, DialogResultOk);
    CHECKF(StoredSpeed() == 5, "stored speed %d", StoredSpeed());
  }
  EndProcess(&dialog.process);
  EndCase();
}

void CancelLeavesFileByteForByte() {
  BeginCase("CancelAfterChangesExitsZeroAndLeavesFileByteForByte");
  Dialog dialog;
  FileBytes before, after;
  SeedSettings(seededFile);
  ReadSettingsBytes(&before);
  if (MakeOwnerForeground() && OpenDialog("/c", &dialog) && ScrollPositionBecomes(dialog, 3)) {
    Scroll(dialog, SB_RIGHT);
    ScrollPositionBecomes(dialog, SlowestSpeed);
    ClickAtCentre(dialog.cancel);
    ExpectExit(&dialog, DialogResultCancel);
    ReadSettingsBytes(&after);
    CHECKF(SameBytes(before, after), "the file changed (%lu bytes before, %lu after)", before.size, after.size);
  }
  EndProcess(&dialog.process);
  EndCase();
}

void CancelWithoutFileCreatesNone() {
  BeginCase("CancelWithoutFileCreatesNone");
  Dialog dialog;
  FileBytes after;
  SeedSettings(nullptr);
  if (MakeOwnerForeground() && OpenDialog("", &dialog)) {
    PressCancel(&dialog);
    ReadSettingsBytes(&after);
    CHECKF(!after.exists, "a settings file of %lu bytes appeared", after.size);
  }
  EndProcess(&dialog.process);
  EndCase();
}

// Searches the caption row, from the right, for the point the dialog calls its close box.
bool FindCloseBox(HWND window, POINT *point) {
  RECT rect;
  GetWindowRect(window, &rect);
  for (int y = rect.top; y < rect.top + GetSystemMetrics(SM_CYCAPTION) * 2; ++y) {
    for (int x = rect.right - 1; x > rect.right - GetSystemMetrics(SM_CXSIZE) * 3; --x) {
      DWORD_PTR hit = HTNOWHERE;
      SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, SendTimeoutMs, &hit);
      if (hit == HTCLOSE) {
        *point = {x - 2, y + 2};
        return true;
      }
    }
  }
  return false;
}

void CheckStillOpenAndUnchanged(Dialog *dialog, const FileBytes &before, const char *how) {
  FileBytes now;
  ReadSettingsBytes(&now);
  CHECKF(ProcessRunning(&dialog->process) && IsWindowVisible(dialog->window), "%s ended the dialog", how);
  CHECKF(SameBytes(before, now), "%s changed the settings file", how);
}

void EscapeAndCloseBoxLeaveDialogOpen() {
  BeginCase("EscapeAndCloseBoxLeaveDialogOpenAndWriteNothing");
  Dialog dialog;
  FileBytes before;
  POINT closeBox;
  SeedSettings(seededFile);
  ReadSettingsBytes(&before);
  if (MakeOwnerForeground() && OpenDialog("/c", &dialog) && DialogForeground(dialog) &&
      FocusBecomes(dialog, dialog.ok, "OK")) {
    PressKey(VK_ESCAPE);
    if (InputHandled(dialog)) CheckStillOpenAndUnchanged(&dialog, before, "Escape");
    if (CHECKF(FindCloseBox(dialog.window, &closeBox), "no close box found")) {
      MoveMouseTo(closeBox.x, closeBox.y);
      ClickMouse();
      if (InputHandled(dialog)) CheckStillOpenAndUnchanged(&dialog, before, "a click on the close box");
    }
    PostMessageA(dialog.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (PostedHandled(dialog)) CheckStillOpenAndUnchanged(&dialog, before, "SC_CLOSE");
    PostMessageA(dialog.window, WM_CLOSE, 0, 0);
    if (PostedHandled(dialog)) CheckStillOpenAndUnchanged(&dialog, before, "WM_CLOSE");
    PostMessageA(dialog.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    if (PostedHandled(dialog)) CheckStillOpenAndUnchanged(&dialog, before, "the platform's IDOK");
    PressCancel(&dialog);
    FileBytes after;
    ReadSettingsBytes(&after);
    CHECKF(SameBytes(before, after), "the settings file changed by the end");
  }
  EndProcess(&dialog.process);
  EndCase();
}

// ---- The speed reaches the next saver run -------------------------------------------------------

bool SaveSpeedWithDialog(WORD scrollCode, int speed) {
  Dialog dialog;
  bool saved = false;
  if (MakeOwnerForeground() && OpenDialog("/c", &dialog)) {
    Scroll(dialog, scrollCode);
    if (ScrollPositionBecomes(dialog, speed)) {
      PressOk(&dialog);
      saved = CHECKF(StoredSpeed() == speed, "stored speed %d, expected %d", StoredSpeed(), speed);
    }
  }
  EndProcess(&dialog.process);
  return saved;
}

bool ShotsDiffer(const ScreenShot &a, const ScreenShot &b) {
  return memcmp(a.pixels, b.pixels, static_cast<size_t>(a.width) * a.height * sizeof(DWORD)) != 0;
}

// Runs the full-screen saver and counts how often the screen changed between two
// consecutive captures over the observation time. -1 when the run could not be observed.
int ScreenChangesOfSaverRun() {
  Process saver;
  ScreenShot previous, current;
  int changes = 0;
  if (!StartSaver("/s", &saver)) return -1;
  bool shown = PollUntil(
      [&] {
        HWND window = FindTopWindow(saver.id, SaverClass, SaverTitle);
        return window && IsWindowVisible(window);
      },
      AppearTimeoutMs);
  if (!CHECKF(shown, "no full-screen window") || !CHECK(CaptureScreen(&previous))) {
    EndProcess(&saver);
    return -1;
  }
  DWORD start = GetTickCount();
  while (GetTickCount() - start < ObservationMs) {
    if (!CaptureScreen(&current)) break;
    if (ShotsDiffer(previous, current)) ++changes;
    ReleaseScreenShot(&previous);
    previous = current;
  }
  ReleaseScreenShot(&previous);
  bool ranThrough = CHECKF(ProcessRunning(&saver), "the saver ended during the observation");
  EndProcess(&saver);
  return ranThrough ? changes : -1;
}

void SavedSpeedChangesNextSaverRun() {
  BeginCase("SpeedSavedByDialogSetsIntervalOfNextSaverRun");
  int fast = -1, slow = -1;
  if (SaveSpeedWithDialog(SB_LEFT, FastestSpeed)) fast = ScreenChangesOfSaverRun();
  if (!CaseFailing() && SaveSpeedWithDialog(SB_RIGHT, SlowestSpeed)) slow = ScreenChangesOfSaverRun();
  if (!CaseFailing()) {
    printf("  screen changes in %lu ms: %d at speed 1, %d at speed 10\n", ObservationMs, fast, slow);
    CHECKF(fast >= FastRunMinimumChanges && fast > SpeedRatio * slow,
           "%d screen changes at speed 1 against %d at speed 10", fast, slow);
  }
  EndCase();
}

}  // namespace

int main(int argc, char **argv) {
  BeginSuite("config_dialog", argc, argv);
  TemplateMatchesByteForByte();
  StringTableHoldsOnlyNameAndFile();
  OnlyDialogAndStringResources();
  BeginCase("DriverWindowsCreated");
  CHECK(CreateOwnerWindows());
  if (EndCase()) {
    for (const OpeningRow &row : openingRows) RunOpeningRow(row);
    ControlsAndFocus();
    for (const StoredRow &row : storedRows) RunStoredRow(row);
    OkWritesScrolledValueAndExitsOne();
    ScrollBarArrowStepsByOne();
    CancelLeavesFileByteForByte();
    CancelWithoutFileCreatesNone();
    EscapeAndCloseBoxLeaveDialogOpen();
    SavedSpeedChangesNextSaverRun();
  }
  return EndSuite();
}
