// The X11 program against the X server in DISPLAY: what it refuses, where it draws, how it ends.
#include <gtest/gtest.h>

// After GoogleTest: Xlib's None and Bool macros would break its templates.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>

namespace {

constexpr int Side = 40;
constexpr unsigned long White = 0xFFFFFF;
const std::string Errors = testing::TempDir() + "quorvane_errors";
Display *display;

// For at most 10 s.
bool PollFor(const std::function<bool()> &done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    usleep(5000);
  }
  return true;
}

// The command names the program "quorvane", after any VAR=value. sh and env exec it,
// so the pid is the program's own.
pid_t Start(const std::string &command) {
  XSync(display, True);  // only the program's windows are reported from here on
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", ("exec env " + command + " 2>" + Errors).c_str(), nullptr);
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

Window WhiteWindow() {
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, Side, Side, 0, 0, White);
  XMapWindow(display, window);
  return window;
}

// Cleared to black from the white it had, and a line drawn since.
bool DrawsOnBlack(Window window) {
  XImage *image = XGetImage(display, window, 0, 0, Side, Side, AllPlanes, ZPixmap);
  if (!image) return false;
  int lit = 0;
  int white = 0;
  for (int i = 0; i < Side * Side; ++i) {
    const unsigned long pixel = XGetPixel(image, i % Side, i / Side) & White;
    lit += pixel != 0;
    white += pixel == White;
  }
  XDestroyImage(image);
  return lit > 0 && white == 0;
}

void SendProtocol(Window window, const char *protocol) {
  XEvent event = {};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, protocol, False));
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

TEST(X11, RefusesBadInputSayingWhatWasWrongWithStatusOne) {
  const struct {
    const char *command;
    const char *message;
  } refused[] = {
      {"quorvane --speed 0", "quorvane: the speed must be a whole number from 1 to 10, not \"0\""},
      {"quorvane -speed 11", "quorvane: the speed must be a whole number from 1 to 10, not \"11\""},
      {"quorvane --speed 5x", "quorvane: the speed must be a whole number from 1 to 10, not \"5x\""},
      {"quorvane --speed ''", "quorvane: the speed must be a whole number from 1 to 10, not \"\""},
      {"quorvane --root --speed", "quorvane: this option needs a value: \"--speed\""},
      {"quorvane --roots", "quorvane: unknown option \"--roots\""},
      {"quorvane --root extra", "quorvane: unknown option \"extra\""},
      {"quorvane --window-id 0xzz", "quorvane: not a window id: \"0xzz\""},
      {"quorvane --window-id 4294967296", "quorvane: not a window id: \"4294967296\""},
      {"quorvane -window-id 0x1fffffff", "quorvane: no such window: \"0x1fffffff\""},
      {"XSCREENSAVER_WINDOW=root quorvane", "quorvane: not a window id: \"root\""},
      {"DISPLAY=:9999 quorvane", "quorvane: cannot open display \":9999\""},
  };
  for (const auto &row : refused) {
    EXPECT_EQ(ExitStatus(Start(row.command)), 1) << row.command;
    std::ifstream errors(Errors);
    std::string line;
    std::getline(errors, line);
    EXPECT_EQ(line, row.message);
  }
}

// A window manager's other messages do not end it; it draws on after a resize and clears
// to black on an exposure; the close box ends it, and its window goes with it.
TEST(X11, OwnWindowDrawsUntilItsCloseBox) {
  const pid_t pid = Start("quorvane");
  XEvent mapped;
  ASSERT_TRUE(PollFor([&] { return XCheckTypedEvent(display, MapNotify, &mapped); }));
  const Window window = mapped.xmap.window;
  SendProtocol(window, "WM_TAKE_FOCUS");
  XResizeWindow(display, window, Side, Side);
  XSetWindowBackground(display, window, White);
  XClearArea(display, window, 0, 0, 0, 0, True);
  EXPECT_TRUE(PollFor([&] { return DrawsOnBlack(window); }));
  SendProtocol(window, "WM_DELETE_WINDOW");
  EXPECT_EQ(ExitStatus(pid), 0);
  XWindowAttributes attributes;
  EXPECT_EQ(XGetWindowAttributes(display, window, &attributes), 0);
}

// XScreenSaver names its window in hex; a window that is not the program's own outlives it.
TEST(X11, HandedOverWindowDrawsUntilTerminated) {
  const Window window = WhiteWindow();
  char id[32];
  std::snprintf(id, sizeof id, "0x%lx", window);
  const pid_t pid = Start("XSCREENSAVER_WINDOW=" + std::string(id) + " quorvane -speed 2");
  EXPECT_TRUE(PollFor([&] { return DrawsOnBlack(window); }));
  kill(pid, SIGTERM);
  EXPECT_EQ(ExitStatus(pid), 0);
  XWindowAttributes attributes;
  EXPECT_NE(XGetWindowAttributes(display, window, &attributes), 0);
  XDestroyWindow(display, window);
}

// A decimal id with a leading zero is still decimal. The grab holds back drawing requests
// sent to the window until it has been destroyed, so they meet errors: the end is still 0.
TEST(X11, GivenWindowDrawsUntilDestroyedUnderIt) {
  const Window window = WhiteWindow();
  const pid_t pid = Start("quorvane --speed 1 --window-id 0" + std::to_string(window));
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
  display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "x11_tests: no display\n");
    return 1;
  }
  XSetErrorHandler(IgnoreError);  // a window that has gone is a finding, not a crash
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  setenv("PATH", (QUORVANE_DIR ":" + std::string(getenv("PATH"))).c_str(), 1);
  return RUN_ALL_TESTS();
}
