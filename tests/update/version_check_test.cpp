#include "update/version_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo_shop.h"
#include "update/progress.h"

namespace korvani {
namespace {

Text cp(const std::string& utf8) { return utf8_to_ansi(utf8); }

TEST(VersionCheckTest, OnlyAnotherNamedVersionOffersTheUpdate) {
  struct Case {
    const char* note;
    std::string page;
    bool offered;
  };
  const std::vector<Case> cases = {
      {"exactly our version", "<p>【1.13】</p>", false},
      {"our version and a space", "<p>【1.13 】</p>", true},
      {"an older version", "<p>【1.12】</p>", true},
      {"a newer version", "<p>【1.14】</p>", true},
      {"the first marker counts", "【1.13】 then 【1.14】", false},
      {"an empty page (not fetched)", "", false},
      {"a page naming no version", "<html>maintenance</html>", false},
      {"empty brackets", "【】", false},
      {"an opening bracket only", "【1.14", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    EXPECT_EQ(update_offered(cp(c.page)), c.offered);
  }
}

TEST(VersionCheckTest, PromptFieldsComeFromTheReleaseNotes) {
  struct Case {
    const char* note;
    std::string page;
    std::string notes;
    std::string version;
    std::string url;
    std::string checked;  // what the check itself reads
  };
  const std::vector<Case> cases = {
      {"a whole announcement", "<h1>x</h1><div>【1.14】 新 |http://h/k| 说明</DIV><p>",
       "【1.14】 新 |http://h/k| 说明", "1.14", "http://h/k", "1.14"},
      {"no release-notes block", "【1.14】 |http://h/k|", "", "", "", "1.14"},
      {"opening marker in capitals", "<DIV>【1.14】|http://h/k|</DIV>", "", "", "", "1.14"},
      {"closing marker in small letters", "<div>【1.14】|http://h/k|</div>", "", "", "", "1.14"},
      {"version outside the block", "【1.14】<div>说明 |http://h/k|</DIV>", "说明 |http://h/k|", "",
       "http://h/k", "1.14"},
      {"another version inside the block", "【1.15】<div>【1.14】|u|</DIV>", "【1.14】|u|", "1.14", "u", "1.15"},
      {"a single vertical bar", "<div>【1.14】 |http://h/k</DIV>", "【1.14】 |http://h/k", "1.14", "", "1.14"},
      {"three bars: the first two count", "<div>|a|b|</DIV>", "|a|b|", "", "a", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    const UpdatePrompt prompt = read_update_prompt(cp(c.page));
    EXPECT_EQ(prompt.release_notes, cp(c.notes));
    EXPECT_EQ(prompt.version, cp(c.version));
    EXPECT_EQ(prompt.download_url, cp(c.url));
    EXPECT_EQ(announced_version(cp(c.page)), cp(c.checked));
  }
  EXPECT_EQ(version_label_text(cp("1.14")), cp("当前版本：1.14"));
  EXPECT_EQ(version_label_text(""), cp("当前版本："));
}

class VersionPageTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(shop.start()); }
  demo_shop::DemoShop shop;
};

TEST_F(VersionPageTest, TheShopsPageNamesItsVersionAndDownload) {
  shop.set_version("1.14");
  const Text page = fetch_version_page(shop.version_page_url());
  EXPECT_EQ(announced_version(page), "1.14");
  const UpdatePrompt prompt = read_update_prompt(page);
  EXPECT_EQ(prompt.version, "1.14");
  EXPECT_EQ(prompt.download_url, shop.download_url());
  EXPECT_TRUE(update_offered(page));

  shop.set_version("1.13");
  EXPECT_FALSE(update_offered(fetch_version_page(shop.version_page_url())));
}

TEST_F(VersionPageTest, PageIsDecodedAndCutAtAZeroByte) {
  std::string page_bytes = "%E3%80%901.14%E3%80%91<div>%7Cu%7C</DIV>";
  page_bytes += '\0';
  page_bytes += "【1.15】";
  shop.set_version_page(page_bytes);
  const Text page = fetch_version_page(shop.version_page_url());
  EXPECT_EQ(page, cp("【1.14】<div>|u|</DIV>"));
}

TEST_F(VersionPageTest, APageThatCannotBeFetchedIsEmpty) {
  struct Case {
    const char* note;
    demo_shop::Fault fault;
  };
  for (const Case& c : {Case{"server error", demo_shop::Fault::status_500},
                        Case{"connection dropped", demo_shop::Fault::drop}}) {
    SCOPED_TRACE(c.note);
    shop.clear_faults();
    shop.add_fault({"version.html", c.fault});
    EXPECT_EQ(fetch_version_page(shop.version_page_url()), "");
  }
  EXPECT_EQ(fetch_version_page("http://" + shop.unreachable_host() + "/updates/version.html"), "");
  EXPECT_EQ(fetch_version_page(""), "");
}

TEST(VersionPageUrlTest, SetterWinsOverTheBuildSetting) {
  set_version_page_url("http://127.0.0.1:1/v.html");
  EXPECT_EQ(version_page_url(), "http://127.0.0.1:1/v.html");
  set_version_page_url("");
  EXPECT_EQ(version_page_url(), "");
  set_version_page_url(std::nullopt);
  EXPECT_EQ(version_page_url(), KORVANI_VERSION_PAGE_URL);
}

}  // namespace
}  // namespace korvani
