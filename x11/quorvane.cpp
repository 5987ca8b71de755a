// Quorvane's figure as an X11 program: into a window of its own, into the window
// XScreenSaver hands over, or onto the root window.
#include "saver/animation_model.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr int BadInputStatus = 1;
constexpr int MinSpeed = 1;
constexpr int MaxSpeed = 10;
constexpr int DefaultSpeed = 5;
// The shortest interval a Windows timer gives; the figure keeps the same pace here.
constexpr int64_t MinIntervalMs = 10;
// Ticks that fall due within one frame are drawn together: 25 wakeups a second look the
// same as 100 and cost the program and the X server far less.
constexpr int64_t FrameMs = 40;
// Further behind than this (a stopped process, a busy machine), the backlog is dropped.
constexpr int64_t MaxLateMs = 100;
constexpr int OwnWidth = 640;
constexpr int OwnHeight = 480;
constexpr const char *Title = "Quorvane";
constexpr const char *Usage = "usage: quorvane [--root | --window-id ID] [--speed 1-10] | --help | --version";
constexpr long EVENT_MASK = ExposureMask | StructureNotifyMask;

struct Options {
  bool root = false;
  const char *windowId = nullptr;  // as given, checked once the display is open
  int speed = DefaultSpeed;
};

// A pixel the server has given for one of the model's colours.
struct KnownColor {
  uint32_t color = 0;
  unsigned long pixel = 0;
};

struct Target {
  Display *display = nullptr;
  Window window = 0;
  bool ownWindow = false;
  GC gc = nullptr;
  Atom deleteWindow = 0;
  Colormap colormap = 0;
  int colormapSize = 0;
  int width = 0;
  int height = 0;
};

Options options;
Target target;
// The wheel has HueWheelLength colours; each is asked of the server once and kept for the run.
KnownColor knownColors[HueWheelLength];
int knownCount = 0;
volatile sig_atomic_t stopRequested = 0;
bool windowGone = false;
bool probeFailed = false;

// Every refusal names the value it refuses.
[[noreturn]] void Refuse(const char *what, const char *value) {
  std::fprintf(stderr, "quorvane: %s \"%s\"\n%s\n", what, value, Usage);
  std::exit(BadInputStatus);
}

// Only digits of the base count: a sign, a blank or a trailing letter makes it no number.
bool ParseNumber(const char *text, unsigned base, uint64_t limit, uint64_t &value) {
  static const char Digits[] = "0123456789abcdef";
  value = 0;
  if (*text == '\0') return false;
  for (; *text; ++text) {
    const char *digit = std::strchr(Digits, std::tolower(static_cast<unsigned char>(*text)));
    if (!digit || static_cast<unsigned>(digit - Digits) >= base) return false;
    value = value * base + static_cast<uint64_t>(digit - Digits);
    if (value > limit) return false;
  }
  return true;
}

bool ParseWindowId(const char *text, Window &window) {
  constexpr uint64_t LargestId = 0xFFFFFFFF;
  uint64_t value = 0;
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (!ParseNumber(hex ? text + 2 : text, hex ? 16 : 10, LargestId, value)) return false;
  window = static_cast<Window>(value);
  return true;
}

// "-speed" and "--speed" are the same option.
bool IsOption(const char *arg, const char *name) {
  if (arg[0] != '-') return false;
  if (arg[1] == '-') ++arg;
  return std::strcmp(arg + 1, name) == 0;
}

const char *OptionValue(int argc, char **argv, int &i) {
  if (i + 1 >= argc) Refuse("this option needs a value:", argv[i]);
  return argv[++i];
}

void ParseCommandLine(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (IsOption(argv[i], "root")) {
      options.root = true;
    } else if (IsOption(argv[i], "window-id")) {
      options.windowId = OptionValue(argc, argv, i);
    } else if (IsOption(argv[i], "speed")) {
      const char *text = OptionValue(argc, argv, i);
      uint64_t speed = 0;
      if (!ParseNumber(text, 10, MaxSpeed, speed) || speed < MinSpeed)
        Refuse("the speed must be a whole number from 1 to 10, not", text);
      options.speed = static_cast<int>(speed);
    } else if (IsOption(argv[i], "help") || IsOption(argv[i], "version")) {
      std::printf("%s\n", IsOption(argv[i], "help") ? Usage : "quorvane " QV_VERSION);
      std::exit(0);
    } else {
      Refuse("unknown option", argv[i]);
    }
  }
}

