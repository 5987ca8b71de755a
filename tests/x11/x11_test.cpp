// The X11 program on the server that xvfb-run gives this level, with screens of 24, 16 and
// 8 bits: how it draws in its own window and in a given one, and how their ends end it.
#include "saver/animation_model.h"

#include <gtest/gtest.h>

// After GoogleTest: Xlib's None and Bool macros would break its templates.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <unistd.h>

#include <set>

namespace {

// The figure's second arm starts within 20 pixels of the centre and grows at most 10 a
// tick: in a window this wide every one of its first 8 lines, 12.8 s at speed 10, shows.
constexpr int Side = 200;
constexpr unsigned long Black = 0;  // on each of the server's screens
Display *display;

// At most 6000 tries 5 ms apart: 30 s, far longer than the 1.6 s between lines at speed 10.
bool PollFor(auto done) {
  for (int tries = 0; tries < 6000; ++tries) {
    if (done()) return true;
    usleep(5000);
  }
  return false;
}

struct Program {
  FILE *output;
  pid_t pid;
};

// The shell tells its pid, which exec gives the program. pclose waits for it and gives its
// wait status, 0 only for an exit with 0.
Program Start(const std::string &arguments) {
  XSync(display, True);  // only the program's windows are reported from here on
  Program program = {popen(("echo $$; exec " QUORVANE " " + arguments).c_str(), "r")};
  fscanf(program.output, "%d", &program.pid);
  return program;
}

// The distinct pixels of the window; none when it cannot be read.
std::set<unsigned long> Pixels(Window window) {
  std::set<unsigned long> pixels;
  XImage *image = XGetImage(display, window, 0, 0, Side, Side, AllPlanes, ZPixmap);
  for (int i = 0; image && i < Side * Side; ++i) pixels.insert(XGetPixel(image, i % Side, i / Side));
  if (image) XDestroyImage(image);
  return pixels;
}

// A line drawn, and nothing left of the white the window had: the figure's colours are
// dimmed, so white is never drawn.
bool DrawsOnBlack(Window window, unsigned long white) {
  const std::set<unsigned long> pixels = Pixels(window);
  return pixels.size() > pixels.count(Black) && !pixels.count(white);
}

void SendProtocol(Window window, const char *protocol) {
  XEvent event = {.xclient = {.type = ClientMessage,
                              .window = window,
                              .message_type = XInternAtom(display, "WM_PROTOCOLS", False),
                              .format = 32,
                              .data = {.l = {static_cast<long>(XInternAtom(display, protocol, False))}}}};
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
}

// A window manager's other messages do not end it; resized, it draws on (its next figure
// starts at the new centre); its close box ends it with 0.
TEST(X11, OwnWindowDrawsUntilItsCloseBox) {
  const Program program = Start("--speed 1");
  XEvent mapped = {};  // without it, window 0: the steps below fail and the test times out
  PollFor([&] { return XCheckTypedEvent(display, MapNotify, &mapped); });
  SendProtocol(mapped.xmap.window, "WM_TAKE_FOCUS");
  XResizeWindow(display, mapped.xmap.window, Side, Side);
  EXPECT_TRUE(PollFor([&] { return DrawsOnBlack(mapped.xmap.window, WhitePixel(display, 0)); }));
  SendProtocol(mapped.xmap.window, "WM_DELETE_WINDOW");
  EXPECT_EQ(pclose(program.output), 0);
}

// What the program has written so far, all of it to the X server.
long Written(pid_t pid) {
  long bytes = 0;
  FILE *io = fopen(("/proc/" + std::to_string(pid) + "/io").c_str(), "r");
  fscanf(io, "rchar: %*d wchar: %ld", &bytes);
  fclose(io);
  return bytes;
}

// The pixel the server gives the model's colour 0x00BBGGRR on the screen.
unsigned long ServerPixel(int screen, uint32_t color) {
  char name[16];
  snprintf(name, sizeof name, "rgb:%02x/%02x/%02x", color & 0xFF, color >> 8 & 0xFF, color >> 16);
  XColor pixel;
  XColor exact;
  XAllocNamedColor(display, DefaultColormap(display, screen), name, &pixel, &exact);
  return pixel.pixel;
}

// A white window given at speed 10, where no restart clears it, is cleared when the
// program starts and when it is exposed. Made white again, a second program clears it as it
// starts, and leaves it in place when SIGTERM ends it with 0. The lines drawn since the exposure, the second and
// later, have exactly the pixels the server gives their colours at 24 bits and at 16
// (5-6-5), for a start in any second from `start` to `now`, one line every 1.6 s; at 8 bits
// (PseudoColor) with every free cell taken, the nearest colours it holds. Destroyed while
// the program draws, under a grab that holds back the requests already sent until they
// meet errors, the window's end ends the program with 0.
TEST(X11, GivenWindowInEachVisual) {
  for (int screen = 0; screen < ScreenCount(display); ++screen) {
    const Colormap colormap = DefaultColormap(display, screen);
    const bool full = DefaultDepth(display, screen) == 8;
    for (unsigned long cell = 0; full && XAllocColorCells(display, colormap, False, nullptr, 0, &cell, 1);)
      XStoreNamedColor(display, colormap, "grey50", cell, DoRed | DoGreen | DoBlue);
    const unsigned long white = WhitePixel(display, screen);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, Side, Side, 0, 0, white);
    XMapWindow(display, window);
    const time_t start = time(nullptr);
    const Program program = Start("--speed 10 --window-id " + std::to_string(window));
    EXPECT_TRUE(PollFor([&] { return DrawsOnBlack(window, white); })) << screen;
    XClearArea(display, window, 0, 0, 0, 0, False);
    const Program second = Start("--window-id " + std::to_string(window));
    EXPECT_TRUE(PollFor([&] { return !Pixels(window).count(white); })) << screen;
    kill(second.pid, SIGTERM);
    EXPECT_EQ(pclose(second.output), 0) << screen;
    XClearArea(display, window, 0, 0, 0, 0, True);
    EXPECT_TRUE(PollFor([&] { return DrawsOnBlack(window, white); })) << screen;
    std::set<unsigned long> stray = full ? std::set<unsigned long>{} : Pixels(window);
    const time_t now = time(nullptr);
    for (time_t seed = start; seed <= now; ++seed) {
      animationState = {};
      SeedRandom(seed);
      RandomizeArms();
      AdvanceFrame();
      for (time_t line = start; line <= now; ++line) stray.erase(ServerPixel(screen, AdvanceFrame().color));
    }
    stray.erase(Black);
    EXPECT_EQ(stray, std::set<unsigned long>{}) << screen;
    XGrabServer(display);
    XSync(display, False);
    const long written = Written(program.pid);
    EXPECT_TRUE(PollFor([&] { return Written(program.pid) > written; })) << screen;
    XDestroyWindow(display, window);
    XUngrabServer(display);
    XSync(display, False);
    EXPECT_EQ(pclose(program.output), 0) << screen;
  }
}

int IgnoreError(Display *, XErrorEvent *) { return 0; }

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  display = XOpenDisplay(nullptr);
  XSetErrorHandler(IgnoreError);  // a window that has gone is a finding, not a crash
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  return RUN_ALL_TESTS();
}
