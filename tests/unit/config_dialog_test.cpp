// The configuration dialog: what it shows when it opens, the scroll rule with
// its clamp, what "OK" and "Cancel" leave in the settings file, the commands it
// leaves to the platform, and its result as the exit code of configuration mode.
#include "resources/resource_ids.h"
#include "saver/saver_api.h"
#include "tests/unit/sim_test.h"

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr char SettingsFile[] = "googoo.goo";
constexpr char SettingsSection[] = "Quorvane";
constexpr char SettingsKey[] = "Redraw Speed";
constexpr LONG MiddleSpeed = 6;
constexpr WORD TopThumb = 0xFFFF;  // a thumb position that must not read as -1
constexpr int DialogResultOk = 1;
constexpr int DialogResultCancel = 0;

std::string StoredSpeedFile(const std::string &value) {
  return std::string("[Quorvane]\r\nRedraw Speed=") + value + "\r\n";
}

HWND ScrollBarOf(HWND dialog) { return GetDlgItem(dialog, IDC_SPEED_SCROLL); }

// What the dialog procedure answers, called as the dialog manager calls it.
BOOL Command(HWND dialog, WORD id, WORD notification = BN_CLICKED) {
  return static_cast<BOOL>(ConfigDialogProc(dialog, WM_COMMAND, MAKEWPARAM(id, notification),
                                            reinterpret_cast<LPARAM>(GetDlgItem(dialog, id))));
}

BOOL Scroll(HWND dialog, WORD code, WORD thumb = 0) {
  return static_cast<BOOL>(
      ConfigDialogProc(dialog, WM_HSCROLL, MAKEWPARAM(code, thumb), reinterpret_cast<LPARAM>(ScrollBarOf(dialog))));
}

class ConfigDialogTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    hostState.instanceHandle = SimInstance();
  }

  // Opens the dialog as configuration mode does and runs `whileOpen` against
  // it; the steps end the dialog. Returns the dialog's result.
  int RunDialog(std::function<void(HWND dialog)> whileOpen) {
    SimSetDialogScript(std::move(whileOpen));
    return ShowConfigDialog(nullptr);
  }
};

// ---- Opening ----------------------------------------------------------------------------

TEST_F(ConfigDialogTest, HookLetsTheDialogRun) {
  EXPECT_EQ(PrepareConfigDialog(SimInstance()), 1);
  EXPECT_EQ(PrepareConfigDialog(nullptr), 1);
}

TEST_F(ConfigDialogTest, InitSetsRangeWithoutRedrawThenPositionWithRedraw) {
  SimWriteFile(SettingsFile, StoredSpeedFile("7"));
  RunDialog([](HWND dialog) {
    const HWND scrollBar = ScrollBarOf(dialog);
    const std::vector<SimEvent> calls = SimJournalOf({SimEventKind::SetScrollRange, SimEventKind::SetScrollPos});
    ASSERT_EQ(calls.size(), 2u) << SimJournalText({SimEventKind::SetScrollRange, SimEventKind::SetScrollPos});
    EXPECT_EQ(calls[0].kind, SimEventKind::SetScrollRange);
    EXPECT_EQ(calls[0].window, scrollBar);
    EXPECT_EQ(calls[0].id, static_cast<UINT_PTR>(SB_CTL));
    EXPECT_EQ(calls[0].min, 1);
    EXPECT_EQ(calls[0].max, 10);
    EXPECT_EQ(calls[0].flags, static_cast<uint32_t>(FALSE));
    EXPECT_EQ(calls[1].kind, SimEventKind::SetScrollPos);
    EXPECT_EQ(calls[1].window, scrollBar);
    EXPECT_EQ(calls[1].id, static_cast<UINT_PTR>(SB_CTL));
    EXPECT_EQ(calls[1].value, 7);
    EXPECT_EQ(calls[1].flags, static_cast<uint32_t>(TRUE));
    Command(dialog, IDC_CONFIG_CANCEL);
  });
}

