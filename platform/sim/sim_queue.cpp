// The thread's one message queue and its timers. Retrieval order follows the
// reference implementation: posted messages, then the quit request, then
// WM_PAINT for a window that needs painting, then WM_TIMER for a due timer.
#include "platform/sim/sim_internal.h"

#include <algorithm>

namespace sim {

namespace {

constexpr uintptr_t ThreadMessagesOnly = static_cast<uintptr_t>(-1);
constexpr UINT_PTR FirstThreadTimerId = 0x7FFF;

bool InRange(UINT message, UINT first, UINT last) {
  if ((first == 0 && last == 0) || first > last) return true;
  return message >= first && message <= last;
}

// A window filter takes the window's own messages and its children's.
bool MatchesWindow(uintptr_t window, HWND filter) {
  if (filter == nullptr) return true;
  if (Raw(filter) == ThreadMessagesOnly) return window == 0;
  return window == Raw(filter) || IsDescendant(window, Raw(filter));
}

MSG MakeMessage(uintptr_t window, UINT message, WPARAM wParam, LPARAM lParam) {
  return MSG{As<HWND>(window), message, wParam, lParam, Tick(), W().cursorPos};
}

Timer *DueTimer(HWND filter) {
  Timer *due = nullptr;
  for (Timer &timer : W().timers) {
    if (timer.due > W().now || !MatchesWindow(timer.window, filter)) continue;
    if (due == nullptr || timer.due < due->due || (timer.due == due->due && timer.sequence < due->sequence)) {
      due = &timer;
    }
  }
  return due;
}

Timer *NextTimer(HWND filter, UINT first, UINT last) {
  if (!InRange(WM_TIMER, first, last)) return nullptr;
  Timer *next = nullptr;
  for (Timer &timer : W().timers) {
    if (MatchesWindow(timer.window, filter) && (next == nullptr || timer.due < next->due)) next = &timer;
  }
  return next;
}

bool TakePosted(MSG *msg, HWND filter, UINT first, UINT last, bool remove) {
  std::deque<MSG> &posted = W().posted;
  for (auto it = posted.begin(); it != posted.end(); ++it) {
    if (!MatchesWindow(Raw(it->hwnd), filter) || !InRange(it->message, first, last)) continue;
    *msg = *it;
    if (remove) posted.erase(it);
    return true;
  }
  return false;
}

// WM_PAINT stays pending until the window is validated, whatever the caller removes.
bool TakePaint(MSG *msg, HWND filter, UINT first, UINT last) {
  if (!InRange(WM_PAINT, first, last)) return false;
  for (uintptr_t id : W().windowOrder) {
    const Window *window = LiveWindow(id);
    if (window != nullptr && !window->foreign && window->needsPaint && MatchesWindow(id, filter)) {
      *msg = MakeMessage(id, WM_PAINT, 0, 0);
      return true;
    }
  }
  return false;
}

// One WM_TIMER however many periods have passed; taking it starts the next
// period after now.
bool TakeTimer(MSG *msg, HWND filter, UINT first, UINT last, bool remove) {
  if (!InRange(WM_TIMER, first, last)) return false;
  Timer *timer = DueTimer(filter);
  if (timer == nullptr) return false;
  *msg = MakeMessage(timer->window, WM_TIMER, timer->id, reinterpret_cast<LPARAM>(timer->proc));
  if (remove) {
    while (timer->due <= W().now) timer->due += timer->period;
  }
  return true;
}

bool FilterNamesNothing(HWND filter) {
  return filter != nullptr && Raw(filter) != ThreadMessagesOnly && LiveWindow(filter) == nullptr;
}

// Nothing is there: the test's idle hook may bring something; otherwise time
// passes to the next timer. With neither, the real call would wait forever.
void WaitForMessage(HWND filter, UINT first, UINT last) {
  const auto hook = W().idleHook;
  if (hook) {
    hook();
    MSG probe;
    if (TakeMessage(&probe, filter, first, last, false, true)) return;
  }
  if (const Timer *next = NextTimer(filter, first, last)) {
    W().now = std::max(W().now, next->due);
    return;
  }
  throw SimError(hook ? "GetMessageA would wait forever: nothing is queued, no timer runs, and the idle hook added nothing"
                      : "GetMessageA would wait forever: nothing is queued and no timer runs (install an idle hook?)");
}

// Messages other threads sent wait for this thread to look at its queue.
void DeliverIncomingSends() {
  while (!W().incomingSends.empty()) {
    const MSG sent = W().incomingSends.front();
    W().incomingSends.pop_front();
    SendSynthetic(sent.hwnd, sent.message, sent.wParam, sent.lParam);
  }
}

}  // namespace

bool TakeMessage(MSG *msg, HWND filter, UINT first, UINT last, bool remove, bool includeQuit) {
  DeliverIncomingSends();
  if (TakePosted(msg, filter, first, last, remove)) return true;
  if (includeQuit && W().quitPending) {
    *msg = MakeMessage(0, WM_QUIT, static_cast<WPARAM>(W().quitCode), 0);
    if (remove) W().quitPending = false;
    return true;
  }
  return TakePaint(msg, filter, first, last) || TakeTimer(msg, filter, first, last, remove);
}

void CountTaken() {
  if (++W().taken > W().budget) {
    throw SimError("message budget of " + std::to_string(W().budget) +
                   " exhausted: the loop never ended (raise it with SimSetMessageBudget if meant)");
  }
}

void ForgetWindowMessages(uintptr_t window) {
  std::deque<MSG> &posted = W().posted;
  posted.erase(std::remove_if(posted.begin(), posted.end(), [window](const MSG &m) { return Raw(m.hwnd) == window; }),
               posted.end());
  std::vector<Timer> &timers = W().timers;
  timers.erase(std::remove_if(timers.begin(), timers.end(), [window](const Timer &t) { return t.window == window; }),
               timers.end());
}

}  // namespace sim

