// The replacement of the executable, and the whole update road over a
// recording view. This test program doubles as the small program that the
// last test updates for real: started with KORVANI_UPDATE_PROBE_URL in its
// environment it runs the update on itself instead of the tests (see main).
#include <elf.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "demo_shop.h"
#include "support/test_support.h"
#include "update/replace.h"
#include "update/update_run.h"

extern char** environ;

namespace korvani {
namespace {

namespace fs = std::filesystem;

Text cp(const std::string& utf8) { return utf8_to_ansi(utf8); }

const std::string& small_program() {
  static const std::string bytes = test::read_file("/bin/true");
  return bytes;
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

std::string patched(std::string bytes, std::size_t at, char value) {
  bytes[at] = value;
  return bytes;
}

TEST(NewExecutableTest, OnlyAWholeProgramForThisSystemPasses) {
  const std::string program = small_program();
  ASSERT_GT(program.size(), 1000u);
  struct Case {
    const char* note;
    std::string bytes;
    bool passes;
  };
  const std::vector<Case> cases = {
      {"a program of this system", program, true},
      {"with bytes appended", program + "trailing", true},
      {"an error page", "<html><body>404 Not Found</body></html>", false},
      {"an empty file", "", false},
      {"the first half of a program", program.substr(0, program.size() / 2), false},
      {"one byte short of the section table's end", program.substr(0, program.size() - 1), false},
      {"the ELF header alone", program.substr(0, 64), false},
      {"another class", patched(program, EI_CLASS, ELFCLASS32), false},
      {"another byte order", patched(program, EI_DATA, ELFDATA2MSB), false},
      {"another machine", patched(patched(program, 18, 0x28), 19, 0), false},  // ARM
      {"a relocatable object", patched(patched(program, 16, ET_REL), 17, 0), false},
      {"a gzip stream", "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", false},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    const fs::path file = dir.path() / "update.exe.tmp";
    test::write_file(file, c.bytes);
    const Text message = check_new_executable(file.string());
    if (c.passes) {
      EXPECT_EQ(message, "") << ansi_to_utf8(message);
    } else {
      EXPECT_EQ(message, cp("下载的文件不是本系统可运行的程序，程序未更新。"));
    }
  }
  EXPECT_NE(ansi_to_utf8(check_new_executable((dir.path() / "missing").string())).find("不能读取下载的文件"),
            std::string::npos);
}

TEST(ReplaceExecutableTest, TheNewFileTakesTheOldNameWithItsRights) {
  test::TempDir dir;
  const fs::path exe = dir.path() / "korvani-dock";
  const fs::path fresh = dir.path() / "update.exe.tmp";
  test::write_file(exe, "old");
  fs::permissions(exe, fs::perms(0750));
  test::write_file(fresh, "new");
  fs::permissions(fresh, fs::perms(0600));

  EXPECT_EQ(replace_executable(exe.string(), fresh.string()), "");
  EXPECT_EQ(test::read_file(exe), "new");
  EXPECT_EQ(fs::status(exe).permissions(), fs::perms(0750));
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"korvani-dock"});

