// The journal of platform calls and its one-line text form.
#include "platform/sim/sim_internal.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace sim {

size_t Record(SimEvent event) {
  W().journal.push_back(std::move(event));
  return W().journalBase + W().journal.size() - 1;
}

SimEvent *Recorded(size_t index) {
  if (index < W().journalBase || index - W().journalBase >= W().journal.size()) return nullptr;
  return &W().journal[index - W().journalBase];
}

void RecordResult(size_t index, INT_PTR result) {
  if (SimEvent *event = Recorded(index)) event->result = result;
}

}  // namespace sim

using namespace sim;

namespace {

struct MessageName {
  UINT message;
  const char *name;
};

constexpr MessageName MessageNames[] = {
    {WM_NULL, "WM_NULL"},
    {WM_CREATE, "WM_CREATE"},
    {WM_DESTROY, "WM_DESTROY"},
    {WM_MOVE, "WM_MOVE"},
    {WM_SIZE, "WM_SIZE"},
    {WM_ACTIVATE, "WM_ACTIVATE"},
    {WM_SETFOCUS, "WM_SETFOCUS"},
    {WM_KILLFOCUS, "WM_KILLFOCUS"},
    {WM_SETTEXT, "WM_SETTEXT"},
    {WM_GETTEXT, "WM_GETTEXT"},
    {WM_GETTEXTLENGTH, "WM_GETTEXTLENGTH"},
    {WM_PAINT, "WM_PAINT"},
    {WM_CLOSE, "WM_CLOSE"},
    {WM_QUIT, "WM_QUIT"},
    {WM_ERASEBKGND, "WM_ERASEBKGND"},
    {WM_SHOWWINDOW, "WM_SHOWWINDOW"},
    {WM_ACTIVATEAPP, "WM_ACTIVATEAPP"},
    {WM_SETCURSOR, "WM_SETCURSOR"},
    {WM_SETFONT, "WM_SETFONT"},
    {WM_POWER, "WM_POWER"},
    {WM_HELP, "WM_HELP"},
    {WM_CONTEXTMENU, "WM_CONTEXTMENU"},
    {WM_NCCREATE, "WM_NCCREATE"},
    {WM_NCDESTROY, "WM_NCDESTROY"},
    {WM_KEYDOWN, "WM_KEYDOWN"},
    {WM_KEYUP, "WM_KEYUP"},
    {WM_CHAR, "WM_CHAR"},
    {WM_SYSKEYDOWN, "WM_SYSKEYDOWN"},
    {WM_SYSKEYUP, "WM_SYSKEYUP"},
    {WM_INITDIALOG, "WM_INITDIALOG"},
    {WM_COMMAND, "WM_COMMAND"},
    {WM_SYSCOMMAND, "WM_SYSCOMMAND"},
    {WM_TIMER, "WM_TIMER"},
    {WM_HSCROLL, "WM_HSCROLL"},
    {WM_VSCROLL, "WM_VSCROLL"},
    {WM_MOUSEMOVE, "WM_MOUSEMOVE"},
    {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"},
    {WM_LBUTTONUP, "WM_LBUTTONUP"},
    {WM_LBUTTONDBLCLK, "WM_LBUTTONDBLCLK"},
    {WM_RBUTTONDOWN, "WM_RBUTTONDOWN"},
    {WM_RBUTTONUP, "WM_RBUTTONUP"},
    {WM_MBUTTONDOWN, "WM_MBUTTONDOWN"},
    {WM_MBUTTONUP, "WM_MBUTTONUP"},
    {WM_MOUSEWHEEL, "WM_MOUSEWHEEL"},
    {WM_POWERBROADCAST, "WM_POWERBROADCAST"},
    {WM_APP, "WM_APP"},
};

const char *KindName(SimEventKind kind) {
  switch (kind) {
    case SimEventKind::GetDC: return "GetDC";
    case SimEventKind::ReleaseDC: return "ReleaseDC";
    case SimEventKind::CreatePen: return "CreatePen";
    case SimEventKind::SelectObject: return "SelectObject";
    case SimEventKind::DeleteObject: return "DeleteObject";
    case SimEventKind::Polyline: return "Polyline";
    case SimEventKind::FillRect: return "FillRect";
    case SimEventKind::SetCursor: return "SetCursor";
    case SimEventKind::PostMessage: return "PostMessage";
    case SimEventKind::PostQuitMessage: return "PostQuitMessage";
    case SimEventKind::SendMessage: return "SendMessage";
    case SimEventKind::DispatchMessage: return "DispatchMessage";
    case SimEventKind::PeekMessage: return "PeekMessage";
    case SimEventKind::SetTimer: return "SetTimer";
    case SimEventKind::KillTimer: return "KillTimer";
    case SimEventKind::Sleep: return "Sleep";
    case SimEventKind::SetForegroundWindow: return "SetForegroundWindow";
    case SimEventKind::SystemParametersInfo: return "SystemParametersInfo";
    case SimEventKind::RegisterClass: return "RegisterClass";
    case SimEventKind::CreateWindow: return "CreateWindow";
    case SimEventKind::DestroyWindow: return "DestroyWindow";
    case SimEventKind::ShowWindow: return "ShowWindow";
    case SimEventKind::DialogBox: return "DialogBox";
    case SimEventKind::EndDialog: return "EndDialog";
    case SimEventKind::SetScrollRange: return "SetScrollRange";
    case SimEventKind::SetScrollPos: return "SetScrollPos";
    case SimEventKind::LoadLibrary: return "LoadLibrary";
    case SimEventKind::FreeLibrary: return "FreeLibrary";
    case SimEventKind::RegOpenKey: return "RegOpenKey";
    case SimEventKind::RegQueryValue: return "RegQueryValue";
    case SimEventKind::RegCloseKey: return "RegCloseKey";
    case SimEventKind::WriteProfileString: return "WriteProfileString";
    case SimEventKind::SetUnhandledExceptionFilter: return "SetUnhandledExceptionFilter";
    case SimEventKind::UnhandledExceptionFilter: return "UnhandledExceptionFilter";
    case SimEventKind::RaiseException: return "RaiseException";
    case SimEventKind::ExitProcess: return "ExitProcess";
    case SimEventKind::DefWindowProc: return "DefWindowProc";
    case SimEventKind::RegisterWindowMessage: return "RegisterWindowMessage";
  }
  return "?";
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string Color(COLORREF color) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(color));
  return text;
}

std::string Rect(const RECT &r) {
  std::ostringstream out;
  out << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
  return out.str();
}

std::string MessageText(const SimEvent &e) {
  std::ostringstream out;
  out << "window=" << SimHex(e.window) << " " << SimMessageName(e.message) << " " << e.wParam << " " << e.lParam;
  return out.str();
}

std::string Details(const SimEvent &e) {
  std::ostringstream out;
  switch (e.kind) {
    case SimEventKind::GetDC:
      out << "window=" << SimHex(e.window) << " -> " << SimHex(e.dc);
      break;
    case SimEventKind::ReleaseDC:
      out << "window=" << SimHex(e.window) << " dc=" << SimHex(e.dc) << " -> " << e.result;
      break;
    case SimEventKind::CreatePen:
      out << "style=" << e.penStyle << " width=" << e.penWidth << " color=" << Color(e.color) << " -> "
          << SimHex(e.object);
      break;
    case SimEventKind::SelectObject:
      out << "dc=" << SimHex(e.dc) << " object=" << SimHex(e.object) << " -> " << SimHex(e.previous);
      break;
    case SimEventKind::DeleteObject:
      out << "object=" << SimHex(e.object) << " -> " << e.result << e.extra;
      break;
    case SimEventKind::Polyline:
      out << "dc=" << SimHex(e.dc) << " color=" << Color(e.color) << " points=";
      for (const POINT &p : e.points) out << "(" << p.x << "," << p.y << ")";
      break;
    case SimEventKind::FillRect:
      out << "dc=" << SimHex(e.dc) << " rect=" << Rect(e.rect) << " brush=" << SimHex(e.object);
      break;
    case SimEventKind::SetCursor:
      out << SimHex(e.cursor);
      break;
    case SimEventKind::PostMessage:
    case SimEventKind::DispatchMessage:
      out << MessageText(e) << " -> " << e.result;
      break;
    case SimEventKind::SendMessage:
      out << MessageText(e) << (e.synthetic ? " (platform)" : "") << " -> " << e.result;
      break;
    case SimEventKind::DefWindowProc:
      out << MessageText(e) << " -> " << e.result;
      break;
    case SimEventKind::RegisterWindowMessage:
      out << e.name << " -> " << Hex(static_cast<uint64_t>(e.result));
      break;
    case SimEventKind::PostQuitMessage:
    case SimEventKind::Sleep:
    case SimEventKind::ExitProcess:
      out << e.value;
      break;
    case SimEventKind::PeekMessage:
      out << "filter=" << SimHex(e.window) << " range=" << SimMessageName(static_cast<UINT>(e.min)) << ".."
          << SimMessageName(static_cast<UINT>(e.max)) << " flags=" << e.flags << " -> ";
      if (e.result) {
        out << SimMessageName(e.message) << " window=" << SimHex(e.parent) << " " << e.wParam;
      } else {
        out << "none";
      }
      break;
    case SimEventKind::SetTimer:
      out << "window=" << SimHex(e.window) << " id=" << e.id << " interval=" << e.value << " -> " << e.result;
      break;
    case SimEventKind::KillTimer:
      out << "window=" << SimHex(e.window) << " id=" << e.id << " -> " << e.result;
      break;
    case SimEventKind::SetForegroundWindow:
    case SimEventKind::DestroyWindow:
      out << SimHex(e.window) << " -> " << e.result;
      break;
    case SimEventKind::ShowWindow:
      out << SimHex(e.window) << " command=" << e.value << " -> " << e.result;
      break;
    case SimEventKind::SystemParametersInfo:
      out << "action=" << e.id << " uiParam=" << e.value << " winIni=" << e.flags << " -> " << e.result;
      break;
    case SimEventKind::RegisterClass:
      out << "class=" << e.name << " style=" << Hex(e.flags) << " proc=" << (e.proc ? "set" : "none")
          << " extra=" << e.min << "/" << e.max << " instance=" << SimHex(e.instance) << " icon=" << SimHex(e.icon)
          << " cursor=" << SimHex(e.cursor) << " brush=" << SimHex(e.brush) << " menu=" << e.text << " -> "
          << Hex(static_cast<uint64_t>(e.result));
      break;
    case SimEventKind::CreateWindow:
      out << "exStyle=" << Hex(static_cast<uint64_t>(e.max)) << " class=" << e.name << " title=" << e.text
          << " style=" << Hex(e.flags) << " x=" << e.rect.left << " y=" << e.rect.top
          << " width=" << (e.rect.right - e.rect.left) << " height=" << (e.rect.bottom - e.rect.top)
          << " parent=" << SimHex(e.parent) << " menu=" << SimHex(e.menu) << " instance=" << SimHex(e.instance)
          << " param=" << SimHex(e.param) << " -> " << SimHex(As<void *>(static_cast<uintptr_t>(e.result)));
      break;
    case SimEventKind::DialogBox:
      out << "template=" << e.name << " owner=" << SimHex(e.window) << " param=" << e.lParam << " -> " << e.result;
      break;
    case SimEventKind::EndDialog:
      out << SimHex(e.window) << " result=" << e.value << " -> " << e.result;
      break;
    case SimEventKind::SetScrollRange:
      out << "window=" << SimHex(e.window) << " bar=" << e.id << " min=" << e.min << " max=" << e.max
          << " redraw=" << e.flags << " -> " << e.result;
      break;
    case SimEventKind::SetScrollPos:
      out << "window=" << SimHex(e.window) << " bar=" << e.id << " pos=" << e.value << " redraw=" << e.flags
          << " -> " << e.result;
      break;
    case SimEventKind::LoadLibrary:
      out << e.name << " -> " << SimHex(As<void *>(static_cast<uintptr_t>(e.result)));
      break;
    case SimEventKind::FreeLibrary:
      out << SimHex(e.object) << " (" << e.name << ") -> " << e.result;
      break;
    case SimEventKind::RegOpenKey:
      out << "root=" << SimHex(e.object) << " subKey=" << e.name << " -> " << e.result
          << " key=" << SimHex(e.previous);
      break;
    case SimEventKind::RegQueryValue:
      out << "key=" << SimHex(e.object) << " value=" << e.text << " size=" << e.value << " -> " << e.result;
      break;
    case SimEventKind::RegCloseKey:
      out << "key=" << SimHex(e.object) << " -> " << e.result;
      break;
    case SimEventKind::WriteProfileString:
      out << "section=" << e.name << " key=" << e.text << " value=" << e.extra << " file=" << e.file
          << " -> " << e.result;
      break;
    case SimEventKind::SetUnhandledExceptionFilter:
      out << (e.proc || e.param ? "set" : "none");
      break;
    case SimEventKind::UnhandledExceptionFilter:
      out << "code=" << Hex(static_cast<uint32_t>(e.value)) << " -> " << e.result;
      break;
    case SimEventKind::RaiseException:
      out << "code=" << Hex(static_cast<uint32_t>(e.value));
      break;
  }
  return out.str();
}

}  // namespace

