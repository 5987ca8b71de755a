// The redraw speed in its settings file, and the dialog that edits it.
#include "tests/win32/harness.h"

#include "host/host.h"
#include "resources/resource_ids.h"
#include "saver/saver_api.h"
#include "saver/settings.h"

namespace {

// The file as the profile functions write it; "" stands for no file at all.
std::string Stored(const char *value) { return std::string("[Quorvane]\r\nRedraw Speed=") + value + "\r\n"; }

void Store(const std::string &text) {
  DeleteFileA(SettingsPath().c_str());
  RemoveDirectoryA(SettingsPath().c_str());
  if (!text.empty()) WriteFileText(SettingsPath(), text);
}

HWND OpenDialog() { return CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_CONFIG), nullptr, ConfigDialogProc, 0); }

void Command(HWND window, WORD id) { PostMessageA(window, WM_COMMAND, id, 0); }

void Scroll(HWND d, WORD code) { SendMessageA(d, WM_HSCROLL, code, (LPARAM)GetDlgItem(d, IDC_SPEED_SCROLL)); }

// Runs the dialog as the host does while `act` drives it; returns how it ended.
template <typename Act>
int RunDialog(Act act) {
  return WhileRunning([] { return ShowConfigDialog(nullptr); },
                      [&](DWORD owner) {
                        const HWND dialog = WaitForWindow("#32770", "Quorvane");
                        GUITHREADINFO info = {sizeof info, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}};
                        GetGUIThreadInfo(owner, &info);
                        EXPECT_EQ(info.hwndFocus, GetDlgItem(dialog, IDC_CONFIG_OK));
                        act(dialog);
                      });
}

class Settings : public testing::Test {
 protected:
  void SetUp() override {
    hostState = HostState{.instanceHandle = GetModuleHandleA(nullptr)};
    saverSettings = {}, RedrawSpeed = DefaultRedrawSpeed;
    Store("");
  }
  void TearDown() override { Store(""); }
};

// Reading is left to the profile functions; the dialog's rows below read through them.
TEST_F(Settings, SpeedIsWrittenAsDecimalTextUnderTheSaversNames) {
  RedrawSpeed = -7;
  LocateSettings();
  EXPECT_TRUE(WriteRedrawSpeed());
  EXPECT_EQ(ReadFileText(SettingsPath()), Stored("-7"));
}

TEST_F(Settings, DialogShowsTheStoredSpeedOrTheDefaultWhenOutOfRange) {
  const struct {
    std::string file;
    int thumb;
  } rows[] = {{"", 5}, {Stored("1"), 1}, {Stored("10"), 10}, {Stored("0"), 5}, {Stored("11"), 5}, {Stored("abc"), 5}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.file);
    Store(row.file);
    saverSettings = {};  // the dialog finds the file itself
    const HWND dialog = OpenDialog();
    const HWND scrollBar = GetDlgItem(dialog, IDC_SPEED_SCROLL);
    int low = 0, high = 0;
    GetScrollRange(scrollBar, SB_CTL, &low, &high);
    EXPECT_TRUE(low == 1 && high == 10 && GetScrollPos(scrollBar, SB_CTL) == row.thumb && RedrawSpeed == row.thumb);
    DestroyWindow(dialog);
  }
}

