// The animation window procedure: the timer interval, what creation, size,
// erase, tick and destruction do to the window, the hand-over of every message
// to the default handling, and a long run that must not leak a pen or a DC.
#include "tests/unit/sim_test.h"

#include "saver/saver_api.h"

#include <climits>
#include <cmath>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

const char TestClass[] = "AnimationTestClass";
const char TestTitle[] = "Screen Saver";
const char SettingsFile[] = "googoo.goo";

constexpr int ClientWidth = 640;
constexpr int ClientHeight = 480;
constexpr UINT DefaultInterval = 50;
constexpr int64_t CalendarSeconds = 1234567890;
const HDC ForeignDc = reinterpret_cast<HDC>(static_cast<uintptr_t>(0xBAD0));
constexpr double FarOutside = 1e6;  // an arm this long puts its tip off any window

std::string FileWithSpeed(const std::string &value) { return "[Quorvane]\r\nRedraw Speed=" + value + "\r\n"; }

HBRUSH BlackBrush() { return static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)); }

template <typename Case>
  requires requires(const Case &c) { c.name; }
void PrintTo(const Case &c, std::ostream *out) {
  *out << c.name;
}

// The frame the next tick will draw, computed on a copy of the model.
Frame PredictFrame() {
  const AnimationState state = animationState;
  const SaverRandom random = saverRandom;
  const Frame frame = AdvanceFrame();
  animationState = state;
  saverRandom = random;
  return frame;
}

// Both arms far outside the window, one tick short of the restart.
void ArrangeRestartOnNextTick() {
  animationState.arm1 = {FarOutside, 0, 0, 0};
  animationState.arm2 = {FarOutside, 1, 0, 0};
  animationState.offscreenTicks = RestartThreshold - 1;
}

std::vector<SimEvent> GdiJournal() {
  return SimJournalOf({SimEventKind::GetDC, SimEventKind::ReleaseDC, SimEventKind::CreatePen,
                       SimEventKind::SelectObject, SimEventKind::DeleteObject, SimEventKind::Polyline,
                       SimEventKind::FillRect});
}

size_t DefaultCallsOf(UINT message) {
  size_t count = 0;
  for (const SimEvent &e : SimJournalOf({SimEventKind::DefWindowProc})) count += e.message == message;
  return count;
}

void ExpectRect(const RECT &r, int width, int height) {
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, width);
  EXPECT_EQ(r.bottom, height);
}

class AnimationProcTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    hostState.instanceHandle = SimInstance();
    SimSetCalendarSeconds(CalendarSeconds);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = AnimationProc;
    windowClass.hInstance = SimInstance();
    windowClass.hbrBackground = BlackBrush();
    windowClass.lpszClassName = TestClass;
    ASSERT_NE(RegisterClassA(&windowClass), 0);
  }

  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    SimTest::TearDown();
  }

  // The platform sends WM_CREATE and then WM_SIZE with the client size.
  HWND Create(int width = ClientWidth, int height = ClientHeight) {
    window = CreateWindowExA(0, TestClass, TestTitle, WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                             SimInstance(), nullptr);
    EXPECT_NE(window, nullptr);
    return window;
  }

  LRESULT Tick(WPARAM timerId = AnimationTimerId) { return AnimationProc(window, WM_TIMER, timerId, 0); }

  HWND window = nullptr;
};

// ---- The timer interval ----------------------------------------------------------------

struct IntervalCase {
  const char *name;
  LONG speed;
  UINT interval;
};

const IntervalCase IntervalCases[] = {
    {"Speed1", 1, 3},
    {"Speed2", 2, 6},
    {"Speed3", 3, 12},
    {"Speed4", 4, 25},
    {"Speed5", 5, 50},
    {"Speed6", 6, 100},
    {"Speed7", 7, 200},
    {"Speed8", 8, 400},
    {"Speed9", 9, 800},
    {"Speed10", 10, 1600},
    {"Speed0", 0, 1},
    {"SpeedMinus1", -1, 0},
    {"SpeedMinus31", -31, 0},
    {"SpeedIntMin", INT_MIN, 0},
    {"Speed11", 11, 3200},
    {"Speed29", 29, 838860800},
    {"Speed30", 30, 1677721600},
    {"Speed31Saturates", 31, USER_TIMER_MAXIMUM},
    {"Speed32Saturates", 32, USER_TIMER_MAXIMUM},
    {"Speed1000Saturates", 1000, USER_TIMER_MAXIMUM},
    {"SpeedIntMaxSaturates", INT_MAX, USER_TIMER_MAXIMUM},
};

