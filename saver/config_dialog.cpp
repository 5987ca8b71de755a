#include "resources/resource_ids.h"
#include "saver/saver_api.h"
#include "saver/settings.h"

namespace {

const char SaveFailedText[] = "The redraw speed could not be saved.\n\n";
constexpr DWORD ReasonSize = 256;

// Keeps the edited speed inside the scroll bar's range and shows it there.
BOOL ShowClampedSpeed(HWND scrollBar) {
  if (RedrawSpeed <= MinRedrawSpeed) RedrawSpeed = MinRedrawSpeed;
  if (RedrawSpeed >= MaxRedrawSpeed) RedrawSpeed = MaxRedrawSpeed;
  SetScrollPos(scrollBar, SB_CTL, RedrawSpeed, TRUE);
  return FALSE;
}

void InitConfigDialog(HWND dialog) {
  LocateSettings();
  ReadRedrawSpeed();
  if (RedrawSpeed > MaxRedrawSpeed || RedrawSpeed < MinRedrawSpeed) RedrawSpeed = DefaultRedrawSpeed;
  const HWND scrollBar = GetDlgItem(dialog, IDC_SPEED_SCROLL);
  SetScrollRange(scrollBar, SB_CTL, MinRedrawSpeed, MaxRedrawSpeed, FALSE);
  SetScrollPos(scrollBar, SB_CTL, RedrawSpeed, TRUE);
}

// A page is one step. The speed follows the thumb only when it is released;
// dragging and the closing end-of-scroll change nothing.
BOOL ApplyScroll(HWND scrollBar, WORD code, WORD thumbPosition) {
  switch (code) {
    case SB_LINELEFT:
    case SB_PAGELEFT:
      --RedrawSpeed;
      break;
    case SB_LINERIGHT:
    case SB_PAGERIGHT:
      ++RedrawSpeed;
      break;
    case SB_THUMBPOSITION:
      RedrawSpeed = thumbPosition;
      break;
    case SB_THUMBTRACK:
    case SB_ENDSCROLL:
      return TRUE;
    case SB_LEFT:
      RedrawSpeed = MinRedrawSpeed;
      break;
    case SB_RIGHT:
      RedrawSpeed = MaxRedrawSpeed;
      break;
    default:
      break;
  }
  return ShowClampedSpeed(scrollBar);
}

// A user who may not write the settings file must learn that the speed was lost,
// and keeps the dialog to try again or cancel.
void ReportSaveFailure(HWND dialog, DWORD error) {
  char reason[ReasonSize];
  if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason, ReasonSize,
                      nullptr)) {
    reason[0] = '\0';
  }
  char text[sizeof SaveFailedText + ReasonSize];
  lstrcpyA(text, SaveFailedText);
  lstrcatA(text, reason);
  MessageBoxA(dialog, text, saverSettings.sectionName, MB_OK | MB_ICONERROR);
}

// Only the saver's own buttons end the dialog; Escape and the close box arrive
// as the platform's cancel id, which is left unhandled, so the dialog stays.
BOOL ApplyCommand(HWND dialog, WORD id) {
  switch (id) {
    case IDC_CONFIG_OK:
      if (WriteRedrawSpeed()) {
        EndDialog(dialog, TRUE);
      } else {
        ReportSaveFailure(dialog, GetLastError());
      }
      return TRUE;
    case IDC_CONFIG_CANCEL:
      EndDialog(dialog, FALSE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int PrepareConfigDialog(HINSTANCE) { return 1; }

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitConfigDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      return ApplyCommand(dialog, LOWORD(wParam));
    case WM_HSCROLL:
      return ApplyScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam), HIWORD(wParam));
    default:
      return FALSE;
  }
}
