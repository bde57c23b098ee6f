#include "supplier/supplier_login.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvani {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string zone = "+GMT%2B0800+(%E4%B8%AD%E5%9B%BD%E6%A0%87%E5%87%86%E6%97%B6%E9%97%B4)";

// ---------------------------------------------------------------- date stamp

struct StampCase {
  const char* note;
  LocalTime time;
  std::string expected;
};

TEST(DateStamp, FollowsDayYearAndTimeOnly) {
  const std::vector<StampCase> cases = {
      {"single digits lose their leading zero", {2016, 7, 3, 9, 5, 7}, "Tue+Feb+3+2016+9%3A5%3A7" + zone},
      {"two-digit fields", {2023, 12, 31, 23, 59, 59}, "Tue+Feb+31+2023+23%3A59%3A59" + zone},
      {"midnight is hour 0", {2024, 1, 1, 0, 0, 0}, "Tue+Feb+1+2024+0%3A0%3A0" + zone},
  };
  for (const auto& c : cases) EXPECT_EQ(date_stamp(c.time), c.expected) << c.note;
}

TEST(DateStamp, FieldCarriesTheFieldName) {
  EXPECT_EQ(date_stamp_field({2016, 2, 3, 9, 5, 7}), "validate_post_send=Tue+Feb+3+2016+9%3A5%3A7" + zone);
}

TEST(DateStamp, NowIsAPlausibleLocalTime) {
  const LocalTime now = local_time_now();
  EXPECT_GE(now.year, 2020);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_EQ(date_stamp().rfind("Tue+Feb+", 0), 0u);
}

TEST(PlatformListUrl, ReplacesTheMainPageIgnoringCase) {
  EXPECT_EQ(platform_list_url("http://127.0.0.1:8080/admin/main.html"),
            "http://127.0.0.1:8080/admin/platform/platformserList.html");
  EXPECT_EQ(platform_list_url("http://shop/admin/Main.HTML"), "http://shop/admin/platform/platformserList.html");
  EXPECT_EQ(platform_list_url("http://shop/admin/"), "http://shop/admin/");
}

// ------------------------------------------------------------ platform page

// One row of the back end's platform list, in the exact indentation it uses.
std::string platform_row(const std::string& host, const std::string& id) {
  const std::string t7 = "\t\t\t\t\t\t\t";
  return "\t\t\t\t\t\t<tr>\r\n" + t7 + "<td align=\"center\">1</td>\r\n" + t7 + "<td align=\"center\">" + host +
         "</td>\r\n" + t7 + "<td align=\"center\">2016-02-03</td>\r\n" + t7 + "<td align=\"center\">\r\n" + t7 +
         "<span>on</span>\r\n" + t7 + "</td>\r\n" + t7 + "<td align=\"center\">\r\n" + t7 +
         "\t<span class=\"a_blue_red\" style=\"cursor:hand;cursor:pointer;\" alt=\"" + id +
         "\" name=\"newGoods\">new goods</span>\r\n" + t7 + "</td>\r\n\t\t\t\t\t\t</tr>";
}

// The noise every such page carries around its rows.
std::string platform_page(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::string page =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
      "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head>\r\n"
      "<script src=\"js/jquery-1.7.2.min.js\"></script><script src=\"js/jquery.min.js\"></script>\r\n"
      "<script>function back(){window.location.href='main.html';}</script>\r\n"
      "</head><body><table>";
  for (const auto& [host, id] : rows) page += platform_row(host, id);
  page += "\r\n</table><p>version 1.7.2</p></body></html>";
  return page;
}

TEST(PlatformRows, TakesHostAndIdOfEveryRowInPageOrder) {
  RegexObject regex;
  const auto rows = platform_rows(regex, platform_page({{"127.0.0.1:18081", "17"}, {"kashop.com", "23"}}));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].number, "1");
  EXPECT_EQ(rows[0].host, "127.0.0.1:18081");
  EXPECT_EQ(rows[0].id, "17");
  EXPECT_EQ(rows[1].number, "2");
  EXPECT_EQ(rows[1].host, "kashop.com");
  EXPECT_EQ(rows[1].id, "23");
}

TEST(PlatformRows, NoneFromAnEmptyOrForeignPage) {
  RegexObject regex;
  EXPECT_THAT(platform_rows(regex, ""), IsEmpty());
  EXPECT_THAT(platform_rows(regex, platform_page({})), IsEmpty());
  // The same row with LF line ends is not the back end's list.
  std::string lf = platform_page({{"kashop.com", "23"}});
  for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  EXPECT_THAT(platform_rows(regex, lf), IsEmpty());
}

// ------------------------------------------------------------ offered hosts

std::vector<PlatformRow> rows_of(const std::vector<std::pair<std::string, std::string>>& hosts_and_ids) {
  std::vector<PlatformRow> rows;
  for (const auto& [host, id] : hosts_and_ids) rows.push_back({std::to_string(rows.size() + 1), host, id});
  return rows;
}

TEST(OfferedHosts, AreTheTableHostsInRowOrderEachOnce) {
  RegexObject regex;
  const auto page = platform_page({{"kashop.com", "1"},
                                   {"127.0.0.1:18081", "2"},
                                   {"a.b.c.d", "3"},
                                   {"kashop.com", "4"},
                                   {"shop-one.example.com", "5"}});
  const auto rows = platform_rows(regex, page);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_THAT(offered_hosts(regex, page, rows),
              ElementsAre("kashop.com", "127.0.0.1:18081", "a.b.c.d", "shop-one.example.com"));
}

