// The saver window and its loop: the class and the two kinds of window, the
// single-instance rule, the AutoPlay registration, the input-method steps,
// SaverWindowProc's own handling of messages, and how RunSaverWindow ends.
#include "tests/unit/sim_test.h"

#include "saver/animation_proc.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

const char SaverClass[] = "WindowsScreenSaverClass";
const char AutoPlayName[] = "QueryCancelAutoPlay";
const char InputMethodLibrary[] = "IMM32.DLL";
const char PasswordLibrary[] = "PASSWORD.CPL";

constexpr UINT ExpectedClassStyle = 0x2B;
constexpr DWORD ExpectedSaveStyle = 0x96000000;
constexpr DWORD ExpectedPreviewStyle = 0x52000000;
constexpr int PreviewWidth = 152;
constexpr int PreviewHeight = 112;
constexpr LPARAM AnyLParam = 0x00640032;
const HIMC PreviousContext = reinterpret_cast<HIMC>(0x5150);

enum class Mode { Save, Preview };

const char *ModeName(Mode mode) { return mode == Mode::Save ? "Save" : "Preview"; }

void PrintTo(Mode mode, std::ostream *out) { *out << ModeName(mode); }

// Every table row prints as its name.
template <typename Case>
  requires requires(const Case &c) { c.name; }
void PrintTo(const Case &c, std::ostream *out) {
  *out << c.name;
}

// ---- The input-method library the tests put into the process -------------------------

struct AssociateCall {
  HWND window;
  HIMC context;
  size_t quitsPostedBefore;  // PostQuitMessage calls made when this call came
  int previewModeThen;
  UINT autoPlayMessageThen;
};

struct FakeInputMethod {
  std::vector<AssociateCall> calls;
  HIMC contextToGive = PreviousContext;
};
FakeInputMethod fakeInputMethod;

HIMC WINAPI FakeImmAssociateContext(HWND window, HIMC context) {
  fakeInputMethod.calls.push_back({window, context, SimCount(SimEventKind::PostQuitMessage), hostState.previewMode,
                                   hostState.autoPlayMessage});
  return context == nullptr ? fakeInputMethod.contextToGive : nullptr;
}

BOOL WINAPI AcceptingVerifier(HWND) { return TRUE; }

template <typename Function>
FARPROC AsEntry(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

void LoadInputMethod() {
  SimSetModuleLoaded(InputMethodLibrary, {{"ImmAssociateContext", AsEntry(FakeImmAssociateContext)}});
}

// Windows 9x with the password setting on and the system's password library present.
void UseWin9xWithPassword() {
  hostState.onWin9x = 1;
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  SimSetRegistryDword("Control Panel\\Desktop", "ScreenSaveUsePassword", 1);
  SimInstallLibrary(PasswordLibrary, {{"VerifyScreenSavePwd", AsEntry(AcceptingVerifier)}});
}

// ---- Running the saver ---------------------------------------------------------------------

HWND SaverWindow() { return SimFindWindowOfClass(SaverClass); }

class SaverWindowTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    fakeInputMethod = {};
    hostState.instanceHandle = SimInstance();
  }

  // Runs RunSaverWindow; once the loop first finds nothing to do, `during` gets
  // the saver window, and then (unless told not to) the window is asked to close.
  int RunSaver(Mode mode, const std::function<void(HWND)> &during = {}, bool closeAfter = true) {
    if (mode == Mode::Preview && parent == nullptr) parent = SimCreatePreviewParent(PreviewWidth, PreviewHeight);
    SimSetIdleHook([this, during, closeAfter] {
      if (idleCalls++ > 0) return;
      const HWND window = SaverWindow();
      if (during) during(window);
      if (closeAfter && IsWindow(window)) PostMessageA(window, WM_CLOSE, 0, 0);
    });
    return RunSaverWindow(mode == Mode::Preview ? parent : nullptr);
  }

  // A window of the saver's class made directly, for SaverWindowProc alone.
  HWND MakeWindowOfSaverClass(HWND windowParent, DWORD style) {
    WNDCLASSA saverClass = {};
    saverClass.lpfnWndProc = SaverWindowProc;
    saverClass.hInstance = SimInstance();
    saverClass.lpszClassName = SaverClass;
    RegisterClassA(&saverClass);
    return CreateWindowExA(0, SaverClass, "Preview", style, 0, 0, PreviewWidth, PreviewHeight, windowParent,
                           nullptr, SimInstance(), nullptr);
  }

  HWND parent = nullptr;
  int idleCalls = 0;
};

