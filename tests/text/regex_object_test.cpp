#include "text/regex_object.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "support/test_support.h"

namespace korvani {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Code-page text of a UTF-8 literal, so that expectations read as Chinese.
Text cp(std::u8string_view utf8) {
  return platform::utf8_to_codepage(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

// Pages under tests/data/regex are the texts the tool searches after
// decoding: code-page bytes, with CR and tab written as %XX.
Text fixture(const char* name) {
  const char* env = std::getenv("KORVANI_TEST_DATA");
  const std::filesystem::path dir =
      env ? std::filesystem::path(env) : std::filesystem::path(__FILE__).parent_path().parent_path() / "data";
  const std::string raw = test::read_file(dir / "regex" / name);
  EXPECT_FALSE(raw.empty()) << "fixture missing: " << (dir / "regex" / name);
  return test::unhex(raw);
}

// Groups 1..groups of every match, in order.
std::vector<std::vector<Text>> groups_of(const RegexObject& re, int groups) {
  std::vector<std::vector<Text>> rows;
  for (int i = 1; i <= re.match_count(); ++i) {
    std::vector<Text> row;
    for (int j = 1; j <= groups; ++j) row.push_back(re.submatch(i, j));
    rows.push_back(row);
  }
  return rows;
}

std::vector<Text> whole_matches(const RegexObject& re) {
  std::vector<Text> texts;
  for (int i = 1; i <= re.match_count(); ++i) texts.push_back(re.match_text(i));
  return texts;
}

// ---------------------------------------------------------------------------
// Engine behaviour the scraping relies on.

struct SearchCase {
  const char* note;
  Text pattern;
  Text text;
  // Per match: the whole match, then its groups.
  std::vector<std::vector<Text>> expected;
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.note; }

class RegexSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(RegexSearch, FindsExactlyTheExpectedMatches) {
  const SearchCase& c = GetParam();
  RegexObject re;
  ASSERT_TRUE(re.create(c.pattern, c.text));
  ASSERT_EQ(re.match_count(), static_cast<int>(c.expected.size()));
  for (std::size_t i = 0; i < c.expected.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    const auto& want = c.expected[i];
    EXPECT_EQ(re.match_text(n), want[0]) << "match " << n;
    for (std::size_t j = 1; j < want.size(); ++j) {
      EXPECT_EQ(re.submatch(n, static_cast<int>(j)), want[j]) << "match " << n << " group " << j;
    }
  }
  EXPECT_FALSE(re.search_stopped_early());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexSearch,
    ::testing::Values(
        SearchCase{"a valid pattern that matches nowhere", "zzz", "abc", {}},
        SearchCase{"lower-case pattern finds upper-case letters", "abc", "xABCxAbC", {{"ABC"}, {"AbC"}}},
        SearchCase{"upper-case pattern finds lower-case letters", "ID=\"(\\w+)\"", "<a id=\"a1\">",
                   {{"id=\"a1\"", "a1"}}},
        SearchCase{"only the alternative that matched sets its group", "a=(\\d+)|b=(\\d+)", "b=2;a=1",
                   {{"b=2", "", "2"}, {"a=1", "1", ""}}},
        SearchCase{"a lazy group stops at the first closing marker", "<b>(.*?)</b>", "<b>x</b> and <b>y</b>",
                   {{"<b>x</b>", "x"}, {"<b>y</b>", "y"}}},
        SearchCase{"the dot does not cross a line feed", "<i>.*?</i>", "<i>a\r\n\tb</i>", {}},
        SearchCase{"a line break spelled out as CR LF and tab is crossed", "<i>(.*?)\r\n\t(.*?)</i>",
                   "<i>a\r\n\tb</i> <i>c\r\nd</i> <i>e\n\tf</i>", {{"<i>a\r\n\tb</i>", "a", "b"}}},
        SearchCase{"the dot matches a carriage return", "a.b", "a\rb a\nb", {{"a\rb"}}},
        SearchCase{"^ and $ match at line feeds", "^x+$", "xx\nx\nxy\nx\r\n", {{"xx"}, {"x"}}},
        SearchCase{"\\w knows only ASCII letters, digits and underscore", "\\w+", cp(u8"ab中文cd_9 é"),
                   {{"ab"}, {"cd_9"}}},
        SearchCase{"matches do not overlap", "aba", "ababa", {{"aba"}}},
        SearchCase{"an empty match moves on by one character", "x*", "ab", {{""}, {""}, {""}}},
        SearchCase{"empty and non-empty matches interleave", "a*", "baaac", {{""}, {"aaa"}, {""}, {""}}},
        SearchCase{"an empty subject holds one empty match", "x*", "", {{""}}},
        SearchCase{"an empty match steps over a whole Chinese character", "x*", cp(u8"中文"), {{""}, {""}, {""}}},
        // In the code page 皘 is B0 7C and 癆/癮 are B0 41/B0 61: a search over
        // raw bytes would read "|" as alternation and fold "A" to "a".
        SearchCase{"a character whose second byte is '|' stays one character", cp(u8"皘"), cp(u8"ab|皘"),
                   {{cp(u8"皘")}}},
        SearchCase{"case folding leaves the second byte of a character alone", cp(u8"癆"), cp(u8"癮癆"),
                   {{cp(u8"癆")}}},
        SearchCase{"digit bytes inside a four-byte character are no digits", "\\d", cp(u8"😀"), {}},
        SearchCase{"a four-byte character is one character", "<(.)>", cp(u8"<😀><ab>"),
                   {{cp(u8"<😀>"), cp(u8"😀")}}},
        SearchCase{"Chinese in pattern and text", cp(u8"名称:(.*?);"), cp(u8"名称:游戏点卡;名称:&100%;"),
                   {{cp(u8"名称:游戏点卡;"), cp(u8"游戏点卡")}, {cp(u8"名称:&100%;"), cp(u8"&100%")}}},
        SearchCase{"\\uHHHH names a character as ECMAScript writes it", "\\u4E2D", cp(u8"中文"), {{cp(u8"中")}}},
        SearchCase{"counted repetition and negated class", "(\\w+\\.){2}\\w+|[^?]x", "a.b.c ?x yx",
                   {{"a.b.c", "b."}, {"yx", ""}}}),
    korvani::test::NamedAfterNote());

TEST(RegexObject, InvalidPatternGivesFalseNoMatchesAndEmptyTexts) {
  for (const char* pattern : {"(abc", "a{2,1}", "[z-a]", "*a", "abc)", "\\", "(?<name"}) {
    SCOPED_TRACE(pattern);
    RegexObject re;
    ASSERT_TRUE(re.create("a", "aaa"));
    EXPECT_FALSE(re.create(pattern, "abc (abc aaa"));
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.match_text(1), "");
    EXPECT_EQ(re.submatch(1, 1), "");
  }
}

TEST(RegexObject, NumbersOutsideTheMatchesAndGroupsGiveEmptyText) {
  RegexObject re;
  ASSERT_TRUE(re.create("(a)(b)", "ab AB"));
  ASSERT_EQ(re.match_count(), 2);
  EXPECT_EQ(re.submatch(2, 1), "A");
  EXPECT_EQ(re.submatch(2, 2), "B");
  const std::vector<std::pair<int, int>> outside = {{1, 3}, {1, 0}, {1, -1}, {3, 1}, {0, 1}, {-1, 1}};
  for (auto [i, j] : outside) EXPECT_EQ(re.submatch(i, j), "") << i << "," << j;
  for (int i : {0, 3, -1}) EXPECT_EQ(re.match_text(i), "") << i;
}

TEST(RegexObject, EachCreateReplacesTheMatchesAndDestroyReleasesThem) {
  RegexObject re;
  EXPECT_EQ(re.match_count(), 0);
  EXPECT_EQ(re.match_text(1), "");

  ASSERT_TRUE(re.create("(\\d)", "1 2 3"));
  EXPECT_EQ(re.match_count(), 3);
  ASSERT_TRUE(re.create("(\\d)", "9"));
  EXPECT_EQ(re.match_count(), 1);
  EXPECT_EQ(re.submatch(1, 1), "9");
  ASSERT_TRUE(re.create("x", "9"));
  EXPECT_EQ(re.match_count(), 0);
  EXPECT_EQ(re.match_text(1), "");

  re.destroy();
  EXPECT_EQ(re.match_count(), 0);
  EXPECT_EQ(re.submatch(1, 1), "");
  ASSERT_TRUE(re.create("b", "abab"));
  EXPECT_EQ(re.match_count(), 2);
}

TEST(RegexObject, LongLineIsSearchedWithoutTrouble) {
  // One line of 400,000 bytes between the markers, then a second item.
  const Text one = cp(u8"中");
  Text body;
  for (int k = 0; k < 200000; ++k) body += one;
  RegexObject re;
  ASSERT_TRUE(re.create("<a>(.*?)</a>", "<a>" + body + "</a><a>y</a>"));
  ASSERT_EQ(re.match_count(), 2);
  EXPECT_EQ(re.submatch(1, 1), body);
  EXPECT_EQ(re.submatch(2, 1), "y");
  EXPECT_FALSE(re.search_stopped_early());
}

TEST(RegexObject, RunawayBacktrackingStopsWithTheMatchesFoundBeforeIt) {
  // (a|aa)+b over a long run of a's without b tries exponentially many ways;
  // the engine's limit ends the search there.
  const Text text = "x=1 x=2 " + std::string(60, 'a') + "c b x=3";
  RegexObject re;
  ASSERT_TRUE(re.create("x=(\\d)|(a|aa)+b", text));
  EXPECT_TRUE(re.search_stopped_early());
  EXPECT_EQ(re.match_count(), 2);
  EXPECT_EQ(re.submatch(2, 1), "2");
}

// ---------------------------------------------------------------------------
// The system's own patterns over pages in the shapes they are written for.

TEST(SystemPatterns, HostListOnThePlatformPage) {
  RegexObject re;
  ASSERT_TRUE(re.create("(\\w+\\.){2}\\w+", fixture("platform_list.page")));
  // A dotted address with a port gives its first three parts only: the
  // pattern asks for exactly three dot-joined words.
  EXPECT_THAT(whole_matches(re), ElementsAre("www.w3.org", "www.w3.org", "jquery.min.js", "window.location.href",
                                             "km.example.com", "127.0.0", "lf.example.com", "SHOP.Kamen.CN"));
}

TEST(SystemPatterns, PlatformRowsGiveHostAndPlatformId) {
  const Text pattern =
      "\r\n\t\t\t\t\t\t\t<td align=\"center\">.*?</td>"
      "\r\n\t\t\t\t\t\t\t<td align=\"center\">(.*?)</td>"
      "\r\n\t\t\t\t\t\t\t<td align=\"center\">.*?</td>"
      "\r\n\t\t\t\t\t\t\t<td align=\"center\">\r\n\t\t\t\t\t\t\t.*?\r\n\t\t\t\t\t\t\t</td>"
      "\r\n\t\t\t\t\t\t\t<td align=\"center\">"
      "\r\n\t\t\t\t\t\t\t\t<span class=\"a_blue_red\" style=\"cursor:hand;cursor:pointer;\" alt=\"(.*?)\" "
      "name=\"newGoods\">.*?</span>";
  RegexObject re;
  ASSERT_TRUE(re.create(pattern, fixture("platform_list.page")));
  // The row written with bare LF line ends is not in the page's shape.
  EXPECT_THAT(groups_of(re, 2), ElementsAre(ElementsAre("km.example.com", "1001"),
                                            ElementsAre("127.0.0.1:18080", "1002"),
                                            ElementsAre("SHOP.Kamen.CN", "1003")));
  EXPECT_EQ(re.submatch(1, 3), "");
}

TEST(SystemPatterns, CatalogPageGivesMainAndSubDirectories) {
  const Text pattern =
      "<div  name=\"parentName\" id=\"parentId_(.*?)\" class=\"catalog-list\">\r\n\t\t\t\t"
      "<h3><font color=\".*?\" title=\"\">(.*?)</font>|id=\"(.*?)\">([^?].*?)</a>";
  RegexObject re;
  ASSERT_TRUE(re.create(pattern, fixture("catalog.page")));
  // A main directory's div is not also read as a sub-directory; a link text
  // that begins with "?" and a heading indented by spaces give nothing.
  const std::vector<std::vector<Text>> expected = {
      {"1001", cp(u8"游戏点卡"), "", ""},
      {"", "", "2001", cp(u8"腾讯Q币")},
      {"", "", "2002", cp(u8"网易一卡通")},
      {"1002", cp(u8"话费充值"), "", ""},
      {"", "", "2003", cp(u8"100%充值&返利")},
      {"", "", "2005", cp(u8"😀表情卡")},
      {"1003", cp(u8"移动"), "", ""},
      {"", "", "2006", cp(u8"移动 话费")},
  };
  EXPECT_THAT(groups_of(re, 4), ElementsAreArray(expected));
  // The code-page bytes come back exactly, the emoji as GB18030's four bytes.
  EXPECT_EQ(re.submatch(1, 2), test::unhex("%D3%CE%CF%B7%B5%E3%BF%A8"));
  EXPECT_EQ(re.submatch(6, 4), test::unhex("%949%FC6%B1%ED%C7%E9%BF%A8"));
}

TEST(SystemPatterns, CacheReadBackGivesOneItemPerRecord) {
  const Text pattern =
      cp(u8"主目录ID:(.*?)----主目录名称:(.*?)----|子目录ID:(.*?)----子目录名称:(.*?)上级目录:(.*?)----");
  RegexObject re;
  ASSERT_TRUE(re.create(pattern, fixture("catalog_cache.txt")));
  EXPECT_THAT(whole_matches(re), ElementsAre(cp(u8"主目录ID:1001----主目录名称:游戏点卡----"),
                                             cp(u8"子目录ID:2001----子目录名称:腾讯Q币上级目录:1001----"),
                                             cp(u8"子目录ID:2003----子目录名称:100%充值&返利上级目录:1001----"),
                                             cp(u8"主目录ID:1002----主目录名称:😀表情----"),
                                             cp(u8"子目录ID:2005----子目录名称:散卡上级目录:----")));
  EXPECT_THAT(groups_of(re, 5)[4], ElementsAre("", "", "2005", cp(u8"散卡"), ""));
}

TEST(SystemPatterns, GoodsPageGivesGoodsIdsAndTheBatchKey) {
  const Text pattern = cp(u8"<a name=\"goodmessage\" id=\"(.*?)\"|temp=\"(.*?)\">批量对接</a>");
  RegexObject re;
  ASSERT_TRUE(re.create(pattern, fixture("goods_query.page")));
  EXPECT_THAT(groups_of(re, 2), ElementsAre(ElementsAre("G10001", ""), ElementsAre("G10002", ""),
                                            ElementsAre("G10003", ""), ElementsAre("", "9F2C7A41B0")));
}

}  // namespace
}  // namespace korvani