TEST(OfferedHosts, SkipAnEmptyHostCell) {
  RegexObject regex;
  EXPECT_THAT(offered_hosts(regex, "", rows_of({{"", "1"}, {"kashop.com", "2"}})), ElementsAre("kashop.com"));
}

TEST(OfferedHosts, WithoutTableFallBackToTheScanButNeverW3cOrScriptNavigation) {
  RegexObject regex;
  const std::string page = platform_page({}) + "<a href=\"http://card.example.com/\">card.example.com</a>";
  // Script names and version numbers have the shape too; the doctype's host
  // and the script's navigation never do.
  EXPECT_THAT(offered_hosts(regex, page, {}),
              ElementsAre("1.7.2", "jquery.min.js", "1.7.2", "card.example.com", "card.example.com"));
}

TEST(OfferedHosts, NothingFromAnEmptyPage) {
  RegexObject regex;
  EXPECT_THAT(offered_hosts(regex, "", {}), IsEmpty());
}

// --------------------------------------------------------- supplier_id lookup

struct LookupCase {
  const char* note;
  std::string host;
  std::string before;
  std::string expected;
};

TEST(SupplierIdLookup, FirstExactMatchElseLastRow) {
  const auto rows = rows_of({{"kashop.com", "11"}, {"127.0.0.1:18081", "22"}, {"kashop.com", "33"}, {"x.y.z", "44"}});
  const std::vector<LookupCase> cases = {
      {"first row", "kashop.com", "", "11"},
      {"a host with a port", "127.0.0.1:18081", "", "22"},
      {"last row", "x.y.z", "", "44"},
      {"no match leaves the last row's id", "other.example.com", "9", "44"},
      {"the comparison is case-sensitive", "KASHOP.COM", "", "44"},
      {"the placeholder matches nothing", utf8_to_ansi("请选择对接的卡盟"), "", "44"},
  };
  for (const auto& c : cases) {
    Text id = c.before;
    look_up_supplier_id(rows, c.host, id);
    EXPECT_EQ(id, c.expected) << c.note;
  }
}

TEST(SupplierIdLookup, OneRowGivesItsId) {
  Text id;
  look_up_supplier_id(rows_of({{"127.0.0.1:18081", "7"}}), "127.0.0.1:18081", id);
  EXPECT_EQ(id, "7");
}

TEST(SupplierIdLookup, EmptyTableKeepsThePreviousValue) {
  Text id = "previous";
  look_up_supplier_id({}, "kashop.com", id);
  EXPECT_EQ(id, "previous");
}

// ------------------------------------------------------------ log-in request

TEST(SupplierLogin, UrlIsTheHostsFrontLogin) {
  EXPECT_EQ(supplier_login_url("127.0.0.1:18081"), "http://127.0.0.1:18081/frontLogin.htm");
}

struct BodyCase {
  const char* note;
  std::string account;
  std::string password;
  std::string expected;
};

TEST(SupplierLogin, BodyKeepsWhatWasTypedWithoutBreakingTheForm) {
  const std::string hanzi = utf8_to_ansi("中文");
  const std::vector<BodyCase> cases = {
      {"plain", "demo", "demo123", "loginTimes=1&userName=demo&password=demo123"},
      {"& and = cannot open new fields", "demo", "a&b=c", "loginTimes=1&userName=demo&password=a%26b%3Dc"},
      {"% and + survive form decoding", "100%+x", "100%+x", "loginTimes=1&userName=100%25%2Bx&password=100%25%2Bx"},
      {"other bytes as typed", hanzi + " x", "p@ss!", "loginTimes=1&userName=" + hanzi + " x&password=p@ss!"},
      {"empty fields", "", "", "loginTimes=1&userName=&password="},
  };
  for (const auto& c : cases) EXPECT_EQ(supplier_login_body(c.account, c.password), c.expected) << c.note;
}

// ------------------------------------------------------------------- verdict

struct VerdictCase {
  const char* note;
  std::string answer_utf8;
  LoginVerdict expected;
};

TEST(SupplierLogin, JudgementOrder) {
  const std::vector<VerdictCase> cases = {
      {"wrong password", "<p>用户名或密码错误!</p>", LoginVerdict::wrong_password},
      {"wrong password wins over code", "{\"code\":\"1\",\"msg\":\"用户名或密码错误!\"}", LoginVerdict::wrong_password},
      {"code means logged in", "{\"code\":\"0000\",\"msg\":\"登录成功\"}", LoginVerdict::logged_in},
      {"no exclamation mark is no wrong-password text", "用户名或密码错误", LoginVerdict::failed},
      {"a full-width exclamation mark neither", "用户名或密码错误！", LoginVerdict::failed},
      {"code is case-sensitive", "{\"CODE\":0}", LoginVerdict::failed},
      {"empty answer (request failed)", "", LoginVerdict::failed},
      {"some other page", "<html>500</html>", LoginVerdict::failed},
  };
  for (const auto& c : cases) EXPECT_EQ(judge_login_answer(utf8_to_ansi(c.answer_utf8)), c.expected) << c.note;
}

}  // namespace
}  // namespace korvani