  // A program readable by all becomes runnable by all; no set-id bit passes on.
  test::write_file(fresh, "newer");
  fs::permissions(exe, fs::perms(04644));
  EXPECT_EQ(replace_executable(exe.string(), fresh.string()), "");
  EXPECT_EQ(fs::status(exe).permissions(), fs::perms(0755));
}

TEST(ReplaceExecutableTest, ARefusedRenameKeepsTheOldProgramAndRemovesTheNewFile) {
  test::TempDir dir;
  // A directory in the program's place cannot be renamed over, even by root.
  const fs::path exe = dir.path() / "korvani-dock";
  fs::create_directory(exe);
  test::write_file(exe / "inside", "kept");
  const fs::path fresh = dir.path() / "update.exe.tmp";
  test::write_file(fresh, "new");
  const std::string message = ansi_to_utf8(replace_executable(exe.string(), fresh.string()));
  EXPECT_NE(message.find("不能替换程序文件"), std::string::npos);
  EXPECT_NE(message.find("程序未更新"), std::string::npos);
  EXPECT_EQ(test::read_file(exe / "inside"), "kept");
  EXPECT_FALSE(fs::exists(fresh));

  test::TempDir other;
  test::write_file(other.path() / "update.exe.tmp", "new");
  EXPECT_NE(replace_executable((dir.path() / "x").string(), (other.path() / "update.exe.tmp").string()), "");
}

TEST(ReplaceExecutableTest, PathsAreTakenFromTheExecutable) {
  EXPECT_EQ(update_temp_path("/opt/korvani/korvani-dock"), "/opt/korvani/update.exe.tmp");
  EXPECT_EQ(update_temp_path("/korvani-dock"), "//update.exe.tmp");
  EXPECT_EQ(directory_of("/opt/korvani/korvani-dock"), "/opt/korvani");
  const std::string self = running_executable_path();
  EXPECT_EQ(self.front(), '/');
  EXPECT_EQ(fs::path(self), fs::canonical("/proc/self/exe"));
  ASSERT_FALSE(running_arguments().empty());
}

// ---- the whole road over a recording view ---------------------------------

class RecordingView final : public UpdateProgressView {
 public:
  void show_progress(const ProgressDisplay& d) override {
    events.push_back("progress " + std::to_string(d.bar) + " " + ansi_to_utf8(d.percent));
  }
  void hide_size_and_speed() override { events.push_back("hide"); }
  void set_status_text(const Text& text) override {
    events.push_back("status " + ansi_to_utf8(text));
    if (on_status) on_status(ansi_to_utf8(text));
  }
  void show_box(const Text& text) override { events.push_back("box " + ansi_to_utf8(text)); }

  std::vector<std::string> events;
  std::function<void(const std::string&)> on_status;

  std::vector<std::string> without_progress() const {
    std::vector<std::string> rest;
    for (const auto& e : events) {
      if (e.rfind("progress ", 0) != 0) rest.push_back(e);
    }
    return rest;
  }
};

class RunUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shop.start());
    test::write_file(exe, "old program");
    fs::permissions(exe, fs::perms(0755));
    job.download_url = shop.download_url();
    job.executable_path = exe.string();
    job.arguments = {"korvani-dock", "--flag"};
    job.clock = &clock;
    job.restart = [this](const std::string& path, const std::vector<std::string>& args) {
      restarts.push_back(path);
      restart_args = args;
      return restart_answer;
    };
  }

  demo_shop::DemoShop shop;
  test::TempDir dir;
  fs::path exe = dir.path() / "korvani-dock";
  test::FakeClock clock;
  UpdateJob job;
  RecordingView view;
  std::vector<std::string> restarts;
  std::vector<std::string> restart_args;
  Text restart_answer;
};

TEST_F(RunUpdateTest, DownloadsCountsDownReplacesAndStarts) {
  shop.set_download(small_program());
  EXPECT_EQ(run_update(job, view), UpdateEnd::restarted);

  ASSERT_FALSE(view.events.empty());
  EXPECT_EQ(view.events.front().rfind("progress ", 0), 0u);
  const std::vector<std::string> expected = {
      "hide", "status 更新完毕，等待3秒自动运行新版本……", "status 更新完毕，等待2秒自动运行新版本……",
      "status 更新完毕，等待1秒自动运行新版本……"};
  EXPECT_EQ(view.without_progress(), expected);
  EXPECT_EQ(view.events[view.events.size() - 5], "progress 10000 已完成：100%");
  EXPECT_EQ(clock.slept(), 3000);

  EXPECT_EQ(test::read_file(exe), small_program());
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"korvani-dock"});
  EXPECT_EQ(restarts, std::vector<std::string>{exe.string()});
  EXPECT_EQ(restart_args, job.arguments);
}

