#include "supplier/catalog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "support/test_support.h"

namespace korvani {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Fixtures are written in UTF-8 here and turned into the code page, as a
// decoded page and the cache file hold them.
Text cp(const std::string& utf8) { return utf8_to_ansi(utf8); }

std::vector<Text> cp(const std::vector<std::string>& utf8) {
  std::vector<Text> out;
  for (const auto& s : utf8) out.push_back(cp(s));
  return out;
}

// The supplier page's shapes: a main directory's div and heading, a link.
std::string main_dir(const std::string& id, const std::string& name) {
  return "\t\t<div  name=\"parentName\" id=\"parentId_" + id + "\" class=\"catalog-list\">\r\n" +
         "\t\t\t\t<h3><font color=\"#FF6600\" title=\"\">" + name + "</font></h3>\r\n" +
         "\t\t\t\t<ul class=\"sub-list\">\r\n";
}

std::string sub_dir(const std::string& id, const std::string& name) {
  return "\t\t\t\t\t<li><a href=\"javascript:void(0)\" class=\"sub-link\" id=\"" + id + "\">" + name +
         "</a></li>\r\n";
}

std::string page(const std::string& body) {
  return "<html>\r\n<body>\r\n\t<div class=\"catalog\">\r\n" + body + "\t</div>\r\n</body>\r\n</html>\r\n";
}

// ------------------------------------------------------------- item texts

TEST(CatalogTexts, ItemsAndRecordsAreExact) {
  EXPECT_EQ(main_item_text("7", cp("点卡")), cp("主目录ID:7----主目录名称:点卡----"));
  EXPECT_EQ(sub_item_text("71", cp("QQ"), "7"), cp("子目录ID:71----子目录名称:QQ上级目录:7----"));

  CatalogRow main_row{"1", "7", cp("点卡"), "", ""};
  CatalogRow sub_row{"2", "", "", "71", "QQ"};
  EXPECT_EQ(cache_record(main_row, "7"), cp("[1]\r\n主目录ID:7----主目录名称:点卡----\r\n"));
  // No "----" between a sub-directory's name and "上级目录:".
  EXPECT_EQ(cache_record(sub_row, "7"), cp("[2]\r\n子目录ID:71----子目录名称:QQ上级目录:7----\r\n"));
  EXPECT_EQ(cache_record(sub_row, ""), cp("[2]\r\n子目录ID:71----子目录名称:QQ上级目录:----\r\n"));
}

// ------------------------------------------------------------- one press

struct PressCase {
  const char* note;
  std::string page_body;                 // UTF-8
  std::vector<std::string> items;        // UTF-8
  std::string cache;                     // UTF-8, the whole cache file
};

class CatalogRead : public ::testing::Test {
 protected:
  void SetUp() override { state.files_dir = dir.path().string(); }
  std::filesystem::path cache_path() const { return dir.path() / "卡盟对接缓存.txt"; }
  std::filesystem::path log_path() const { return dir.path() / "返回.txt"; }