using namespace sim;

// ---- Posting and retrieving ---------------------------------------------------------------
// A message posted to another process's window goes to that process's queue,
// which the test reads with SimForeignPosts.
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SimEvent e{SimEventKind::PostMessage};
  e.window = window;
  e.message = message;
  e.wParam = wParam;
  e.lParam = lParam;
  const size_t at = Record(e);
  const MSG msg = MakeMessage(Raw(window), message, wParam, lParam);
  if (window == nullptr) {
    W().posted.push_back(msg);
  } else if (Window *target = LiveWindow(window)) {
    (target->foreign ? target->foreignPosts.push_back(msg) : W().posted.push_back(msg));
  } else {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  RecordResult(at, TRUE);
  return TRUE;
}

VOID WINAPI PostQuitMessage(int exitCode) {
  SimEvent e{SimEventKind::PostQuitMessage};
  e.value = exitCode;
  Record(e);
  W().quitPending = true;
  W().quitCode = exitCode;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
  if (msg == nullptr) return -1;
  for (;;) {
    if (FilterNamesNothing(window)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return -1;
    }
    if (TakeMessage(msg, window, filterMin, filterMax, true, true)) {
      CountTaken();
      return msg->message != WM_QUIT;
    }
    WaitForMessage(window, filterMin, filterMax);
  }
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  SimEvent e{SimEventKind::PeekMessage};
  e.window = window;
  e.min = filterMin;
  e.max = filterMax;
  e.flags = removeFlags;
  const size_t at = Record(e);
  const bool remove = (removeFlags & PM_REMOVE) != 0;
  const bool taken = msg != nullptr && !FilterNamesNothing(window) &&
                     TakeMessage(msg, window, filterMin, filterMax, remove, true);
  if (!taken) return FALSE;
  if (SimEvent *event = Recorded(at)) {
    event->parent = msg->hwnd;
    event->message = msg->message;
    event->wParam = msg->wParam;
    event->lParam = msg->lParam;
    event->result = TRUE;
  }
  if (remove) CountTaken();
  return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG *msg) {
  if (msg == nullptr) return FALSE;
  switch (msg->message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
      return TRUE;
    default:
      return FALSE;
  }
}

// A WM_TIMER that carries a procedure goes to it, but only when that procedure
// really belongs to a timer of the window.
LRESULT WINAPI DispatchMessageA(const MSG *msg) {
  if (msg == nullptr) return 0;
  SimEvent e{SimEventKind::DispatchMessage};
  e.window = msg->hwnd;
  e.message = msg->message;
  e.wParam = msg->wParam;
  e.lParam = msg->lParam;
  const size_t at = Record(e);
  LRESULT result = 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    for (const Timer &timer : W().timers) {
      if (timer.window == Raw(msg->hwnd) && timer.id == msg->wParam &&
          reinterpret_cast<LPARAM>(timer.proc) == msg->lParam) {
        const TIMERPROC proc = timer.proc;  // the procedure may change the timers
        proc(msg->hwnd, WM_TIMER, msg->wParam, Tick());
        break;
      }
    }
  } else if (msg->hwnd != nullptr) {
    result = CallWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  }
  RecordResult(at, result);
  return result;
}

// ---- Timers ------------------------------------------------------------------------------------
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
  SimEvent e{SimEventKind::SetTimer};
  e.window = window;
  e.id = id;
  e.value = elapse;
  const size_t at = Record(e);
  World &w = W();
  if (w.failSetTimer || (window != nullptr && LiveWindow(window) == nullptr)) return 0;
  if (window == nullptr && id == 0) id = FirstThreadTimerId + w.timerSequence;
  const UINT period = std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  auto existing = std::find_if(w.timers.begin(), w.timers.end(),
                               [&](const Timer &t) { return t.window == Raw(window) && t.id == id; });
  const Timer timer{Raw(window), id, elapse, period, w.now + period, timerProc, w.timerSequence++};
  if (existing != w.timers.end()) {
    *existing = timer;
  } else {
    w.timers.push_back(timer);
  }
  const UINT_PTR result = id != 0 ? id : 1;
  RecordResult(at, static_cast<INT_PTR>(result));
  return result;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  SimEvent e{SimEventKind::KillTimer};
  e.window = window;
  e.id = id;
  const size_t at = Record(e);
  std::vector<Timer> &timers = W().timers;
  auto found = std::find_if(timers.begin(), timers.end(),
                            [&](const Timer &t) { return t.window == Raw(window) && t.id == id; });
  if (found == timers.end()) return FALSE;
  timers.erase(found);
  RecordResult(at, TRUE);
  return TRUE;
}

// ---- Test controls -----------------------------------------------------------------------------
std::vector<MSG> SimQueuedMessages() { return std::vector<MSG>(W().posted.begin(), W().posted.end()); }

bool SimQuitPending() { return W().quitPending; }

void SimSendFromOtherThread(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  W().incomingSends.push_back(MakeMessage(Raw(window), message, wParam, lParam));
}

int SimPumpMessages() {
  int count = 0;
  MSG msg;
  while (TakeMessage(&msg, nullptr, 0, 0, true, false)) {
    CountTaken();
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++count;
  }
  return count;
}

std::vector<SimTimerInfo> SimTimers() {
  std::vector<SimTimerInfo> timers;
  for (const Timer &t : W().timers) {
    timers.push_back({As<HWND>(t.window), t.id, t.requested, t.period, static_cast<DWORD>(W().tickBase + t.due)});
  }
  return timers;
}