TEST_F(RunUpdateTest, AnUnsoundDownloadNeverTakesThePlace) {
  struct Case {
    const char* note;
    std::function<void(demo_shop::DemoShop&)> arrange;
    std::string box;   // a part of the message
  };
  const std::vector<Case> cases = {
      {"an error page with status 500", [](auto& s) { s.add_fault({"korvani-dock", demo_shop::Fault::status_500}); },
       "HTTP 500"},
      {"an answer that is no program", [](auto& s) { s.set_download("<html>moved</html>"); },
       "不是本系统可运行的程序"},
      {"half a program in a well-formed answer",
       [](auto& s) { s.add_fault({"korvani-dock", demo_shop::Fault::truncated}); }, "不是本系统可运行的程序"},
      {"an empty body", [](auto& s) { s.set_download(""); }, "空的"},
      {"an unreachable address", [this](auto&) { job.download_url = "http://" + shop.unreachable_host() + "/x"; },
       "不能打开该URL!"},
      {"an empty address", [this](auto&) { job.download_url.clear(); }, "不能打开该URL!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    shop.clear_faults();
    shop.set_download(small_program());
    job.download_url = shop.download_url();
    view.events.clear();
    c.arrange(shop);
    EXPECT_EQ(run_update(job, view), UpdateEnd::failed);
    const std::vector<std::string> rest = view.without_progress();
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].rfind("box ", 0), 0u);
    EXPECT_NE(rest[0].find(c.box), std::string::npos) << rest[0];
    EXPECT_EQ(test::read_file(exe), "old program");
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"korvani-dock"});
  }
  EXPECT_TRUE(restarts.empty());
}

TEST_F(RunUpdateTest, AGzipEncodedProgramIsDecodedBeforeItTakesThePlace) {
  shop.set_download(small_program(), /*gzip=*/true);
  EXPECT_EQ(run_update(job, view), UpdateEnd::restarted);
  EXPECT_EQ(test::read_file(exe), small_program());
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"korvani-dock"});
  EXPECT_EQ(restarts, std::vector<std::string>{exe.string()});
}

TEST_F(RunUpdateTest, AProgramThatCannotBeReplacedWhereItStandsIsRefused) {
  struct Case {
    const char* note;
    std::function<std::string()> executable;
    bool fetched;   // whether the download was asked for at all
  };
  const std::vector<Case> cases = {
      {"no path of the program known", [] { return std::string(); }, false},
      {"a path relative to the current directory", [] { return std::string("korvani-dock"); }, false},
      // The kernel refuses new files there, to root as well.
      {"a directory that cannot be written", [] { return std::string("/sys/korvani-dock"); }, true},
      {"a directory standing where the new file goes",
       [this] {
         fs::create_directory(dir.path() / "update.exe.tmp");
         return exe.string();
       },
       true},
  };
  shop.set_download(small_program());
  const fs::path cwd = fs::current_path();
  const std::set<std::string> cwd_before = names_in(cwd);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    view.events.clear();
    shop.clear_requests();
    job.executable_path = c.executable();
    EXPECT_EQ(run_update(job, view), UpdateEnd::failed);
    EXPECT_EQ(view.without_progress(), std::vector<std::string>{"box 不能打开本地的文件!"});
    EXPECT_EQ(shop.requests().empty(), !c.fetched);
    EXPECT_EQ(test::read_file(exe), "old program");
    EXPECT_EQ(names_in(cwd), cwd_before);
  }
  EXPECT_TRUE(restarts.empty());
}

TEST_F(RunUpdateTest, StoppingDuringTheCountdownLeavesTheOldProgram) {
  shop.set_download(small_program());
  StopSignal stop;
  job.stop = &stop;
  job.countdown_step_ms = 60000;
  view.on_status = [&](const std::string& text) {
    if (text.find("3秒") != std::string::npos) stop.stop();
  };
  // The minute-long step ends at once.
  EXPECT_EQ(run_update(job, view), UpdateEnd::stopped);
  EXPECT_EQ(view.without_progress().back(), "status 更新完毕，等待3秒自动运行新版本……");
  EXPECT_EQ(test::read_file(exe), "old program");
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"korvani-dock"});
  EXPECT_TRUE(restarts.empty());
}

TEST_F(RunUpdateTest, AStartThatFailsIsTold) {
  shop.set_download(small_program());
  restart_answer = cp("不能启动");
  EXPECT_EQ(run_update(job, view), UpdateEnd::failed);
  EXPECT_EQ(view.events.back(), "box 不能启动");
  EXPECT_EQ(test::read_file(exe), small_program());
}

// ---- the real thing: a program that updates itself -----------------------

constexpr std::string_view kMarker = "\nKORVANI-PROBE-VERSION:";

std::string with_version(const std::string& program, const std::string& version) {
  return program + std::string(kMarker) + version + "\n";
}

