// Docking runs against the demo shop in-process, through a recording view:
// what the shop was sent, what it holds afterwards, and what the window saw.
#include "docking/docking.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "app/program_state.h"
#include "demo_shop.h"
#include "support/test_support.h"
#include "docking/recording_view.h"
#include "platform/http.h"
#include "web/web_request.h"

namespace korvani {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using test::cp;
using test::main_item;
using test::RecordingView;
using test::sub_item;

using test::kBatchPage;
using test::kBatchSave;
using test::kDirPage;
using test::kGoods;
using test::kSave;

std::string save_body(const std::string& title, const std::string& parent) {
  return "titleStyle=&title=" + title + "&isHot=0&parentId=" + parent +
         "&state=1&ispub=1&istojoin=1&introduction=";
}

// The run's closing line, without its "\r\n".
std::string summary(int created, int skipped, int failed, int goods) {
  return "本次对接：新建目录" + std::to_string(created) + "个，跳过" + std::to_string(skipped) + "个，未建" +
         std::to_string(failed) + "个，对接商品" + std::to_string(goods) + "个";
}

// Replaces each "{name}" in `text` by its value.
std::string fill(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [name, value] : values) {
    const std::string key = "{" + name + "}";
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
  }
  return text;
}

class DockingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::cookie_jar_clear();
    ASSERT_TRUE(shop.start());
    web_request(shop.backend_root() + "login.html", 1, "username=admin&password=demo123");
    state.backend_root = shop.backend_root();
    state.supplier_id = shop.platform_id();
    shop.set_goods("201", {{"g2011", "one"}, {"g2012", "two"}});
    shop.set_goods("202", {{"g2021", "three"}});
    shop.clear_requests();
  }

  void add(const Text& text, bool ticked = true) { view.items.push_back({text, ticked}); }
  void add_road() {
    add(main_item("101", "A"));
    add(sub_item("201", "A1", "101"));
    add(sub_item("202", "A2", "101"));
  }

  // The back-end requests since SetUp, as "path body".
  std::vector<std::string> requests() const {
    std::vector<std::string> out;
    for (const auto& r : shop.requests())
      if (r.side == "backend") out.push_back(r.path + " " + r.body);
    return out;
  }
  std::vector<std::string> request_paths() const {
    std::vector<std::string> out;
    for (const auto& r : shop.requests())
      if (r.side == "backend") out.push_back(r.path);
    return out;
  }

  // The directories the docking run made (not those the shop started with).
  std::optional<demo_shop::Directory> dir(const std::string& name_utf8) const {
    std::optional<demo_shop::Directory> found;
    for (const auto& d : shop.directories())
      if (d.name == name_utf8) found = d;
    return found;
  }
  std::string id_of(const std::string& name_utf8) const {
    auto d = dir(name_utf8);
    return d ? d->id : "<none>";
  }

  demo_shop::DemoShop shop;
  ProgramState state;
  RecordingView view;
};

// Ids come out of the supplier's page: one holding "&" or "=" stays one
// value, it cannot add or replace a field of the back end's form.
TEST_F(DockingTest, AnIdWithFormCharactersStaysOneValue) {
  add(main_item("101", "A"));
  add(sub_item("2&nowPage=9", "A1", "101"));
  clone_and_dock_goods(view, state);

  std::vector<std::string> queries;
  for (const auto& r : shop.requests())
    if (r.side == "backend" && r.path.ends_with("platFormDirGoodsDataQuery.html")) queries.push_back(r.body);
  ASSERT_FALSE(queries.empty());
  EXPECT_THAT(queries.front(), ::testing::HasSubstr("&directoryId=2%26nowPage%3D9&nowPage=1&everyPage=20"));
}

