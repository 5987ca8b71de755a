// The simulated platform's own load-bearing rules: the order in which the
// queue gives out messages, when timers fall due, how a profile value reads as
// an integer, and what the leak check reports.
#include "tests/unit/sim_test.h"

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr char ProbeClass[] = "SimProbeClass";
constexpr char ProbeFile[] = "probe.ini";
constexpr UINT ProbeMessage = WM_APP + 1;
constexpr UINT_PTR ProbeTimer = 7;

std::vector<UINT> received;

LRESULT WINAPI RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  received.push_back(message);
  return DefWindowProcA(window, message, wParam, lParam);
}

class SimPlatformTest : public SimTest {
 protected:
  HWND MakeWindow(DWORD style, HWND parent = nullptr) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.lpszClassName = ProbeClass;
    RegisterClassA(&windowClass);
    received.clear();
    return CreateWindowExA(0, ProbeClass, "probe", style, 0, 0, 100, 50, parent, nullptr, SimInstance(), nullptr);
  }

  std::vector<UINT> Retrieve(int count) {
    std::vector<UINT> order;
    MSG msg;
    for (int i = 0; i < count && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
      order.push_back(msg.message);
      DispatchMessageA(&msg);
    }
    return order;
  }
};

TEST_F(SimPlatformTest, CreationSendsCreateAndSizeThenShowsAVisibleWindow) {
  const HWND window = MakeWindow(WS_POPUP | WS_VISIBLE);
  EXPECT_EQ(received, (std::vector<UINT>{WM_CREATE, WM_SIZE, WM_SHOWWINDOW}));
  EXPECT_TRUE(SimGetWindow(window).needsPaint);
  DestroyWindow(window);
}

// Posted messages first, then the quit request, then paint, then due timers;
// a timer gives one WM_TIMER however many periods passed.
TEST_F(SimPlatformTest, QueueGivesPostedThenQuitThenPaintThenTimer) {
  const HWND window = MakeWindow(WS_POPUP | WS_VISIBLE);
  SetTimer(window, ProbeTimer, 50, nullptr);
  SimAdvanceClock(500);
  PostQuitMessage(3);
  PostMessageA(window, ProbeMessage, 1, 0);
  PostMessageA(window, ProbeMessage, 2, 0);

  EXPECT_EQ(Retrieve(10), (std::vector<UINT>{ProbeMessage, ProbeMessage, WM_QUIT, WM_PAINT, WM_TIMER}));
  DestroyWindow(window);
}

struct TimerCase {
  UINT interval;
  DWORD advance;
  bool due;
};

TEST_F(SimPlatformTest, TimerFallsDueWhenItsPeriodHasPassed) {
  const TimerCase cases[] = {
      {50, 49, false}, {50, 50, true}, {50, 5000, true}, {0, 9, false}, {0, 10, true}, {3, 9, false},
  };
  for (const TimerCase &c : cases) {
    const HWND window = MakeWindow(WS_POPUP);
    SetTimer(window, ProbeTimer, c.interval, nullptr);
    SimAdvanceClock(c.advance);
    MSG msg;
    EXPECT_EQ(PeekMessageA(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE) != 0, c.due)
        << "interval " << c.interval << ", after " << c.advance << " ms";
    EXPECT_FALSE(PeekMessageA(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE)) << "a second tick at once";
    DestroyWindow(window);
    UnregisterClassA(ProbeClass, SimInstance());
  }
}

TEST_F(SimPlatformTest, IdleGetMessageMovesTheClockToTheNextTimer) {
  const HWND window = MakeWindow(WS_POPUP);
  SetTimer(window, ProbeTimer, 200, nullptr);
  const DWORD start = SimTickCount();
  MSG msg;
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
  EXPECT_EQ(SimTickCount() - start, 200u);
  DestroyWindow(window);
}

TEST_F(SimPlatformTest, GetMessageThatCouldWaitForeverFailsInsteadOfHanging) {
  MSG msg;
  EXPECT_THROW(GetMessageA(&msg, nullptr, 0, 0), SimError);
  const HWND window = MakeWindow(WS_POPUP);
  SetTimer(window, ProbeTimer, 10, nullptr);
  SimSetMessageBudget(5);
  EXPECT_THROW(
      while (GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg), SimError);
  DestroyWindow(window);
}

TEST_F(SimPlatformTest, DestroyingAParentSendsDestroyToItThenToItsChild) {
  const HWND parent = SimCreatePreviewParent(320, 240);
  const HWND child = MakeWindow(WS_CHILD | WS_VISIBLE, parent);
  received.clear();
  SimClearJournal();
  DestroyWindow(parent);
  EXPECT_EQ(received, std::vector<UINT>{WM_DESTROY});
  EXPECT_FALSE(IsWindow(child));
  const std::vector<SimEvent> destroys = SimJournalOf({SimEventKind::SendMessage});
  ASSERT_EQ(destroys.size(), 2u) << SimJournalText();
  EXPECT_EQ(destroys[0].window, parent);
  EXPECT_EQ(destroys[1].window, child);
}

