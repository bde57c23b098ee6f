// An installed program (say in /usr/bin) cannot write beside itself. Every
// file it writes must then land in the user's data directory: none beside
// the program, none in whatever the working directory happens to be.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "app/files_dir.h"
#include "app/program_state.h"
#include "demo_shop.h"
#include "supplier/catalog.h"
#include "support/test_support.h"
#include "text/text.h"
#include "update/replace.h"

namespace korvani {
namespace {

namespace fs = std::filesystem;

// The kernel refuses new files there, to root as well, as /usr/bin does to
// a normal user.
constexpr const char* kUnwritableProgramDir = "/proc";

// The files the program writes, by the names they go under.
const std::set<std::string> kWrittenFiles = {"卡盟对接缓存.txt", "返回.txt"};

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  if (!fs::is_directory(dir)) return names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace(name.begin(), name.end());
  }
  return names;
}

class InstalledProgramFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(cwd);
    // Relative paths resolve here, so a writer that forgets the files
    // directory shows up in this folder.
    old_cwd = fs::current_path();
    fs::current_path(cwd);
    state.files_dir = choose_files_dir(kUnwritableProgramDir, data_dir.string());
    for (const auto& name : kWrittenFiles) ASSERT_FALSE(fs::exists(files_path(program_dir, name))) << name;
  }
  void TearDown() override {
    fs::current_path(old_cwd);
    // Nor beside the program that really runs (the test's own).
    for (const auto& name : kWrittenFiles) EXPECT_FALSE(fs::exists(files_path(program_dir, name))) << name;
  }

  test::TempDir temp;
  fs::path cwd = temp.path() / "cwd";
  fs::path data_dir = temp.path() / "home" / ".local" / "share" / "korvani-dock";
  fs::path old_cwd;
  std::string program_dir = directory_of(running_executable_path());
  ProgramState state;
};

TEST_F(InstalledProgramFiles, TheCatalogReadWritesItsCacheAndResponseLogIntoTheDataDirectory) {
  ASSERT_EQ(state.files_dir, data_dir.string());
  state.catalog_text = percent_decode(demo_shop::generate_catalog_page(2, 2));
  ASSERT_FALSE(state.catalog_text.empty());

  CatalogTable table;
  const CatalogReadResult result = read_catalog(state, table);

  EXPECT_EQ(result.items.size(), 6u);
  EXPECT_EQ(result.log, "") << ansi_to_utf8(result.log);
  EXPECT_EQ(names_in(data_dir), kWrittenFiles);
  EXPECT_EQ(names_in(cwd), std::set<std::string>{});
  EXPECT_EQ(names_in(temp.path()), (std::set<std::string>{"cwd", "home"}));
}

}  // namespace
}  // namespace korvani
