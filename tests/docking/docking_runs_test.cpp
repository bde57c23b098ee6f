// Runs that a reseller repeats, stops, or that outlive the back-end session,
// against the demo shop in-process: what the shop holds afterwards, and
// what the window and the files beside the cache were told.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "app/program_state.h"
#include "demo_shop.h"
#include "docking/docking.h"
#include "docking/recording_view.h"
#include "docking/run_journal.h"
#include "platform/http.h"
#include "support/test_support.h"
#include "web/web_request.h"

namespace korvani {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Not;
using ::testing::UnorderedElementsAreArray;
using test::main_item;
using test::RecordingView;
using test::sub_item;

using test::kBatchPage;
using test::kBatchSave;
using test::kDirPage;
using test::kGoods;
using test::kSave;

const std::string kExpired = "后台登录已失效，请在弹出的窗口重新登录";

// The supplier's tree: main directory -> its sub-directories, with ids.
struct Node {
  const char* id;
  const char* name;
  const char* parent;  // supplier id of the main directory; null for a main one
};
const std::vector<Node> kTree = {{"101", "A", nullptr}, {"201", "A1", "101"}, {"202", "A2", "101"},
                                 {"102", "B", nullptr}, {"203", "B1", "102"}};
const std::map<std::string, std::vector<std::string>> kGoodsOf = {
    {"A1", {"g2011", "g2012"}}, {"A2", {"g2021"}}, {"B1", {"g2031"}}};

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::cookie_jar_clear();
    ASSERT_TRUE(shop.start());
    ASSERT_TRUE(log_in());
    state.backend_root = shop.backend_root();
    state.supplier_host = shop.supplier_host();
    state.supplier_id = shop.platform_id();
    state.files_dir = files.path().string();
    shop.set_goods("201", {{"g2011", "one"}, {"g2012", "two"}});
    shop.set_goods("202", {{"g2021", "three"}});
    shop.set_goods("203", {{"g2031", "four"}});
    shop.clear_requests();
  }

  // As the user does in the re-login window.
  bool log_in() {
    web_request(shop.backend_root() + "login.html", 1, "username=admin&password=demo123");
    return !web_request(shop.backend_root() + "main.html").empty();
  }

  static std::vector<RecordingView::Item> items(const std::set<std::string>& ticked = {}) {
    std::vector<RecordingView::Item> out;
    for (const Node& n : kTree) {
      const Text text = n.parent ? sub_item(n.id, n.name, n.parent) : main_item(n.id, n.name);
      out.push_back({text, ticked.empty() || ticked.count(n.name) > 0});
    }
    return out;
  }

  void goods_run(RecordingView& view, const std::set<std::string>& ticked = {}) {
    view.items = items(ticked);
    clone_and_dock_goods(view, state);
  }

  // A1 with `count` goods: more than one page of twenty.
  void give_a1_goods(int count) {
    std::vector<demo_shop::Goods> goods;
    for (int i = 1; i <= count; ++i) goods.push_back({"p" + std::to_string(1000 + i), "x"});
    shop.set_goods("201", goods);
  }

  // Every goods id of A1's `count` was sent in a batch save, each once.
  void expect_each_goods_sent_once(std::size_t count) const {
    std::map<std::string, int> sent;
    for (const auto& s : shop.batch_saves())
      for (const auto& id : s.good_ids) ++sent[id];
    EXPECT_EQ(sent.size(), count);
    for (const auto& [id, times] : sent) EXPECT_EQ(times, 1) << id;
  }

  std::vector<demo_shop::Directory> named(const std::string& name) const {
    std::vector<demo_shop::Directory> out;
    for (const auto& d : shop.directories())
      if (d.name == name) out.push_back(d);
    return out;
  }

  // Exactly one copy of every directory of the tree, each sub-directory
  // under its own main directory and holding its goods once.
  void expect_one_tree() const {
    std::map<std::string, std::string> id_of;
    for (const Node& n : kTree) {
      const auto copies = named(n.name);
      ASSERT_EQ(copies.size(), 1u) << n.name << "\n" << shop.state_json();
      id_of[n.name] = copies[0].id;
    }
    for (const Node& n : kTree) {
      const std::string parent = n.parent ? id_of[n.parent == std::string("101") ? "A" : "B"] : "0";
      EXPECT_EQ(named(n.name)[0].parent_id, parent) << n.name;
      if (n.parent) {
        EXPECT_THAT(shop.goods_docked(id_of[n.name]), UnorderedElementsAreArray(kGoodsOf.at(n.name)));
      }
    }
  }

  // The back-end requests since the last clear; the log-in page that a
  // logged-out answer redirects to belongs to the request that met it.
  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (const auto& r : shop.requests())
      if (r.side == "backend" && r.path != "/admin/index.html") out.push_back(r.path);
    return out;
  }

  // Names of the directories the batch saves since the last clear went to.
  std::set<std::string> batch_dirs() const {
    std::set<std::string> out;
    for (const auto& s : shop.batch_saves())
      for (const auto& d : shop.directories())
        if (d.id == s.dir_id) out.insert(d.name);
    return out;
  }

  test::TempDir files;
  demo_shop::DemoShop shop;
  ProgramState state;
};

