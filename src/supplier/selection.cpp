#include "supplier/selection.h"

#include <algorithm>

namespace korvani {

namespace {

const Text& main_id_marker() {
  static const Text m = utf8_to_ansi("主目录ID:");
  return m;
}

const Text& parent_marker() {
  static const Text m = utf8_to_ansi("上级目录:");
  return m;
}

}  // namespace

Text item_main_id(std::string_view item) { return text_between(item, main_id_marker(), "----"); }

Text item_parent_id(std::string_view item) { return text_between(item, parent_marker(), "----"); }

void CheckList::assign(std::vector<Text> items) {
  texts_ = std::move(items);
  ticks_.assign(texts_.size(), 0);
  followers_.clear();
  for (int i = 0; i < size(); ++i) {
    Text parent = item_parent_id(texts_[static_cast<std::size_t>(i)]);
    // A main directory ID is never empty when the rule looks it up, so an
    // item without a parent follows nothing.
    if (!parent.empty()) followers_[std::move(parent)].push_back(i);
  }
}

void CheckList::clear() { assign({}); }

bool CheckList::set_ticked(int index, bool ticked) {
  if (index < 0 || index >= size()) return false;
  auto& tick = ticks_[static_cast<std::size_t>(index)];
  const std::uint8_t value = ticked ? 1 : 0;
  if (tick == value) return false;
  tick = value;
  return true;
}

const std::vector<int>& CheckList::followers(std::string_view main_id) const {
  static const std::vector<int> none;
  const auto it = followers_.find(Text(main_id));
  return it == followers_.end() ? none : it->second;
}

std::vector<int> CheckList::follow_parent(int current) {
  std::vector<int> changed;
  if (current < 0 || current >= size()) return changed;
  const Text main_id = item_main_id(text(current));
  if (main_id.empty()) return changed;
  const bool tick = ticked(current);
  for (int i : followers(main_id)) {
    if (set_ticked(i, tick)) changed.push_back(i);
  }
  return changed;
}

bool CheckList::set_all(bool ticked) {
  const std::uint8_t value = ticked ? 1 : 0;
  const bool any = std::any_of(ticks_.begin(), ticks_.end(), [&](std::uint8_t t) { return t != value; });
  std::fill(ticks_.begin(), ticks_.end(), value);
  return any;
}

}  // namespace korvani