// The same interval the Windows saver asks its timer for, and that timer's floor.
int64_t IntervalMs(int speed) {
  const int64_t interval = RedrawInterval(speed);
  return interval < MinIntervalMs ? MinIntervalMs : interval;
}

int RecordProbeError(Display *, XErrorEvent *) {
  probeFailed = true;
  return 0;
}

// A window id from outside may name nothing; ask under an error handler that only notes it.
bool ReadAttributes(Window window, XWindowAttributes &attributes) {
  XSync(target.display, False);
  probeFailed = false;
  const auto previous = XSetErrorHandler(RecordProbeError);
  const Status status = XGetWindowAttributes(target.display, window, &attributes);
  XSync(target.display, False);
  XSetErrorHandler(previous);
  return status != 0 && !probeFailed;
}

// Once drawing, an error on our window means it has gone; anything else is not fatal.
int NoteWindowError(Display *, XErrorEvent *error) {
  if (error->resourceid == target.window) windowGone = true;
  return 0;
}

// The connection is gone: nothing is left on the server to free.
int EndOnLostDisplay(Display *) { std::_Exit(0); }

// A component of 0xFF is full strength, as in a colour name: 0xFFFF.
constexpr unsigned short FullScale = 257;

long Squared(long difference) { return difference * difference; }

// A full colormap has no cell left for a new colour: the nearest one it holds will do.
unsigned long NearestCell(const XColor &wanted) {
  std::vector<XColor> cells(target.colormapSize);
  for (int i = 0; i < target.colormapSize; ++i) cells[i].pixel = i;
  XQueryColors(target.display, target.colormap, cells.data(), target.colormapSize);
  unsigned long nearest = 0;
  long nearestDistance = LONG_MAX;
  for (const XColor &cell : cells) {
    const long distance =
        Squared(cell.red - wanted.red) + Squared(cell.green - wanted.green) + Squared(cell.blue - wanted.blue);
    if (distance >= nearestDistance) continue;
    nearest = cell.pixel;
    nearestDistance = distance;
  }
  return nearest;
}

// The server decides which pixel a colour is: it rounds each component to its nearest
// table entry, which cutting off low bits would not. The model's colours are 0x00BBGGRR.
unsigned long ServerPixel(uint32_t color) {
  XColor wanted = {};
  wanted.red = (color & 0xFF) * FullScale;
  wanted.green = (color >> 8 & 0xFF) * FullScale;
  wanted.blue = (color >> 16 & 0xFF) * FullScale;
  if (XAllocColor(target.display, target.colormap, &wanted)) return wanted.pixel;
  return NearestCell(wanted);
}

// The cells taken go with the connection: nothing to free at the end.
unsigned long PixelOf(uint32_t color) {
  for (int i = 0; i < knownCount; ++i)
    if (knownColors[i].color == color) return knownColors[i].pixel;
  const unsigned long pixel = ServerPixel(color);
  if (knownCount < HueWheelLength) knownColors[knownCount++] = {color, pixel};
  return pixel;
}

void UseColormap(Colormap colormap, Visual *visual) {
  target.colormap = colormap;
  target.colormapSize = visual->map_entries;
}

void UseForeignWindow(Window window, const char *text) {
  XWindowAttributes attributes;
  if (!ReadAttributes(window, attributes)) Refuse("no such window:", text);
  target.window = window;
  target.width = attributes.width;
  target.height = attributes.height;
  UseColormap(attributes.colormap, attributes.visual);
  XSelectInput(target.display, window, EVENT_MASK);
}

void UseOwnWindow() {
  Display *display = target.display;
  const int screen = DefaultScreen(display);
  const unsigned long black = BlackPixel(display, screen);
  target.window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, OwnWidth, OwnHeight, 0, black, black);
  target.ownWindow = true;
  target.width = OwnWidth;
  target.height = OwnHeight;
  UseColormap(DefaultColormap(display, screen), DefaultVisual(display, screen));
  XStoreName(display, target.window, Title);
  target.deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, target.window, &target.deleteWindow, 1);
  XSelectInput(display, target.window, EVENT_MASK);
  XMapWindow(display, target.window);
}

// XScreenSaver names its own window in the environment; an empty value names none.
const char *HandedOverWindow() {
  const char *text = std::getenv("XSCREENSAVER_WINDOW");
  return text && *text ? text : nullptr;
}