TEST_F(DockingTest, GoodsRunOverAMainDirectoryAndTwoSubDirectories) {
  add_road();
  clone_and_dock_goods(view, state);

  auto a = dir("A"), a1 = dir("A1"), a2 = dir("A2");
  ASSERT_TRUE(a && a1 && a2);
  EXPECT_EQ(a->parent_id, "0");
  EXPECT_EQ(a1->parent_id, a->id);
  EXPECT_EQ(a2->parent_id, a->id);
  EXPECT_THAT(shop.goods_docked(a1->id), UnorderedElementsAre("g2011", "g2012"));
  EXPECT_THAT(shop.goods_docked(a2->id), ElementsAre("g2021"));
  const auto saves = shop.batch_saves();
  ASSERT_EQ(saves.size(), 2u);
  EXPECT_TRUE(saves[0].key_ok);
  EXPECT_TRUE(saves[1].key_ok);
  const std::string key = saves[0].sign;
  EXPECT_FALSE(key.empty());
  EXPECT_EQ(state.sign_str, key);

  const std::string goods_query = "keyWord=&keyType=1&goodPlat=0&platFormId=" + shop.platform_id();
  EXPECT_THAT(requests(),
              ElementsAre(std::string(kSave) + " " + save_body("A", "0"), std::string(kDirPage) + " ",
                          std::string(kSave) + " " + save_body("A1", a->id),
                          std::string(kGoods) + " " + goods_query + "&directoryId=201&nowPage=1&everyPage=20",
                          std::string(kBatchPage) + " ",
                          std::string(kBatchSave) + " signStr=" + key + "&goodIds=g2011,g2012&goodDirs=" + a1->id,
                          std::string(kGoods) + " " + goods_query + "&directoryId=201&nowPage=2&everyPage=20",
                          std::string(kSave) + " " + save_body("A2", a->id),
                          std::string(kGoods) + " " + goods_query + "&directoryId=202&nowPage=1&everyPage=20",
                          std::string(kBatchPage) + " ",
                          std::string(kBatchSave) + " signStr=" + key + "&goodIds=g2021&goodDirs=" + a2->id,
                          std::string(kGoods) + " " + goods_query + "&directoryId=202&nowPage=2&everyPage=20"));

  // Each a POST to the path alone: nothing travels in the address.
  for (const auto& r : shop.requests())
    if (r.side == "backend") {
      EXPECT_EQ(r.method, "POST") << r.path;
      EXPECT_EQ(r.target, r.path);
    }

  EXPECT_THAT(view.calls, ElementsAreArray(std::vector<std::string>{
                              "button off",
                              "timer 0",
                              "log 主目录ID:101----主目录名称:A----\r\n",
                              "log 101\r\n",
                              "log A\r\n",
                              "log A主目录克隆成功\r\n",
                              "log 子目录ID:201----子目录名称:A1上级目录:101----\r\n",
                              "log " + a->id + "返回ID\r\n",
                              "log A1子目录克隆成功\r\n",
                              "wait 1000",
                              "log 子目录ID:202----子目录名称:A2上级目录:101----\r\n",
                              "log " + a->id + "返回ID\r\n",
                              "log A2子目录克隆成功\r\n",
                              "wait 1000",
                              "log " + summary(3, 0, 0, 3) + "\r\n",
                              "box 目录克隆完成|提示",
                              "keep texts",
                              "timer 100",
                              "button on",
                          }));
  EXPECT_EQ(state.good_dirs, a2->id);
  EXPECT_EQ(state.good_ids, "g2021");
  // Handed back for the next run before the button came back.
  EXPECT_EQ(view.kept_sign_str, key);
  EXPECT_EQ(view.kept_good_ids, "g2021");
  EXPECT_EQ(view.kept_good_dirs, a2->id);
}

TEST_F(DockingTest, CloningRunLogsEachStepAndDocksNoGoods) {
  add(main_item("101", "A"));
  add(sub_item("201", "A1", "101"));
  clone_directories(view, state);

  const std::string a = id_of("A");
  EXPECT_EQ(dir("A1").value_or(demo_shop::Directory{}).parent_id, a);
  EXPECT_EQ(a.size(), 8u);
  EXPECT_THAT(view.log_lines(), ElementsAre("主目录ID:101----主目录名称:A----", "A主目录克隆成功",
                                            "子目录ID:201----子目录名称:A1上级目录:101----", a + "返回ID",
                                            "A1子目录克隆成功", summary(2, 0, 0, 0)));
  EXPECT_THAT(request_paths(), ElementsAre(kSave, kDirPage, kSave));
  EXPECT_THAT(shop.batch_saves(), IsEmpty());
  EXPECT_THAT(view.calls.back(), "button on");
}

// Walks whose outcome shows in the window and the requests alone. In the
// expected calls, "{A}" stands for the back-end id the shop gave A.
struct WalkCase {
  const char* note;
  std::vector<RecordingView::Item> items;
  std::vector<std::string> calls;
  std::vector<std::string> paths;
};