class TimerIntervalTest : public ::testing::TestWithParam<IntervalCase> {};

TEST_P(TimerIntervalTest, IsTwoToTheSpeedTimesOnePointFiveSixTwoFiveTruncated) {
  EXPECT_EQ(TimerInterval(GetParam().speed), GetParam().interval);
}

INSTANTIATE_TEST_SUITE_P(Speeds, TimerIntervalTest, ::testing::ValuesIn(IntervalCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Creation --------------------------------------------------------------------------

struct CreateCase {
  const char *name;
  std::optional<std::string> file;
  LONG speed;
  UINT interval;
};

const CreateCase CreateCases[] = {
    {"NoFile", std::nullopt, 5, DefaultInterval},
    {"KeyMissing", "[Quorvane]\r\nColour=1\r\n", 5, DefaultInterval},
    {"Fastest", FileWithSpeed("1"), 1, 3},
    {"Slowest", FileWithSpeed("10"), 10, 1600},
    {"StoredZero", FileWithSpeed("0"), 0, 1},
    {"StoredNegativeGivesZeroUnchanged", FileWithSpeed("-1"), -1, 0},
    {"StoredEleven", FileWithSpeed("11"), 11, 3200},
    {"StoredThirtyOne", FileWithSpeed("31"), 31, USER_TIMER_MAXIMUM},
    {"StoredLetters", FileWithSpeed("abc"), 0, 1},
};

class AnimationCreateTest : public AnimationProcTest, public ::testing::WithParamInterface<CreateCase> {};

// The speed is taken as stored, with no range rule, and sets timer 1.
TEST_P(AnimationCreateTest, StartsTimerOneWithTheIntervalOfTheStoredSpeed) {
  const CreateCase &c = GetParam();
  if (c.file) SimWriteFile(SettingsFile, *c.file);

  Create();

  EXPECT_EQ(RedrawSpeed, c.speed);
  const std::vector<SimEvent> timers = SimJournalOf({SimEventKind::SetTimer});
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers[0].window, window);
  EXPECT_EQ(timers[0].id, AnimationTimerId);
  EXPECT_EQ(timers[0].value, static_cast<int64_t>(c.interval));
  EXPECT_EQ(animationWindowState.timerId, AnimationTimerId);
  EXPECT_EQ(DefaultCallsOf(WM_CREATE), 1u);
}

INSTANTIATE_TEST_SUITE_P(StoredSpeeds, AnimationCreateTest, ::testing::ValuesIn(CreateCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Nothing is cached: each new window reads the file as it stands.
TEST_F(AnimationProcTest, EachCreationReadsTheFileAfresh) {
  SimWriteFile(SettingsFile, FileWithSpeed("3"));
  Create();
  DestroyWindow(window);
  SimWriteFile(SettingsFile, FileWithSpeed("8"));
  SimClearJournal();

  Create();

  const std::vector<SimEvent> timers = SimJournalOf({SimEventKind::SetTimer});
  ASSERT_EQ(timers.size(), 1u);
  EXPECT_EQ(timers[0].value, 400);
}

// The figure is seeded from the calendar time in seconds.
TEST_F(AnimationProcTest, CreationSeedsTheFigureFromTheCalendarSeconds) {
  Create();
  const AnimationState created = animationState;

  SeedRandom(static_cast<int32_t>(CalendarSeconds));
  RandomizeArms();

  EXPECT_EQ(created.arm1.radius, animationState.arm1.radius);
  EXPECT_EQ(created.arm2.radius, animationState.arm2.radius);
  EXPECT_EQ(created.arm1.angleStep, animationState.arm1.angleStep);
  EXPECT_EQ(created.hue, animationState.hue);
  EXPECT_EQ(created.hueStep, animationState.hueStep);
}

// ---- Size ----------------------------------------------------------------------------------

struct SizeCase {
  const char *name;
  LPARAM lParam;
  int32_t width, height;
};

const SizeCase SizeCases[] = {
    {"Ordinary", MAKELPARAM(800, 600), 800, 600},
    {"Empty", 0, 0, 0},
    {"WordsAreUnsigned", MAKELPARAM(0xFFFF, 0x8000), 65535, 32768},
    {"AllBitsSet", -1, 65535, 65535},
};

class AnimationSizeTest : public AnimationProcTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(AnimationSizeTest, FeedsTheModelTheUnsignedWordsAndDrawsNothing) {
  const SizeCase &c = GetParam();
  Create();
  SimClearJournal();

  AnimationProc(window, WM_SIZE, SIZE_RESTORED, c.lParam);

  EXPECT_EQ(animationState.width, c.width);
  EXPECT_EQ(animationState.height, c.height);
  EXPECT_TRUE(GdiJournal().empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, AnimationSizeTest, ::testing::ValuesIn(SizeCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Erasing the background --------------------------------------------------------------

// The DC that comes with the message is not used: the procedure borrows its
// own, fills the whole client rectangle black and gives it back.
TEST_F(AnimationProcTest, EraseFillsTheClientRectangleBlackThroughItsOwnDc) {
  Create();
  SimClearJournal();

  AnimationProc(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(ForeignDc), 0);

  const std::vector<SimEvent> gdi = GdiJournal();
  ASSERT_EQ(gdi.size(), 3u) << SimJournalText();
  EXPECT_EQ(gdi[0].kind, SimEventKind::GetDC);
  EXPECT_EQ(gdi[0].window, window);
  const HDC dc = gdi[0].dc;
  EXPECT_NE(dc, ForeignDc);
  EXPECT_EQ(gdi[1].kind, SimEventKind::FillRect);
  EXPECT_EQ(gdi[1].dc, dc);
  EXPECT_EQ(gdi[1].object, BlackBrush());
  ExpectRect(gdi[1].rect, ClientWidth, ClientHeight);
  EXPECT_EQ(gdi[2].kind, SimEventKind::ReleaseDC);
  EXPECT_EQ(gdi[2].window, window);
  EXPECT_EQ(gdi[2].dc, dc);
  EXPECT_EQ(gdi[2].result, 1);
}

// ---- One tick --------------------------------------------------------------------------------

struct TickCase {
  const char *name;
  WPARAM timerId;
  bool restart;
};

const TickCase TickCases[] = {
    {"OrdinaryTick", AnimationTimerId, false},
    {"AnyTimerIdentifierTicks", 7, false},
    {"RestartTickClearsAfterTheLine", AnimationTimerId, true},
};

class AnimationTickTest : public AnimationProcTest, public ::testing::WithParamInterface<TickCase> {};

// One pen per tick, created, selected, used, selected back and deleted, all
// within one borrowed DC; on a restart the clear comes after the line.
TEST_P(AnimationTickTest, DrawsTheModelsLineWithAOneTickPen) {
  const TickCase &c = GetParam();
  Create();
  if (c.restart) ArrangeRestartOnNextTick();
  const Frame frame = PredictFrame();
  ASSERT_EQ(frame.clearAfter, c.restart);
  SimClearJournal();

  Tick(c.timerId);

  const std::vector<SimEvent> gdi = GdiJournal();
  ASSERT_EQ(gdi.size(), c.restart ? 8u : 7u) << SimJournalText();
  size_t at = 0;
  const SimEvent &getDc = gdi[at++];
  EXPECT_EQ(getDc.kind, SimEventKind::GetDC);
  EXPECT_EQ(getDc.window, window);
  const HDC dc = getDc.dc;

  const SimEvent &createPen = gdi[at++];
  EXPECT_EQ(createPen.kind, SimEventKind::CreatePen);
  EXPECT_EQ(createPen.penStyle, PS_SOLID);
  EXPECT_EQ(createPen.penWidth, 1);
  EXPECT_EQ(createPen.color, frame.color);
  const HGDIOBJ pen = createPen.object;

  const SimEvent &select = gdi[at++];
  EXPECT_EQ(select.kind, SimEventKind::SelectObject);
  EXPECT_EQ(select.dc, dc);
  EXPECT_EQ(select.object, pen);
  const HGDIOBJ previous = select.previous;
  EXPECT_NE(previous, nullptr);

  const SimEvent &line = gdi[at++];
  EXPECT_EQ(line.kind, SimEventKind::Polyline);
  EXPECT_EQ(line.dc, dc);
  EXPECT_EQ(line.color, frame.color);
  ASSERT_EQ(line.points.size(), 2u);
  EXPECT_EQ(line.points[0].x, frame.from.x);
  EXPECT_EQ(line.points[0].y, frame.from.y);
  EXPECT_EQ(line.points[1].x, frame.to.x);
  EXPECT_EQ(line.points[1].y, frame.to.y);

  const SimEvent &selectBack = gdi[at++];
  EXPECT_EQ(selectBack.kind, SimEventKind::SelectObject);
  EXPECT_EQ(selectBack.dc, dc);
  EXPECT_EQ(selectBack.object, previous);

  const SimEvent &deletePen = gdi[at++];
  EXPECT_EQ(deletePen.kind, SimEventKind::DeleteObject);
  EXPECT_EQ(deletePen.object, pen);
  EXPECT_EQ(deletePen.result, TRUE);
  EXPECT_EQ(deletePen.extra, "") << "the pen was deleted while still selected";

  if (c.restart) {
    const SimEvent &clear = gdi[at++];
    EXPECT_EQ(clear.kind, SimEventKind::FillRect);
    EXPECT_EQ(clear.dc, dc);
    EXPECT_EQ(clear.object, BlackBrush());
    ExpectRect(clear.rect, ClientWidth, ClientHeight);
  }

  const SimEvent &release = gdi[at++];
  EXPECT_EQ(release.kind, SimEventKind::ReleaseDC);
  EXPECT_EQ(release.window, window);
  EXPECT_EQ(release.dc, dc);
  EXPECT_EQ(release.result, 1);
}

INSTANTIATE_TEST_SUITE_P(Ticks, AnimationTickTest, ::testing::ValuesIn(TickCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The line is placed by the size last reported with WM_SIZE; the clear covers
// the client rectangle fetched in the tick. Here the two differ: the model
// was told 100 x 50 while the window is 640 x 480.
TEST_F(AnimationProcTest, TicksUseTheReportedSizeButClearTheFetchedRectangle) {
  Create();
  AnimationProc(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(100, 50));
  const double quarterTurn = std::acos(0.0);
  animationState.arm1 = {200, 0, 0, 0};
  animationState.arm2 = {200, quarterTurn, 0, 0};
  animationState.offscreenTicks = RestartThreshold - 1;
  SimClearJournal();

  Tick();

  const std::vector<SimEvent> lines = SimJournalOf({SimEventKind::Polyline});
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].points.size(), 2u);
  EXPECT_EQ(lines[0].points[0].x, 250);
  EXPECT_EQ(lines[0].points[0].y, 25);
  EXPECT_EQ(lines[0].points[1].x, 50);
  EXPECT_EQ(lines[0].points[1].y, 225);
  const std::vector<SimEvent> clears = SimJournalOf({SimEventKind::FillRect});
  ASSERT_EQ(clears.size(), 1u);
  ExpectRect(clears[0].rect, ClientWidth, ClientHeight);
}

// ---- Destruction -----------------------------------------------------------------------------

struct DestroyCase {
  const char *name;
  bool timerFails;
};

const DestroyCase DestroyCases[] = {
    {"TimerRunning", false},
    {"SetTimerFailed", true},
};

class AnimationDestroyTest : public AnimationProcTest, public ::testing::WithParamInterface<DestroyCase> {};

// The timer that was started is stopped; when none could be started nothing
// is killed.
TEST_P(AnimationDestroyTest, KillsTheTimerThatCreationStarted) {
  const DestroyCase &c = GetParam();
  SimFailSetTimer(c.timerFails);
  Create();
  EXPECT_EQ(animationWindowState.timerId, c.timerFails ? 0u : AnimationTimerId);
  SimClearJournal();

  DestroyWindow(window);

  const std::vector<SimEvent> kills = SimJournalOf({SimEventKind::KillTimer});
  if (c.timerFails) {
    EXPECT_TRUE(kills.empty());
  } else {
    ASSERT_EQ(kills.size(), 1u);
    EXPECT_EQ(kills[0].window, window);
    EXPECT_EQ(kills[0].id, AnimationTimerId);
    EXPECT_EQ(kills[0].result, TRUE);
  }
  EXPECT_EQ(animationWindowState.timerId, 0u);
  EXPECT_TRUE(SimTimers().empty());
  EXPECT_EQ(DefaultCallsOf(WM_DESTROY), 1u);
}

INSTANTIATE_TEST_SUITE_P(Timers, AnimationDestroyTest, ::testing::ValuesIn(DestroyCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Every message goes on to the default handling -------------------------------------------

struct HandOverCase {
  const char *name;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool answeredByRules;  // DefaultSaverProc answers 1 itself and calls no default
  bool closes;
};

const HandOverCase HandOverCases[] = {
    {"Size", WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600), false, false},
    {"EraseBackground", WM_ERASEBKGND, reinterpret_cast<WPARAM>(ForeignDc), 0, false, false},
    {"Timer", WM_TIMER, AnimationTimerId, 0, false, false},
    {"Paint", WM_PAINT, 0, 0, false, false},
    {"GetTextLength", WM_GETTEXTLENGTH, 0, 0, false, false},
    {"Null", WM_NULL, 0, 0, false, false},
    {"KeyDown", WM_KEYDOWN, VK_SPACE, 0x00390001, false, true},
    {"SetCursor", WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), true, false},
};

class AnimationHandOverTest : public AnimationProcTest, public ::testing::WithParamInterface<HandOverCase> {};

// Handled or not, a message reaches DefaultSaverProc with its arguments
// unchanged, and DefaultSaverProc's answer is the procedure's answer.
TEST_P(AnimationHandOverTest, EndsInTheDefaultSaverProcWithItsResult) {
  const HandOverCase &c = GetParam();
  Create();
  SimClearJournal();

  const LRESULT result = AnimationProc(window, c.message, c.wParam, c.lParam);

  const std::vector<SimEvent> defaults = SimJournalOf({SimEventKind::DefWindowProc});
  size_t closes = 0;
  for (const SimEvent &e : SimJournalOf({SimEventKind::PostMessage})) closes += e.message == WM_CLOSE;
  EXPECT_EQ(closes, c.closes ? 1u : 0u);
  if (c.answeredByRules) {
    EXPECT_TRUE(defaults.empty());
    EXPECT_EQ(result, 1);
    return;
  }
  ASSERT_EQ(defaults.size(), 1u) << SimJournalText();
  EXPECT_EQ(defaults[0].window, window);
  EXPECT_EQ(defaults[0].message, c.message);
  EXPECT_EQ(defaults[0].wParam, c.wParam);
  EXPECT_EQ(defaults[0].lParam, c.lParam);
  EXPECT_EQ(result, defaults[0].result);
}

INSTANTIATE_TEST_SUITE_P(Messages, AnimationHandOverTest, ::testing::ValuesIn(HandOverCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The class's background brush makes the default erase answer 1; the
// procedure's own erase does not change that answer.
TEST_F(AnimationProcTest, EraseAnswersWhatTheDefaultAnswers) {
  Create();
  EXPECT_EQ(AnimationProc(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(ForeignDc), 0), 1);
}

// ---- A long run ------------------------------------------------------------------------------

// What a run of ticks did, counted from the journal piece by piece.
struct TickTally {
  size_t dcsTaken = 0;
  size_t dcsReleased = 0;
  size_t pensCreated = 0;
  size_t pensDeleted = 0;  // the pen made in the same tick, deleted while not selected
  size_t lines = 0;
  size_t restarts = 0;
  HGDIOBJ lastPen = nullptr;

  void Count(const std::vector<SimEvent> &events) {
    for (const SimEvent &e : events) {
      switch (e.kind) {
        case SimEventKind::GetDC: dcsTaken += e.dc != nullptr; break;
        case SimEventKind::ReleaseDC: dcsReleased += e.result == 1; break;
        case SimEventKind::CreatePen:
          ++pensCreated;
          lastPen = e.object;
          break;
        case SimEventKind::DeleteObject: pensDeleted += e.object == lastPen && e.result == TRUE && e.extra.empty(); break;
        case SimEventKind::Polyline: ++lines; break;
        case SimEventKind::FillRect: ++restarts; break;
        default: break;
      }
    }
  }
};

// A hundred thousand ticks through the message loop, with restarts and size
// changes, take and give back exactly one DC and one pen each.
TEST_F(AnimationProcTest, HundredThousandTicksLeakNoPenAndNoDc) {
  constexpr size_t Ticks = 100000;
  constexpr size_t SizeChangeEvery = 12500;
  constexpr size_t JournalChunk = 1000;
  const POINT sizes[] = {{1024, 768}, {640, 480}, {64, 48}, {1920, 1080}, {0, 0}, {320, 200}, {1, 1}, {800, 600}};
  Create();
  SimSetMessageBudget(Ticks + 1);
  const UINT period = SimTimers().at(0).period;
  TickTally tally;

  for (size_t tick = 0; tick < Ticks; ++tick) {
    if (tick % SizeChangeEvery == 0) {
      const POINT size = sizes[(tick / SizeChangeEvery) % std::size(sizes)];
      SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(size.x, size.y));
    }
    SimAdvanceClock(period);
    ASSERT_EQ(SimPumpMessages(), 1) << "tick " << tick;
    if ((tick + 1) % JournalChunk == 0) {
      tally.Count(SimJournal());
      SimClearJournal();
    }
  }
  tally.Count(SimJournal());

  EXPECT_EQ(tally.lines, Ticks);
  EXPECT_EQ(tally.dcsTaken, Ticks);
  EXPECT_EQ(tally.dcsReleased, Ticks);
  EXPECT_EQ(tally.pensCreated, Ticks);
  EXPECT_EQ(tally.pensDeleted, Ticks);
  EXPECT_GT(tally.restarts, 100u);
  EXPECT_EQ(SimLeakReport(), "");
  RecordProperty("restarts", static_cast<int>(tally.restarts));
}

}  // namespace
