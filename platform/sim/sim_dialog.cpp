// The modal dialog (template 2003 and its controls), the dialog's default
// handling, and scroll bars.
#include "platform/sim/sim_internal.h"
#include "resources/resource_ids.h"

#include <algorithm>
#include <climits>

using namespace sim;

namespace {

struct ControlTemplate {
  int id;
  const char *className;
  const char *text;
  DWORD style;
  int x, y, width, height;  // dialog units
};

struct DialogTemplate {
  int id;
  const char *caption;
  DWORD style;
  int x, y, width, height;
  std::vector<ControlTemplate> controls;
};

// The configuration dialog as the resource script lays it out.
const DialogTemplate ConfigDialog = {
    IDD_CONFIG,
    TEXT_SAVER_NAME,
    0x90C800C0,
    6,
    18,
    160,
    63,
    {
        {IDC_SPEED_GROUP, "Button", "Redraw Speed", 0x50000007, 0, 6, 98, 40},
        {IDC_SPEED_SCROLL, "ScrollBar", "", 0x50000000, 5, 31, 89, 10},
        {IDC_FAST_LABEL, "Static", "Fast", 0x50020000, 6, 21, 20, 8},
        {IDC_SLOW_LABEL, "Static", "Slow", 0x50020000, 75, 21, 20, 8},
        {IDC_CONFIG_OK, "Button", "OK", 0x50010000, 117, 10, 40, 14},
        {IDC_CONFIG_CANCEL, "Button", "Cancel", 0x50010000, 117, 32, 40, 14},
    },
};

// Dialog units of the dialog font, 8-point "MS Shell Dlg" at 96 dpi.
constexpr int BaseUnitX = 6;
constexpr int BaseUnitY = 13;
int PixelsX(int units) { return units * BaseUnitX / 4; }
int PixelsY(int units) { return units * BaseUnitY / 8; }

const DialogTemplate *FindTemplate(HINSTANCE instance, LPCSTR name) {
  if (instance != nullptr && Raw(instance) != InstanceHandle) return nullptr;
  if (!IS_INTRESOURCE(name) || static_cast<int>(Raw(name)) != ConfigDialog.id) return nullptr;
  return &ConfigDialog;
}

HWND CreateDialogWindow(const DialogTemplate &form, HINSTANCE instance, HWND owner, DLGPROC proc) {
  Window dialog;
  dialog.className = "#32770";
  dialog.title = form.caption;
  dialog.style = form.style & ~static_cast<DWORD>(WS_VISIBLE);
  dialog.x = PixelsX(form.x);
  dialog.y = PixelsY(form.y);
  dialog.width = PixelsX(form.width);
  dialog.height = PixelsY(form.height);
  dialog.owner = Raw(owner);
  dialog.instance = instance;
  dialog.isDialog = true;
  dialog.dialogProc = proc;
  const HWND window = CreateWindowRecord(dialog);
  for (const ControlTemplate &control : form.controls) {
    Window child;
    child.className = control.className;
    child.title = control.text;
    child.style = control.style;
    child.x = PixelsX(control.x);
    child.y = PixelsY(control.y);
    child.width = PixelsX(control.width);
    child.height = PixelsY(control.height);
    child.parent = Raw(window);
    child.menu = As<HMENU>(static_cast<uintptr_t>(control.id));
    child.instance = instance;
    if (EqualNoCase(child.className, "ScrollBar")) child.scroll[SB_CTL] = {0, 0, 0};
    CreateWindowRecord(child);
  }
  return window;
}

HWND FirstTabStop(HWND dialog) {
  for (uintptr_t id : W().windowOrder) {
    const Window *child = LiveWindow(id);
    if (child != nullptr && child->parent == Raw(dialog) && (child->style & WS_TABSTOP)) return As<HWND>(id);
  }
  return nullptr;
}

bool DialogOpen(HWND dialog) {
  const Window *window = LiveWindow(dialog);
  return window != nullptr && !window->dialogEnded;
}

// The modal loop: dispatches whatever is queued (for every window of the
// thread) until the dialog is ended. Quit requests are handed back to the
// enclosing loop.
void RunModalLoop(HWND dialog) {
  while (DialogOpen(dialog)) {
    MSG msg;
    if (!TakeMessage(&msg, nullptr, 0, 0, true, true)) {
      throw SimError("dialog " + SimHex(dialog) +
                     " is still open and nothing is left to do: the dialog script must end it with EndDialog");
    }
    CountTaken();
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

INT_PTR RunDialog(const DialogTemplate &form, HINSTANCE instance, HWND owner, DLGPROC proc, LPARAM initParam) {
  const HWND dialog = CreateDialogWindow(form, instance, owner, proc);
  SendSynthetic(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(FirstTabStop(dialog)), initParam);
  if (DialogOpen(dialog) && (form.style & WS_VISIBLE)) ApplyShow(dialog, true);
  const auto script = W().dialogScript;
  if (DialogOpen(dialog) && script) script(dialog);
  RunModalLoop(dialog);
  const Window *ended = LiveWindow(dialog);
  const INT_PTR result = ended != nullptr && ended->dialogEnded ? ended->dialogResult : 0;
  if (ended != nullptr) DestroyWindow(dialog);
  return result;
}

SimScrollInfo *ScrollState(HWND window, int bar) {
  Window *target = LiveWindow(window);
  if (target == nullptr || bar < SB_HORZ || bar > SB_CTL) return nullptr;
  if (bar == SB_CTL && !EqualNoCase(target->className, "ScrollBar")) return nullptr;
  return &target->scroll[bar];
}

void ClampPosition(SimScrollInfo *scroll) { scroll->pos = std::clamp(scroll->pos, scroll->min, scroll->max); }

}  // namespace

// The dialog's own default handling: the dialog procedure first; what it
// leaves (returns FALSE for) gets the platform's handling, where a close
// request becomes the cancel command.
LRESULT sim::DialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  const Window *window = LiveWindow(dialog);
  const DLGPROC proc = window != nullptr ? window->dialogProc : nullptr;
  const INT_PTR handled = proc != nullptr ? proc(dialog, message, wParam, lParam) : FALSE;
  if (handled) return handled;
  switch (message) {
    case WM_INITDIALOG:
      return 0;
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
      return 0;
    default:
      return DefaultHandling(dialog, message, wParam, lParam);
  }
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                               LPARAM initParam) {
  SimEvent e{SimEventKind::DialogBox};
  e.name = SafeString(templateName);
  e.window = owner;
  e.lParam = initParam;
  e.instance = instance;
  const size_t at = Record(e);
  INT_PTR result = 0;
  const DialogTemplate *form = FindTemplate(instance, templateName);
  if (W().failDialog) {
    result = W().failDialogResult;
  } else if (form == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    result = -1;
  } else if (owner != nullptr && LiveWindow(owner) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    result = 0;
  } else {
    result = RunDialog(*form, instance, owner, dialogProc, initParam);
  }
  RecordResult(at, result);
  return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  SimEvent e{SimEventKind::EndDialog};
  e.window = dialog;
  e.value = result;
  const size_t at = Record(e);
  Window *window = LiveWindow(dialog);
  if (window == nullptr || !window->isDialog) return FALSE;
  window->dialogEnded = true;
  window->dialogResult = result;
  RecordResult(at, TRUE);
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  if (LiveWindow(dialog) == nullptr) return nullptr;
  for (uintptr_t handle : W().windowOrder) {
    const Window *child = LiveWindow(handle);
    if (child != nullptr && child->parent == Raw(dialog) && static_cast<int>(Raw(child->menu)) == id) {
      return As<HWND>(handle);
    }
  }
  return nullptr;
}

// A range the platform cannot hold (minimum above maximum, or wider than a
// signed 32-bit span) becomes 0 to 0; the position always stays inside.
BOOL WINAPI SetScrollRange(HWND window, int bar, int minPos, int maxPos, BOOL redraw) {
  SimEvent e{SimEventKind::SetScrollRange};
  e.window = window;
  e.id = static_cast<UINT_PTR>(bar);
  e.min = minPos;
  e.max = maxPos;
  e.flags = static_cast<uint32_t>(redraw);
  const size_t at = Record(e);
  SimScrollInfo *scroll = ScrollState(window, bar);
  if (scroll == nullptr) return FALSE;
  const bool valid = minPos <= maxPos && static_cast<int64_t>(maxPos) - minPos <= INT_MAX;
  scroll->min = valid ? minPos : 0;
  scroll->max = valid ? maxPos : 0;
  ClampPosition(scroll);
  RecordResult(at, TRUE);
  return TRUE;
}

int WINAPI SetScrollPos(HWND window, int bar, int pos, BOOL redraw) {
  SimEvent e{SimEventKind::SetScrollPos};
  e.window = window;
  e.id = static_cast<UINT_PTR>(bar);
  e.value = pos;
  e.flags = static_cast<uint32_t>(redraw);
  const size_t at = Record(e);
  SimScrollInfo *scroll = ScrollState(window, bar);
  if (scroll == nullptr) return 0;
  const int previous = scroll->pos;
  scroll->pos = pos;
  ClampPosition(scroll);
  RecordResult(at, previous);
  return previous;
}

int WINAPI GetScrollPos(HWND window, int bar) {
  const SimScrollInfo *scroll = ScrollState(window, bar);
  return scroll != nullptr ? scroll->pos : 0;
}

BOOL WINAPI GetScrollRange(HWND window, int bar, LPINT minPos, LPINT maxPos) {
  const SimScrollInfo *scroll = ScrollState(window, bar);
  if (scroll == nullptr || minPos == nullptr || maxPos == nullptr) return FALSE;
  *minPos = scroll->min;
  *maxPos = scroll->max;
  return TRUE;
}

SimScrollInfo SimScrollBar(HWND window, int bar) {
  const SimScrollInfo *scroll = ScrollState(window, bar);
  if (scroll == nullptr) throw SimError("SimScrollBar: " + SimHex(window) + " has no such scroll bar");
  return *scroll;
}