// TRUE from WM_INITDIALOG lets the platform put the focus on "OK", the first tab stop.
TEST_F(ConfigDialogTest, InitAnswersTrueSoTheFocusGoesToOk) {
  HWND ok = nullptr;
  RunDialog([&](HWND dialog) {
    ok = GetDlgItem(dialog, IDC_CONFIG_OK);
    Command(dialog, IDC_CONFIG_CANCEL);
  });
  int seen = 0;
  for (const SimEvent &e : SimJournalOf({SimEventKind::SendMessage})) {
    if (e.message != WM_INITDIALOG) continue;
    ++seen;
    EXPECT_EQ(e.result, TRUE);
    EXPECT_EQ(reinterpret_cast<HWND>(e.wParam), ok);
  }
  EXPECT_EQ(seen, 1);
}

struct StoredCase {
  const char *name;
  const char *stored;  // the file's value text; nullptr: no settings file
  LONG shown;          // where the thumb opens, and what "OK" writes back
};

// Values outside 1 to 10, and text that reads as no number, open at the
// default; "OK" writes what was shown, so a bad value is repaired to 5.
TEST_F(ConfigDialogTest, StoredValueOpensTheThumbAndOkWritesItBack) {
  const StoredCase cases[] = {
      {"NoFile", nullptr, 5}, {"One", "1", 1},      {"Ten", "10", 10},    {"Middle", "6", 6},
      {"Zero", "0", 5},       {"Eleven", "11", 5},  {"Text", "abc", 5},   {"Negative", "-1", 5},
  };
  for (const StoredCase &c : cases) {
    SCOPED_TRACE(c.name);
    SimReset();
    hostState.instanceHandle = SimInstance();
    if (c.stored != nullptr) SimWriteFile(SettingsFile, StoredSpeedFile(c.stored));
    const int result = RunDialog([&](HWND dialog) {
      EXPECT_EQ(RedrawSpeed, c.shown);
      EXPECT_EQ(SimScrollBar(ScrollBarOf(dialog)).pos, c.shown);
      EXPECT_EQ(SimScrollBar(ScrollBarOf(dialog)).min, 1);
      EXPECT_EQ(SimScrollBar(ScrollBarOf(dialog)).max, 10);
      EXPECT_TRUE(Command(dialog, IDC_CONFIG_OK));
    });
    EXPECT_EQ(result, DialogResultOk);
    EXPECT_EQ(SimReadFile(SettingsFile), StoredSpeedFile(std::to_string(c.shown)));
  }
}

// ---- The scroll rule ----------------------------------------------------------------------

struct ScrollCase {
  LONG start;
  WORD code;
  WORD thumb;     // HIWORD(wParam)
  LONG speed;     // afterwards
  bool positions;  // SetScrollPos(scroll bar, SB_CTL, speed, TRUE) and FALSE returned;
                   // otherwise no position is set and TRUE is returned
};

constexpr WORD FirstUnknownCode = 9;
constexpr WORD UnknownCode = 12;

