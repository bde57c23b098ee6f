// The supplier side against the demo shop while it misbehaves: the catalog
// page cut off, stalled, dropped or malformed, a huge catalog, log-in answers
// that are not valid UTF-8, and files directories nobody may write into.
// The check list holds the rows the page held whole and nothing else.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/files_dir.h"
#include "app/program_state.h"
#include "demo_shop.h"
#include "platform/http.h"
#include "supplier/catalog.h"
#include "supplier/supplier_login.h"
#include "support/test_support.h"
#include "web/web_request.h"

namespace korvani {
namespace {

namespace fs = std::filesystem;

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using demo_shop::Fault;
using demo_shop::FaultRule;

std::vector<std::string> utf8_of(const std::vector<Text>& texts) {
  std::vector<std::string> out;
  for (const Text& t : texts) out.push_back(ansi_to_utf8(t));
  return out;
}

// The supplier page's shapes.
std::string main_dir(const std::string& id, const std::string& name) {
  return "\t\t<div  name=\"parentName\" id=\"parentId_" + id + "\" class=\"catalog-list\">\r\n" +
         "\t\t\t\t<h3><font color=\"#FF6600\" title=\"\">" + name + "</font></h3>\r\n" +
         "\t\t\t\t<ul class=\"sub-list\">\r\n";
}
std::string main_close() { return "\t\t\t\t</ul>\r\n\t\t</div>\r\n"; }
std::string sub_dir(const std::string& id, const std::string& name) {
  return "\t\t\t\t\t<li><a href=\"javascript:void(0)\" class=\"sub-link\" id=\"" + id + "\">" + name +
         "</a></li>\r\n";
}
const std::string kHead = "<html>\r\n<body>\r\n\t<div class=\"catalog\">\r\n";
const std::string kTail = "\t</div>\r\n</body>\r\n</html>\r\n";

// Two main directories. "甲二" is where a page cut in half ends: the shop
// keeps the first half of a truncated or stalled answer, and the half ends
// inside the first byte of "二", so that row is neither whole nor readable.
std::string cut_page() {
  const std::string er = "二";
  const std::string kept = kHead + main_dir("1", "甲") + sub_dir("11", "甲一") +
                           "\t\t\t\t\t<li><a href=\"javascript:void(0)\" class=\"sub-link\" id=\"12\">甲" + er.substr(0, 1);
  std::string rest = er.substr(1) + "</a></li>\r\n" + main_close() + main_dir("2", "乙") + sub_dir("21", "乙一") +
                     main_close() + kTail;
  std::string lead;
  if (rest.size() < kept.size()) rest += std::string(kept.size() - rest.size(), ' ');
  else lead = std::string(rest.size() - kept.size(), ' ');  // blanks before <html> change nothing
  return lead + kept + rest;
}

const std::vector<std::string> kWhole = {
    "主目录ID:1----主目录名称:甲----", "子目录ID:11----子目录名称:甲一上级目录:1----",
    "子目录ID:12----子目录名称:甲二上级目录:1----", "主目录ID:2----主目录名称:乙----",
    "子目录ID:21----子目录名称:乙一上级目录:2----"};
const std::vector<std::string> kFirstHalf = {kWhole[0], kWhole[1]};

class SupplierFaults : public ::testing::Test {
 protected:
  void SetUp() override { start(demo_shop::Options{}); }
  void TearDown() override { platform::http_set_timeouts(saved_timeouts_); }

  void start(demo_shop::Options options) {
    platform::cookie_jar_clear();
    saved_timeouts_ = platform::http_timeouts();
    shop = std::make_unique<demo_shop::DemoShop>(std::move(options));
    ASSERT_TRUE(shop->start());
    state.supplier_host = shop->supplier_host();
    state.files_dir = files.path().string();
  }

  Text log_in(const std::string& user, const std::string& password) {
    return percent_decode(web_request(supplier_login_url(state.supplier_host), 1, supplier_login_body(user, password)));
  }

  // The catalog window's creation steps and one "读取卡盟目录" press.
  CatalogReadResult fetch_and_read() {
    const Text url = "http://" + state.supplier_host + "/front/inter/dirList.htm";
    state.catalog_text = percent_decode(web_request(url, 1, date_stamp_field(local_time_now()) + "&topValue="));
    return read_catalog(state, table);
  }

