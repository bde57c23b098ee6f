// Docking runs against the demo shop while it misbehaves: a failed save, a
// dropped connection, a server that stalls half-way through an answer, names
// that could split a form or a page. Each case drives the real worker and
// then asks the shop what it holds: a fault costs the directory it hit and
// nothing else, each directory is there once, under its own parent, with its
// goods, and the run reaches its final box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <tuple>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/files_dir.h"
#include "app/program_state.h"
#include "demo_shop.h"
#include "docking/docking.h"
#include "docking/recording_view.h"
#include "platform/http.h"
#include "support/test_support.h"
#include "web/web_request.h"

namespace korvani {
namespace {

namespace fs = std::filesystem;

using ::testing::Contains;
using ::testing::Not;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;
using test::main_item;
using test::RecordingView;
using test::sub_item;

using demo_shop::Fault;
using demo_shop::FaultRule;

constexpr const char* kFinalBox = "box 目录克隆完成|提示";

// A run's footprint in the shop: each directory it made, by name, with the
// name of its parent ("" at the top level).
using Tree = std::map<std::string, std::string>;

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::cookie_jar_clear();
    saved_timeouts_ = platform::http_timeouts();
    ASSERT_TRUE(shop.start());
    web_request(shop.backend_root() + "login.html", 1, "username=admin&password=demo123");
    state.backend_root = shop.backend_root();
    state.supplier_id = shop.platform_id();
    for (const auto& d : shop.directories()) before_.insert(d.id);
    shop.clear_requests();
  }
  void TearDown() override { platform::http_set_timeouts(saved_timeouts_); }

  // Two main directories with their sub-directories, each with goods.
  void add_two_trees() {
    view.items = {{main_item("101", "A"), true},
                  {sub_item("201", "A1", "101"), true},
                  {sub_item("202", "A2", "101"), true},
                  {main_item("102", "B"), true},
                  {sub_item("203", "B1", "102"), true}};
    shop.set_goods("201", {{"g2011", "one"}, {"g2012", "two"}});
    shop.set_goods("202", {{"g2021", "three"}});
    shop.set_goods("203", {{"g2031", "four"}});
  }

  // The directories the run made; a name made twice fails the test.
  Tree made() const {
    std::map<std::string, std::string> name_of;
    for (const auto& d : shop.directories()) name_of[d.id] = d.name;
    Tree tree;
    for (const auto& d : shop.directories()) {
      if (before_.count(d.id)) continue;
      EXPECT_FALSE(tree.count(d.name)) << "made twice: " << d.name;
      tree[d.name] = d.parent_id == "0" ? "" : name_of.count(d.parent_id) ? name_of[d.parent_id] : "?" + d.parent_id;
    }
    return tree;
  }
  // The shop's directories, one a line, for a failure message.
  std::string listing() const {
    std::string out;
    for (const auto& d : shop.directories()) out += d.id + " " + d.name + " under " + d.parent_id + "\n";
    return out;
  }
  std::string id_of(const std::string& name) const {
    std::string id;
    for (const auto& d : shop.directories())
      if (d.name == name && !before_.count(d.id)) id = d.id;
    return id;
  }

  // Goods docked for the directories named, and for no other.
  void expect_goods_docked_for(const std::set<std::string>& docked) const {
    for (const auto& [name, ids] : goods_) {
      const std::string id = id_of(name);
      if (id.empty()) continue;
      if (docked.count(name)) {
        EXPECT_THAT(shop.goods_docked(id), UnorderedElementsAreArray(ids)) << name;
      } else {
        EXPECT_THAT(shop.goods_docked(id), IsEmpty()) << name;
      }
    }
    EXPECT_EQ(shop.batch_saves().size(), docked.size());
  }

  // The back-end requests as "path body", log-in pages left out.
  std::vector<std::string> sent(std::size_t from = 0) const {
    std::vector<std::string> out;
    const auto all = shop.requests();
    for (std::size_t i = from; i < all.size(); ++i) {
      const auto& r = all[i];
      if (r.side != "backend" || r.path == "/admin/login.html" || r.path == "/admin/index.html") continue;
      out.push_back(r.path + " " + r.body);
    }
    return out;
  }