std::string version_of(const std::string& file) {
  const std::string bytes = test::read_file(file);
  const auto at = bytes.rfind(kMarker);
  if (at == std::string::npos) return "?";
  const std::string rest = bytes.substr(at + kMarker.size());
  return rest.substr(0, rest.find('\n'));
}

void probe_log(const std::string& line) {
  std::ofstream(std::getenv("KORVANI_UPDATE_PROBE_LOG"), std::ios::app) << line << "\n";
}

class ProbeView final : public UpdateProgressView {
 public:
  void show_progress(const ProgressDisplay&) override {}
  void hide_size_and_speed() override {}
  void set_status_text(const Text&) override {}
  void show_box(const Text& text) override { probe_log("box " + ansi_to_utf8(text)); }
};

int children_now() {
  int count = 0;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::ifstream in(task.path() / "children");
    long pid = 0;
    while (in >> pid) ++count;
  }
  return count;
}

}  // namespace

// What the probe does: say which version runs from where, and update itself
// when it is not the wanted one. Like the real program with its browser
// helpers, the old version has a child that ends once the old program is
// gone; the new version must not keep it as a zombie.
int run_update_probe(const std::string& url) {
  const std::string exe = running_executable_path();
  const std::string version = version_of(exe);
  std::string line = version + " " + exe + " " + fs::current_path().string();
  const char* wanted = std::getenv("KORVANI_UPDATE_PROBE_WANT");
  if (wanted && version == wanted) {
    reap_children_left_by_restart();
    for (int i = 0; i < 500 && children_now() > 0; ++i) usleep(10000);
    probe_log(line + " children " + std::to_string(children_now()));
    return 0;
  }
  probe_log(line);

  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return 2;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[0], 0);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);
  std::string cat = "/bin/cat";
  char* cat_argv[] = {cat.data(), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, cat.c_str(), &actions, nullptr, cat_argv, environ) != 0) return 2;
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[0]);  // the write end stays open until the program is replaced

  UpdateJob job;
  job.download_url = url;
  job.executable_path = exe;
  job.arguments = running_arguments();
  job.countdown_step_ms = 0;
  ProbeView view;
  run_update(job, view);
  probe_log("not restarted");
  return 1;
}

namespace {

TEST(SelfUpdateTest, TheNewVersionRunsFromTheSamePathAndNothingIsLeft) {
  test::TempDir dir;
  const fs::path app = dir.path() / "app";
  const fs::path elsewhere = dir.path() / "elsewhere";
  fs::create_directories(app);
  fs::create_directories(elsewhere);
  const fs::path log = dir.path() / "probe.log";

  const std::string program = test::read_file("/proc/self/exe");
  const std::string fresh = with_version(program, "1.14");
  test::write_file(app / "korvani-probe", with_version(program, "1.13"));
  fs::permissions(app / "korvani-probe", fs::perms(0755));

  demo_shop::DemoShop shop;
  ASSERT_TRUE(shop.start());
  shop.set_download(fresh);

  std::vector<std::string> env_strings = {"KORVANI_UPDATE_PROBE_URL=" + shop.download_url(),
                                          "KORVANI_UPDATE_PROBE_WANT=1.14",
                                          "KORVANI_UPDATE_PROBE_LOG=" + log.string()};
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "KORVANI_UPDATE_PROBE", 20) != 0) env_strings.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  // Started by a relative path from another directory: the update must
  // still act beside the executable and leave the current directory alone.
  std::string relative = "../app/korvani-probe";
  char* argv[] = {relative.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, elsewhere.c_str());
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, relative.c_str(), &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << test::read_file(log);

  const std::string where = fs::canonical(app / "korvani-probe").string();
  const std::string cwd = fs::canonical(elsewhere).string();
  EXPECT_EQ(test::read_file(log), "1.13 " + where + " " + cwd + "\n1.14 " + where + " " + cwd + " children 0\n");
  EXPECT_EQ(test::read_file(app / "korvani-probe"), fresh);
  EXPECT_EQ(names_in(app), std::set<std::string>{"korvani-probe"});
  EXPECT_TRUE(names_in(elsewhere).empty());
}

}  // namespace
}  // namespace korvani

int main(int argc, char** argv) {
  if (const char* url = std::getenv("KORVANI_UPDATE_PROBE_URL")) return korvani::run_update_probe(url);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
