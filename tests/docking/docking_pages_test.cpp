// Reading check-list items and the back end's pages, without any server.
#include "docking/docking_pages.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace korvani {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

Text cp(std::string_view utf8) { return utf8_to_ansi(utf8); }

struct ItemCase {
  const char* note;
  const char* item;
  bool is_main;
  const char* id;
  const char* name;
  const char* parent_id;
};

class CatalogItemTest : public ::testing::TestWithParam<ItemCase> {};

TEST_P(CatalogItemTest, TakesTheFieldsApart) {
  const ItemCase& c = GetParam();
  const CatalogItem item = parse_catalog_item(cp(c.item));
  EXPECT_EQ(item.is_main, c.is_main);
  EXPECT_EQ(item.id, cp(c.id));
  EXPECT_EQ(item.name, cp(c.name));
  EXPECT_EQ(item.parent_id, cp(c.parent_id));
}

INSTANTIATE_TEST_SUITE_P(
    Items, CatalogItemTest,
    ::testing::Values(
        ItemCase{"main directory", "主目录ID:101----主目录名称:游戏点卡----", true, "101", "游戏点卡", ""},
        ItemCase{"sub-directory", "子目录ID:201----子目录名称:Q币上级目录:101----", false, "201", "Q币",
                 "101"},
        ItemCase{"sub-directory seen before any main", "子目录ID:7----子目录名称:x上级目录:----", false, "7", "x",
                 ""},
        ItemCase{"a name with form characters", "子目录ID:8----子目录名称:a&b=c%d+e上级目录:1----", false, "8",
                 "a&b=c%d+e", "1"},
        // Only the marker at the very start makes a main directory item.
        ItemCase{"main marker not at the start", " 主目录ID:1----主目录名称:A----", false, "", "", ""}),
    korvani::test::NamedAfterNote());

struct LookupCase {
  const char* note;
  const char* page;
  const char* name;
  const char* id;
};

class DirectoryOptionTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(DirectoryOptionTest, FindsTheIdOfTheNamedDirectory) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(find_directory_option_id(cp(c.page), cp(c.name)), cp(c.id));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, DirectoryOptionTest,
    ::testing::Values(
        LookupCase{"an id of 8 characters", "<option value=\"12345678\" >A</option>", "A", "12345678"},
        LookupCase{"a shorter id is read up to its quote", "<option value=\"42\" >A</option>", "A", "42"},
        LookupCase{"a longer id is read whole", "<option value=\"123456789012\" >A</option>", "A",
                   "123456789012"},
        LookupCase{"the last directory of that name wins",
                   "<option value=\"11111111\" >A</option>\n<option value=\"22222222\" >B</option>\n"
                   "<option value=\"33333333\" >A</option>",
                   "A", "33333333"},
        LookupCase{"a name that ends another name is not taken for it", "<option value=\"1\" >BA</option>", "A",
                   ""},
        LookupCase{"a name the page does not list", "<option value=\"1\" >B</option>", "A", ""},
        LookupCase{"an empty page", "", "A", ""},
        LookupCase{"a Chinese name", "<option value=\"a1\" >游戏</option><option value=\"b2\" >游戏点卡</option>",
                   "游戏点卡", "b2"},
        LookupCase{"a name the page escapes", "<option value=\"77\" >Q币&amp;点卡</option>", "Q币&点卡", "77"},
        LookupCase{"a name the page writes as it is", "<option value=\"78\" >Q币&点卡</option>", "Q币&点卡", "78"},
        LookupCase{"an attribute after the value", "<option value=\"5\" class=\"x\" >A</option>", "A", "5"},
        LookupCase{"an opener of an earlier element is not used", "<option value=\"9\">x</option>\" >A</option>",
                   "A", ""}),
    korvani::test::NamedAfterNote());

TEST(DirectoryOptionTest, FindsANameWithPercentAfterThePageWasDecoded) {
  // The page is percent-decoded before it is searched, which also changes a
  // name holding "%"; the lookup has to see the name the same way.
  for (const char* name : {"100%", "50%off", "a%2Bb", "%+"}) {
    const Text raw = "<option value=\"5\" >x</option><option value=\"61\" >" + Text(name) + "</option>";
    EXPECT_EQ(find_directory_option_id(percent_decode(raw), name), "61") << name;
  }
}

class BatchDirectoryTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(BatchDirectoryTest, FindsTheIdOfTheNamedDirectory) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(find_batch_directory_id(cp(c.page), cp(c.name)), cp(c.id));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, BatchDirectoryTest,
    ::testing::Values(
        LookupCase{"an id of 8 characters",
                   "<input type=\"checkbox\" name=\"dir\" value=\"87654321\" />----A1<br/>\n", "A1", "87654321"},
        LookupCase{"an id of another length", "<input value=\"5\" />----A1<br/>", "A1", "5"},
        LookupCase{"the last input of that name wins",
                   "<input value=\"1\" />----A1<br/><input value=\"2\" />----A2<br/><input value=\"3\" />----A1<br/>",
                   "A1", "3"},
        LookupCase{"no input for the name", "<input value=\"1\" />----A2<br/>", "A1", ""},
        LookupCase{"a name the page escapes", "<input value=\"9\" />----a&lt;b&gt;<br/>", "a<b>", "9"}),
    korvani::test::NamedAfterNote());

TEST(GoodsPageTest, GoodsAndTheKeyInPageOrder) {
  const GoodsPage found = read_goods_page(
      cp("<a name=\"goodmessage\" id=\"g1\">one</a>\n<A NAME=\"goodmessage\" ID=\"g2\">two</A>\n"
         "<a name=\"goodmessage\" id=\"g3\">three</a>\n<a href=\"#\" temp=\"KEY-1\">批量对接</a>"));
  EXPECT_THAT(found.good_ids, ElementsAre("g1", "g2", "g3"));
  EXPECT_TRUE(found.has_key);
  EXPECT_EQ(found.key, "KEY-1");
}

TEST(GoodsPageTest, OnlyTheLinkGivesTheKeyAndNoGoods) {
  const GoodsPage found = read_goods_page(cp("<a temp=\"K2\">批量对接</a>"));
  EXPECT_THAT(found.good_ids, IsEmpty());
  EXPECT_TRUE(found.has_key);
  EXPECT_EQ(found.key, "K2");
}

TEST(GoodsPageTest, APageWithoutTheLinkHasNoKey) {
  for (const char* page : {"", "<a name=\"goodmessage\" id=\"g1\">one</a>", "<a temp=\"K\">other</a>"}) {
    EXPECT_FALSE(read_goods_page(cp(page)).has_key) << page;
  }
}

TEST(GoodsPageTest, TheLastLinkWinsAndAnEmptyGoodsIdLeavesTheKeyAlone) {
  const GoodsPage found = read_goods_page(
      cp("<a temp=\"first\">批量对接</a><a temp=\"second\">批量对接</a><a name=\"goodmessage\" id=\"\">x</a>"));
  EXPECT_THAT(found.good_ids, IsEmpty());
  EXPECT_EQ(found.key, "second");
}

}  // namespace
}  // namespace korvani
