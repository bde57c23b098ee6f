#include "app/login_rule.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

#include <string>

#include "demo_shop.h"
#include "platform/http.h"
#include "text/text.h"
#include "web/web_request.h"

namespace korvani {
namespace {

struct PageCase {
  const char* name;
  const char* page_utf8;  // turned into the code page, as the poll sees it
  bool logged_in;
};

const char* const big_text =
    "<p>今日订单 12 笔，待处理 3 笔。商品目录 48 个，对接平台 2 个。最近一次对接于昨天完成，"
    "共克隆目录 16 个、对接商品 230 件。请在左侧菜单中选择要管理的项目。系统运行正常，"
    "如有疑问请联系客服。</p><ul><li>对接平台管理</li><li>添加商品目录</li><li>批量添加商品</li>"
    "<li>订单管理</li><li>会员管理</li><li>系统设置</li><li>退出登录</li></ul>";

const PageCase page_cases[] = {
    // Nothing came.
    {"an empty answer is not a log-in", "", false},
    {"white space alone is not a log-in", " \r\n\t ", false},

    // The log-in form, however its password field is written.
    {"a form with type=\"password\"", "<form><input type=\"text\" name=\"u\"><input type=\"password\"></form>", false},
    {"a password type in capitals and single quotes", "<FORM><INPUT NAME=p TYPE='PASSWORD'></FORM>", false},
    {"an unquoted password type with spaces round =", "<input name=p type = password >", false},
    {"a self-closing password field", "<input type=\"Password\"/>", false},
    {"a password field in a page in Chinese", "<h1>Korvani数字产品销售系统</h1><p>密码：<input type=password></p>", false},

    // Pages that only move on.
    {"a script setting location.href", "<script>window.location.href='../index.html';</script>", false},
    {"a script assigning top.location", "<script type=\"text/javascript\">\n top.location = \"index.html\";\n</script>", false},
    {"a script calling location.replace", "<SCRIPT>location.replace(\"index.html\")</SCRIPT>", false},
    {"a script calling location.assign", "<script>document.location.assign('index.html');</script>", false},
    {"a meta refresh", "<meta http-equiv=\"refresh\" content=\"0;url=index.html\">", false},
    {"a meta refresh in capitals without quotes", "<META HTTP-EQUIV=Refresh CONTENT=0>", false},
    {"a redirect with a short notice", "<script>top.location='index.html'</script><p>登录已超时，正在跳转……</p>", false},
    {"the demo shop's script page shape",
     "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n"
     "<script>window.location.href='index.html';</script>\n</head>\n<body></body>\n</html>\n",
     false},

    // Main pages of a logged-in back end.
    {"a main page with a menu",
     "<html><head><title>Korvani数字产品销售系统 - 管理首页</title></head><body><h1>Korvani数字产品销售系统</h1>"
     "<p>欢迎您，admin！</p><a href=\"logout.html\">退出登录</a></body></html>",
     true},
    {"a short page whose navigation is in onclick handlers",
     "<p>欢迎</p><button onclick=\"location.href='platform/list.html'\">平台</button>", true},
    {"a page that compares the location", "<script>if (location.href == 'x') {}</script><p>首页</p>", true},
    {"a page whose own variable ends in location", "<script>var mylocation = 1;</script><p>首页</p>", true},
    {"a frameset that breaks out of frames",
     "<script>if (top != self) top.location = self.location;</script>"
     "<frameset cols=\"200,*\"><frame src=\"left.html\"><frame src=\"right.html\"></frameset>",
     true},
    {"a full page with script navigation in it", nullptr, true},  // filled in below
    {"a commented-out password field", "<!-- <input type=\"password\"> --><p>首页</p>", true},
    {"a password field written by script text", "<script>var t='<input type=\"password\">';</script><p>首页</p>",
     true},
    {"the words type=password as text", "<p>type=password 是密码框的写法</p>", true},
    {"a text input only", "<input type=\"text\" name=\"keyword\"><p>搜索</p>", true},
    {"an empty page shell", "<html><body></body></html>", true},
};

class LoginRuleTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(LoginRuleTest, TellsALoggedInMainPageFromALoggedOutAnswer) {
  std::string page = GetParam().page_utf8
                         ? GetParam().page_utf8
                         : std::string("<script>function go(u){ location.href = u; }</script>") + big_text;
  EXPECT_EQ(backend_logged_in(utf8_to_ansi(page)), GetParam().logged_in) << page;
}

INSTANTIATE_TEST_SUITE_P(Table, LoginRuleTest, ::testing::ValuesIn(page_cases), [](const auto& info) { return korvani::test::identifier(info.param.name); });

// What the demo shop answers for main.html, fetched the way the poll fetches it.
class LoginRuleShopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shop.start());
    platform::cookie_jar_clear();
  }
  void TearDown() override { platform::cookie_jar_clear(); }

  Text main_page() { return percent_decode(web_request(shop.backend_root() + "main.html", 0)); }

  demo_shop::DemoShop shop;
};

TEST_F(LoginRuleShopTest, EachLoggedOutStyleKeepsThePollGoing) {
  using Style = demo_shop::LoggedOutStyle;
  for (Style style : {Style::redirect, Style::login_form, Style::script_redirect}) {
    shop.set_logged_out_style(style);
    const Text page = main_page();
    EXPECT_FALSE(page.empty());
    EXPECT_FALSE(backend_logged_in(page)) << "style " << static_cast<int>(style) << ":\n" << page;
  }
}

TEST_F(LoginRuleShopTest, TheMainPageAfterTheLogInEndsThePoll) {
  web_request(shop.backend_root() + "login.html", 1,
              std::string("username=") + demo_shop::DemoShop::backend_user +
                  "&password=" + demo_shop::DemoShop::backend_password);
  const Text page = main_page();
  EXPECT_TRUE(backend_logged_in(page)) << page;

  web_request(shop.backend_root() + "logout.html", 0);
  EXPECT_FALSE(backend_logged_in(main_page())) << "after logging out the poll would go on again";
}

}  // namespace
}  // namespace korvani