  // Every save named a parent the run had made for it, or none.
  void expect_saves_under_their_own_parents() const {
    std::set<std::string> parents = {"0"};
    for (const char* name : {"A", "B"})
      if (!id_of(name).empty()) parents.insert(id_of(name));
    for (const auto& r : shop.requests()) {
      if (r.path != "/admin/directory/saveDirectory.html") continue;
      const std::size_t at = r.body.find("&parentId=");
      ASSERT_NE(at, std::string::npos) << r.body;
      const std::string parent = r.body.substr(at + 10, r.body.find('&', at + 10) - at - 10);
      EXPECT_TRUE(parents.count(parent)) << r.body;
    }
  }

  void expect_run_finished() const {
    EXPECT_THAT(view.calls, Contains(kFinalBox));
    ASSERT_FALSE(view.calls.empty());
    EXPECT_EQ(view.calls.back(), "button on");
  }

  demo_shop::DemoShop shop;
  ProgramState state;
  RecordingView view;
  std::map<std::string, std::vector<std::string>> goods_;   // by sub-directory name

 private:
  std::set<std::string> before_;
  platform::HttpTimeouts saved_timeouts_;
};

// ------------------------------------------------------------------ faults

struct FaultCase {
  const char* note;
  FaultRule rule;
  Tree made;                           // what the shop holds afterwards
  std::set<std::string> docked;        // sub-directories whose goods arrived
  std::vector<std::string> lines;      // log lines the fault leaves (among the usual ones)
};

// A stall as long as the shop allows (it ends early when the shop stops):
// a request that the stall time-out does not end hangs the test until its
// own time limit fails it, instead of passing a little later.
constexpr int kStallMs = 600000;
// The tool's stall time-out in these tests: short, yet long enough that an
// ordinary answer on a loaded machine (sanitizers, parallel tests) meets it.
constexpr int kStallTimeOutMs = 1500;

// The saves go out in list order: A, A1, A2, B, B1.
FaultRule on_save(Fault fault, int skip, int times = 1) {
  return {.path_suffix = "directory/saveDirectory.html", .fault = fault, .stall_ms = kStallMs, .skip = skip, .times = times};
}

const Tree kAll = {{"A", ""}, {"A1", "A"}, {"A2", "A"}, {"B", ""}, {"B1", "B"}};

Tree without(Tree tree, std::initializer_list<const char*> names) {
  for (const char* n : names) tree.erase(n);
  return tree;
}

const FaultCase fault_cases[] = {
    {"a 500 on a sub-directory save costs that directory alone",
     on_save(Fault::status_500, 1),
     without(kAll, {"A1"}),
     {"A2", "B1"},
     {"A1子目录克隆失败"}},
    {"a 500 on a main directory save keeps its sub-directories out of the wrong parent",
     on_save(Fault::status_500, 3),
     without(kAll, {"B", "B1"}),
     {"A1", "A2"},
     {"B主目录克隆失败", "B1子目录未克隆：上级目录ID未找到"}},
    // A kept-alive connection that closes without a byte of answer is taken
    // for one the server let go idle, and the request goes once more on a
    // fresh one; the shop drops before a save takes effect, so A1 is made once.
    {"a connection dropped once on a save is sent again and the directory made once",
     on_save(Fault::drop, 1, 1),
     kAll,
     {"A1", "A2", "B1"},
     {"A1子目录克隆成功"}},
    {"a connection dropped on a sub-directory save costs that directory alone",
     on_save(Fault::drop, 1, 2),
     without(kAll, {"A1"}),
     {"A2", "B1"},
     {"A1子目录克隆失败"}},
    {"a connection dropped on a main directory save",
     on_save(Fault::drop, 0, 2),
     without(kAll, {"A", "A1", "A2"}),
     {"B1"},
     {"A主目录克隆失败", "A1子目录未克隆：上级目录ID未找到", "A2子目录未克隆：上级目录ID未找到"}},
    // The batch save is not judged: the only loss is that directory's goods.
    {"a connection dropped on a batch save loses that directory's goods alone",
     {.path_suffix = "platform/batchSaveGoodAndDirectory.html", .fault = Fault::drop, .times = 2},
     kAll,
     {"A2", "B1"},
     {}},
    // The shop made A1 before it stalled; the tool cannot know, and says the
    // save failed rather than claim a success it never read.
    {"a stall in a sub-directory save's answer ends that request and the run goes on",
     on_save(Fault::stall, 1),
     kAll,
     {"A2", "B1"},
     {"A1子目录克隆失败"}},
    {"a stall in the directory page leaves the new id unknown, so its sub-directories wait",
     {.path_suffix = "directory/initadd.html", .fault = Fault::stall, .stall_ms = kStallMs, .times = 1},
     without(kAll, {"A1", "A2"}),
     {"B1"},
     {"A主目录克隆成功", "A1子目录未克隆：上级目录ID未找到", "A2子目录未克隆：上级目录ID未找到"}},
    {"a stall in the batch-adding page docks no goods there and the run goes on",
     {.path_suffix = "platform/batchAddGoods.html", .fault = Fault::stall, .stall_ms = kStallMs, .times = 1},
     kAll,
     {"A2", "B1"},
     {"A1商品未对接：批量添加页无此目录"}},
};

