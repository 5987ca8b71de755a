// The X11 program against the X server in DISPLAY: what it draws, where, and how it ends.
#include "saver/animation_model.h"

// GoogleTest before Xlib, whose macros (None, Bool) would break its templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;
Display *display;
constexpr int Side = 40;  // small enough that a figure leaves it within a second or two
// Centred on a 640x480 window, the first 20 lines stay 344 pixels away from its corner.
constexpr int EarlyFrames = 20;

bool PollFor(double seconds, const std::function<bool()> &done) {
  for (const auto end = Clock::now() + std::chrono::duration<double>(seconds); !done(); usleep(5000))
    if (Clock::now() > end) return false;
  return true;
}

// Ends with the program's status; sh and env exec it, so the pid is the program's own.
pid_t Start(const std::string &env, const std::string &args, const std::string &errors) {
  const std::string command = "exec env " + env + " " QUORVANE_PATH " " + args + " 2>" + errors;
  XSync(display, True);  // only the program's windows are reported from here on
  const pid_t pid = fork();
  if (pid == 0) execl("/bin/sh", "sh", "-c", command.c_str(), nullptr), _exit(127);
  return pid;
}

// The program's exit status within `seconds`, or -1 (then it is killed).
int ExitStatus(pid_t pid, double seconds) {
  int status = -1;
  if (PollFor(seconds, [&] { return waitpid(pid, &status, WNOHANG) == pid; }))
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return kill(pid, SIGKILL), waitpid(pid, nullptr, 0), -1;
}

// Every wheel colour is a channel permutation of another, so only the seeded sequence
// tells a swapped channel: the colours of the first FRAMES lines from any possible seed.
std::set<unsigned long> FirstColours(time_t first, time_t last, int frames) {
  std::set<unsigned long> pixels;
  for (time_t seed = first; seed <= last; ++seed) {
    SeedRandom(static_cast<int32_t>(seed)), RandomizeArms();
    for (uint32_t i = 0, c; i < static_cast<uint32_t>(frames); ++i)
      c = AdvanceFrame().color, pixels.insert((c & 0xFF) << 16 | (c & 0xFF00) | c >> 16);
  }
  return pixels;
}

void Capture(Window window, std::vector<unsigned long> &pixels) {
  XImage *image = XGetImage(display, window, 0, 0, Side, Side, AllPlanes, ZPixmap);
  for (int i = 0; image && i < Side * Side; ++i) pixels[i] = XGetPixel(image, i % Side, i / Side) & 0xFFFFFF;
  if (image) XDestroyImage(image);
}

enum class Into { OWN_WINDOW, WINDOW_ID, ENVIRONMENT };
enum class Ending { CLOSE_BOX, WINDOW_DESTROYED, TERMINATED };
struct DrawingCase {
  const char *name;
  Into into;
  const char *args;
  int intervalMs;
  Ending ending;
};
class Drawing : public testing::TestWithParam<DrawingCase> {};