const ScrollCase scrollCases[] = {
    // From the left end.
    {1, SB_LINELEFT, 0, 1, true},
    {1, SB_LINERIGHT, 0, 2, true},
    {1, SB_PAGELEFT, 0, 1, true},
    {1, SB_PAGERIGHT, 0, 2, true},
    {1, SB_THUMBPOSITION, 7, 7, true},
    {1, SB_THUMBTRACK, 7, 1, false},
    {1, SB_LEFT, 0, 1, true},
    {1, SB_RIGHT, 0, 10, true},
    {1, SB_ENDSCROLL, 0, 1, false},
    {1, FirstUnknownCode, 0, 1, true},
    {1, UnknownCode, 4, 1, true},
    // From the right end.
    {10, SB_LINELEFT, 0, 9, true},
    {10, SB_LINERIGHT, 0, 10, true},
    {10, SB_PAGELEFT, 0, 9, true},
    {10, SB_PAGERIGHT, 0, 10, true},
    {10, SB_THUMBPOSITION, 3, 3, true},
    {10, SB_THUMBTRACK, 3, 10, false},
    {10, SB_LEFT, 0, 1, true},
    {10, SB_RIGHT, 0, 10, true},
    {10, SB_ENDSCROLL, 0, 10, false},
    {10, FirstUnknownCode, 0, 10, true},
    {10, 0xFFFF, 0, 10, true},
    // From the middle.
    {MiddleSpeed, SB_LINELEFT, 0, 5, true},
    {MiddleSpeed, SB_LINERIGHT, 0, 7, true},
    {MiddleSpeed, SB_PAGELEFT, 0, 5, true},
    {MiddleSpeed, SB_PAGERIGHT, 0, 7, true},
    {MiddleSpeed, SB_THUMBPOSITION, 2, 2, true},
    {MiddleSpeed, SB_THUMBTRACK, 2, MiddleSpeed, false},
    {MiddleSpeed, SB_LEFT, 0, 1, true},
    {MiddleSpeed, SB_RIGHT, 0, 10, true},
    {MiddleSpeed, SB_ENDSCROLL, 0, MiddleSpeed, false},
    {MiddleSpeed, FirstUnknownCode, 0, MiddleSpeed, true},
    {MiddleSpeed, UnknownCode, 0, MiddleSpeed, true},
    // The thumb's position is clamped too, and read as unsigned.
    {MiddleSpeed, SB_THUMBPOSITION, 0, 1, true},
    {MiddleSpeed, SB_THUMBPOSITION, 1, 1, true},
    {MiddleSpeed, SB_THUMBPOSITION, 10, 10, true},
    {MiddleSpeed, SB_THUMBPOSITION, 11, 10, true},
    {MiddleSpeed, SB_THUMBPOSITION, TopThumb, 10, true},
    // Only the thumb codes look at the high word.
    {MiddleSpeed, SB_LINERIGHT, 3, 7, true},
    {MiddleSpeed, SB_LEFT, 9, 1, true},
};

TEST_F(ConfigDialogTest, ScrollCodeMovesSpeedByTheTableAndClamps) {
  for (const ScrollCase &c : scrollCases) {
    SCOPED_TRACE("from " + std::to_string(c.start) + ", code " + std::to_string(c.code) + ", thumb " +
                 std::to_string(c.thumb));
    SimWriteFile(SettingsFile, StoredSpeedFile(std::to_string(c.start)));
    RunDialog([&](HWND dialog) {
      const HWND scrollBar = ScrollBarOf(dialog);
      SimClearJournal();
      EXPECT_EQ(Scroll(dialog, c.code, c.thumb), c.positions ? FALSE : TRUE);
      EXPECT_EQ(RedrawSpeed, c.speed);
      EXPECT_EQ(SimScrollBar(scrollBar).pos, c.speed);
      const std::vector<SimEvent> positions = SimJournalOf({SimEventKind::SetScrollPos});
      ASSERT_EQ(positions.size(), c.positions ? 1u : 0u);
      if (c.positions) {
        EXPECT_EQ(positions[0].window, scrollBar);
        EXPECT_EQ(positions[0].id, static_cast<UINT_PTR>(SB_CTL));
        EXPECT_EQ(positions[0].value, c.speed);
        EXPECT_EQ(positions[0].flags, static_cast<uint32_t>(TRUE));
      }
      Command(dialog, IDC_CONFIG_CANCEL);
    });
  }
}

// Dragging changes nothing until the thumb is released; the closing
// end-of-scroll changes nothing either; steps never leave 1 to 10.
TEST_F(ConfigDialogTest, DragFollowsThumbOnlyOnReleaseAndStepsStayInRange) {
  SimWriteFile(SettingsFile, StoredSpeedFile("9"));
  const int result = RunDialog([](HWND dialog) {
    for (WORD thumb : {8, 4, 2}) Scroll(dialog, SB_THUMBTRACK, thumb);
    EXPECT_EQ(RedrawSpeed, 9);
    Scroll(dialog, SB_THUMBPOSITION, 2);
    Scroll(dialog, SB_ENDSCROLL);
    EXPECT_EQ(RedrawSpeed, 2);
    for (int i = 0; i < 5; ++i) Scroll(dialog, SB_PAGELEFT);
    EXPECT_EQ(RedrawSpeed, 1);
    for (int i = 0; i < 12; ++i) Scroll(dialog, SB_LINERIGHT);
    EXPECT_EQ(RedrawSpeed, 10);
    Scroll(dialog, SB_LINELEFT);
    Command(dialog, IDC_CONFIG_OK);
  });
  EXPECT_EQ(result, DialogResultOk);
  EXPECT_EQ(SimReadFile(SettingsFile), StoredSpeedFile("9"));
}

