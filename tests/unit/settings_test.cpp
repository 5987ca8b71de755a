// The settings file: the names that locate it, the bytes a write leaves, and
// what the stored text reads back as, number or not.
#include "tests/unit/sim_test.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

namespace {

const char SettingsFile[] = "googoo.goo";
const char SectionName[] = "Quorvane";

// A settings file holding one value under the saver's section and key.
std::string FileWithSpeed(const std::string &value) { return "[Quorvane]\r\nRedraw Speed=" + value + "\r\n"; }

template <typename Case>
  requires requires(const Case &c) { c.name; }
void PrintTo(const Case &c, std::ostream *out) {
  *out << c.name;
}

class SettingsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    hostState.instanceHandle = SimInstance();
  }

  // What a reader does: locate, then read.
  static LONG ReadBack() {
    LocateSettings();
    ReadRedrawSpeed();
    return RedrawSpeed;
  }

  static void Write(LONG speed) {
    LocateSettings();
    RedrawSpeed = speed;
    WriteRedrawSpeed();
  }
};

// The names are cut and terminated as the string loader does it; both fit, so
// they arrive whole, each followed by its terminating zero.
TEST_F(SettingsTest, LocateSettingsFillsExactlyTheSectionAndFileNames) {
  std::memset(&saverSettings, 'x', sizeof saverSettings);
  LocateSettings();
  EXPECT_EQ(std::memcmp(saverSettings.sectionName, SectionName, sizeof SectionName), 0);
  EXPECT_EQ(std::memcmp(saverSettings.fileName, SettingsFile, sizeof SettingsFile), 0);
  EXPECT_EQ(std::string(saverSettings.sectionName), SectionName);
  EXPECT_EQ(std::string(saverSettings.fileName), SettingsFile);
}

TEST_F(SettingsTest, ReadWithoutAFileGivesFiveAndCreatesNothing) {
  RedrawSpeed = 9;
  EXPECT_EQ(ReadBack(), DefaultRedrawSpeed);
  EXPECT_FALSE(SimFileExists(SettingsFile));
}

// ---- Writing ---------------------------------------------------------------------------------

struct WriteCase {
  const char *name;
  bool fileExists;
  std::string before;  // the file's bytes before the write, when it exists
  LONG speed;
  std::string after;
};

const WriteCase WriteCases[] = {
    {"SevenIntoNoFile", false, "", 7, FileWithSpeed("7")},
    {"TenIntoNoFile", false, "", 10, FileWithSpeed("10")},
    {"OneIntoNoFile", false, "", 1, FileWithSpeed("1")},
    {"TenOverSeven", true, FileWithSpeed("7"), 10, FileWithSpeed("10")},
    {"SevenOverTen", true, FileWithSpeed("10"), 7, FileWithSpeed("7")},
    {"IntoAFileWithOtherSettings", true, "[Other]\r\nRedraw Speed=3\r\n[Quorvane]\r\nColour=2\r\n", 4,
     "[Other]\r\nRedraw Speed=3\r\n[Quorvane]\r\nColour=2\r\nRedraw Speed=4\r\n"},
    {"NegativeValueHasItsSign", false, "", -3, FileWithSpeed("-3")},
    {"LowestValue", false, "", INT32_MIN, FileWithSpeed("-2147483648")},
};

class WriteSpeedTest : public SettingsTest, public ::testing::WithParamInterface<WriteCase> {};

// The value is stored as plain decimal text: no sign for positive values, no
// leading zero or space.
TEST_P(WriteSpeedTest, StoresTheDecimalTextUnderTheSaversSectionAndKey) {
  const WriteCase &c = GetParam();
  if (c.fileExists) SimWriteFile(SettingsFile, c.before);

  Write(c.speed);

  EXPECT_EQ(SimReadFile(SettingsFile), c.after);
  EXPECT_EQ(ReadBack(), c.speed);
}

INSTANTIATE_TEST_SUITE_P(Values, WriteSpeedTest, ::testing::ValuesIn(WriteCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Reading ---------------------------------------------------------------------------------

struct ReadCase {
  const char *name;
  std::string file;
  LONG speed;
};

// Values that are not decimal numbers read as the platform's integer reader
// reads them (checked against the reference implementation): leading blanks
// skipped, an optional sign, the prefixes 0x, 0o and 0b in lower case, digits
// up to the first that does not belong, 32-bit wrap-around, and no more than
// 29 characters looked at. An empty value is the default.
const ReadCase ReadCases[] = {
    {"Seven", FileWithSpeed("7"), 7},
    {"StoredZero", FileWithSpeed("0"), 0},
    {"StoredEleven", FileWithSpeed("11"), 11},
    {"KeyMissing", "[Quorvane]\r\nColour=2\r\n", DefaultRedrawSpeed},
    {"SectionMissing", "[Other]\r\nRedraw Speed=3\r\n", DefaultRedrawSpeed},
    {"EmptyFile", "", DefaultRedrawSpeed},
    {"NamesInOtherCase", "[quorvane]\r\nredraw speed=3\r\n", 3},
    {"Letters", FileWithSpeed("abc"), 0},
    {"EmptyValue", FileWithSpeed(""), DefaultRedrawSpeed},
    {"LeadingSpace", "[Quorvane]\r\nRedraw Speed= 7\r\n", 7},
    {"LeadingTab", FileWithSpeed("\t9"), 9},
    {"TrailingLetter", FileWithSpeed("7x"), 7},
    {"DigitsSplitBySpace", FileWithSpeed("1 2"), 1},
    {"Negative", FileWithSpeed("-3"), -3},
    {"SignThenSpace", FileWithSpeed("- 4"), 0},
    {"Plus", FileWithSpeed("+8"), 8},
    {"LeadingZeros", FileWithSpeed("007"), 7},
    {"Quoted", FileWithSpeed("\"7\""), 7},
    {"HexPrefix", FileWithSpeed("0x10"), 16},
    {"UpperCaseHexPrefix", FileWithSpeed("0X10"), 0},
    {"BinaryPrefix", FileWithSpeed("0b11"), 3},
    {"OctalPrefix", FileWithSpeed("0o17"), 15},
    {"JustAboveTheRange", FileWithSpeed("4294967301"), 5},
    {"WrapsToNegative", FileWithSpeed("2147483648"), INT_MIN},
    {"TwentyNines", FileWithSpeed("99999999999999999999"), 1661992959},
    {"OneAndFortyZeros", FileWithSpeed("1" + std::string(40, '0')), 268435456},
    {"ThirtyFiveDigits", FileWithSpeed("12345678901234567890123456789012345"), 1849262357},
};

class ReadSpeedTest : public SettingsTest, public ::testing::WithParamInterface<ReadCase> {};

// No range rule applies here; each reader applies its own.
TEST_P(ReadSpeedTest, ReadsWhatTheStoredTextDenotes) {
  const ReadCase &c = GetParam();
  SimWriteFile(SettingsFile, c.file);
  EXPECT_EQ(ReadBack(), c.speed);
}

INSTANTIATE_TEST_SUITE_P(StoredTexts, ReadSpeedTest, ::testing::ValuesIn(ReadCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