// ------------------------------------------------------------ stop and rerun

struct StopCase {
  const char* note;
  const char* stop_at;          // the call during which stop is pressed
  const char* stop_line;        // the line that says where the run stopped
  const char* last_path;        // the first run's last request
  std::set<std::string> rerun_docks;  // sub-directories whose goods the rerun docks
};

class StopAndRerunTest : public RunTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopAndRerunTest, TheRerunMakesNoSecondCopy) {
  const StopCase& c = GetParam();
  RecordingView first;
  first.stop_when = [&](const std::string& call) { return call == c.stop_at; };
  goods_run(first);

  EXPECT_THAT(first.log_lines(), Contains(c.stop_line));
  EXPECT_EQ(paths().back(), c.last_path);
  EXPECT_THAT(std::vector<std::string>(first.calls.end() - 4, first.calls.end()),
              ElementsAre("box 目录克隆完成|提示", "keep texts", "timer 100", "button on"));

  shop.clear_requests();
  const std::size_t saves_before = shop.batch_saves().size();
  RecordingView second;
  goods_run(second);
  expect_one_tree();
  std::set<std::string> docked;
  const auto saves = shop.batch_saves();
  for (std::size_t i = saves_before; i < saves.size(); ++i)
    for (const auto& d : shop.directories())
      if (d.id == saves[i].dir_id) docked.insert(d.name);
  EXPECT_EQ(docked, c.rerun_docks);
  EXPECT_THAT(second.log_lines(), Not(Contains(::testing::HasSubstr("对接已停止"))));
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StopAndRerunTest,
    ::testing::Values(
        // The id of a directory just saved is still read: without it the
        // rerun could not know the directory was made.
        StopCase{"during a main directory's save", "log A主目录克隆成功\r\n", "对接已停止：停在A1之前", kDirPage,
                 {"A1", "A2", "B1"}},
        StopCase{"during the pause after a page of goods", "wait 1000", "对接已停止：停在A1的商品第2页之前",
                 kBatchSave, {"A2", "B1"}},
        StopCase{"before the second main directory", "log 主目录ID:102----主目录名称:B----\r\n",
                 "对接已停止：停在B之前", kGoods, {"B1"}}),
    test::NamedAfterNote());

TEST_F(RunTest, ARerunGoesOnAfterTheLastPageOfGoodsDocked) {
  give_a1_goods(45);
  RecordingView first;
  first.items = items({"A", "A1"});
  first.stop_when = [](const std::string& call) { return call == "wait 1000"; };
  clone_and_dock_goods(first, state);
  ASSERT_EQ(shop.batch_saves().size(), 1u);

  RecordingView second;
  second.items = first.items;
  clone_and_dock_goods(second, state);
  expect_each_goods_sent_once(45);
  EXPECT_EQ(shop.batch_saves().size(), 3u);
  EXPECT_EQ(second.log_lines().back(), "本次对接：新建目录0个，跳过2个，未建0个，对接商品25个");
}

