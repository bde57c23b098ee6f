#include "update/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvani {
namespace {

Text cp(const std::string& utf8) { return utf8_to_ansi(utf8); }

TEST(ProgressTest, LabelsAndBarFollowTheFigures) {
  struct Case {
    const char* note;
    std::int64_t total, received, elapsed, this_run;
    std::string speed;
    int bar;               // -1: no total, the bar is left alone
    std::string percent;   // empty: left alone
    std::string size;
  };
  const std::vector<Case> cases = {
      {"a 1.5 MB total, half of it received", 1572864, 786432, 1000, 786432, "768KB/秒", 5000, "已完成：50%",
       "1.5MB"},
      {"50 KB after 2000 ms", 1048576, 51200, 2000, 51200, "25KB/秒", 488, "已完成：5%", "1MB"},
      {"10240 bytes after 3 ms", 10240, 10240, 3, 10240, "3333.33KB/秒", 10000, "已完成：100%", "0.01MB"},
      {"ten million bytes, a third received", 10000000, 3333333, 1000, 3333333, "3255.21KB/秒", 3333,
       "已完成：33%", "9.54MB"},
      {"an elapsed time of 0 is taken as 10", 1024, 1024, 0, 1024, "100KB/秒", 10000, "已完成：100%", "0MB"},
      {"the speed counts this run only", 4096, 3072, 1000, 1024, "1KB/秒", 7500, "已完成：75%", "0MB"},
      {"no total: what arrived is shown", 0, 1572864, 1000, 1572864, "1536KB/秒", -1, "", "1.5MB"},
      {"a decoded body beyond the announced length", 1000, 3000, 1000, 3000, "2.93KB/秒", 10000,
       "已完成：100%", "0MB"},
      {"a finished download of some terabytes fills the bar", 14411541346889, 14411541346889, 1000, 0,
       "0KB/秒", 10000, "已完成：100%", "13743916.84MB"},
      {"one byte short of them does not", 14411541346889, 14411541346888, 1000, 0, "0KB/秒", 9999,
       "已完成：100%", "13743916.84MB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    const ProgressDisplay d = download_progress(c.total, c.received, c.elapsed, c.this_run);
    EXPECT_EQ(d.speed, cp(c.speed));
    EXPECT_EQ(d.has_total, c.bar >= 0);
    if (c.bar >= 0) {
      EXPECT_EQ(d.bar, c.bar);
      EXPECT_EQ(d.percent, cp(c.percent));
    }
    EXPECT_EQ(d.size, c.size);
  }
}

TEST(ProgressTest, RoundsHalfAwayFromZeroAndWritesThirteenDigits) {
  struct Case {
    double value;
    int decimals;
    std::string text;
  };
  const std::vector<Case> cases = {
      {2.675, 2, "2.68"},        // stored as 2.67499999...
      {1.005, 2, "1.01"},
      {0.5, 0, "1"},
      {-2.5, 0, "-3"},
      {-0.125, 2, "-0.13"},
      {2.4999, 0, "2"},
      {100.0, 2, "100"},
      {1.5, 2, "1.5"},
      {123456789012.34, 2, "123456789012.3"},
      {1e15, 0, "1e+15"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(format_number(round_half_away(c.value, c.decimals)), c.text);
  }
}

TEST(ProgressTest, CountdownTexts) {
  EXPECT_EQ(countdown_text(3), cp("更新完毕，等待3秒自动运行新版本……"));
  EXPECT_EQ(countdown_text(1), cp("更新完毕，等待1秒自动运行新版本……"));
}

}  // namespace
}  // namespace korvani