class FaultMatrixRun : public FaultMatrix, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrixRun, TheFaultCostsWhatItHitAndNothingElse) {
  const FaultCase& c = GetParam();
  // A stalled answer must end long before the shop's stall is over.
  platform::http_set_timeouts({.connect_ms = 2000, .stall_ms = kStallTimeOutMs});
  add_two_trees();
  shop.add_fault(c.rule);

  clone_and_dock_goods(view, state);

  EXPECT_EQ(made(), c.made) << listing();
  expect_goods_docked_for(c.docked);
  const auto lines = view.log_lines();
  for (const std::string& line : c.lines) EXPECT_THAT(lines, Contains(line));
  expect_run_finished();
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixRun, ::testing::ValuesIn(fault_cases), test::NamedAfterNote());

// The back end goes away after the first main directory: each later request
// meets a closed port at once, each save says it failed, and the run still
// reaches its box instead of hanging or claiming a success.
TEST_F(FaultMatrix, ABackEndThatGoesAwayMidRunFailsEachLaterSaveWithItsLine) {
  add_two_trees();
  view.close_when = [&](const std::string& call) {
    if (call == "log A主目录克隆成功\r\n") shop.stop();
    return false;
  };

  clone_and_dock_goods(view, state);

  EXPECT_EQ(made(), (Tree{{"A", ""}}));
  const auto lines = view.log_lines();
  EXPECT_THAT(lines, Contains("A1子目录未克隆：上级目录ID未找到"));
  EXPECT_THAT(lines, Contains("A2子目录未克隆：上级目录ID未找到"));
  EXPECT_THAT(lines, Contains("B主目录克隆失败"));
  EXPECT_THAT(lines, Contains("B1子目录未克隆：上级目录ID未找到"));
  expect_run_finished();
}

// A port on 127.0.0.1 that listens but never accepts, with its queue already
// full: a connection to it is neither made nor refused, as with a back end
// behind a firewall that drops packets.
class SilentPort {
 public:
  SilentPort() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener_, 0) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      return;
    port_ = ntohs(address.sin_port);
    for (int& filler : fillers_) {
      filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      connect(filler, reinterpret_cast<sockaddr*>(&address), size);
    }
  }
  ~SilentPort() {
    for (int filler : fillers_) close(filler);
    close(listener_);
  }
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int fillers_[3] = {-1, -1, -1};
  int port_ = 0;
};

