// The X11 program on an X server of its own, with a 24-bit and a 16-bit screen: where it
// draws, in which colours, how it ends.
#include "saver/animation_model.h"

#include <gtest/gtest.h>

// After GoogleTest: Xlib's None and Bool macros would break its templates.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <vector>

namespace {

constexpr int Side = 40;
constexpr unsigned long White = 0xFFFFFF;
Display *display;

// Polls for at most 30 s: at speed 8 the 36 ticks that bring a restart, and with it a new
// figure from the centre, take 15 s; at speed 10 they take 58 s, longer than any wait.
bool PollFor(auto done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    usleep(5000);
  }
  return true;
}

// sh execs the program, so the pid is its own.
pid_t Start(const std::string &arguments) {
  XSync(display, True);  // only the program's windows are reported from here on
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", ("exec " QUORVANE " " + arguments).c_str(), nullptr);
    _exit(127);
  }
  return pid;
}

// Its exit status, or -1 when it has not ended in time (then it is killed).
int ExitStatus(pid_t pid) {
  int status = 0;
  if (!PollFor([&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The window's pixels, as 0x00RRGGBB.
std::vector<unsigned long> Pixels(Window window) {
  std::vector<unsigned long> pixels;
  XImage *image = XGetImage(display, window, 0, 0, Side, Side, AllPlanes, ZPixmap);
  if (!image) return pixels;
  for (int i = 0; i < Side * Side; ++i) pixels.push_back(XGetPixel(image, i % Side, i / Side) & White);
  XDestroyImage(image);
  return pixels;
}

// The figure's colours are dimmed, so white is never drawn: it is what the window had before.
bool HasWhite(const std::vector<unsigned long> &pixels) {
  return pixels.empty() || std::count(pixels.begin(), pixels.end(), White) > 0;
}

// Cleared to black from the white it had, and a line drawn since.
bool DrawsOnBlack(Window window) {
  const std::vector<unsigned long> pixels = Pixels(window);
  return std::count(pixels.begin(), pixels.end(), 0) < Side * Side && !HasWhite(pixels);
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

// What the program has written so far, all of it to the X server.
long Written(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string field;
  long bytes = 0;
  while (io >> field >> bytes && field != "wchar:") continue;
  return bytes;
}

// A window manager's other messages do not end it; it draws on after a resize (even if it
// drew a few lines before, its next figure starts at the new centre); the close box ends it.
TEST(X11, OwnWindowDrawsUntilItsCloseBox) {
  const pid_t pid = Start("--speed 8");
  XEvent mapped = {};  // without it, window 0: the steps below fail and the program is killed
  EXPECT_TRUE(PollFor([&] { return XCheckTypedEvent(display, MapNotify, &mapped); }));
  const Window window = mapped.xmap.window;
  XWindowAttributes attributes = {};
  XGetWindowAttributes(display, window, &attributes);
  EXPECT_EQ(attributes.border_width, 0);
  SendProtocol(window, "WM_TAKE_FOCUS");
  XResizeWindow(display, window, Side, Side);
  EXPECT_TRUE(PollFor([&] { return DrawsOnBlack(window); }));
  SendProtocol(window, "WM_DELETE_WINDOW");
  EXPECT_EQ(ExitStatus(pid), 0);
}

// At speed 10 no restart can clear the window while the test waits: only the exposure can.
TEST(X11, ExposedWindowIsClearedToBlack) {
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, Side, Side, 0, 0, White);
  XMapWindow(display, window);
  const pid_t pid = Start("--speed 10 --window-id " + std::to_string(window));
  EXPECT_TRUE(PollFor([&] { return !HasWhite(Pixels(window)); }));
  XClearArea(display, window, 0, 0, 0, 0, True);
  EXPECT_TRUE(HasWhite(Pixels(window)));
  EXPECT_TRUE(PollFor([&] { return !HasWhite(Pixels(window)); }));
  kill(pid, SIGTERM);
  EXPECT_EQ(ExitStatus(pid), 0);
  XDestroyWindow(display, window);
}

// The model's colour 0x00BBGGRR as the screen's visual gives it: the server's own mapping.
unsigned long PixelOf(int screen, uint32_t color) {
  XColor rgb = {};
  rgb.red = (color & 0xFF) << 8;
  rgb.green = color & 0xFF00;
  rgb.blue = color >> 8 & 0xFF00;
  XAllocColor(display, DefaultColormap(display, screen), &rgb);
  return rgb.pixel;
}

// The figure that a start in `second` draws.
void StartModel(time_t second) {
  animationState = {};
  SeedRandom(second);
  RandomizeArms();
}

// Seeded from the clock's second, the lines have the model's colours in the window's
// visual: 24-bit on screen 0, 16-bit (5-6-5) on screen 1, where widths and shifts differ.
// The start waits for a second whose first line lights the screen's channels in `lit`
// (red and green, then blue), so that a channel lost or misplaced shows. Lines come every
// 1.6 s: by second `now` at most `now - start + 1` have been drawn, from a seed between
// the two.
TEST(X11, LinesHaveTheModelsColoursInTheVisualsPixels) {
  const uint32_t lit[2][2] = {{0xF8, 0xF800}, {0xF80000, 0xF80000}};  // in 0x00BBGGRR
  for (int screen = 0; screen < 2; ++screen) {
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, Side, Side, 0, 0, 0);
    XMapWindow(display, window);
    time_t start = time(nullptr);
    for (uint32_t first = 0; !(first & lit[screen][0]) || !(first & lit[screen][1]); first = AdvanceFrame().color)
      StartModel(++start);
    PollFor([&] { return time(nullptr) >= start; });
    const pid_t pid = Start("--speed 10 --window-id " + std::to_string(window));
    EXPECT_TRUE(PollFor([&] { return DrawsOnBlack(window); }));
    const std::vector<unsigned long> pixels = Pixels(window);
    const time_t now = time(nullptr);
    std::set<unsigned long> stray(pixels.begin(), pixels.end());
    stray.erase(0);
    for (time_t second = start; second <= now; ++second) {
      StartModel(second);
      for (time_t line = start; line <= now; ++line) stray.erase(PixelOf(screen, AdvanceFrame().color));
    }
    EXPECT_EQ(stray, std::set<unsigned long>{}) << screen;
    kill(pid, SIGTERM);
    ExitStatus(pid);
    XDestroyWindow(display, window);
  }
}

// Destroyed while the program draws into it: the grab holds back requests the program has
// already sent until the window has gone, so they meet errors; it still ends with 0.
TEST(X11, GivenWindowDrawsUntilDestroyed) {
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, Side, Side, 0, 0, White);
  XMapWindow(display, window);
  const pid_t pid = Start("--speed 1 --window-id " + std::to_string(window));
  EXPECT_TRUE(PollFor([&] { return DrawsOnBlack(window); }));
  XGrabServer(display);
  XSync(display, False);
  const long written = Written(pid);
  EXPECT_TRUE(PollFor([&] { return Written(pid) > written; }));
  XDestroyWindow(display, window);
  XUngrabServer(display);
  XSync(display, False);
  EXPECT_EQ(ExitStatus(pid), 0);
}

int IgnoreError(Display *, XErrorEvent *) { return 0; }

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  // The server ends with its last client: this program, however it ends, so nothing
  // here needs to end it.
  FILE *server =
      popen("exec Xvfb -displayfd 1 -nolisten tcp -terminate -screen 0 640x480x24 -screen 1 40x40x16 2>/dev/null", "r");
  int number = -1;
  fscanf(server, "%d", &number);  // none read: display ":-1", which does not open
  setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
  display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "x11_tests: no display\n");
    return 1;
  }
  XSetErrorHandler(IgnoreError);  // a window that has gone is a finding, not a crash
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  return RUN_ALL_TESTS();
}