size_t CountDefaultHandling(UINT message) {
  size_t count = 0;
  for (const SimEvent &e : SimJournalOf({SimEventKind::DefWindowProc})) count += e.message == message;
  return count;
}

std::vector<std::string> RegisteredMessages() {
  std::vector<std::string> names;
  for (const SimEvent &e : SimJournalOf({SimEventKind::RegisterWindowMessage})) names.push_back(e.name);
  return names;
}

size_t IndexOf(SimEventKind kind, UINT message = 0) {
  const std::vector<SimEvent> &journal = SimJournal();
  for (size_t i = 0; i < journal.size(); ++i) {
    if (journal[i].kind == kind && (message == 0 || journal[i].message == message)) return i;
  }
  return journal.size();
}

size_t CountHiddenCursorsBetween(size_t from, size_t to) {
  const std::vector<SimEvent> &journal = SimJournal();
  size_t count = 0;
  for (size_t i = from; i < to && i < journal.size(); ++i) {
    count += journal[i].kind == SimEventKind::SetCursor && journal[i].cursor == nullptr;
  }
  return count;
}

// ---- The class and the two windows --------------------------------------------------

class SaverModeTest : public SaverWindowTest, public ::testing::WithParamInterface<Mode> {};

INSTANTIATE_TEST_SUITE_P(BothModes, SaverModeTest, ::testing::Values(Mode::Save, Mode::Preview),
                         [](const auto &info) { return std::string(ModeName(info.param)); });

TEST_P(SaverModeTest, RegistersClassWithBlackBrushAndNeitherIconNorCursor) {
  EXPECT_EQ(RunSaver(GetParam()), 0);
  const std::vector<SimEvent> registered = SimJournalOf({SimEventKind::RegisterClass});
  ASSERT_EQ(registered.size(), 1u);
  const SimEvent &c = registered[0];
  EXPECT_EQ(c.name, SaverClass);
  EXPECT_EQ(c.flags, ExpectedClassStyle);
  EXPECT_EQ(c.proc, &SaverWindowProc);
  EXPECT_EQ(c.min, 0);
  EXPECT_EQ(c.max, 0);
  EXPECT_EQ(c.instance, SimInstance());
  EXPECT_EQ(c.icon, nullptr);
  EXPECT_EQ(c.cursor, nullptr);
  EXPECT_EQ(c.brush, GetStockObject(BLACK_BRUSH));
  EXPECT_EQ(c.text, "none");  // no menu
}

struct WindowCase {
  const char *name;
  Mode mode;
  RECT screen;       // the screen's clip box
  int parentWidth;   // preview parent's client size
  int parentHeight;
  const char *title;
  DWORD exStyle;
  DWORD style;
  RECT placed;  // x, y, x + width, y + height
};

const WindowCase WindowCases[] = {
    {"FullScreenCoversScreen", Mode::Save, {0, 0, 1024, 768}, 0, 0, "Screen Saver", WS_EX_TOPMOST,
     ExpectedSaveStyle, {0, 0, 1024, 768}},
    {"FullScreenFollowsClipBoxOffOrigin", Mode::Save, {-1280, -200, 1920, 1080}, 0, 0, "Screen Saver",
     WS_EX_TOPMOST, ExpectedSaveStyle, {-1280, -200, 1920, 1080}},
    {"PreviewFillsParentClient", Mode::Preview, {0, 0, 1024, 768}, 152, 112, "Preview", 0, ExpectedPreviewStyle,
     {0, 0, 152, 112}},
    {"PreviewOfEmptyParentIsEmpty", Mode::Preview, {0, 0, 1024, 768}, 0, 0, "Preview", 0, ExpectedPreviewStyle,
     {0, 0, 0, 0}},
};

class SaverWindowKindTest : public SaverWindowTest, public ::testing::WithParamInterface<WindowCase> {};