  std::unique_ptr<demo_shop::DemoShop> shop;
  ProgramState state;
  CatalogTable table;
  test::TempDir files;

 private:
  platform::HttpTimeouts saved_timeouts_;
};

// ------------------------------------------------------------ catalog page

struct PageCase {
  const char* note;
  std::string page;          // UTF-8, as the supplier serves it
  FaultRule rule;            // on the catalog request; Fault::none for none
  std::vector<std::string> items;
};

// A stall as long as the shop allows (it ends early when the shop stops):
// a request that the stall time-out does not end hangs the test until its
// own time limit fails it, instead of passing a little later.
constexpr int kStallMs = 600000;
// The tool's stall time-out in these tests: short, yet long enough that an
// ordinary answer on a loaded machine (sanitizers, parallel tests) meets it.
constexpr int kStallTimeOutMs = 1500;

// Twice, since a request that meets a closed kept-alive connection is sent
// once more on a fresh one.
FaultRule on_catalog(Fault fault) {
  return {.path_suffix = "/front/inter/dirList.htm", .fault = fault, .stall_ms = kStallMs, .times = 2};
}

const PageCase page_cases[] = {
    {"a whole page gives every row", cut_page(), on_catalog(Fault::none), kWhole},
    {"a page cut in half inside a name gives the rows before the cut", cut_page(), on_catalog(Fault::truncated),
     kFirstHalf},
    {"a page that stalls half-way ends at the stall time-out with the rows before it", cut_page(),
     on_catalog(Fault::stall), kFirstHalf},
    {"a dropped connection gives an empty list", cut_page(), on_catalog(Fault::drop), {}},
    {"an error page gives an empty list", cut_page(), on_catalog(Fault::status_500), {}},
    {"a link without its closing tag is left out and the next row still reads",
     kHead + main_dir("1", "甲") + "\t\t\t\t\t<li><a class=\"sub-link\" id=\"11\">甲一</li>\r\n" + sub_dir("12", "甲二") +
         main_close() + kTail,
     on_catalog(Fault::none),
     {kWhole[0], kWhole[2]}},
    {"a byte that is not UTF-8 inside a name becomes one question mark, the row stays",
     kHead + main_dir("1", "甲\xff乙") + sub_dir("11", "a\xe4\xb8z") + main_close() + kTail,
     on_catalog(Fault::none),
     {"主目录ID:1----主目录名称:甲?乙----", "子目录ID:11----子目录名称:a?z上级目录:1----"}},
    {"a page of another shape gives an empty list",
     "<html><body><ul><li data-id=\"1\">甲</li></ul></body></html>", on_catalog(Fault::none), {}},
};

class SupplierPageFaults : public SupplierFaults, public ::testing::WithParamInterface<PageCase> {};

TEST_P(SupplierPageFaults, TheListHoldsTheWholeRowsAndNothingInvented) {
  const PageCase& c = GetParam();
  platform::http_set_timeouts({.connect_ms = 2000, .stall_ms = kStallTimeOutMs});
  ASSERT_EQ(judge_login_answer(log_in("demo", "demo123")), LoginVerdict::logged_in);
  shop->set_catalog_page(c.page);
  if (c.rule.fault != Fault::none) shop->add_fault(c.rule);

  const CatalogReadResult result = fetch_and_read();

  EXPECT_THAT(utf8_of(result.items), ElementsAreArray(c.items));
  EXPECT_THAT(result.log, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Pages, SupplierPageFaults, ::testing::ValuesIn(page_cases), test::NamedAfterNote());

// A main directory whose heading the pattern cannot read yields no row; its
// sub-directories must not be filed under the main directory read before it,
// or docking would create them there.
TEST_F(SupplierFaults, SubDirectoriesOfAnUnreadableMainDirectoryKeepNoStrangerAsParent) {
  ASSERT_EQ(judge_login_answer(log_in("demo", "demo123")), LoginVerdict::logged_in);
  shop->set_catalog_page(kHead + main_dir("1", "甲") + sub_dir("11", "甲一") + main_close() +
                         "\t\t<div  name=\"parentName\" id=\"parentId_2\" class=\"catalog-list\">\r\n"
                         "\t\t\t\t<h3><font color=\"#FF6600\">乙</font></h3>\r\n" +
                         sub_dir("21", "乙一") + sub_dir("22", "乙二") + main_close() + main_dir("3", "丙") +
                         sub_dir("31", "丙一") + main_close() + kTail);

  const CatalogReadResult result = fetch_and_read();

  ASSERT_EQ(result.items.size(), 6u);
  EXPECT_EQ(ansi_to_utf8(result.items[1]), kWhole[1]);
  EXPECT_EQ(ansi_to_utf8(result.items[2]), "子目录ID:21----子目录名称:乙一上级目录:----");
  EXPECT_EQ(ansi_to_utf8(result.items[3]), "子目录ID:22----子目录名称:乙二上级目录:----");
  EXPECT_EQ(ansi_to_utf8(result.items[4]), "主目录ID:3----主目录名称:丙----");
  EXPECT_EQ(ansi_to_utf8(result.items[5]), "子目录ID:31----子目录名称:丙一上级目录:3----");
}

// Read, parsed and listed whole; the memory it takes is measured by
// bench/catalog_read_bench, not here.
TEST_F(SupplierFaults, AFiftyMegabyteCatalogIsReadWhole) {
  const int mains = 130000;  // two sub-directories each: about 50 MB of page
  shop->set_catalog_page(demo_shop::generate_catalog_page(mains, 2));
  ASSERT_GE(shop->catalog_page().size(), 50u << 20);
  ASSERT_EQ(judge_login_answer(log_in("demo", "demo123")), LoginVerdict::logged_in);

  const CatalogReadResult result = fetch_and_read();

  ASSERT_EQ(result.items.size(), static_cast<std::size_t>(mains) * 3);
  EXPECT_THAT(ansi_to_utf8(result.items.front()), HasSubstr("主目录ID:"));
  EXPECT_THAT(ansi_to_utf8(result.items.back()), HasSubstr("子目录ID:"));
  EXPECT_THAT(result.log, IsEmpty());
  EXPECT_EQ(fs::file_size(files.path() / "卡盟对接缓存.txt"), state.catalog_text.size());
}

// ------------------------------------------------------------ log-in answers

struct LoginCase {
  const char* note;
  std::string ok_answer;      // what a right password gets
  std::string wrong_answer;   // what a wrong one gets
  const char* password;
  LoginVerdict verdict;
};

const LoginCase login_cases[] = {
    {"invalid bytes around code still log in", "{\"code\":\"0000\",\"msg\":\"\xff\xfe\xc3\x28\"}", "x", "demo123",
     LoginVerdict::logged_in},
    {"an answer cut inside a character still logs in", "{\"code\":\"0000\",\"msg\":\"\xe7\x99", "x", "demo123",
     LoginVerdict::logged_in},
    {"invalid bytes around the wrong-password words still tell a wrong password", "x",
     "<p>\xff\xc0用户名或密码错误!\xe4\xb8</p>", "nope", LoginVerdict::wrong_password},
    {"an answer of invalid bytes alone is a failure", "\xff\xfe\xfd\x80\x80\xc0\xaf", "x", "demo123",
     LoginVerdict::failed},
    {"an overlong encoding of the final ! does not complete the wrong-password words", "x",
     "\xc0\xa8\xe7\x94\xa8\xe6\x88\xb7\xe5\x90\x8d\xe6\x88\x96\xe5\xaf\x86\xe7\xa0\x81\xe9\x94\x99\xe8\xaf\xaf\xc0\xa1",
     "nope", LoginVerdict::failed},
};

class SupplierLoginFaults : public SupplierFaults, public ::testing::WithParamInterface<LoginCase> {
 protected:
  // The shop's pages from a copy of its data, with the log-in answers replaced.
  void SetUp() override {
    // Where the shop finds its pages too: the environment's folder, else the
    // source tree's.
    const char* named = std::getenv("KORVANI_DEMO_SHOP_DATA");
    const fs::path data = named && *named ? fs::path(named)
                                          : fs::path(__FILE__).parent_path().parent_path().parent_path() /
                                                "tools" / "demo-shop" / "data";
    ASSERT_TRUE(fs::is_directory(data)) << data;
    fs::copy(data, shop_data.path(), fs::copy_options::recursive);
    test::write_file(shop_data.path() / "supplier-login-ok.txt", GetParam().ok_answer);
    test::write_file(shop_data.path() / "supplier-login-wrong.html", GetParam().wrong_answer);
    demo_shop::Options options;
    options.data_dir = shop_data.path().string();
    start(options);
  }
  test::TempDir shop_data;
};

TEST_P(SupplierLoginFaults, AnAnswerThatIsNotUtf8GetsAClearVerdict) {
  const LoginCase& c = GetParam();
  const Text answer = log_in("demo", c.password);
  // Whatever came in, the text is whole in the code page: it converts back.
  EXPECT_EQ(utf8_to_ansi(ansi_to_utf8(answer)), answer);
  EXPECT_EQ(judge_login_answer(answer), c.verdict);
  if (c.verdict == LoginVerdict::logged_in) {
    // The session the answer opened reads the catalog.
    EXPECT_THAT(fetch_and_read().items, ::testing::Not(IsEmpty()));
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, SupplierLoginFaults, ::testing::ValuesIn(login_cases), test::NamedAfterNote());

// ------------------------------------------------------------ files

struct FilesCase {
  const char* note;
  // The executable's directory and the user data directory, inside `root`.
  std::string (*exe_dir)(const fs::path& root);
  std::string (*data_dir)(const fs::path& root);
  bool beside_executable;
  bool written;   // false: neither directory takes a file
};

std::string writable_dir(const fs::path& root) {
  fs::create_directories(root / "bin");
  return (root / "bin").string();
}
// Read-only for everyone, root included.
std::string read_only_dir(const fs::path&) { return "/proc"; }
std::string user_data_dir(const fs::path& root) { return (root / "home" / ".local" / "share" / "korvani-dock").string(); }
std::string under_a_file(const fs::path& root) {
  test::write_file(root / "plain-file", "x");
  return (root / "plain-file" / "korvani-dock").string();
}

const FilesCase files_cases[] = {
    {"a writable executable directory takes the files", writable_dir, user_data_dir, true, true},
    {"a read-only executable directory sends them to the user data directory", read_only_dir, user_data_dir, false,
     true},
    {"with neither writable the list still fills and the log names each file", read_only_dir, under_a_file, false,
     false},
};

class SupplierFilesFaults : public SupplierFaults, public ::testing::WithParamInterface<FilesCase> {};

TEST_P(SupplierFilesFaults, TheListFillsWhereverTheFilesCanGo) {
  const FilesCase& c = GetParam();
  const std::string exe_dir = c.exe_dir(files.path());
  const std::string data_dir = c.data_dir(files.path());
  state.files_dir = choose_files_dir(exe_dir, data_dir);
  EXPECT_EQ(state.files_dir, c.beside_executable ? exe_dir : data_dir);
  ASSERT_EQ(judge_login_answer(log_in("demo", "demo123")), LoginVerdict::logged_in);
  shop->set_catalog_page(cut_page());

  const CatalogReadResult result = fetch_and_read();

  EXPECT_THAT(utf8_of(result.items), ElementsAreArray(kWhole));
  const fs::path cache = files_path(state.files_dir, catalog_cache_file_name);
  const fs::path response_log = files_path(state.files_dir, response_log_file_name);
  if (c.written) {
    EXPECT_EQ(test::read_file(cache), state.catalog_text);
    EXPECT_TRUE(fs::exists(response_log));
    EXPECT_THAT(result.log, IsEmpty());
  } else {
    EXPECT_THAT(ansi_to_utf8(result.log), HasSubstr("无法写入文件：" + cache.string()));
    EXPECT_THAT(ansi_to_utf8(result.log), HasSubstr("无法写入文件：" + response_log.string()));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SupplierFilesFaults, ::testing::ValuesIn(files_cases), test::NamedAfterNote());

}  // namespace
}  // namespace korvani