void ChooseWindow() {
  const char *text = options.windowId ? options.windowId : HandedOverWindow();
  if (!text && options.root) {
    const Window root = DefaultRootWindow(target.display);
    UseForeignWindow(root, "root");
    return;
  }
  if (!text) {
    UseOwnWindow();
    return;
  }
  Window window = 0;
  if (!ParseWindowId(text, window)) Refuse("not a window id:", text);
  UseForeignWindow(window, text);
}

void ClearToBlack() {
  XSetForeground(target.display, target.gc, BlackPixel(target.display, DefaultScreen(target.display)));
  XFillRectangle(target.display, target.window, target.gc, 0, 0, target.width, target.height);
}

void Tick() {
  const Frame frame = AdvanceFrame();
  XSetForeground(target.display, target.gc, PixelOf(frame.color));
  XDrawLine(target.display, target.window, target.gc, frame.from.x, frame.from.y, frame.to.x, frame.to.y);
  if (frame.clearAfter) ClearToBlack();
}

// Every tick due is drawn, so the long-run pace stays one line per interval; a wakeup
// far behind draws one, as a Windows timer does. One flush sends them all.
void DrawDueTicks(int64_t now, int64_t interval, int64_t &due) {
  if (now - due > MaxLateMs) due = now;
  for (; due <= now; due += interval) Tick();
  XFlush(target.display);
}

void Resize(int width, int height) {
  target.width = width;
  target.height = height;
  SetClientSize(width, height);
}

void HandleEvent(const XEvent &event) {
  switch (event.type) {
    case Expose:
      if (event.xexpose.count == 0) ClearToBlack();
      break;
    case ConfigureNotify:
      Resize(event.xconfigure.width, event.xconfigure.height);
      break;
    case DestroyNotify:
      if (event.xdestroywindow.window == target.window) windowGone = true;
      break;
    case ClientMessage:
      if (static_cast<Atom>(event.xclient.data.l[0]) == target.deleteWindow && target.ownWindow) stopRequested = 1;
      break;
  }
}

void DrainEvents() {
  while (XPending(target.display) > 0) {
    XEvent event;
    XNextEvent(target.display, &event);
    HandleEvent(event);
  }
}

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void RequestStop(int) { stopRequested = 1; }

// The two signals stay blocked except inside ppoll, so one cannot slip in between
// the check of the flag and the wait.
void CatchStopSignals(sigset_t &waitMask) {
  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGINT);
}

// Events are read only when the server has sent some (or Xlib already holds some), so
// a wakeup to draw costs one clock read, one write and one wait.
void RunUntilStopped(const sigset_t &waitMask) {
  const int64_t interval = IntervalMs(options.speed);
  int64_t due = NowMs() + interval;
  int64_t wake = due;
  pollfd connection = {ConnectionNumber(target.display), POLLIN, 0};
  while (true) {
    if (connection.revents != 0 || XQLength(target.display) > 0) DrainEvents();
    if (stopRequested || windowGone) return;
    const int64_t now = NowMs();
    if (now >= wake) {
      DrawDueTicks(now, interval, due);
      wake = std::max(due, now + FrameMs);
    }
    const int64_t left = wake - now;  // drawing leaves the next wakeup ahead of now
    const timespec wait = {static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
    connection.revents = 0;
    ppoll(&connection, 1, &wait, &waitMask);
  }
}

void OpenDisplay() {
  target.display = XOpenDisplay(nullptr);
  if (!target.display) {
    const char *name = XDisplayName(nullptr);
    Refuse("cannot open display", name);
  }
}

void StartFigure() {
  SeedRandom(static_cast<int32_t>(std::time(nullptr)));
  RandomizeArms();
  SetClientSize(target.width, target.height);
  target.gc = XCreateGC(target.display, target.window, 0, nullptr);
  XSetErrorHandler(NoteWindowError);
  XSetIOErrorHandler(EndOnLostDisplay);
  ClearToBlack();          // whatever the window showed before, a figure starts on black
  XFlush(target.display);  // now, not with the first tick, which at speed 10 is 1.6 s away
}

// Leaves nothing on the server; a window that has gone already needs no destroying.
void Finish() {
  XFreeGC(target.display, target.gc);
  if (target.ownWindow && !windowGone) XDestroyWindow(target.display, target.window);
  XCloseDisplay(target.display);
}

}  // namespace

int main(int argc, char **argv) {
  ParseCommandLine(argc, argv);
  sigset_t waitMask;
  CatchStopSignals(waitMask);
  OpenDisplay();
  ChooseWindow();
  StartFigure();
  RunUntilStopped(waitMask);
  Finish();
  return 0;
}