// ---- Ending -----------------------------------------------------------------------------

TEST_F(ConfigDialogTest, OkWritesTheShownSpeedEvenWhenUnchanged) {
  SimWriteFile(SettingsFile, StoredSpeedFile("7"));
  const int result = RunDialog([](HWND dialog) { EXPECT_TRUE(Command(dialog, IDC_CONFIG_OK)); });
  EXPECT_EQ(result, DialogResultOk);
  const std::vector<SimEvent> writes = SimJournalOf({SimEventKind::WriteProfileString});
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].name, SettingsSection);
  EXPECT_EQ(writes[0].text, SettingsKey);
  EXPECT_EQ(writes[0].extra, "7");
  EXPECT_EQ(writes[0].file, SettingsFile);
  EXPECT_EQ(SimReadFile(SettingsFile), StoredSpeedFile("7"));
}

// The notification code and the control handle of a command are not looked at.
TEST_F(ConfigDialogTest, OkAndCancelCountWhateverTheNotification) {
  struct Case {
    WORD id;
    WORD notification;
    int result;
  };
  const Case cases[] = {{IDC_CONFIG_OK, 1, DialogResultOk}, {IDC_CONFIG_CANCEL, 1, DialogResultCancel}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.id);
    const int result = RunDialog([&](HWND dialog) {
      EXPECT_TRUE(ConfigDialogProc(dialog, WM_COMMAND, MAKEWPARAM(c.id, c.notification), 0));
    });
    EXPECT_EQ(result, c.result);
  }
}

TEST_F(ConfigDialogTest, CancelAfterChangesWritesNothingAndLeavesFileByteForByte) {
  const std::string handMade = "; mine\n[Quorvane]\nRedraw Speed = 3  \n\n[Other]\nx=1";
  SimWriteFile(SettingsFile, handMade);
  const int result = RunDialog([](HWND dialog) {
    Scroll(dialog, SB_RIGHT);
    Scroll(dialog, SB_LINELEFT);
    Scroll(dialog, SB_THUMBPOSITION, 4);
    EXPECT_TRUE(Command(dialog, IDC_CONFIG_CANCEL));
  });
  EXPECT_EQ(result, DialogResultCancel);
  EXPECT_EQ(SimCount(SimEventKind::WriteProfileString), 0u);
  EXPECT_EQ(SimReadFile(SettingsFile), handMade);
}

TEST_F(ConfigDialogTest, CancelWithoutFileCreatesNone) {
  EXPECT_EQ(RunDialog([](HWND dialog) { Command(dialog, IDC_CONFIG_CANCEL); }), DialogResultCancel);
  EXPECT_FALSE(SimFileExists(SettingsFile));
}

// ---- What the dialog leaves to the platform ---------------------------------------------------

const char LaterClass[] = "ConfigDialogTestLater";
std::function<void()> later;

// Runs `later` once every message queued ahead of it has been handled, by
// going to the back of the queue while anything else waits there.
LRESULT WINAPI LaterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_APP) return DefWindowProcA(window, message, wParam, lParam);
  if (SimQueuedMessages().empty()) {
    later();
  } else {
    PostMessageA(window, WM_APP, 0, 0);
  }
  return 0;
}

HWND MakeLaterWindow() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = LaterProc;
  windowClass.lpszClassName = LaterClass;
  windowClass.hInstance = SimInstance();
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, LaterClass, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, SimInstance(), nullptr);
}