class DockingWalkTest : public DockingTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(DockingWalkTest, HandlesTheTickedItemsInListOrder) {
  view.items = GetParam().items;
  clone_directories(view, state);
  std::vector<std::string> expected;
  for (const auto& c : GetParam().calls) expected.push_back(fill(c, {{"A", id_of("A")}}));
  EXPECT_THAT(view.calls, ElementsAreArray(expected));
  EXPECT_THAT(request_paths(), ElementsAreArray(GetParam().paths));
  EXPECT_EQ(view.touches_after_close, 0);
}

const std::vector<std::string> kFrameEnd = {"box 目录克隆完成|提示", "keep texts", "timer 100", "button on"};

std::vector<std::string> calls(std::vector<std::string> middle, const std::string& closing) {
  std::vector<std::string> out = {"button off", "timer 0"};
  out.insert(out.end(), middle.begin(), middle.end());
  out.push_back("log " + closing + "\r\n");
  out.insert(out.end(), kFrameEnd.begin(), kFrameEnd.end());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Walks, DockingWalkTest,
    ::testing::Values(
        WalkCase{"an empty list asks for the catalog to be read first",
                 {},
                 {"button off", "timer 0", "box 您还没刷新目录|提示", "keep texts", "timer 100", "button on"},
                 {}},
        WalkCase{"a list with nothing ticked still ends with the box",
                 {{main_item("101", "A"), false}, {sub_item("201", "A1", "101"), false}},
                 calls({}, summary(0, 0, 0, 0)),
                 {}},
        WalkCase{"unticked items are skipped without a line",
                 {{main_item("101", "A"), true},
                  {sub_item("201", "A1", "101"), false},
                  {sub_item("202", "A2", "101"), true}},
                 calls({"log 主目录ID:101----主目录名称:A----\r\n", "log A主目录克隆成功\r\n",
                        "log 子目录ID:202----子目录名称:A2上级目录:101----\r\n", "log {A}返回ID\r\n",
                        "log A2子目录克隆成功\r\n"},
                       summary(2, 0, 0, 0)),
                 {kSave, kDirPage, kSave}},
        WalkCase{"a sub-directory whose main directory is not ticked is not sent",
                 {{main_item("101", "A"), false}, {sub_item("201", "A1", "101"), true}},
                 calls({"log 子目录ID:201----子目录名称:A1上级目录:101----\r\n",
                        "log A1子目录未克隆：上级目录未克隆\r\n"},
                       summary(0, 0, 1, 0)),
                 {}},
        WalkCase{"a sub-directory found before any main directory is not sent",
                 {{sub_item("7", "X", ""), true}, {main_item("101", "A"), true}},
                 calls({"log 子目录ID:7----子目录名称:X上级目录:----\r\n", "log X子目录未克隆：上级目录未克隆\r\n",
                        "log 主目录ID:101----主目录名称:A----\r\n", "log A主目录克隆成功\r\n"},
                       summary(1, 0, 1, 0)),
                 {kSave, kDirPage}},
        WalkCase{"a sub-directory does not go under whichever main directory came last",
                 {{main_item("101", "A"), true},
                  {main_item("102", "B"), false},
                  {sub_item("203", "B1", "102"), true}},
                 calls({"log 主目录ID:101----主目录名称:A----\r\n", "log A主目录克隆成功\r\n",
                        "log 子目录ID:203----子目录名称:B1上级目录:102----\r\n",
                        "log B1子目录未克隆：上级目录未克隆\r\n"},
                       summary(1, 0, 1, 0)),
                 {kSave, kDirPage}}),
    korvani::test::NamedAfterNote());