// Every request of the run meets a connection that is never made: each ends
// at the connect time-out, and the run ends with its lines and its box.
TEST_F(FaultMatrix, ABackEndThatNeverAcceptsEndsEachRequestAtTheConnectTimeOut) {
  SilentPort silent;
  ASSERT_NE(silent.port(), 0);
  platform::http_set_timeouts({.connect_ms = 300, .stall_ms = kStallTimeOutMs});
  state.backend_root = "http://127.0.0.1:" + std::to_string(silent.port()) + "/admin/";
  view.items = {{main_item("101", "A"), true}, {sub_item("201", "A1", "101"), true}};

  clone_and_dock_goods(view, state);

  const auto lines = view.log_lines();
  EXPECT_THAT(lines, Contains("A主目录克隆失败"));
  EXPECT_THAT(lines, Contains("A1子目录未克隆：上级目录ID未找到"));
  expect_run_finished();
  EXPECT_THAT(made(), IsEmpty());
  // Ended by the time-out, not refused.
  const WebAnswer probe = web_request_answer(state.backend_root + "directory/initadd.html", 1);
  EXPECT_FALSE(probe.connected);
  // libcurl words it "Timeout was reached" or "Connection timeout after N ms".
  EXPECT_THAT(probe.error, ::testing::ContainsRegex("[Tt]imeout"));
}

// ------------------------------------------------------------------ session

// A window that can lay the user's new log-in on the back end when the run
// asks for one, or report that none came.
class ReloginView : public RecordingView {
 public:
  std::function<bool()> log_in;
  int asked = 0;
  bool wait_for_backend_login() override {
    ++asked;
    return log_in && log_in();
  }
};

struct ExpiryCase {
  const char* note;
  const char* expire_at;   // the session expires as the run makes this call
  FaultRule rule;          // or the shop answers one request as logged out
  Tree made_without_login; // what the shop holds when nobody logs in again
  const char* stopped_at;  // and the line that says where the run ended
};

const ExpiryCase expiry_cases[] = {
    {"before a sub-directory save", "log 子目录ID:201----子目录名称:A1上级目录:101----\r\n", {}, {{"A", ""}},
     "对接已停止：停在A1之前"},
    {"before a goods query", "log A1子目录克隆成功\r\n", {}, {{"A", ""}, {"A1", "A"}}, "对接已停止：停在A1的商品第1页之前"},
    {"before a main directory save", "log 主目录ID:102----主目录名称:B----\r\n", {},
     {{"A", ""}, {"A1", "A"}, {"A2", "A"}}, "对接已停止：停在B之前"},
    {"on one batch save",
     nullptr,
     {.path_suffix = "platform/batchSaveGoodAndDirectory.html", .fault = Fault::expired_session, .times = 1},
     {{"A", ""}, {"A1", "A"}}, "对接已停止：停在A1的商品对接之前"},
};

class FaultMatrixExpiry : public FaultMatrix, public ::testing::WithParamInterface<std::tuple<ExpiryCase, bool>> {
 protected:
  ReloginView relogin;
};

TEST_P(FaultMatrixExpiry, NoRequestAfterTheExpiredAnswerUnlessLoggedInAgain) {
  const auto& [c, logs_in_again] = GetParam();
  add_two_trees();
  relogin.items = view.items;
  std::size_t expired_from = 0;
  bool expired = false;
  if (c.expire_at) {
    relogin.close_when = [&](const std::string& call) {
      if (!expired && call == c.expire_at) {
        expired = true;
        expired_from = shop.requests().size();
        shop.expire_backend_sessions();
      }
      return false;
    };
  } else {
    shop.add_fault(c.rule);
  }
  relogin.log_in = [&] {
    if (!logs_in_again) return false;
    web_request(shop.backend_root() + "login.html", 1, "username=admin&password=demo123");
    return true;
  };

  clone_and_dock_goods(relogin, state);

  EXPECT_EQ(relogin.asked, 1);
  expect_saves_under_their_own_parents();
  const auto lines = relogin.log_lines();
  EXPECT_THAT(lines, Contains("后台登录已失效，请在弹出的窗口重新登录"));
  if (logs_in_again) {
    // Nothing failed or was held back for the expiry, and the run did not end early.
    EXPECT_THAT(lines, Not(Contains(::testing::HasSubstr("失败"))));
    EXPECT_THAT(lines, Not(Contains(::testing::HasSubstr("未克隆"))));
    EXPECT_THAT(lines, Not(Contains(::testing::HasSubstr("对接已停止"))));
    EXPECT_EQ(made(), kAll);
    expect_goods_docked_for({"A1", "A2", "B1"});
    for (const auto& save : shop.batch_saves()) EXPECT_TRUE(save.key_ok) << save.dir_id;
  } else {
    EXPECT_EQ(made(), c.made_without_login);
    EXPECT_THAT(lines, Contains(c.stopped_at));
    // The request that met the expired session is the last one.
    const auto after = sent(expired_from);
    if (c.expire_at) {
      EXPECT_EQ(after.size(), 1u) << ::testing::PrintToString(after);
    } else {
      ASSERT_FALSE(after.empty());
      EXPECT_THAT(after.back(), ::testing::StartsWith("/admin/platform/batchSaveGoodAndDirectory.html "));
    }
  }
  // The view's calls carry on past the pause: the final box comes either way.
  EXPECT_THAT(relogin.calls, Contains(kFinalBox));
  EXPECT_EQ(relogin.calls.back(), "button on");
}