// Early lines in the seeded colours, then a restart (a pixel once lit turns black), then the end.
TEST_P(Drawing, DrawsTheSeededColoursRestartsAndEndsCleanly) {
  const DrawingCase &c = GetParam();
  Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 100, 100, Side, Side, 0, 0, 0);
  XMapWindow(display, window);
  const std::string id = std::to_string(window);
  const time_t firstSeed = time(nullptr);
  const auto started = Clock::now();
  auto mappedAt = started;
  const pid_t pid = Start(c.into == Into::ENVIRONMENT ? "XSCREENSAVER_WINDOW=" + id : "",
                          c.args + (c.into == Into::WINDOW_ID ? " -window-id " + id : ""), "/dev/null");
  XEvent mapped;
  if (c.into == Into::OWN_WINDOW && PollFor(5, [&] { return XCheckTypedEvent(display, MapNotify, &mapped); })) {
    XDestroyWindow(display, window);
    XResizeWindow(display, window = mapped.xmap.window, Side, Side);
    mappedAt = Clock::now();
  }
  const auto frames = [&](auto since) {  // at most this many lines drawn since then
    return static_cast<int>((Clock::now() - since) / std::chrono::milliseconds(c.intervalMs)) + 1;
  };
  std::vector<unsigned long> seen(Side * Side), now(Side * Side);
  std::set<unsigned long> firstColours;
  int firstFrames = 0, framesSinceMap = 0;
  EXPECT_TRUE(PollFor(10, [&] {
    Capture(window, now);
    for (int i = 0; i < Side * Side; ++i) {
      if (seen[i] && !now[i]) return true;
      if (now[i] && !firstFrames) firstColours.insert(now[i]);
      seen[i] = seen[i] ? seen[i] : now[i];
    }
    if (!firstFrames && !firstColours.empty()) firstFrames = frames(started), framesSinceMap = frames(mappedAt);
    return false;
  }));
  const auto expected = FirstColours(firstSeed, time(nullptr), std::min(firstFrames, RestartThreshold - 1));
  for (unsigned long pixel : firstColours)
    EXPECT_TRUE(firstFrames >= RestartThreshold || expected.count(pixel)) << pixel;
  EXPECT_TRUE(c.into != Into::OWN_WINDOW || framesSinceMap < EarlyFrames) << framesSinceMap;
  XEvent close = {.xclient = {ClientMessage,
                              0,
                              True,
                              display,
                              window,
                              XInternAtom(display, "WM_PROTOCOLS", False),
                              32,
                              {.l = {long(XInternAtom(display, "WM_DELETE_WINDOW", False))}}}};
  if (c.ending == Ending::CLOSE_BOX) XSendEvent(display, window, False, NoEventMask, &close);
  if (c.ending == Ending::WINDOW_DESTROYED) XDestroyWindow(display, window);
  if (c.ending == Ending::TERMINATED) kill(pid, SIGTERM);
  XSync(display, False);
  EXPECT_EQ(ExitStatus(pid, 1), 0);
  XWindowAttributes attributes;  // its own window goes with it; a foreign one stays
  EXPECT_EQ(XGetWindowAttributes(display, window, &attributes) != 0, c.ending == Ending::TERMINATED);
  XDestroyWindow(display, window);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Drawing,
    testing::Values(DrawingCase{"OwnWindowDefaultSpeedResizedThenClosed", Into::OWN_WINDOW, "", 50, Ending::CLOSE_BOX},
                    DrawingCase{"WindowIdDestroyed", Into::WINDOW_ID, "-speed 1", 10, Ending::WINDOW_DESTROYED},
                    DrawingCase{"HandedOverWindowTerminated", Into::ENVIRONMENT, "--speed 2", 10, Ending::TERMINATED}),
    [](const auto &info) { return std::string(info.param.name); });

struct RefusedCase {
  const char *name;
  const char *env;
  const char *args;
};
class Refused : public testing::TestWithParam<RefusedCase> {};

// One line saying what was wrong, the usage, status 1, and no window made meanwhile.
TEST_P(Refused, SaysWhatWasWrongAndMakesNoWindow) {
  const std::string errors = testing::TempDir() + "quorvane_errors";
  const pid_t pid = Start(GetParam().env, GetParam().args, errors);
  EXPECT_EQ(ExitStatus(pid, 5), 1);
  std::ifstream file(errors);
  std::string what, usage, more;
  std::getline(std::getline(std::getline(file, what), usage), more);
  EXPECT_TRUE(what.starts_with("quorvane: ") && usage.starts_with("usage: ") && file.eof()) << what << usage;
  XEvent created;
  XSync(display, False);
  EXPECT_FALSE(XCheckTypedEvent(display, CreateNotify, &created));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Refused,
    testing::Values(RefusedCase{"SpeedZero", "", "--speed 0"}, RefusedCase{"SpeedEleven", "", "-speed 11"},
                    RefusedCase{"SpeedWithLetters", "", "--speed 5x"}, RefusedCase{"SpeedSigned", "", "--speed +5"},
                    RefusedCase{"SpeedEmpty", "", "--speed ''"}, RefusedCase{"SpeedMissing", "", "--root --speed"},
                    RefusedCase{"UnknownOption", "", "--roots"}, RefusedCase{"StrayWord", "", "--root extra"},
                    RefusedCase{"WindowIdNotANumber", "", "--window-id 0xzz"},
                    RefusedCase{"WindowIdOfNoWindow", "", "-window-id 0x1fffffff"},
                    RefusedCase{"HandedOverNotANumber", "XSCREENSAVER_WINDOW=root", ""},
                    RefusedCase{"NoDisplay", "DISPLAY=:9999", ""}),
    [](const auto &info) { return std::string(info.param.name); });

int IgnoreError(Display *, XErrorEvent *) { return 0; }

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!(display = XOpenDisplay(nullptr))) return std::fprintf(stderr, "x11_tests: no display\n"), 1;
  XSetErrorHandler(IgnoreError);  // a window that has gone is a finding, not a crash
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  return RUN_ALL_TESTS();
}