TEST_F(DockingTest, AFailedSubDirectorySaveGetsNoGoods) {
  add_road();
  // The second save is A1's.
  shop.add_fault({.path_suffix = "directory/saveDirectory.html",
                  .fault = demo_shop::Fault::status_500,
                  .skip = 1,
                  .times = 1});
  clone_and_dock_goods(view, state);

  EXPECT_FALSE(dir("A1"));
  ASSERT_TRUE(dir("A2"));
  EXPECT_THAT(view.log_lines(), ElementsAre("主目录ID:101----主目录名称:A----", "101", "A", "A主目录克隆成功",
                                            "子目录ID:201----子目录名称:A1上级目录:101----", id_of("A") + "返回ID",
                                            "A1子目录克隆失败", "子目录ID:202----子目录名称:A2上级目录:101----",
                                            id_of("A") + "返回ID", "A2子目录克隆成功", summary(2, 0, 1, 1)));
  EXPECT_THAT(request_paths(), ElementsAre(kSave, kDirPage, kSave, kSave, kGoods, kBatchPage, kBatchSave, kGoods));
  EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "wait 1000"), 1);
  EXPECT_THAT(shop.goods_docked(id_of("A2")), ElementsAre("g2021"));
}

TEST_F(DockingTest, AMainDirectoryWhoseSaveFailedStillGivesTheIdOfOneOfThatName) {
  shop.add_directory("A");
  add(main_item("101", "A"));
  add(sub_item("201", "A1", "101"));
  shop.add_fault({.path_suffix = "directory/saveDirectory.html", .fault = demo_shop::Fault::status_500,
                  .times = 1});
  clone_directories(view, state);

  EXPECT_THAT(view.log_lines(), ElementsAre("主目录ID:101----主目录名称:A----", "A主目录克隆失败",
                                            "子目录ID:201----子目录名称:A1上级目录:101----", id_of("A") + "返回ID",
                                            "A1子目录克隆成功", summary(1, 0, 1, 0)));
  EXPECT_EQ(dir("A1").value_or(demo_shop::Directory{}).parent_id, id_of("A"));
}

TEST_F(DockingTest, AMainDirectoryWithoutIdSendsNoneOfItsSubDirectories) {
  add(main_item("101", "A"));
  add(sub_item("201", "A1", "101"));
  shop.add_fault({.path_suffix = "directory/initadd.html", .fault = demo_shop::Fault::status_500});
  clone_directories(view, state);

  EXPECT_THAT(view.log_lines(), ElementsAre("主目录ID:101----主目录名称:A----", "A主目录克隆成功",
                                            "子目录ID:201----子目录名称:A1上级目录:101----",
                                            "A1子目录未克隆：上级目录ID未找到", summary(1, 0, 1, 0)));
  EXPECT_THAT(request_paths(), ElementsAre(kSave, kDirPage));
  EXPECT_FALSE(dir("A1"));
}

TEST_F(DockingTest, NoBatchSaveWhenTheBatchPageDoesNotListTheDirectory) {
  add(main_item("101", "A"));
  add(sub_item("201", "A1", "101"));
  shop.add_fault({.path_suffix = "platform/batchAddGoods.html", .fault = demo_shop::Fault::status_500});
  clone_and_dock_goods(view, state);

  EXPECT_THAT(request_paths(), ElementsAre(kSave, kDirPage, kSave, kGoods, kBatchPage));
  EXPECT_THAT(view.log_lines(), ::testing::Contains("A1商品未对接：批量添加页无此目录"));
  EXPECT_THAT(shop.batch_saves(), IsEmpty());
  EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "wait 1000"), 0);
}

TEST_F(DockingTest, TheKeyOfAnEarlierPageIsKeptWhenAPageHasNone) {
  add(main_item("101", "A"));
  add(sub_item("201", "A1", "101"));
  clone_and_dock_goods(view, state);
  const std::string key = state.sign_str;
  ASSERT_FALSE(key.empty());

  // A second run whose goods query gets no page at all.
  shop.clear_requests();
  shop.add_fault({.path_suffix = "platform/platFormDirGoodsDataQuery.html", .fault = demo_shop::Fault::drop});
  RecordingView second;
  second.items = view.items;
  clone_and_dock_goods(second, state);

  const auto sent = requests();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), std::string(kBatchSave) + " signStr=" + key + "&goodIds=&goodDirs=" + state.good_dirs);
  EXPECT_EQ(state.sign_str, key);
  EXPECT_EQ(state.good_ids, "");
}

