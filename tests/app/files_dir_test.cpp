#include "app/files_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"

namespace korvani {
namespace {

namespace fs = std::filesystem;

struct FilesDirCase {
  const char* name;
  // Builds the executable's directory inside `root` and answers its path.
  std::string (*exe_dir)(const fs::path& root);
  bool expect_exe_dir;
};

std::string plain_dir(const fs::path& root) {
  fs::create_directory(root / "bin");
  return (root / "bin").string();
}
std::string missing_dir(const fs::path& root) { return (root / "no-such-dir").string(); }
std::string regular_file(const fs::path& root) {
  test::write_file(root / "not-a-dir", "x");
  return (root / "not-a-dir").string();
}
// Read-only for everyone, root included: mode bits alone would not stop a
// test running as root.
std::string proc_dir(const fs::path&) { return "/proc"; }
std::string unknown_dir(const fs::path&) { return ""; }
std::string non_ascii_dir(const fs::path& root) {
  fs::create_directory(root / "卡盟 & 100%");
  return (root / "卡盟 & 100%").string();
}

const FilesDirCase files_dir_cases[] = {
    {"a writable executable directory is used", plain_dir, true},
    {"a directory named with CJK, & and % is used", non_ascii_dir, true},
    {"a missing executable directory falls back", missing_dir, false},
    {"an executable path that is a file falls back", regular_file, false},
    {"a directory nobody may write into falls back", proc_dir, false},
    {"an unknown executable directory falls back", unknown_dir, false},
};

class FilesDirTest : public ::testing::TestWithParam<FilesDirCase> {};

TEST_P(FilesDirTest, ChoosesBesideTheExecutableOnlyWhenWritable) {
  test::TempDir temp;
  const std::string exe_dir = GetParam().exe_dir(temp.path());
  const fs::path fallback = temp.path() / "data" / "korvani-dock";

  const std::string chosen = choose_files_dir(exe_dir, fallback.string());

  if (GetParam().expect_exe_dir) {
    EXPECT_EQ(chosen, exe_dir);
    EXPECT_FALSE(fs::exists(fallback)) << "the fallback is made only when needed";
    EXPECT_TRUE(fs::is_empty(exe_dir)) << "the write probe is removed again";
  } else {
    EXPECT_EQ(chosen, fallback.string());
    EXPECT_TRUE(fs::is_directory(fallback)) << "the fallback is created with its parents";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FilesDirTest, ::testing::ValuesIn(files_dir_cases),
                         [](const auto& info) { return korvani::test::identifier(info.param.name); });

TEST(FilesDir, AnUncreatableFallbackIsStillAnsweredSoTheWritersCanSayWhatFailed) {
  test::TempDir temp;
  test::write_file(temp.path() / "file", "x");
  const std::string fallback = (temp.path() / "file" / "sub").string();
  EXPECT_EQ(choose_files_dir((temp.path() / "missing").string(), fallback), fallback);
  EXPECT_FALSE(directory_writable(fallback));
}

TEST(FilesDir, TheEnvironmentOverridesAndIsCreated) {
  test::TempDir temp;
  const fs::path forced = temp.path() / "forced" / "files";
  ::setenv("KORVANI_FILES_DIR", forced.c_str(), 1);
  const std::string chosen = resolve_files_dir(temp.path().string(), (temp.path() / "fallback").string());
  ::unsetenv("KORVANI_FILES_DIR");
  EXPECT_EQ(chosen, forced.string());
  EXPECT_TRUE(fs::is_directory(forced));

  EXPECT_EQ(resolve_files_dir(temp.path().string(), (temp.path() / "fallback").string()), temp.path().string())
      << "without the override the rule applies";
}

}  // namespace
}  // namespace korvani