TEST_F(RunTest, AGoodsPageThatCouldNotBeReadIsAskedForAgainByTheRerun) {
  give_a1_goods(45);
  // Page 2, twice: the client sends a request again once when a kept-alive
  // connection closes unanswered.
  shop.add_fault({.path_suffix = "platFormDirGoodsDataQuery.html", .fault = demo_shop::Fault::drop, .skip = 1,
                  .times = 2});
  RecordingView first;
  first.items = items({"A", "A1"});
  clone_and_dock_goods(first, state);
  EXPECT_THAT(first.log_lines(), Contains("A1的商品第2页未读到"));
  EXPECT_EQ(shop.batch_saves().size(), 1u);

  RecordingView second;
  second.items = first.items;
  clone_and_dock_goods(second, state);
  expect_each_goods_sent_once(45);
}

TEST_F(RunTest, StopDuringASlowRequestEndsAfterIt) {
  shop.add_fault({.path_suffix = "directory/saveDirectory.html",
                  .fault = demo_shop::Fault::delay,
                  .delay_ms = 300,
                  .skip = 1,
                  .times = 1});
  RecordingView view;
  // Pressed while the shop holds back its answer to A1's save.
  std::thread presser([&] {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < give_up) {
      const auto p = paths();
      if (std::count(p.begin(), p.end(), kSave) >= 2) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    view.stop = true;
  });
  goods_run(view);
  presser.join();

  // A1's save, then only the page that reads its id.
  EXPECT_THAT(paths(), ElementsAre(kSave, kDirPage, kSave, kDirPage));
  EXPECT_THAT(view.log_lines(), Contains("对接已停止：停在A1的商品第1页之前"));
  ASSERT_EQ(named("A1").size(), 1u);
  EXPECT_EQ(view.calls.back(), "button on");
}

// --------------------------------------------------------------- the journal

TEST_F(RunTest, ADirectoryDeletedInTheShopIsMadeAgain) {
  RecordingView first;
  goods_run(first);
  // A sub-directory alone, and a main directory with what lies under it.
  shop.remove_directory(named("A1")[0].id);
  shop.remove_directory(named("B")[0].id);
  shop.remove_directory(named("B1")[0].id);

  RecordingView second;
  goods_run(second);
  expect_one_tree();
  const std::string a = named("A")[0].id;
  EXPECT_THAT(second.log_lines(),
              ElementsAreArray(std::vector<std::string>{
                  "主目录ID:101----主目录名称:A----", "101", "A", "A主目录跳过：上次对接已建",
                  "子目录ID:201----子目录名称:A1上级目录:101----", a + "返回ID", "A1子目录克隆成功",
                  "子目录ID:202----子目录名称:A2上级目录:101----", a + "返回ID", "A2子目录跳过：上次对接已建",
                  "主目录ID:102----主目录名称:B----", "102", "B", "B主目录克隆成功",
                  "子目录ID:203----子目录名称:B1上级目录:102----", named("B")[0].id + "返回ID", "B1子目录克隆成功",
                  "本次对接：新建目录3个，跳过2个，未建0个，对接商品3个"}));
  EXPECT_EQ(batch_dirs(), (std::set<std::string>{"A1", "A2", "B1"}));
}

// The rerun's first look at the back end's directories fails: what the
// journal says is trusted rather than making a second copy, and the page is
// read again for the next directory.
struct UnreadableCase {
  const char* note;
  demo_shop::Fault fault;
  int times;
};

class UnreadableDirectoryPageTest : public RunTest, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableDirectoryPageTest, TheJournalIsTrustedUntilThePageCanBeRead) {
  RecordingView first;
  goods_run(first);
  shop.add_fault({.path_suffix = "directory/initadd.html", .fault = GetParam().fault, .times = GetParam().times});
  RecordingView second;
  goods_run(second);
  expect_one_tree();
  const auto lines = second.log_lines();
  EXPECT_THAT(lines, Contains("A主目录跳过：上次对接已建，目录页未读到"));
  EXPECT_THAT(lines, Contains("A1子目录跳过：上次对接已建"));
  EXPECT_EQ(lines.back(), "本次对接：新建目录0个，跳过5个，未建0个，对接商品0个");
}

