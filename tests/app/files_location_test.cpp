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
#include "docking/docking.h"
#include "docking/recording_view.h"
#include "web/web_request.h"
#include "platform/http.h"
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

// The files the program writes whose names are fixed.
const std::set<std::string> kWrittenFiles = {"卡盟对接缓存.txt", "返回.txt", "对接记录.txt"};

// A docking run's log goes to "对接日志-<date>-<time>.txt".
bool is_run_log(const std::string& name) {
  const std::string head = "对接日志-", tail = ".txt";
  return name.size() > head.size() + tail.size() && name.compare(0, head.size(), head) == 0 &&
         name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
}

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
    for (const auto& name : names_in(program_dir)) ASSERT_FALSE(is_run_log(name)) << name;
  }
  void TearDown() override {
    fs::current_path(old_cwd);
    // Nor beside the program that really runs (the test's own).
    for (const auto& name : kWrittenFiles) EXPECT_FALSE(fs::exists(files_path(program_dir, name))) << name;
    for (const auto& name : names_in(program_dir)) EXPECT_FALSE(is_run_log(name)) << name;
  }

  test::TempDir temp;
  fs::path cwd = temp.path() / "cwd";
  fs::path data_dir = temp.path() / "home" / ".local" / "share" / "korvani-dock";
  fs::path old_cwd;
  std::string program_dir = directory_of(running_executable_path());
  ProgramState state;
};

// The whole road: the catalog read, then a docking run over what it listed.
TEST_F(InstalledProgramFiles, EveryFileOfACatalogReadAndADockingRunGoesIntoTheDataDirectory) {
  ASSERT_EQ(state.files_dir, data_dir.string());
  state.catalog_text = percent_decode(demo_shop::generate_catalog_page(2, 1));
  CatalogTable table;
  const CatalogReadResult read = read_catalog(state, table);
  ASSERT_EQ(read.items.size(), 4u);
  EXPECT_EQ(read.log, "") << ansi_to_utf8(read.log);

  platform::cookie_jar_clear();
  demo_shop::DemoShop shop;
  ASSERT_TRUE(shop.start());
  web_request(shop.backend_root() + "login.html", 1, "username=admin&password=demo123");
  state.backend_root = shop.backend_root();
  state.supplier_host = shop.supplier_host();
  state.supplier_id = shop.platform_id();
  test::RecordingView view;
  for (const Text& item : read.items) view.items.push_back({item, true});
  clone_directories(view, state);
  platform::cookie_jar_clear();

  std::set<std::string> written = names_in(data_dir);
  std::set<std::string> run_logs;
  for (const auto& name : written)
    if (is_run_log(name)) run_logs.insert(name);
  for (const auto& name : run_logs) written.erase(name);
  EXPECT_EQ(written, kWrittenFiles);
  EXPECT_EQ(run_logs.size(), 1u);
  EXPECT_EQ(names_in(cwd), std::set<std::string>{});
  EXPECT_EQ(names_in(temp.path()), (std::set<std::string>{"cwd", "home"}));
  EXPECT_NE(test::read_file(data_dir / fs::path(u8"对接记录.txt")), "") << "the run saved its directories";
}

}  // namespace
}  // namespace korvani
