// The built quorvane.scr's version resource, read as the file's properties read it: the
// fixed versions, and the strings under the language that the translation table lists.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#define QV_TEXT2(x) #x
#define QV_TEXT(x) QV_TEXT2(x)

// A value of the saver's version resource, or null.
const void *Query(const std::string &name) {
  static std::vector<char> block = [] {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    strcpy(strrchr(path, '\\') + 1, "quorvane.scr");
    std::vector<char> bytes(GetFileVersionInfoSizeA(path, nullptr));
    GetFileVersionInfoA(path, 0, bytes.size(), bytes.data());
    return bytes;
  }();
  void *value = nullptr;
  UINT length = 0;
  VerQueryValueA(block.data(), name.c_str(), &value, &length);
  return value;
}

TEST(VersionResource, FixedFileAndProductVersionAreTheProjectVersion) {
  const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(Query("\\"));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(QV_VERSION_MINOR, QV_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, QV_VERSION_PATCH));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
}

TEST(VersionResource, StringsUnderTheListedTranslationNameTheSaver) {
  const char *version = QV_TEXT(QV_VERSION_MAJOR.QV_VERSION_MINOR.QV_VERSION_PATCH);
  const std::pair<const char *, const char *> rows[] = {
      {"FileDescription", "Quorvane screen saver"}, {"ProductName", "Quorvane"}, {"InternalName", "quorvane"},
      {"OriginalFilename", "quorvane.scr"},         {"FileVersion", version},    {"ProductVersion", version},
  };
  const auto *language = static_cast<const WORD *>(Query("\\VarFileInfo\\Translation"));
  ASSERT_NE(language, nullptr);
  char prefix[32];
  wsprintfA(prefix, "\\StringFileInfo\\%04x%04x\\", language[0], language[1]);
  for (const auto &[name, want] : rows)
    EXPECT_STREQ(static_cast<const char *>(Query(prefix + std::string(name))), want) << name;
}