INSTANTIATE_TEST_SUITE_P(Faults, UnreadableDirectoryPageTest,
                         ::testing::Values(UnreadableCase{"an error page", demo_shop::Fault::status_500, 1},
                                           // Twice: a request whose kept-alive connection closes
                                           // unanswered is sent again once by the client.
                                           UnreadableCase{"a dropped connection", demo_shop::Fault::drop, 2}),
                         test::NamedAfterNote());

TEST_F(RunTest, ASubDirectoryGoesUnderItsMainDirectoryFromAnEarlierRun) {
  RecordingView first;
  first.items = items({"A"});
  clone_directories(first, state);
  RecordingView second;
  second.items = items({"A1"});
  clone_directories(second, state);

  ASSERT_EQ(named("A").size(), 1u);
  ASSERT_EQ(named("A1").size(), 1u);
  EXPECT_EQ(named("A1")[0].parent_id, named("A")[0].id);
  EXPECT_THAT(second.log_lines(), Contains(named("A")[0].id + "返回ID"));
}

TEST_F(RunTest, WithSkippingOffEveryDirectoryIsSavedAgain) {
  RecordingView first;
  goods_run(first);
  RecordingView second;
  second.skip = false;
  goods_run(second);
  for (const Node& n : kTree) EXPECT_EQ(named(n.name).size(), 2u) << n.name;
  // The second copies form a tree of their own.
  EXPECT_EQ(named("A1")[1].parent_id, named("A")[1].id);
}

// A journal written by hand before the run, for a directory "A" that the
// shop holds: only a whole line of this back end and supplier that the
// back end confirms lets the run skip A.
struct JournalCase {
  const char* note;
  bool other_root, other_host, torn, other_name;
  std::size_t copies_of_a;
};

class JournalUseTest : public RunTest, public ::testing::WithParamInterface<JournalCase> {};

TEST_P(JournalUseTest, OnlyAConfirmedEntryOfThisBackEndAndSupplierIsUsed) {
  const JournalCase& c = GetParam();
  shop.add_directory("A");
  const std::string id = named("A")[0].id;
  const std::string line = journal_line({c.other_root ? Text("http://127.0.0.1:1/admin/") : state.backend_root,
                                         c.other_host ? Text("127.0.0.1:1") : state.supplier_host, "101", id,
                                         c.other_name ? Text("Z") : Text("A"), false});
  test::write_file(files.path() / "对接记录.txt", c.torn ? line.substr(0, line.size() - 1) : line);

  RecordingView view;
  view.items = items({"A"});
  clone_directories(view, state);
  EXPECT_EQ(named("A").size(), c.copies_of_a);
}

INSTANTIATE_TEST_SUITE_P(Journals, JournalUseTest,
                         ::testing::Values(JournalCase{"a whole confirmed line", false, false, false, false, 1},
                                           JournalCase{"another back end", true, false, false, false, 2},
                                           JournalCase{"another supplier", false, true, false, false, 2},
                                           JournalCase{"a torn last line", false, false, true, false, 2},
                                           JournalCase{"the id under another name", false, false, false, true, 2}),
                         test::NamedAfterNote());

TEST_F(RunTest, AJournalThatCannotBeWrittenCostsOneLine) {
  test::write_file(files.path() / "plain", "x");
  state.files_dir = (files.path() / "plain").string();
  RecordingView view;
  goods_run(view);
  expect_one_tree();
  const auto lines = view.log_lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("对接记录写入失败：", 0) == 0; }),
            1);
  EXPECT_EQ(lines.back().rfind("对接日志保存失败：对接日志-", 0), 0u) << lines.back();
}

// ------------------------------------------------------------ pages of goods

struct PagingCase {
  const char* note;
  int goods;
  bool broken;
  std::vector<std::size_t> saves;  // goods in each batch save
  std::size_t docked;
};

class GoodsPagingTest : public RunTest, public ::testing::WithParamInterface<PagingCase> {};