INSTANTIATE_TEST_SUITE_P(Expiry, FaultMatrixExpiry,
                         ::testing::Combine(::testing::ValuesIn(expiry_cases), ::testing::Bool()),
                         [](const auto& info) {
                           return test::identifier(std::get<0>(info.param).note) +
                                  (std::get<1>(info.param) ? "_logged_in_again" : "_no_new_log_in");
                         });

// ------------------------------------------------------------------ journal

struct JournalCase {
  const char* note;
  std::string (*exe_dir)(const fs::path& root);
  std::string (*data_dir)(const fs::path& root);
  bool written;   // false: neither directory takes a file
};

// Read-only for everyone, root included.
std::string read_only_dir(const fs::path&) { return "/proc"; }
std::string user_data_dir(const fs::path& root) { return (root / "share" / "korvani-dock").string(); }
std::string under_a_file(const fs::path& root) {
  test::write_file(root / "plain-file", "x");
  return (root / "plain-file" / "korvani-dock").string();
}

const JournalCase journal_cases[] = {
    {"a read-only executable directory keeps the journal in the user data directory", read_only_dir, user_data_dir,
     true},
    {"with neither directory writable the run still docks everything", read_only_dir, under_a_file, false},
};

class FaultMatrixJournal : public FaultMatrix, public ::testing::WithParamInterface<JournalCase> {
 protected:
  test::TempDir root;
};

