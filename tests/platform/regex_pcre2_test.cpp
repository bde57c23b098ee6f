#include "platform/regex.h"

#include <gtest/gtest.h>

#include <string>

namespace korvani::platform {
namespace {

TEST(RegexFindAll, MatchLimitStopsTheSearchAndKeepsEarlierMatches) {
  // Each "x=N" costs a handful of steps; the run of a's before the last one
  // backtracks far beyond the lowered limit.
  const std::string subject = "x=1 x=2 " + std::string(30, 'a') + "c b x=3";
  RegexMatches m;
  ASSERT_TRUE(regex_find_all("x=(\\d)|(a|aa)+b", subject, m, 10000));
  EXPECT_TRUE(m.stopped_early);
  ASSERT_EQ(m.count(), 2u);
  EXPECT_EQ(m.group(0, 1), "1");
  EXPECT_EQ(m.group(1, 0), "x=2");

  RegexMatches full;
  ASSERT_TRUE(regex_find_all("x=(\\d)|(a|aa)+b", "x=1 x=2 aac b x=3", full, 10000));
  EXPECT_FALSE(full.stopped_early);
  EXPECT_EQ(full.count(), 3u);
}

TEST(RegexFindAll, RepeatedGroupOverAHugeSubjectNeverCrashes) {
  // Every turn of a capturing repeat leaves a backtracking frame; over 8 MB
  // the engine either finishes or gives up, and says which.
  std::string subject;
  for (int k = 0; k < 4 * 1024 * 1024; ++k) subject += "ab";
  subject += "c";
  RegexMatches m;
  ASSERT_TRUE(regex_find_all("(a|b)*c", subject, m));
  if (m.stopped_early) {
    EXPECT_EQ(m.count(), 0u);
  } else {
    ASSERT_EQ(m.count(), 1u);
    EXPECT_EQ(m.group(0, 0).size(), subject.size());
    EXPECT_EQ(m.group(0, 1), "b");
  }
}

TEST(RegexFindAll, SubjectThatIsNotUtf8GivesFalseAndNoMatches) {
  for (const char* subject : {"ab\xB0\x7C", "\xC3", "a\xED\xA0\x80"}) {
    RegexMatches m;
    EXPECT_FALSE(regex_find_all("a", subject, m)) << subject;
    EXPECT_EQ(m.count(), 0u);
    EXPECT_EQ(m.group(0, 0), "");
  }
}

TEST(RegexFindAll, OffsetsNameTheSubjectItKeeps) {
  RegexMatches m;
  ASSERT_TRUE(regex_find_all("(\\d)+|(z)", "a123z", m));
  ASSERT_EQ(m.count(), 2u);
  EXPECT_EQ(m.groups_per_match, 3u);
  EXPECT_EQ(m.group(0, 0), "123");
  EXPECT_EQ(m.group(0, 1), "3");  // a repeated group keeps its last turn
  EXPECT_EQ(m.group(0, 2), "");
  EXPECT_EQ(m.group(1, 2), "z");
  EXPECT_EQ(m.group(1, 1), "");
  EXPECT_EQ(m.group(2, 0), "");
  EXPECT_EQ(m.group(0, 3), "");
  EXPECT_EQ(m.subject, "a123z");

  // A new search on the same object forgets the old one, also when it fails.
  EXPECT_FALSE(regex_find_all("(", "a123z", m));
  EXPECT_EQ(m.count(), 0u);
  EXPECT_FALSE(m.stopped_early);
}

}  // namespace
}  // namespace korvani::platform