TEST_P(GoodsPagingTest, EveryPageIsDockedOnce) {
  const PagingCase& c = GetParam();
  std::vector<demo_shop::Goods> goods;
  for (int i = 1; i <= c.goods; ++i) goods.push_back({"p" + std::to_string(1000 + i), "x"});
  shop.set_goods("201", goods);
  shop.set_goods_paging_broken(c.broken);
  RecordingView view;
  view.items = items({"A", "A1"});
  clone_and_dock_goods(view, state);

  std::vector<std::size_t> sizes;
  for (const auto& s : shop.batch_saves()) {
    sizes.push_back(s.good_ids.size());
    EXPECT_TRUE(s.key_ok);
  }
  EXPECT_EQ(sizes, c.saves);
  EXPECT_EQ(shop.goods_docked(named("A1")[0].id).size(), c.docked);
  // What the next run finds is the last page's.
  const std::string last = c.saves.back() ? "p" + std::to_string(1000 + int(c.docked)) : "";
  const std::string ids = state.good_ids;
  EXPECT_EQ(ids.substr(ids.empty() ? 0 : ids.rfind(',') + 1), last);
  EXPECT_EQ(view.kept_good_ids, state.good_ids);
}

INSTANTIATE_TEST_SUITE_P(Pages, GoodsPagingTest,
                         ::testing::Values(PagingCase{"forty-five goods in three saves", 45, false, {20, 20, 5}, 45},
                                           PagingCase{"exactly two pages", 40, false, {20, 20}, 40},
                                           PagingCase{"no goods still one save", 0, false, {0}, 0},
                                           PagingCase{"a back end that repeats page 1", 45, true, {20}, 20},
                                           PagingCase{"no more than two hundred pages", 4010, false,
                                                      std::vector<std::size_t>(200, 20), 4000}),
                         test::NamedAfterNote());

TEST_F(RunTest, GoodsPagesAreAskedInOrderWithAPauseAfterEachSave) {
  std::vector<demo_shop::Goods> goods;
  for (int i = 1; i <= 25; ++i) goods.push_back({"q" + std::to_string(i), "x"});
  shop.set_goods("201", goods);
  RecordingView view;
  view.items = items({"A", "A1"});
  clone_and_dock_goods(view, state);
  std::vector<std::string> asked;
  for (const auto& r : shop.requests())
    if (r.path == kGoods) asked.push_back(r.body.substr(r.body.find("&nowPage=")));
  EXPECT_THAT(asked, ElementsAre("&nowPage=1&everyPage=20", "&nowPage=2&everyPage=20", "&nowPage=3&everyPage=20"));
  EXPECT_THAT(paths(), ElementsAre(kSave, kDirPage, kSave, kDirPage, kGoods, kBatchPage, kBatchSave, kGoods,
                                   kBatchSave, kGoods));
  EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "wait 1000"), 2);
}

// ------------------------------------------------------------ expired session

struct ExpiryCase {
  const char* note;
  const char* path_suffix;
  int skip;  // matching requests let through first
  demo_shop::LoggedOutStyle style;
};

class ExpiredSessionTest : public RunTest, public ::testing::WithParamInterface<ExpiryCase> {};

