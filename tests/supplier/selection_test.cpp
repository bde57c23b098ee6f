#include "supplier/selection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "supplier/catalog.h"

namespace korvani {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

Text cp(const std::string& utf8) { return utf8_to_ansi(utf8); }
Text main_item(const std::string& id, const std::string& name) { return main_item_text(id, cp(name)); }
Text sub_item(const std::string& id, const std::string& name, const std::string& parent) {
  return sub_item_text(id, cp(name), parent);
}

std::vector<bool> ticks(const CheckList& list) {
  std::vector<bool> out;
  for (int i = 0; i < list.size(); ++i) out.push_back(list.ticked(i));
  return out;
}

TEST(ItemFields, AreReadWithTextBetween) {
  EXPECT_EQ(item_main_id(main_item("1001", "A")), "1001");
  EXPECT_EQ(item_parent_id(main_item("1001", "A")), "");
  EXPECT_EQ(item_main_id(sub_item("11", "a", "1001")), "");
  EXPECT_EQ(item_parent_id(sub_item("11", "a", "1001")), "1001");
  EXPECT_EQ(item_parent_id(sub_item("11", "a", "")), "");
}

// Items: 0 main 1, 1 sub of 1, 2 sub of 1, 3 main 2, 4 sub of 2, 5 orphan sub,
// 6 sub of "10" (a parent ID that only starts like "1").
class ParentRule : public ::testing::Test {
 protected:
  void SetUp() override {
    list.assign({main_item("1", "A"), sub_item("11", "a1", "1"), sub_item("12", "a2", "1"), main_item("2", "B"),
                 sub_item("21", "b1", "2"), sub_item("9", "orphan", ""), sub_item("101", "x", "10")});
  }
  CheckList list;
};

TEST_F(ParentRule, TickingAMainDirectoryTicksItsSubsOnly) {
  list.set_ticked(0, true);
  EXPECT_THAT(list.follow_parent(0), ElementsAre(1, 2));
  EXPECT_EQ(ticks(list), (std::vector<bool>{true, true, true, false, false, false, false}));

  list.set_ticked(0, false);
  EXPECT_THAT(list.follow_parent(0), ElementsAre(1, 2));
  EXPECT_EQ(ticks(list), std::vector<bool>(7, false));
}

TEST_F(ParentRule, AnUntickedSubLastsWhileItIsTheCurrentItem) {
  list.set_ticked(0, true);
  list.follow_parent(0);
  list.set_ticked(2, false);  // the click makes it the current item
  EXPECT_THAT(list.follow_parent(2), IsEmpty());
  EXPECT_FALSE(list.ticked(2));
  // Selecting the main directory again brings the sub back.
  EXPECT_THAT(list.follow_parent(0), ElementsAre(2));
  EXPECT_TRUE(list.ticked(2));
}

TEST_F(ParentRule, LeavesEverythingAloneWithoutACurrentMainItem) {
  list.set_ticked(4, true);
  list.set_ticked(3, false);
  for (int current : {-1, 4, 5, 7, 100}) {
    SCOPED_TRACE(current);
    EXPECT_THAT(list.follow_parent(current), IsEmpty());
  }
  EXPECT_TRUE(list.ticked(4));
}

TEST_F(ParentRule, ParentIdsCompareWhole) {
  // Main "1" does not carry the sub of "10"; the orphan follows nobody.
  list.set_ticked(0, true);
  list.follow_parent(0);
  EXPECT_FALSE(list.ticked(6));
  EXPECT_FALSE(list.ticked(5));
  EXPECT_THAT(list.followers(""), IsEmpty());
}

// The index must give what the rule's pass over every item gives, also for
// items whose names hold the markers.
TEST(ParentRuleIndex, AgreesWithAPassOverEveryItem) {
  const std::vector<Text> items = {
      main_item("1", "A"),
      sub_item("11", "a", "1"),
      main_item("2", "B上级目录:1"),        // a main item that names 1 as parent
      sub_item("21", "b----c", "2"),
      sub_item("22", "上级目录:9", "2"),   // its parent ID reads as "9"
      main_item("9", "C"),
      sub_item("12", "d", "1"),            // a late sub of 1
      cp("junk without markers"),
      sub_item("", "e", "1"),
      main_item("1", "duplicate ID"),
  };
  for (int current = 0; current < static_cast<int>(items.size()); ++current) {
    SCOPED_TRACE(current);
    CheckList list;
    list.assign(items);
    list.set_ticked(current, true);
    std::vector<int> expected;
    const Text main_id = item_main_id(items[static_cast<std::size_t>(current)]);
    for (int i = 0; i < static_cast<int>(items.size()); ++i) {
      if (!main_id.empty() && i != current && item_parent_id(items[static_cast<std::size_t>(i)]) == main_id) {
        expected.push_back(i);
      }
    }
    EXPECT_EQ(list.follow_parent(current), expected);
  }
}

TEST(ParentRuleOnEmptyList, DoesNothing) {
  CheckList list;
  EXPECT_THAT(list.follow_parent(0), IsEmpty());
  EXPECT_FALSE(list.set_all(true));
  EXPECT_EQ(list.size(), 0);
}

TEST(SelectAll, TicksAndUnticksEveryItem) {
  CheckList list;
  list.assign({main_item("1", "A"), sub_item("11", "a", "1"), sub_item("9", "b", "")});
  list.set_ticked(1, true);
  EXPECT_TRUE(list.set_all(true));
  EXPECT_EQ(ticks(list), std::vector<bool>(3, true));
  EXPECT_FALSE(list.set_all(true)) << "nothing left to change";
  EXPECT_TRUE(list.set_all(false));
  EXPECT_EQ(ticks(list), std::vector<bool>(3, false));
}

TEST(CheckListAssign, StartsUntickedAndForgetsTheOldIndex) {
  CheckList list;
  list.assign({main_item("1", "A"), sub_item("11", "a", "1")});
  list.set_all(true);
  list.assign({main_item("2", "B"), sub_item("21", "b", "2")});
  EXPECT_EQ(ticks(list), (std::vector<bool>{false, false}));
  EXPECT_THAT(list.followers("1"), IsEmpty());
  EXPECT_THAT(list.followers("2"), ElementsAre(1));
}

}  // namespace
}  // namespace korvani