  test::TempDir dir;
  ProgramState state;
  CatalogTable table;
};

TEST_F(CatalogRead, PagesBecomeRecordsAndItems) {
  const std::vector<PressCase> cases = {
      {"one main directory and two subs give [1], [2], [3] in page order",
       main_dir("1001", "游戏点卡") + sub_dir("100101", "腾讯") + sub_dir("100102", "网易"),
       {"主目录ID:1001----主目录名称:游戏点卡----", "子目录ID:100101----子目录名称:腾讯上级目录:1001----",
        "子目录ID:100102----子目录名称:网易上级目录:1001----"},
       "[1]\r\n主目录ID:1001----主目录名称:游戏点卡----\r\n"
       "[2]\r\n子目录ID:100101----子目录名称:腾讯上级目录:1001----\r\n"
       "[3]\r\n子目录ID:100102----子目录名称:网易上级目录:1001----\r\n"},
      {"a sub-directory before any main directory has an empty parent",
       sub_dir("9", "散卡") + main_dir("1", "A"),
       {"子目录ID:9----子目录名称:散卡上级目录:----", "主目录ID:1----主目录名称:A----"},
       "[1]\r\n子目录ID:9----子目录名称:散卡上级目录:----\r\n[2]\r\n主目录ID:1----主目录名称:A----\r\n"},
      {"each sub-directory takes the nearest main directory above it",
       main_dir("1", "A") + sub_dir("11", "a") + main_dir("2", "B") + sub_dir("21", "b"),
       {"主目录ID:1----主目录名称:A----", "子目录ID:11----子目录名称:a上级目录:1----",
        "主目录ID:2----主目录名称:B----", "子目录ID:21----子目录名称:b上级目录:2----"},
       "[1]\r\n主目录ID:1----主目录名称:A----\r\n[2]\r\n子目录ID:11----子目录名称:a上级目录:1----\r\n"
       "[3]\r\n主目录ID:2----主目录名称:B----\r\n[4]\r\n子目录ID:21----子目录名称:b上级目录:2----\r\n"},
      {"a main directory name holding ---- is offered cut there, recorded whole",
       main_dir("5", "卡----密"),
       {"主目录ID:5----主目录名称:卡----"},
       "[1]\r\n主目录ID:5----主目录名称:卡----密----\r\n"},
      {"character references in names are decoded once",
       main_dir("3", "Q币&amp;点卡") + sub_dir("31", "&lt;新&gt; &quot;A&quot; &#39;B&#39; &#65;&#x42;") +
           sub_dir("32", "&amp;lt;"),
       {"主目录ID:3----主目录名称:Q币&点卡----", "子目录ID:31----子目录名称:<新> \"A\" 'B' AB上级目录:3----",
        "子目录ID:32----子目录名称:&lt;上级目录:3----"},
       "[1]\r\n主目录ID:3----主目录名称:Q币&点卡----\r\n"
       "[2]\r\n子目录ID:31----子目录名称:<新> \"A\" 'B' AB上级目录:3----\r\n"
       "[3]\r\n子目录ID:32----子目录名称:&lt;上级目录:3----\r\n"},
      {"names outside GBK (an emoji) survive the code page",
       main_dir("8", "🎮游戏") + sub_dir("81", "Steam充值"),
       {"主目录ID:8----主目录名称:🎮游戏----", "子目录ID:81----子目录名称:Steam充值上级目录:8----"},
       "[1]\r\n主目录ID:8----主目录名称:🎮游戏----\r\n[2]\r\n子目录ID:81----子目录名称:Steam充值上级目录:8----\r\n"},
      {"link text starting with ? is no sub-directory",
       main_dir("1", "A") + "<a id=\"help\">?帮助</a>\r\n" + sub_dir("11", "a"),
       {"主目录ID:1----主目录名称:A----", "子目录ID:11----子目录名称:a上级目录:1----"},
       "[1]\r\n主目录ID:1----主目录名称:A----\r\n[2]\r\n子目录ID:11----子目录名称:a上级目录:1----\r\n"},
      {"a main div whose heading is not on the next line is skipped, its id yields nothing",
       "<div  name=\"parentName\" id=\"parentId_4\" class=\"catalog-list\">\n<h3><font color=\"#000\" "
       "title=\"\">Z</font></h3>\r\n" + sub_dir("41", "z"),
       {"子目录ID:41----子目录名称:z上级目录:----"},
       "[1]\r\n子目录ID:41----子目录名称:z上级目录:----\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    ProgramState fresh;
    fresh.files_dir = state.files_dir;
    CatalogTable fresh_table;
    fresh.catalog_text = cp(page(c.page_body));

    const CatalogReadResult result = read_catalog(fresh, fresh_table);

    EXPECT_THAT(result.items, ElementsAreArray(cp(c.items)));
    EXPECT_EQ(test::read_file(cache_path()), cp(c.cache));
    EXPECT_EQ(fresh.catalog_text, cp(c.cache));
    EXPECT_THAT(result.log, IsEmpty());
  }
}

TEST_F(CatalogRead, WorkTableKeepsTheColumnsOfEachMatch) {
  state.catalog_text = cp(page(main_dir("1001", "Q币&amp;点卡") + sub_dir("100101", "腾讯")));
  read_catalog(state, table);
  ASSERT_EQ(table.size(), 2u);
  const CatalogRow& main_row = table.rows()[0];
  const CatalogRow& sub_row = table.rows()[1];
  EXPECT_EQ(main_row.number, "1");
  EXPECT_EQ(main_row.main_id, "1001");
  EXPECT_EQ(main_row.main_name, cp("Q币&点卡"));
  EXPECT_EQ(main_row.sub_id, "");
  EXPECT_TRUE(main_row.is_main());
  EXPECT_EQ(sub_row.number, "2");
  EXPECT_EQ(sub_row.main_id, "");
  EXPECT_EQ(sub_row.sub_id, "100101");
  EXPECT_EQ(sub_row.sub_name, cp("腾讯"));
  EXPECT_FALSE(sub_row.is_main());
}

TEST_F(CatalogRead, SecondPressRebuildsTheSameItemsAndTheLogGrows) {
  const Text first_page = cp(page(main_dir("1", "A") + sub_dir("11", "a") + sub_dir("12", "b")));
  state.catalog_text = first_page;
  const auto first = read_catalog(state, table);
  const Text cache_after_first = test::read_file(cache_path());
  ASSERT_EQ(first.items.size(), 3u);
  EXPECT_EQ(state.catalog_text, cache_after_first);
  EXPECT_EQ(test::read_file(log_path()), first_page + "\r\n");

  // The cache text holds no page rows: nothing joins the table.
  const auto second = read_catalog(state, table);
  EXPECT_EQ(second.items, first.items);
  EXPECT_EQ(table.size(), 3u);
  EXPECT_EQ(test::read_file(cache_path()), cache_after_first);
  EXPECT_EQ(test::read_file(log_path()), first_page + "\r\n" + cache_after_first + "\r\n");
}

TEST_F(CatalogRead, TheTableOnlyGrowsAndNumbersCountWithinEachRead) {
  state.catalog_text = cp(page(main_dir("1", "A") + sub_dir("11", "a")));
  read_catalog(state, table);
  state.catalog_text = cp(page(sub_dir("21", "b")));
  const auto result = read_catalog(state, table);
  EXPECT_EQ(table.size(), 3u);
  // The later sub-directory has the earlier read's main directory above it.
  EXPECT_EQ(test::read_file(cache_path()),
            cp("[1]\r\n主目录ID:1----主目录名称:A----\r\n[2]\r\n子目录ID:11----子目录名称:a上级目录:1----\r\n"
               "[1]\r\n子目录ID:21----子目录名称:b上级目录:1----\r\n"));
  EXPECT_EQ(result.items.size(), 3u);
}

TEST_F(CatalogRead, AnEmptyCatalogLeavesNoCacheFileAndNoItems) {
  test::write_file(cache_path(), "[1]\r\nold\r\n");
  const auto result = read_catalog(state, table);
  EXPECT_THAT(result.items, IsEmpty());
  EXPECT_THAT(result.log, IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(cache_path()));
  EXPECT_EQ(state.catalog_text, "");
  EXPECT_EQ(test::read_file(log_path()), "\r\n");
}

TEST_F(CatalogRead, AnOldCacheFileIsReplacedNotExtended) {
  test::write_file(cache_path(), cp("[1]\r\n主目录ID:999----主目录名称:旧----\r\n"));
  state.catalog_text = cp(page(main_dir("1", "A")));
  const auto result = read_catalog(state, table);
  EXPECT_THAT(result.items, ElementsAre(cp("主目录ID:1----主目录名称:A----")));
  EXPECT_EQ(test::read_file(cache_path()), cp("[1]\r\n主目录ID:1----主目录名称:A----\r\n"));
}

TEST_F(CatalogRead, UnwritableFilesDirectoryStillGivesTheItemsAndSaysWhichFiles) {
  // A directory below a plain file cannot be made or written, even by root.
  test::write_file(dir.path() / "plain", "x");
  state.files_dir = (dir.path() / "plain" / "sub").string();
  state.catalog_text = cp(page(main_dir("1", "A") + sub_dir("11", "a")));

  const auto result = read_catalog(state, table);

  EXPECT_THAT(result.items,
              ElementsAre(cp("主目录ID:1----主目录名称:A----"), cp("子目录ID:11----子目录名称:a上级目录:1----")));
  EXPECT_THAT(result.log, HasSubstr(cp("无法写入文件：" + state.files_dir + "/卡盟对接缓存.txt\r\n")));
  EXPECT_THAT(result.log, HasSubstr(cp("无法写入文件：" + state.files_dir + "/返回.txt\r\n")));
  // The cache text stands in for the file, so a second press still rebuilds.
  EXPECT_EQ(read_catalog(state, table).items, result.items);
}

// ------------------------------------------------------------- read-back

// Items are taken from the record lines whenever the read-back pattern would
// give those lines whole; they must be what the pattern gives either way.
TEST(ReadBack, ItemsAreWhatThePatternFindsInTheCacheText) {
  const CatalogRow plain_main{"1", "7", cp("点卡"), "", ""};
  const CatalogRow plain_sub{"2", "", "", "71", cp("腾讯 QQ\r")};
  struct Case {
    const char* note;
    CatalogRow row;
    bool whole;
  };
  const std::vector<Case> cases = {
      {"a plain main directory", plain_main, true},
      {"a plain sub-directory, a CR inside", plain_sub, true},
      {"a name ending in -", {"1", "8", cp("卡-"), "", ""}, false},
      {"a name holding ----", {"1", "8", cp("卡----密"), "", ""}, false},
      {"a name holding ---", {"1", "8", cp("卡---密"), "", ""}, true},
      {"an id holding -", {"1", "8-1", cp("卡"), "", ""}, true},
      {"a main id ending in - (the parent of the rows below)", {"1", "8-", cp("卡"), "", ""}, false},
      {"a sub name with - between digits", {"1", "", "", "81", cp("子目录1-1")}, true},
      {"a sub name ending in -", {"1", "", "", "81", cp("子目录-")}, true},
      {"a sub name holding ----", {"1", "", "", "81", cp("a----b")}, true},
      {"a sub id holding the name marker", {"1", "", "", cp("8----子目录名称:1"), cp("x")}, false},
      {"a main id holding the name marker", {"1", cp("8----主目录名称:1"), cp("x"), "", ""}, false},
      {"a sub name holding 上级目录:", {"1", "", "", "81", cp("x上级目录:9")}, false},
      {"a sub name starting with a line feed", {"1", "", "", "81", cp("\nx")}, false},
      {"a main name holding the sub marker", {"1", "8", cp("子目录ID:1"), "", ""}, true},
      {"a sub name holding the main marker", {"1", "", "", "81", cp("主目录ID:9")}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    EXPECT_EQ(reads_back_whole(c.row), c.whole);
    for (const std::vector<CatalogRow>& rows : {std::vector<CatalogRow>{plain_main, c.row, plain_sub},
                                                std::vector<CatalogRow>{c.row, plain_main},
                                                std::vector<CatalogRow>{c.row, plain_sub}}) {
      test::TempDir dir;
      ProgramState state;
      state.files_dir = dir.path().string();
      CatalogTable table;
      for (const auto& row : rows) table.append(row);
      RegexObject regex;
      const std::vector<Text> by_pattern = read_back_items(regex, cache_text(table));
      EXPECT_EQ(read_catalog(state, table).items, by_pattern);
      EXPECT_EQ(state.catalog_text, cache_text(table));
    }
  }
}

// ------------------------------------------------------------- writer

TEST(CacheWriterTest, AppendsRecordsThroughOneFile) {
  test::TempDir dir;
  const auto path = dir.path() / "cache.txt";
  test::write_file(path, "old");
  CacheWriter writer(path);
  EXPECT_FALSE(std::filesystem::exists(path)) << "the old file goes before anything is written";
  EXPECT_TRUE(writer.append("[1]\r\nA\r\n"));
  EXPECT_TRUE(writer.append("[2]\r\nB\r\n"));
  EXPECT_TRUE(writer.finish());
  EXPECT_EQ(test::read_file(path), "[1]\r\nA\r\n[2]\r\nB\r\n");
}

TEST(CacheWriterTest, ReportsAFileThatCannotBeOpened) {
  test::TempDir dir;
  test::write_file(dir.path() / "plain", "x");
  CacheWriter writer(dir.path() / "plain" / "cache.txt");
  EXPECT_FALSE(writer.append("[1]\r\n"));
  EXPECT_FALSE(writer.finish());
}

}  // namespace
}  // namespace korvani