TEST_F(SimPlatformTest, HandlesThatNameNothingAreNoWindows) {
  const HWND window = MakeWindow(WS_POPUP);
  const HWND roundTrip = reinterpret_cast<HWND>(static_cast<UINT_PTR>(
      std::stoul(std::to_string(static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(window))))));
  EXPECT_TRUE(IsWindow(roundTrip));
  for (UINT_PTR number : {UINT_PTR{0}, UINT_PTR{999}, UINT_PTR{0xFFFFFFFF}}) {
    EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(number))) << number;
  }
  DestroyWindow(window);
}

struct IntCase {
  const char *line;  // the key's line in the file, or nullptr for no key
  INT defaultValue;
  UINT expected;
};

// The platform's reading of a profile integer, byte for byte as the
// reference implementation reads it.
TEST_F(SimPlatformTest, ProfileIntegerReadsLikeThePlatform) {
  const IntCase cases[] = {
      {"k=7", 5, 7},
      {nullptr, 5, 5},
      {"k=", 5, 5},
      {"k", 5, 5},
      {"k=\"\"", 5, 5},
      {"  K  =  12  ", 5, 12},
      {"k=0x1F", 5, 31},
      {"k=0X10", 5, 0},
      {"k=0b11", 5, 3},
      {"k=0o17", 5, 15},
      {"k=-12abc", 5, static_cast<UINT>(-12)},
      {"k=+7", 5, 7},
      {"k=4294967297", 5, 1},
      {"k=abc", 5, 0},
      {"k=\"12\"", 5, 12},
      {"k=\x1A 9", 5, 9},
      {"k=\xA0" "7", 5, 0},
      {"k=000000000000000000000000000000012", 5, 0},
      {nullptr, -3, static_cast<UINT>(-3)},
  };
  for (const IntCase &c : cases) {
    SimWriteFile(ProbeFile, std::string("[Quorvane]\r\n") + (c.line ? c.line : "other=1") + "\r\n");
    EXPECT_EQ(GetPrivateProfileIntA(" quorvane ", "k", c.defaultValue, ProbeFile), c.expected)
        << (c.line ? c.line : "(no key)");
  }
}

TEST_F(SimPlatformTest, ProfileWriteReplacesOneValueAndRewritesTheFile) {
  SimWriteFile(ProbeFile, "; note\n[other]\nx = 1\n\n[Quorvane]\nRedraw Speed = 9\n");
  EXPECT_TRUE(WritePrivateProfileStringA("Quorvane", "Redraw Speed", "4", ProbeFile));
  EXPECT_EQ(SimReadFile(ProbeFile), "; note\r\n[other]\r\nx=1\r\n[Quorvane]\r\nRedraw Speed=4\r\n");
  EXPECT_TRUE(WritePrivateProfileStringA("New", "k", "v", "fresh.ini"));
  EXPECT_EQ(SimReadFile("fresh.ini"), "[New]\r\nk=v\r\n");
}

HPEN pen;
HDC dc;
HKEY key;
HMODULE module;

INT_PTR WINAPI Entry() { return TRUE; }

struct LeakCase {
  const char *what;
  std::function<void()> leak;
  std::function<void()> tidy;
};

TEST_F(SimPlatformTest, LeakCheckNamesWhatWasNotGivenBack) {
  SimInstallLibrary("PASSWORD.CPL", {{"VerifyScreenSavePwd", reinterpret_cast<FARPROC>(Entry)}});
  SimSetModuleLoaded("IMM32.DLL", {});
  SimCreateRegistryKey("Control Panel\\Desktop");
  const LeakCase cases[] = {
      {"DC", [] { dc = GetDC(nullptr); }, [] { ReleaseDC(nullptr, dc); }},
      {"pen", [] { pen = CreatePen(PS_SOLID, 1, RGB(1, 2, 3)); }, [] { DeleteObject(pen); }},
      {"PASSWORD.CPL", [] { module = LoadLibraryA("password.cpl"); }, [] { FreeLibrary(module); }},
      {"IMM32.DLL", [] { FreeLibrary(GetModuleHandleA("IMM32.DLL")); }, [] { LoadLibraryA("IMM32.DLL"); }},
      {"registry key", [] { RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key); },
       [] { RegCloseKey(key); }},
  };
  for (const LeakCase &c : cases) {
    c.leak();
    EXPECT_NE(SimLeakReport().find(c.what), std::string::npos) << SimLeakReport();
    c.tidy();
    EXPECT_EQ(SimLeakReport(), "") << c.what;
  }
}

TEST_F(SimPlatformTest, PenDeletedWhileSelectedGoesOnlyWhenDeselected) {
  const HDC screen = GetDC(nullptr);
  const HPEN line = CreatePen(PS_SOLID, 1, RGB(9, 9, 9));
  const HGDIOBJ previous = SelectObject(screen, line);
  DeleteObject(line);
  EXPECT_NE(SimLeakReport().find("still selected"), std::string::npos);
  SelectObject(screen, previous);
  ReleaseDC(nullptr, screen);
}

}  // namespace
