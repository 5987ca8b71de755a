// Start-up in-process: the command tail, window handles on the command line, and
// which mode each first switch runs, with what owner or parent.
#include "host/host.h"
#include "resources/resource_ids.h"
#include "tests/win32/harness.h"

#include <string>

namespace {

TEST(Startup, CommandTailStepsOverTheProgramNameAndTheBlanksAfterIt) {
  const struct {
    const char *line, *tail;
  } rows[] = {
      {"\"C:\\my savers\\q.scr\" /s", "/s"},
      {"\"q.scr\"/p 5", "/p 5"},
      {"\"q.scr /s", ""},
      {"\"\" s", "s"},
      {"q.scr /c:12", "/c:12"},
      {"q.scr\t\x01 -p 5 ", "-p 5 "},
      {"q\xe9.scr\x1f/s", "/s"},
      {" \x05/s", "/s"},
      {"q.scr", ""},
      {"", ""},
  };
  for (const auto &row : rows) EXPECT_STREQ(CommandTail(row.line), row.tail) << row.line;
}

TEST(Startup, WindowHandleIsUnsignedDecimalWrappingAt32Bits) {
  const struct {
    const char *text;
    UINT_PTR handle;
  } rows[] = {{"123", 123},      {"05", 5},         {"9", 9},  {"12x4", 12}, {"5/", 5}, {"7:", 7},
              {"", 0},           {" 5", 0},         {"-5", 0}, {"/5", 0},    {":5", 0}, {"4294967295", 0xFFFFFFFFu},
              {"4294967296", 0}, {"4294967306", 10}};
  for (const auto &row : rows)
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(ParseWindowHandle(row.text)), row.handle) << row.text;
}

struct StartupTest : testing::Test {
  HWND chosen = nullptr, foreground = nullptr, gone = nullptr;
  void SetUp() override {
    hostState = HostState{};
    hostState.onWin9x = 1;  // SaverMain must find out for itself
    const auto make = [] { return CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, 0, 0, 0, 0); };
    chosen = make(), foreground = make(), gone = make();
    DestroyWindow(gone);
    SetForegroundWindow(foreground);
  }
  void TearDown() override {
    DestroyWindow(chosen), DestroyWindow(foreground), UnregisterClassA(SaverClassName, GetModuleHandleA(nullptr));
  }
  std::string Handle(HWND window) { return std::to_string(reinterpret_cast<UINT_PTR>(window)); }
};

TEST_F(StartupTest, ModesThatCannotStartEndWithMinusOneAndNoWindow) {
  const std::string tails[] = {"x",
                               "1",
                               "\ts",
                               "  -/-x",
                               "\xe9",
                               "a",
                               "A " + Handle(chosen),
                               "p",
                               "P 0",
                               "l  abc",
                               "p " + Handle(gone),
                               "p 4294967295"};
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  for (const std::string &tail : tails) {
    EXPECT_EQ(SaverMain(instance, tail.c_str()), -1) << tail;
    EXPECT_TRUE(hostState.instanceHandle == instance && hostState.onWin9x == 0 &&
                !FindWindowA(SaverClassName, nullptr));
  }
}

// Each row runs its mode on this thread; the script finds the window the mode made,
// notes its owner or parent, and ends it.
TEST_F(StartupTest, EachSwitchRunsItsModeWithItsOwnerOrParent) {
  enum Kind { Saver, Preview, Dialog };
  const struct {
    std::string tail;
    Kind kind;
    HWND relative;
  } rows[] = {
      {"s", Saver, nullptr},
      {" -S x", Saver, nullptr},
      {"p " + Handle(chosen), Preview, chosen},
      {"/L   " + Handle(chosen), Preview, chosen},
      {"c:" + Handle(chosen), Dialog, chosen},
      {"C:" + Handle(gone), Dialog, foreground},
      {"c " + Handle(chosen), Dialog, foreground},
      {"/c:", Dialog, foreground},
      {"c", Dialog, foreground},
      {"", Dialog, nullptr},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.tail);
    SetForegroundWindow(foreground);
    HWND relative = reinterpret_cast<HWND>(-1);
    const auto made = [&] {
      return row.kind == Preview ? FindWindowExA(chosen, 0, SaverClassName, "Preview")
             : row.kind == Saver ? VisibleWindow(SaverClassName, "Screen Saver")
                                 : VisibleWindow("#32770", "Quorvane");
    };
    const int result =
        WhileRunning([&] { return SaverMain(GetModuleHandleA(nullptr), row.tail.c_str()); },
                     [&](DWORD) {
                       HWND window = nullptr;
                       if (!PollUntil([&] { return (window = made()) != nullptr; })) return;
                       relative = row.kind == Dialog ? GetWindow(window, GW_OWNER) : GetAncestor(window, GA_PARENT);
                       PostMessageA(window, row.kind == Dialog ? WM_COMMAND : WM_CLOSE, IDC_CONFIG_CANCEL, 0);
                     });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(relative, row.kind == Saver ? GetDesktopWindow() : row.relative);
    UnregisterClassA(SaverClassName, GetModuleHandleA(nullptr));
    hostState.previewMode = 0;
  }
}

}  // namespace