TEST_F(DockingTest, NamesArriveAtTheShopByteForByte) {
  const std::string main_name = "Q币&点卡=100%+😀";
  const std::string sub_name = "子 a&b=c%d+e%2B 🎲";
  add(main_item("101", main_name));
  add(sub_item("201", sub_name, "101"));
  clone_and_dock_goods(view, state);

  auto m = dir(main_name), s = dir(sub_name);
  ASSERT_TRUE(m) << shop.state_json();
  ASSERT_TRUE(s) << shop.state_json();
  EXPECT_EQ(m->parent_id, "0");
  EXPECT_EQ(s->parent_id, m->id);
  EXPECT_THAT(shop.goods_docked(s->id), UnorderedElementsAre("g2011", "g2012"));
  const auto sent = requests();
  ASSERT_GE(sent.size(), 1u);
  EXPECT_EQ(sent[0], std::string(kSave) + " " + save_body("Q币%26点卡%3D100%25%2B😀", "0"));
}

// Where the window goes away, and what must not happen after that.
struct CloseCase {
  const char* note;
  const char* close_at;  // the call during which the window closes
  std::vector<std::string> paths;
};

class DockingCloseTest : public DockingTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(DockingCloseTest, AClosedWindowStopsTheRunWithoutBeingTouched) {
  add_road();
  view.close_when = [&](const std::string& call) { return call == fill(GetParam().close_at, {{"A", id_of("A")}}); };
  clone_and_dock_goods(view, state);
  EXPECT_TRUE(view.is_closed);
  EXPECT_EQ(view.touches_after_close, 0);
  EXPECT_THAT(request_paths(), ElementsAreArray(GetParam().paths));
  EXPECT_EQ(fill(GetParam().close_at, {{"A", id_of("A")}}), view.calls.back());
}

INSTANTIATE_TEST_SUITE_P(
    Closing, DockingCloseTest,
    ::testing::Values(CloseCase{"as the run starts", "button off", {}},
                      CloseCase{"after the first save", "log A主目录克隆成功\r\n", {kSave}},
                      CloseCase{"before a sub-directory's save", "log {A}返回ID\r\n", {kSave, kDirPage}},
                      CloseCase{"during the pause after a docked sub-directory",
                                "wait 1000",
                                {kSave, kDirPage, kSave, kGoods, kBatchPage, kBatchSave}},
                      CloseCase{"while the final box is up",
                                "box 目录克隆完成|提示",
                                {kSave, kDirPage, kSave, kGoods, kBatchPage, kBatchSave, kGoods, kSave, kGoods,
                                 kBatchPage, kBatchSave, kGoods}}),
    korvani::test::NamedAfterNote());

// A second run started while a first one is at `at_call`: with the first
// one's window (view) or texts (state) it leaves at once, since both would
// make every directory again; once the first has handed back its texts, just
// before its button comes back, a new run goes on.
struct OverlapCase {
  const char* note;
  const char* at_call;
  bool same_view;
  bool same_state;
  int saves;  // of A, by both runs together
};

class DockingOverlapTest : public DockingTest, public ::testing::WithParamInterface<OverlapCase> {};

TEST_P(DockingOverlapTest, OneRunAtATimePerWindowAndState) {
  const OverlapCase& c = GetParam();
  add(main_item("101", "A"));
  RecordingView other;
  other.items = view.items;
  ProgramState other_state;
  other_state.backend_root = state.backend_root;
  other_state.supplier_id = state.supplier_id;
  RecordingView& second_view = c.same_view ? view : other;
  ProgramState& second_state = c.same_state ? state : other_state;
  bool started = false;
  view.close_when = [&](const std::string& call) {
    if (!started && call == c.at_call) {
      started = true;
      clone_directories(second_view, second_state);
    }
    return false;
  };
  clone_directories(view, state);

  EXPECT_TRUE(started);
  EXPECT_EQ(view.calls.back(), "button on");
  const auto paths = request_paths();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), kSave), c.saves);
}

INSTANTIATE_TEST_SUITE_P(
    Overlaps, DockingOverlapTest,
    ::testing::Values(
        OverlapCase{"a run on the same state while the first box is up leaves", "box 目录克隆完成|提示", false, true, 1},
        OverlapCase{"a run on the same window while the first box is up leaves", "box 目录克隆完成|提示", true, false,
                    1},
        OverlapCase{"a run on another window and state goes on beside it", "box 目录克隆完成|提示", false, false, 2},
        OverlapCase{"a run started as the button comes back goes on", "button on", true, true, 2}),
    korvani::test::NamedAfterNote());

}  // namespace
}  // namespace korvani
