// The built quorvane.scr's version resource, read the way the file's properties read it:
// the language and code page from the translation table, then the strings under them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#define QV_TEXT2(x) #x
#define QV_TEXT(x) QV_TEXT2(x)

struct VersionInfo {
  std::vector<char> block;
  void *Query(const std::string &name) {
    void *value = nullptr;
    UINT length = 0;
    return VerQueryValueA(block.data(), name.c_str(), &value, &length) ? value : nullptr;
  }
};

VersionInfo SaverVersion() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  strcpy(strrchr(path, '\\') + 1, "quorvane.scr");
  VersionInfo info{std::vector<char>(GetFileVersionInfoSizeA(path, nullptr))};
  GetFileVersionInfoA(path, 0, info.block.size(), info.block.data());
  return info;
}

TEST(VersionResource, FixedFileAndProductVersionAreTheProjectVersion) {
  VersionInfo info = SaverVersion();
  const auto *fixed = static_cast<VS_FIXEDFILEINFO *>(info.Query("\\"));
  ASSERT_NE(fixed, nullptr);
  const DWORD high = MAKELONG(QV_VERSION_MINOR, QV_VERSION_MAJOR);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, QV_VERSION_PATCH));
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, QV_VERSION_PATCH));
}

TEST(VersionResource, StringsUnderTheListedTranslationNameTheSaver) {
  const char *version = QV_TEXT(QV_VERSION_MAJOR.QV_VERSION_MINOR.QV_VERSION_PATCH);
  const std::pair<const char *, const char *> rows[] = {
      {"FileDescription", "Quorvane screen saver"}, {"ProductName", "Quorvane"}, {"InternalName", "quorvane"},
      {"OriginalFilename", "quorvane.scr"},         {"FileVersion", version},    {"ProductVersion", version},
  };
  VersionInfo info = SaverVersion();
  const auto *translation = static_cast<WORD *>(info.Query("\\VarFileInfo\\Translation"));
  ASSERT_NE(translation, nullptr);
  char prefix[40];
  std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  for (const auto &[name, want] : rows) {
    const char *got = static_cast<char *>(info.Query(prefix + std::string(name)));
    EXPECT_STREQ(got, want) << name;
  }
}