TEST_P(ExpiredSessionTest, PausesForANewLogInAndGoesOnWithTheSameRequest) {
  const ExpiryCase& c = GetParam();
  shop.set_logged_out_style(c.style);
  shop.add_fault({.path_suffix = c.path_suffix, .fault = demo_shop::Fault::expired_session, .skip = c.skip, .times = 1});
  RecordingView view;
  int log_ins = 0;
  view.on_login = [&] {
    ++log_ins;
    return log_in();
  };
  goods_run(view);

  EXPECT_EQ(log_ins, 1);
  const auto lines = view.log_lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kExpired), 1);
  EXPECT_EQ(lines.back(), "本次对接：新建目录5个，跳过0个，未建0个，对接商品4个");
  expect_one_tree();
  // One request again, and only where the session had expired.
  const auto p = paths();
  EXPECT_EQ(std::count(p.begin(), p.end(), kSave), 5 + (std::string(c.path_suffix) == "saveDirectory.html"));
  for (const auto& s : shop.batch_saves())
    if (!s.good_ids.empty()) {
      EXPECT_TRUE(s.key_ok);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Expiries, ExpiredSessionTest,
    ::testing::Values(
        ExpiryCase{"a sub-directory save, sent to the log-in page", "saveDirectory.html", 2,
                   demo_shop::LoggedOutStyle::redirect},
        ExpiryCase{"a main directory save, answered by the log-in form", "saveDirectory.html", 3,
                   demo_shop::LoggedOutStyle::login_form},
        ExpiryCase{"the directory page, moved on by script", "initadd.html", 0,
                   demo_shop::LoggedOutStyle::script_redirect},
        ExpiryCase{"the goods query", "platFormDirGoodsDataQuery.html", 1, demo_shop::LoggedOutStyle::redirect},
        ExpiryCase{"the batch-adding page", "batchAddGoods.html", 1, demo_shop::LoggedOutStyle::redirect},
        // The key of the page asked before belongs to the old session.
        ExpiryCase{"the batch save", "batchSaveGoodAndDirectory.html", 1, demo_shop::LoggedOutStyle::redirect}),
    test::NamedAfterNote());

TEST_F(RunTest, SessionsThatEndInTheShopHalfWayPauseTheRun) {
  RecordingView view;
  view.close_when = [&](const std::string& call) {
    if (call == "log A2子目录克隆成功\r\n") shop.expire_backend_sessions();
    return false;
  };
  view.on_login = [&] { return log_in(); };
  goods_run(view);
  expect_one_tree();
  EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "login"), 1);
}

TEST_F(RunTest, NoNewLogInEndsTheRunWithoutAnotherRequest) {
  shop.add_fault({.path_suffix = "saveDirectory.html", .fault = demo_shop::Fault::expired_session, .skip = 1});
  RecordingView view;
  view.on_login = [] { return false; };
  goods_run(view);

  EXPECT_THAT(paths(), ElementsAre(kSave, kDirPage, kSave));
  EXPECT_THAT(view.log_lines(), ElementsAre("主目录ID:101----主目录名称:A----", "101", "A", "A主目录克隆成功",
                                            "子目录ID:201----子目录名称:A1上级目录:101----",
                                            named("A")[0].id + "返回ID", kExpired, "对接已停止：停在A1之前",
                                            "本次对接：新建目录1个，跳过0个，未建0个，对接商品0个"));
  EXPECT_EQ(view.calls.back(), "button on");
}

// ------------------------------------------------------- progress and record

TEST_F(RunTest, ProgressCountsTheTickedItemsWhateverTheirOutcome) {
  // A2's save fails; B1 goes without its main directory.
  shop.add_fault({.path_suffix = "saveDirectory.html", .fault = demo_shop::Fault::status_500, .skip = 2, .times = 1});
  RecordingView view;
  view.items = items({"A", "A1", "A2", "B1"});
  clone_directories(view, state);
  EXPECT_THAT(view.progress, ElementsAre(std::pair(0, 4), std::pair(1, 4), std::pair(2, 4), std::pair(3, 4),
                                         std::pair(4, 4)));
  EXPECT_EQ(view.log_lines().back(), "本次对接：新建目录2个，跳过0个，未建2个，对接商品0个");
}

TEST_F(RunTest, TheWholeLogOfARunIsKeptInADatedFile) {
  RecordingView view;
  goods_run(view);
  std::vector<std::filesystem::path> records;
  for (const auto& f : std::filesystem::directory_iterator(files.path())) {
    const std::string name = f.path().filename().string();
    if (name.rfind("对接日志-", 0) == 0) records.push_back(f.path());
  }
  ASSERT_EQ(records.size(), 1u);
  const std::string name = records[0].filename().string();
  EXPECT_EQ(name.size(), std::string("对接日志-20261211-160509.txt").size()) << name;
  Text all;
  for (const Text& line : view.log) all += line;
  EXPECT_EQ(test::read_file(records[0]), all);
}

}  // namespace
}  // namespace korvani