INSTANTIATE_TEST_SUITE_P(Kinds, SaverWindowKindTest, ::testing::ValuesIn(WindowCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(SaverWindowKindTest, CreatesWindowOfItsMode) {
  const WindowCase &c = GetParam();
  SimSetScreenClipBox(c.screen);
  if (c.mode == Mode::Preview) parent = SimCreatePreviewParent(c.parentWidth, c.parentHeight);
  EXPECT_EQ(RunSaver(c.mode), 0);
  const std::vector<SimEvent> created = SimJournalOf({SimEventKind::CreateWindow});
  ASSERT_EQ(created.size(), 1u);
  const SimEvent &w = created[0];
  EXPECT_EQ(w.name, SaverClass);
  EXPECT_EQ(w.text, c.title);
  EXPECT_EQ(w.max, c.exStyle);
  EXPECT_EQ(w.flags, c.style);
  EXPECT_EQ(w.rect.left, c.placed.left);
  EXPECT_EQ(w.rect.top, c.placed.top);
  EXPECT_EQ(w.rect.right, c.placed.right);
  EXPECT_EQ(w.rect.bottom, c.placed.bottom);
  EXPECT_EQ(w.parent, c.mode == Mode::Preview ? parent : nullptr);
  EXPECT_EQ(w.menu, nullptr);
  EXPECT_EQ(w.instance, SimInstance());
  EXPECT_EQ(w.param, nullptr);
  EXPECT_NE(w.result, 0);
  EXPECT_EQ(hostState.previewMode, c.mode == Mode::Preview ? 1 : 0);
}

// ---- One full-screen saver at a time ---------------------------------------------------

struct OtherWindowCase {
  const char *name;
  const char *className;
  const char *title;
  bool child;  // inside a window of its own process, as a preview is
  bool raised;
};

const OtherWindowCase OtherWindowCases[] = {
    {"RunningSaverIsRaised", SaverClass, "Screen Saver", false, true},
    {"RunningPreviewIsNotLookedFor", SaverClass, "Preview", true, false},
    {"SaverClassWithOtherTitleIsNotLookedFor", SaverClass, "Screen Saver 2", false, false},
    {"OtherClassWithSaverTitleIsNotLookedFor", "SomeOtherClass", "Screen Saver", false, false},
};

class OtherWindowTest : public SaverWindowTest, public ::testing::WithParamInterface<OtherWindowCase> {};

INSTANTIATE_TEST_SUITE_P(Others, OtherWindowTest, ::testing::ValuesIn(OtherWindowCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(OtherWindowTest, StartsOnlyWhenNoFullScreenSaverRuns) {
  const OtherWindowCase &c = GetParam();
  UseWin9xWithPassword();
  SimWindowShape shape;
  shape.className = c.className;
  shape.title = c.title;
  shape.style = WS_POPUP | WS_VISIBLE;
  if (c.child) {
    shape.style = WS_CHILD | WS_VISIBLE;
    shape.parent = SimCreatePreviewParent(PreviewWidth, PreviewHeight);
  }
  const HWND other = SimCreateForeignWindow(shape);

  EXPECT_EQ(RunSaver(Mode::Save), 0);

  const std::vector<SimEvent> raised = SimJournalOf({SimEventKind::SetForegroundWindow});
  ASSERT_EQ(raised.size(), 1u);
  if (c.raised) {
    EXPECT_EQ(raised[0].window, other);
    EXPECT_EQ(idleCalls, 0);
    EXPECT_EQ(hostState.autoPlayMessage, 0u);
    EXPECT_EQ(SimJournalText({SimEventKind::RegisterWindowMessage, SimEventKind::RegisterClass,
                              SimEventKind::CreateWindow, SimEventKind::RegOpenKey, SimEventKind::LoadLibrary,
                              SimEventKind::FreeLibrary, SimEventKind::SystemParametersInfo}),
              "");
  } else {
    EXPECT_NE(raised[0].window, other);
    EXPECT_EQ(raised[0].window, reinterpret_cast<HWND>(SimJournalOf({SimEventKind::CreateWindow})[0].result));
    EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), 1u);
  }
}

TEST_F(SaverWindowTest, PreviewStartsBesideRunningSaverWithoutRaisingAnything) {
  SimCreateRunningSaver();
  EXPECT_EQ(RunSaver(Mode::Preview), 0);
  EXPECT_EQ(SimCount(SimEventKind::CreateWindow), 1u);
  EXPECT_EQ(SimCount(SimEventKind::SetForegroundWindow), 0u);
  EXPECT_EQ(idleCalls, 1);
}

// ---- AutoPlay registration and the state the window finds at creation -------------------

struct PlatformModeCase {
  const char *name;
  bool win9x;
  Mode mode;
};

const PlatformModeCase PlatformModeCases[] = {
    {"NtSave", false, Mode::Save},
    {"NtPreview", false, Mode::Preview},
    {"Win9xSave", true, Mode::Save},
    {"Win9xPreview", true, Mode::Preview},
};

class PlatformModeTest : public SaverWindowTest, public ::testing::WithParamInterface<PlatformModeCase> {};

INSTANTIATE_TEST_SUITE_P(PlatformsAndModes, PlatformModeTest, ::testing::ValuesIn(PlatformModeCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(PlatformModeTest, RegistersAutoPlayQueryOnlyOnWin9x) {
  const PlatformModeCase &c = GetParam();
  hostState.onWin9x = c.win9x ? 1 : 0;
  EXPECT_EQ(RunSaver(c.mode), 0);
  const std::vector<std::string> registered = RegisteredMessages();
  if (c.win9x) {
    EXPECT_EQ(registered, std::vector<std::string>{AutoPlayName});
    EXPECT_LT(IndexOf(SimEventKind::RegisterWindowMessage), IndexOf(SimEventKind::RegisterClass));
    EXPECT_EQ(hostState.autoPlayMessage, RegisterWindowMessageA(AutoPlayName));
    EXPECT_NE(hostState.autoPlayMessage, 0u);
  } else {
    EXPECT_TRUE(registered.empty());
    EXPECT_EQ(hostState.autoPlayMessage, 0u);
  }
}

// The input-method step is the first thing WM_CREATE does, so what the fake sees
// there is what the window procedure finds when it first runs.
TEST_P(PlatformModeTest, PreviewModeAndAutoPlayMessageAreSetWhenCreationArrives) {
  const PlatformModeCase &c = GetParam();
  hostState.onWin9x = c.win9x ? 1 : 0;
  LoadInputMethod();
  EXPECT_EQ(RunSaver(c.mode), 0);
  ASSERT_FALSE(fakeInputMethod.calls.empty());
  const AssociateCall &atCreation = fakeInputMethod.calls[0];
  EXPECT_EQ(atCreation.previewModeThen, c.mode == Mode::Preview ? 1 : 0);
  EXPECT_EQ(atCreation.autoPlayMessageThen, c.win9x ? RegisterWindowMessageA(AutoPlayName) : 0u);
}

// ---- The input-method context --------------------------------------------------------

enum class InputMethod { NotLoaded, EntryMissing, PreviousContext, NoPreviousContext };

struct InputMethodCase {
  const char *name;
  InputMethod setup;
  size_t callsAtCreation;
  bool restored;
};

const InputMethodCase InputMethodCases[] = {
    {"NotLoadedIsLeftAlone", InputMethod::NotLoaded, 0, false},
    {"EntryMissingIsLeftAlone", InputMethod::EntryMissing, 0, false},
    {"PreviousContextIsTakenAndGivenBack", InputMethod::PreviousContext, 1, true},
    {"NoPreviousContextIsNotRestored", InputMethod::NoPreviousContext, 1, false},
};

class InputMethodTest : public SaverWindowTest, public ::testing::WithParamInterface<InputMethodCase> {};

INSTANTIATE_TEST_SUITE_P(Cases, InputMethodTest, ::testing::ValuesIn(InputMethodCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(InputMethodTest, DetachesContextAtCreationAndRestoresItAtDestruction) {
  const InputMethodCase &c = GetParam();
  switch (c.setup) {
    case InputMethod::NotLoaded:
      // Present on disk but not in the process: the saver must not load it.
      SimInstallLibrary(InputMethodLibrary, {{"ImmAssociateContext", AsEntry(FakeImmAssociateContext)}});
      break;
    case InputMethod::EntryMissing:
      SimSetModuleLoaded(InputMethodLibrary, {});
      break;
    case InputMethod::PreviousContext:
      LoadInputMethod();
      break;
    case InputMethod::NoPreviousContext:
      LoadInputMethod();
      fakeInputMethod.contextToGive = nullptr;
      break;
  }
  HWND window = nullptr;
  size_t callsWhileRunning = 0;
  EXPECT_EQ(RunSaver(Mode::Save,
                     [&](HWND running) {
                       window = running;
                       callsWhileRunning = fakeInputMethod.calls.size();
                     }),
            0);

  ASSERT_EQ(callsWhileRunning, c.callsAtCreation);
  if (c.callsAtCreation == 1) {
    EXPECT_EQ(fakeInputMethod.calls[0].window, window);
    EXPECT_EQ(fakeInputMethod.calls[0].context, nullptr);
  }
  ASSERT_EQ(fakeInputMethod.calls.size(), c.callsAtCreation + (c.restored ? 1 : 0));
  if (c.restored) {
    const AssociateCall &restore = fakeInputMethod.calls.back();
    EXPECT_EQ(restore.window, window);
    EXPECT_EQ(restore.context, PreviousContext);
    EXPECT_EQ(restore.quitsPostedBefore, 0u) << "the context goes back before the quit request";
  }
  EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), 0u);
  EXPECT_EQ(SimCount(SimEventKind::FreeLibrary), 0u);
}

// ---- Once a close has been accepted ----------------------------------------------------

struct MessageCase {
  const char *name;
  UINT message;
  WPARAM wParam;
  bool closing;
  LRESULT result;
  size_t defaults;     // times DefWindowProcA saw the message
  size_t closeRequests;
  size_t hiddenCursors;
  size_t lines;
};

const MessageCase MessageCases[] = {
    {"TickIsDroppedWhileClosing", WM_TIMER, AnimationTimerId, true, 0, 0, 0, 0, 0},
    {"KeyDownGoesToDefaultWhileClosing", WM_KEYDOWN, VK_SPACE, true, 0, 1, 0, 0, 0},
    {"SysKeyDownGoesToDefaultWhileClosing", WM_SYSKEYDOWN, VK_MENU, true, 0, 1, 0, 0, 0},
    {"MouseMoveGoesToDefaultWhileClosing", WM_MOUSEMOVE, 0, true, 0, 1, 0, 0, 0},
    {"LeftButtonGoesToDefaultWhileClosing", WM_LBUTTONDOWN, MK_LBUTTON, true, 0, 1, 0, 0, 0},
    {"RightButtonGoesToDefaultWhileClosing", WM_RBUTTONDOWN, MK_RBUTTON, true, 0, 1, 0, 0, 0},
    {"MiddleButtonGoesToDefaultWhileClosing", WM_MBUTTONDOWN, MK_MBUTTON, true, 0, 1, 0, 0, 0},
    {"PaintGoesToDefaultWhileClosing", WM_PAINT, 0, true, 0, 1, 0, 0, 0},
    {"TickDrawsWhileRunning", WM_TIMER, AnimationTimerId, false, 0, 1, 0, 0, 1},
    {"KeyDownAsksToCloseWhileRunning", WM_KEYDOWN, VK_SPACE, false, 0, 1, 1, 0, 0},
    {"MouseMoveAsksToCloseWhileRunning", WM_MOUSEMOVE, 0, false, 0, 1, 1, 0, 0},
    {"LeftButtonAsksToCloseWhileRunning", WM_LBUTTONDOWN, MK_LBUTTON, false, 0, 1, 1, 0, 0},
    {"PaintHidesCursorWhileRunning", WM_PAINT, 0, false, 0, 1, 0, 1, 0},
};

class ClosingTest : public SaverWindowTest, public ::testing::WithParamInterface<MessageCase> {};

INSTANTIATE_TEST_SUITE_P(Messages, ClosingTest, ::testing::ValuesIn(MessageCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(ClosingTest, HandlesMessageByClosingState) {
  const MessageCase &c = GetParam();
  LRESULT result = -7;
  std::vector<SimEvent> events;
  int32_t hueBefore = 0, hueAfter = 0;
  size_t defaults = 0;
  EXPECT_EQ(RunSaver(Mode::Save,
                     [&](HWND window) {
                       hostState.closing = c.closing ? 1 : 0;
                       SimSetCursorPos(hostState.lastCursorPos.x + 50, hostState.lastCursorPos.y + 50);
                       SimClearJournal();
                       hueBefore = animationState.hue;
                       result = SendMessageA(window, c.message, c.wParam, 0);
                       hueAfter = animationState.hue;
                       defaults = CountDefaultHandling(c.message);
                       events = SimJournalOf({SimEventKind::PostMessage, SimEventKind::SetCursor,
                                              SimEventKind::Polyline, SimEventKind::Sleep, SimEventKind::GetDC});
                     }),
            0);
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(defaults, c.defaults);
  size_t closeRequests = 0, hiddenCursors = 0, lines = 0, sleeps = 0, dcs = 0;
  for (const SimEvent &e : events) {
    closeRequests += e.kind == SimEventKind::PostMessage && e.message == WM_CLOSE;
    hiddenCursors += e.kind == SimEventKind::SetCursor && e.cursor == nullptr;
    lines += e.kind == SimEventKind::Polyline;
    sleeps += e.kind == SimEventKind::Sleep;
    dcs += e.kind == SimEventKind::GetDC;
  }
  EXPECT_EQ(closeRequests, c.closeRequests);
  EXPECT_EQ(hiddenCursors, c.hiddenCursors);
  EXPECT_EQ(lines, c.lines);
  if (c.message == WM_TIMER) {
    // A tick that runs first yields its time slice, then draws; a dropped one does neither.
    EXPECT_EQ(sleeps, c.lines);
    EXPECT_EQ(dcs, c.lines);
    if (c.lines > 0) {
      ASSERT_GE(events.size(), 2u);
      EXPECT_EQ(events[0].kind, SimEventKind::Sleep);
      EXPECT_EQ(events[0].value, 0);
      EXPECT_NE(hueAfter, hueBefore);
    } else {
      EXPECT_EQ(hueAfter, hueBefore);
    }
  }
}

// ---- System commands -----------------------------------------------------------------------

struct SysCommandCase {
  const char *name;
  Mode mode;
  WPARAM command;
  bool swallowed;
};

const SysCommandCase SysCommandCases[] = {
    {"NextWindowIsSwallowed", Mode::Save, 0xF040, true},
    {"PrevWindowIsSwallowed", Mode::Save, 0xF050, true},
    {"ScreenSaveIsSwallowed", Mode::Save, 0xF140, true},
    {"NextWindowWithLowBitsPassesOn", Mode::Save, 0xF041, false},
    {"PrevWindowWithLowBitsPassesOn", Mode::Save, 0xF05F, false},
    {"ScreenSaveWithLowBitsPassesOn", Mode::Save, 0xF14F, false},
    {"MinimizePassesOn", Mode::Save, SC_MINIMIZE, false},
    {"ZeroPassesOn", Mode::Save, 0, false},
    {"NextWindowPassesOnInPreview", Mode::Preview, 0xF040, false},
    {"PrevWindowPassesOnInPreview", Mode::Preview, 0xF050, false},
    {"ScreenSavePassesOnInPreview", Mode::Preview, 0xF140, false},
};

class SysCommandTest : public SaverWindowTest, public ::testing::WithParamInterface<SysCommandCase> {};

INSTANTIATE_TEST_SUITE_P(Commands, SysCommandTest, ::testing::ValuesIn(SysCommandCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(SysCommandTest, SwallowsOnlyExactSwitchingCommandsInSaveMode) {
  const SysCommandCase &c = GetParam();
  LRESULT result = -7;
  std::vector<SimEvent> defaults;
  EXPECT_EQ(RunSaver(c.mode,
                     [&](HWND window) {
                       SimClearJournal();
                       result = SendMessageA(window, WM_SYSCOMMAND, c.command, AnyLParam);
                       defaults = SimJournalOf({SimEventKind::DefWindowProc});
                     }),
            0);
  EXPECT_EQ(result, 0);
  if (c.swallowed) {
    EXPECT_TRUE(defaults.empty());
  } else {
    ASSERT_EQ(defaults.size(), 1u);
    EXPECT_EQ(defaults[0].message, static_cast<UINT>(WM_SYSCOMMAND));
    EXPECT_EQ(defaults[0].wParam, c.command);
    EXPECT_EQ(defaults[0].lParam, AnyLParam);
  }
}

// ---- Help and context-menu requests --------------------------------------------------------

enum class HelpSetup { PreviewWithParent, PreviewWithoutParent, FullScreen };

struct HelpCase {
  const char *name;
  UINT message;
  HelpSetup setup;
};

const HelpCase HelpCases[] = {
    {"HelpGoesToPreviewParent", WM_HELP, HelpSetup::PreviewWithParent},
    {"ContextMenuGoesToPreviewParent", WM_CONTEXTMENU, HelpSetup::PreviewWithParent},
    {"HelpInPreviewWithoutParentIsAnsweredOne", WM_HELP, HelpSetup::PreviewWithoutParent},
    {"ContextMenuInPreviewWithoutParentIsAnsweredOne", WM_CONTEXTMENU, HelpSetup::PreviewWithoutParent},
    {"HelpPassesOnInFullScreen", WM_HELP, HelpSetup::FullScreen},
    {"ContextMenuPassesOnInFullScreen", WM_CONTEXTMENU, HelpSetup::FullScreen},
};

class HelpTest : public SaverWindowTest, public ::testing::WithParamInterface<HelpCase> {};

INSTANTIATE_TEST_SUITE_P(Requests, HelpTest, ::testing::ValuesIn(HelpCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(HelpTest, ForwardsToPreviewParentOnly) {
  const HelpCase &c = GetParam();
  LRESULT result = -7;
  size_t defaults = 0, posts = 0;
  auto send = [&](HWND window) {
    SimClearJournal();
    result = SendMessageA(window, c.message, 0x77, AnyLParam);
    defaults = CountDefaultHandling(c.message);
    posts = SimCount(SimEventKind::PostMessage);
  };
  switch (c.setup) {
    case HelpSetup::PreviewWithParent: {
      EXPECT_EQ(RunSaver(Mode::Preview, send), 0);
      EXPECT_EQ(result, 1);
      EXPECT_EQ(defaults, 0u);
      const std::vector<MSG> forwarded = SimForeignPosts(parent);
      ASSERT_EQ(forwarded.size(), 1u);
      EXPECT_EQ(forwarded[0].hwnd, parent);
      EXPECT_EQ(forwarded[0].message, c.message);
      EXPECT_EQ(forwarded[0].wParam, reinterpret_cast<WPARAM>(parent));
      EXPECT_EQ(forwarded[0].lParam, AnyLParam);
      break;
    }
    case HelpSetup::PreviewWithoutParent: {
      hostState.previewMode = 1;
      const HWND window = MakeWindowOfSaverClass(nullptr, WS_POPUP | WS_VISIBLE);
      ASSERT_NE(window, nullptr);
      send(window);
      DestroyWindow(window);
      EXPECT_EQ(result, 1);
      EXPECT_EQ(defaults, 0u);
      EXPECT_EQ(posts, 0u);
      break;
    }
    case HelpSetup::FullScreen:
      EXPECT_EQ(RunSaver(Mode::Save, send), 0);
      EXPECT_EQ(result, 0);
      EXPECT_EQ(defaults, 1u);
      EXPECT_EQ(posts, 0u);
      break;
  }
}

// ---- Title, cursor -----------------------------------------------------------------------

TEST_P(SaverModeTest, SetTextIsAnsweredZeroAndKeepsTitle) {
  LRESULT result = -7;
  std::string titleAfter;
  size_t defaults = 0;
  EXPECT_EQ(RunSaver(GetParam(),
                     [&](HWND window) {
                       result = SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Renamed"));
                       titleAfter = SimGetWindow(window).title;
                       defaults = CountDefaultHandling(WM_SETTEXT);
                     }),
            0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(titleAfter, GetParam() == Mode::Save ? "Screen Saver" : "Preview");
  EXPECT_EQ(defaults, 0u);
}

TEST_P(SaverModeTest, HidesCursorAtCreationAndPaintInFullScreenOnly) {
  const bool fullScreen = GetParam() == Mode::Save;
  size_t hiddenOnPaint = 0;
  EXPECT_EQ(RunSaver(GetParam(),
                     [&](HWND window) {
                       const size_t before = SimJournal().size();
                       SendMessageA(window, WM_PAINT, 0, 0);
                       hiddenOnPaint = CountHiddenCursorsBetween(before, SimJournal().size());
                     }),
            0);
  // Between the creation message and the animation's timer lies the host's own
  // creation step, which hides the cursor before anything else is drawn.
  const size_t creation = IndexOf(SimEventKind::SendMessage, WM_CREATE);
  const size_t timerStarted = IndexOf(SimEventKind::SetTimer);
  ASSERT_LT(creation, timerStarted);
  EXPECT_EQ(CountHiddenCursorsBetween(creation, timerStarted), fullScreen ? 1u : 0u);
  EXPECT_EQ(hiddenOnPaint, fullScreen ? 1u : 0u);
  if (!fullScreen) {
    EXPECT_EQ(SimCount(SimEventKind::SetCursor), 0u);
  }
}

// ---- How the loop ends -------------------------------------------------------------------

enum class Ending { CloseRequest, WindowDestroyed, ParentDestroyed, QuitWithCode };

struct EndingCase {
  const char *name;
  Mode mode;
  Ending ending;
  int result;
};

const EndingCase EndingCases[] = {
    {"CloseRequestEndsFullScreenWithZero", Mode::Save, Ending::CloseRequest, 0},
    {"DestroyedWindowEndsFullScreenWithZero", Mode::Save, Ending::WindowDestroyed, 0},
    {"DestroyedParentEndsPreviewWithZero", Mode::Preview, Ending::ParentDestroyed, 0},
    {"LoopReturnsTheQuitCode", Mode::Save, Ending::QuitWithCode, 7},
};

class EndingTest : public SaverWindowTest, public ::testing::WithParamInterface<EndingCase> {};

INSTANTIATE_TEST_SUITE_P(Endings, EndingTest, ::testing::ValuesIn(EndingCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(EndingTest, ReturnsQuitCodeOfLoop) {
  const EndingCase &c = GetParam();
  HWND window = nullptr;
  const int result = RunSaver(
      c.mode,
      [&](HWND running) {
        window = running;
        switch (c.ending) {
          case Ending::CloseRequest:
            break;  // the runner's close request does it
          case Ending::WindowDestroyed:
            DestroyWindow(running);
            break;
          case Ending::ParentDestroyed:
            DestroyWindow(parent);
            break;
          case Ending::QuitWithCode:
            PostQuitMessage(c.result);
            break;
        }
      },
      c.ending == Ending::CloseRequest);
  EXPECT_EQ(result, c.result);
  EXPECT_FALSE(SimQuitPending());
  if (c.ending == Ending::QuitWithCode) {
    ASSERT_TRUE(IsWindow(window));  // the loop ended before the close request came
    DestroyWindow(window);
  }
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(SimCount(SimEventKind::KillTimer), 1u);
}

TEST_F(SaverWindowTest, FullScreenIsRaisedBeforeLoopAndPasswordLibraryFreedAfterIt) {
  UseWin9xWithPassword();
  EXPECT_EQ(RunSaver(Mode::Save), 0);
  const size_t loaded = IndexOf(SimEventKind::LoadLibrary);
  const size_t created = IndexOf(SimEventKind::CreateWindow);
  const size_t raised = IndexOf(SimEventKind::SetForegroundWindow);
  const size_t firstDispatch = IndexOf(SimEventKind::DispatchMessage);
  const size_t freed = IndexOf(SimEventKind::FreeLibrary);
  const size_t size = SimJournal().size();
  ASSERT_LT(freed, size);
  EXPECT_LT(loaded, created);
  EXPECT_LT(created, raised);
  EXPECT_LT(raised, firstDispatch);
  for (size_t i = 0; i < size; ++i) {
    if (SimJournal()[i].kind == SimEventKind::DispatchMessage) {
      EXPECT_LT(i, freed);
    }
  }
  EXPECT_EQ(SimJournal()[raised].window, reinterpret_cast<HWND>(SimJournal()[created].result));
  EXPECT_FALSE(SimScreenSaverRunning());
}

// ---- A window that cannot be made -------------------------------------------------------

enum class Failure { RegisterClass, CreateWindow };

struct FailureCase {
  const char *name;
  Mode mode;
  Failure failure;
};

const FailureCase FailureCases[] = {
    {"FullScreenClassRefused", Mode::Save, Failure::RegisterClass},
    {"FullScreenWindowRefused", Mode::Save, Failure::CreateWindow},
    {"PreviewClassRefused", Mode::Preview, Failure::RegisterClass},
    {"PreviewWindowRefused", Mode::Preview, Failure::CreateWindow},
};

class FailureTest : public SaverWindowTest, public ::testing::WithParamInterface<FailureCase> {};

INSTANTIATE_TEST_SUITE_P(Failures, FailureTest, ::testing::ValuesIn(FailureCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(FailureTest, ReturnsMinusOneWithoutLoopAndStillUnloadsPasswordLibrary) {
  const FailureCase &c = GetParam();
  UseWin9xWithPassword();
  if (c.failure == Failure::RegisterClass) SimFailRegisterClass(true);
  if (c.failure == Failure::CreateWindow) SimFailCreateWindow(true);

  EXPECT_EQ(RunSaver(c.mode), -1);

  EXPECT_EQ(idleCalls, 0);
  EXPECT_EQ(SimCount(SimEventKind::DispatchMessage), 0u);
  EXPECT_EQ(SimCount(SimEventKind::SetForegroundWindow), 0u);
  EXPECT_EQ(SimCount(SimEventKind::CreateWindow), c.failure == Failure::CreateWindow ? 1u : 0u);
  if (c.mode == Mode::Save) {
    // Loaded before the window was tried, and released although none came.
    EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), 1u);
    EXPECT_EQ(SimCount(SimEventKind::FreeLibrary), 1u);
    EXPECT_LT(IndexOf(SimEventKind::RegisterClass), IndexOf(SimEventKind::FreeLibrary));
  } else {
    EXPECT_EQ(SimCount(SimEventKind::LoadLibrary), 0u);
  }
  EXPECT_FALSE(SimScreenSaverRunning());
}

}  // namespace