TEST_P(FaultMatrixJournal, TheRunGoesOnWhereverItsJournalCanGo) {
  const JournalCase& c = GetParam();
  const std::string data_dir = c.data_dir(root.path());
  state.files_dir = choose_files_dir(c.exe_dir(root.path()), data_dir);
  ASSERT_EQ(state.files_dir, data_dir);
  state.supplier_host = shop.supplier_host();
  add_two_trees();

  clone_and_dock_goods(view, state);

  EXPECT_EQ(made(), kAll);
  expect_goods_docked_for({"A1", "A2", "B1"});
  expect_run_finished();
  const fs::path journal = fs::path(data_dir) / "对接记录.txt";
  if (c.written) {
    EXPECT_TRUE(fs::is_regular_file(journal));
    // The journal kept there serves the next run: nothing is made twice.
    RecordingView second;
    second.items = view.items;
    clone_and_dock_goods(second, state);
    EXPECT_EQ(made(), kAll);
    EXPECT_THAT(second.log_lines(), Not(Contains(::testing::HasSubstr("克隆成功"))));
  } else {
    EXPECT_FALSE(fs::exists(journal));
    // One line says the journal could not be written, naming the file.
    int naming = 0;
    for (const auto& line : view.log_lines()) naming += line.find(journal.string()) != std::string::npos;
    EXPECT_EQ(naming, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Journal, FaultMatrixJournal, ::testing::ValuesIn(journal_cases), test::NamedAfterNote());

// A save whose answer stalls may still have been carried out: the shop made
// the directory before it went silent. So may one whose answer came but whose
// id could not be read. A second run over the same ticks must not make it
// again.
struct RerunCase {
  const char* note;
  FaultRule rule;
};

const RerunCase rerun_cases[] = {
    {"a stall on a main directory save", on_save(Fault::stall, 0)},
    {"a stall on a sub-directory save", on_save(Fault::stall, 1)},
    {"a stall on the directory page after a main directory save",
     {.path_suffix = "directory/initadd.html", .fault = Fault::stall, .stall_ms = kStallMs, .times = 1}},
};

class FaultMatrixRerun : public FaultMatrix, public ::testing::WithParamInterface<RerunCase> {
 protected:
  test::TempDir files;
};

TEST_P(FaultMatrixRerun, ARerunMakesNothingTwice) {
  state.files_dir = files.path().string();
  state.supplier_host = shop.supplier_host();
  platform::http_set_timeouts({.connect_ms = 2000, .stall_ms = kStallTimeOutMs});
  add_two_trees();
  shop.add_fault(GetParam().rule);
  clone_and_dock_goods(view, state);
  const Tree first = made();

  RecordingView second;
  second.items = view.items;
  clone_and_dock_goods(second, state);

  std::map<std::string, int> copies;
  for (const auto& d : shop.directories()) ++copies[d.name];
  for (const auto& [name, n] : copies) EXPECT_EQ(n, 1) << name << "\n" << listing();
  EXPECT_EQ(made(), kAll) << "first run: " << ::testing::PrintToString(first);
}

INSTANTIATE_TEST_SUITE_P(Stalls, FaultMatrixRerun, ::testing::ValuesIn(rerun_cases), test::NamedAfterNote());

// ------------------------------------------------------------------ names

struct NameCase {
  const char* note;
  std::string name;   // UTF-8, as the supplier's catalog names it
  bool made;          // false: the shop refuses it
};

std::string repeated(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

const NameCase name_cases[] = {
    {"an ampersand", "Q币&点卡", true},
    {"a percent sign and an escape look-alike", "100% 充值 %2B%26", true},
    {"an equals sign", "a=b&c=d", true},
    {"a plus sign", "C++ 会员+1", true},
    {"double and single quotes", "\"精品\" '推荐'", true},
    {"a less-than sign and a tag", "<b>热卖</b> <script>", true},
    {"an ampersand that reads as an entity", "&amp;&lt;&#39;", true},
    {"an emoji", "游戏😀🎲", true},
    {"two hundred characters", repeated("长", 200), true},
    {"two hundred ASCII characters", repeated("x", 200), true},
    {"only blanks are refused by the shop", "   ", false},
};

class FaultMatrixName : public FaultMatrix, public ::testing::WithParamInterface<NameCase> {};

// The name goes out as a main directory and as a sub-directory under it, so
// it must also be found again in the directory page and the batch-adding page.
TEST_P(FaultMatrixName, MadeByteForByteOrRefusedWithItsLine) {
  const NameCase& c = GetParam();
  const std::string sub = c.made ? c.name + " 子" : c.name;
  view.items = {{main_item("101", c.name), true}, {sub_item("201", sub, "101"), true}, {main_item("102", "后"), true}};
  shop.set_goods("201", {{"g1", "one"}});

  clone_and_dock_goods(view, state);

  const auto lines = view.log_lines();
  if (c.made) {
    EXPECT_EQ(made(), (Tree{{c.name, ""}, {sub, c.name}, {"后", ""}})) << listing();
    EXPECT_THAT(shop.goods_docked(id_of(sub)), ::testing::ElementsAre("g1"));
    EXPECT_THAT(lines, Contains(c.name + "主目录克隆成功"));
    EXPECT_THAT(lines, Contains(sub + "子目录克隆成功"));
  } else {
    EXPECT_EQ(made(), (Tree{{"后", ""}})) << listing();
    EXPECT_THAT(lines, Contains(c.name + "主目录克隆失败"));
    EXPECT_THAT(lines, Contains(sub + "子目录未克隆：上级目录ID未找到"));
  }
  expect_run_finished();
}

INSTANTIATE_TEST_SUITE_P(Names, FaultMatrixName, ::testing::ValuesIn(name_cases), test::NamedAfterNote());

}  // namespace
}  // namespace korvani