std::string SimEvent::Text() const { return std::string(KindName(kind)) + " " + Details(*this); }

std::string SimHex(const void *handle) { return Hex(Raw(handle)); }

std::string SimMessageName(UINT message) {
  for (const MessageName &entry : MessageNames) {
    if (entry.message == message) return entry.name;
  }
  return Hex(message);
}

const std::vector<SimEvent> &SimJournal() { return W().journal; }

std::vector<SimEvent> SimJournalOf(std::initializer_list<SimEventKind> kinds) {
  std::vector<SimEvent> chosen;
  for (const SimEvent &e : W().journal) {
    if (kinds.size() == 0 || std::find(kinds.begin(), kinds.end(), e.kind) != kinds.end()) chosen.push_back(e);
  }
  return chosen;
}

std::string SimJournalText(std::initializer_list<SimEventKind> kinds) {
  std::string text;
  for (const SimEvent &e : SimJournalOf(kinds)) {
    if (!text.empty()) text += "\n";
    text += e.Text();
  }
  return text;
}

size_t SimCount(SimEventKind kind) {
  return static_cast<size_t>(
      std::count_if(W().journal.begin(), W().journal.end(), [kind](const SimEvent &e) { return e.kind == kind; }));
}

void SimClearJournal() {
  W().journalBase += W().journal.size();
  W().journal.clear();
}