// The platform's IDOK and IDCANCEL (Enter, Escape, the close box) and the
// controls the procedure never addresses get FALSE and change nothing.
TEST_F(ConfigDialogTest, CommandsOtherThanOkAndCancelAreLeftUnhandled) {
  const WORD unhandled[] = {IDOK, IDCANCEL, 0, IDC_SPEED_SCROLL, 6, IDC_SPEED_GROUP, IDC_FAST_LABEL, 0xFFFF};
  SimWriteFile(SettingsFile, StoredSpeedFile("3"));
  const int result = RunDialog([&](HWND dialog) {
    for (WORD id : unhandled) EXPECT_FALSE(Command(dialog, id)) << "id " << id;
    EXPECT_FALSE(ConfigDialogProc(dialog, WM_CLOSE, 0, 0));
    EXPECT_FALSE(ConfigDialogProc(dialog, WM_VSCROLL, SB_LINEDOWN, reinterpret_cast<LPARAM>(ScrollBarOf(dialog))));
    EXPECT_EQ(RedrawSpeed, 3);
    EXPECT_EQ(SimCount(SimEventKind::EndDialog), 0u);
    Command(dialog, IDC_CONFIG_CANCEL);
  });
  EXPECT_EQ(result, DialogResultCancel);
  EXPECT_EQ(SimCount(SimEventKind::WriteProfileString), 0u);
}

// The close box's request reaches the procedure, through the dialog's default
// handling, as the platform's cancel command, and the dialog stays open.
TEST_F(ConfigDialogTest, CloseRequestLeavesDialogOpenAndWritesNothing) {
  SimWriteFile(SettingsFile, StoredSpeedFile("3"));
  const HWND laterWindow = MakeLaterWindow();
  const int result = RunDialog([&](HWND dialog) {
    Scroll(dialog, SB_RIGHT);
    later = [dialog] {
      EXPECT_TRUE(IsWindow(dialog));
      EXPECT_EQ(SimCount(SimEventKind::EndDialog), 0u);
      EXPECT_EQ(SimCount(SimEventKind::WriteProfileString), 0u);
      Command(dialog, IDC_CONFIG_CANCEL);
    };
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    PostMessageA(laterWindow, WM_APP, 0, 0);
  });
  EXPECT_EQ(result, DialogResultCancel);
  bool cancelSeen = false;
  for (const SimEvent &e : SimJournalOf({SimEventKind::DispatchMessage})) {
    cancelSeen = cancelSeen || (e.message == WM_COMMAND && LOWORD(e.wParam) == IDCANCEL);
  }
  EXPECT_TRUE(cancelSeen) << "the close request never became the cancel command";
  EXPECT_EQ(SimReadFile(SettingsFile), StoredSpeedFile("3"));
  DestroyWindow(laterWindow);
}

// ---- Configuration mode as a whole --------------------------------------------------------------

TEST_F(ConfigDialogTest, DialogResultIsTheResultOfConfigurationMode) {
  struct Case {
    const char *tail;
    WORD button;
    int result;
    const char *file;  // afterwards; nullptr: none
  };
  const Case cases[] = {
      {"", IDC_CONFIG_OK, DialogResultOk, "[Quorvane]\r\nRedraw Speed=6\r\n"},
      {"/c", IDC_CONFIG_OK, DialogResultOk, "[Quorvane]\r\nRedraw Speed=6\r\n"},
      {"", IDC_CONFIG_CANCEL, DialogResultCancel, nullptr},
      {"/c", IDC_CONFIG_CANCEL, DialogResultCancel, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("\"") + c.tail + "\", button " + std::to_string(c.button));
    SimReset();
    SimSetDialogScript([&](HWND dialog) {
      Scroll(dialog, SB_LINERIGHT);
      Command(dialog, c.button);
    });
    EXPECT_EQ(SaverMain(SimInstance(), c.tail), c.result);
    EXPECT_EQ(SimCount(SimEventKind::DialogBox), 1u);
    EXPECT_EQ(SimReadFile(SettingsFile), c.file ? c.file : "");
    EXPECT_EQ(SimFileExists(SettingsFile), c.file != nullptr);
  }
}

}  // namespace