TEST_F(Settings, ScrollingStepsByOneWithinTheRangeAndFollowsOnlyAReleasedThumb) {
  // `shown` differs from `before` where the scroll bar must be left alone.
  const struct {
    LONG before;
    int shown;
    WORD code, thumb;
    LONG after;
    int position;
    INT_PTR result;
  } rows[] = {{5, 5, SB_LINELEFT, 0, 4, 4, 0},
              {10, 10, SB_LINELEFT, 0, 9, 9, 0},
              {1, 1, SB_LINELEFT, 0, 1, 1, 0},
              {5, 5, SB_PAGELEFT, 0, 4, 4, 0},
              {1, 1, SB_PAGELEFT, 0, 1, 1, 0},
              {5, 5, SB_LINERIGHT, 0, 6, 6, 0},
              {1, 1, SB_LINERIGHT, 0, 2, 2, 0},
              {10, 10, SB_LINERIGHT, 0, 10, 10, 0},
              {5, 5, SB_PAGERIGHT, 0, 6, 6, 0},
              {10, 10, SB_PAGERIGHT, 0, 10, 10, 0},
              {5, 5, SB_THUMBPOSITION, 7, 7, 7, 0},
              {5, 5, SB_THUMBPOSITION, 0, 1, 1, 0},
              {5, 5, SB_THUMBPOSITION, 65535, 10, 10, 0},
              {4, 7, SB_THUMBTRACK, 2, 4, 7, 1},
              {4, 7, SB_ENDSCROLL, 2, 4, 7, 1},
              {5, 5, SB_LEFT, 0, 1, 1, 0},
              {5, 5, SB_RIGHT, 0, 10, 10, 0},
              {5, 7, 9, 2, 5, 5, 0},
              {12, 7, 9, 2, 10, 10, 0},
              {0, 7, 9, 2, 1, 1, 0}};
  const HWND dialog = OpenDialog();
  const HWND scrollBar = GetDlgItem(dialog, IDC_SPEED_SCROLL);
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << row.before << " code " << row.code << " thumb " << row.thumb);
    RedrawSpeed = row.before;
    SetScrollPos(scrollBar, SB_CTL, row.shown, FALSE);
    EXPECT_EQ(ConfigDialogProc(dialog, WM_HSCROLL, MAKEWPARAM(row.code, row.thumb), (LPARAM)scrollBar), row.result);
    EXPECT_TRUE(RedrawSpeed == row.after && GetScrollPos(scrollBar, SB_CTL) == row.position);
  }
  // Only the start and the two buttons' commands are handled; the rest is left to the platform.
  for (const auto &[message, wParam, result] : {std::tuple<UINT, WPARAM, INT_PTR>{WM_USER, 0, 0},
                                                {WM_CLOSE, 0, 0},
                                                {WM_COMMAND, IDCANCEL, 0},
                                                {WM_COMMAND, IDOK, 0},
                                                {WM_COMMAND, IDC_SPEED_SCROLL, 0},
                                                {WM_COMMAND, IDC_CONFIG_OK, 1},
                                                {WM_COMMAND, IDC_CONFIG_CANCEL, 1},
                                                {WM_INITDIALOG, 0, 1}})
    EXPECT_EQ(ConfigDialogProc(dialog, message, wParam, 0), result) << message << " " << wParam;
  DestroyWindow(dialog);
}

TEST_F(Settings, ModalDialogSavesOnlyOnOkAndEndsOnlyByItsButtons) {
  const std::string odd = "[Quorvane]\n Redraw Speed = 3 \n;note\n";
  const struct {
    const char *what;
    std::string file;
    void (*act)(HWND);
    int result;
    std::string after;
  } rows[] = {
      {"OK with no file", "", [](HWND d) { Command(d, IDC_CONFIG_OK); }, 1, Stored("5")},
      {"the far right, then Cancel", odd, [](HWND d) { Scroll(d, SB_RIGHT), Command(d, IDC_CONFIG_CANCEL); }, 0, odd},
      {"Escape and the close box, then Cancel", "",
       [](HWND d) {
         EXPECT_TRUE((SendMessageA(d, WM_COMMAND, IDCANCEL, 0), IsWindow(d)));
         EXPECT_TRUE((SendMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0), IsWindow(d)));
         Command(d, IDC_CONFIG_CANCEL);
       },
       0, ""}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    Store(row.file);
    EXPECT_EQ(RunDialog(row.act), row.result);
    EXPECT_EQ(ReadFileText(SettingsPath()), row.after);
  }
}

// A directory where the file belongs makes the write fail even for an administrator.
TEST_F(Settings, FailedSaveIsReportedAndKeepsTheDialogOpen) {
  ASSERT_TRUE(CreateDirectoryA(SettingsPath().c_str(), nullptr));
  char reason[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_ACCESS_DENIED, 0, reason,
                 sizeof reason, nullptr);
  EXPECT_EQ(RunDialog([&](HWND dialog) {
              Command(dialog, IDC_CONFIG_OK);
              HWND box = nullptr;  // a message box the dialog owns
              PollUntil([&] { return (box = GetLastActivePopup(dialog)) != dialog && IsWindowVisible(box); });
              char text[512] = "";
              GetWindowTextA(box, text, sizeof text);
              EXPECT_STREQ(text, "Quorvane");
              GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
              EXPECT_EQ(std::string(text), std::string("The redraw speed could not be saved.\n\n") + reason);
              EXPECT_TRUE(IsWindowVisible(dialog));  // not ended behind the message box
              Command(box, IDOK);
              EXPECT_TRUE(PollUntil([&] { return !IsWindow(box); }));
              RemoveDirectoryA(SettingsPath().c_str());
              Command(dialog, IDC_CONFIG_OK);
            }),
            1);
  EXPECT_EQ(ReadFileText(SettingsPath()), Stored("5"));
}

}  // namespace
