#pragma once
// The catalog check list as data: item texts and their ticks, with the two
// selection rules. A main directory item carries along every item that names
// it as parent; an index from main directory ID to those items makes one
// application of that rule cost the items of that main directory, not a pass
// over the whole list, since a timer applies it ten times a second.
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text/text.h"

namespace korvani {

// The fields the rules read, each with text_between: the main directory ID
// (empty for a sub-directory item) and the parent ID (empty for a main one).
Text item_main_id(std::string_view item);
Text item_parent_id(std::string_view item);

class CheckList {
 public:
  // Replaces every item; all come in unticked.
  void assign(std::vector<Text> items);
  void clear();

  int size() const { return static_cast<int>(texts_.size()); }
  bool empty() const { return texts_.empty(); }
  const Text& text(int index) const { return texts_[static_cast<std::size_t>(index)]; }
  bool ticked(int index) const { return ticks_[static_cast<std::size_t>(index)] != 0; }
  // Answers whether the tick changed.
  bool set_ticked(int index, bool ticked);

  // The parent-follows rule with `current` as the current item (-1: none):
  // every item whose parent ID equals the current item's main directory ID
  // takes the current item's tick. Answers the items whose tick changed, in
  // list order.
  std::vector<int> follow_parent(int current);

  // Select all / none. Answers whether any tick changed.
  bool set_all(bool ticked);

  // The items that name `main_id` as their parent, in list order.
  std::vector<int> followers(std::string_view main_id) const;

 private:
  // The items of one parent ID form a chain through next_, in list order.
  struct Chain {
    int first = -1;
    int last = -1;
  };
  template <typename F>
  void for_each_follower(std::string_view main_id, F&& f) const;

  std::vector<Text> texts_;
  std::vector<std::uint8_t> ticks_;
  std::unordered_map<std::string_view, Chain> chains_;   // keys view into texts_
  std::vector<int> next_;
};

}  // namespace korvani
