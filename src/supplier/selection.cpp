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

// The parent ID as text_between finds it, viewed inside the item.
std::string_view parent_id_view(std::string_view item) {
  const Text& left = parent_marker();
  const int left_at = text_find(item, left);
  if (left_at < 0) return {};
  const std::size_t inner = static_cast<std::size_t>(left_at) - 1 + left.size();
  if (inner >= item.size()) return {};
  const int right_at = text_find(item, "----", static_cast<int>(inner) + 1);
  if (right_at < 0 || static_cast<std::size_t>(right_at) - 1 <= inner) return {};
  return item.substr(inner, static_cast<std::size_t>(right_at) - 1 - inner);
}

}  // namespace

Text item_main_id(std::string_view item) { return text_between(item, main_id_marker(), "----"); }

Text item_parent_id(std::string_view item) { return text_between(item, parent_marker(), "----"); }

void CheckList::assign(std::vector<Text> items) {
  texts_ = std::move(items);
  ticks_.assign(texts_.size(), 0);
  chains_.clear();
  next_.assign(texts_.size(), -1);
  chains_.reserve(texts_.size() / 2);
  // Sub-directory items mostly follow their main directory item one after
  // another: the chain of the previous item saves most look-ups.
  std::string_view previous_parent;
  Chain* previous_chain = nullptr;
  for (int i = 0; i < size(); ++i) {
    const std::string_view parent = parent_id_view(texts_[static_cast<std::size_t>(i)]);
    // A main directory ID is never empty when the rule looks it up, so an
    // item without a parent follows nothing.
    if (parent.empty()) continue;
    if (!previous_chain || parent != previous_parent) {
      previous_chain = &chains_[parent];
      previous_parent = parent;
    }
    Chain& chain = *previous_chain;
    if (chain.last < 0) {
      chain.first = i;
    } else {
      next_[static_cast<std::size_t>(chain.last)] = i;
    }
    chain.last = i;
  }
}

template <typename F>
void CheckList::for_each_follower(std::string_view main_id, F&& f) const {
  const auto it = chains_.find(main_id);
  if (it == chains_.end()) return;
  for (int i = it->second.first; i >= 0; i = next_[static_cast<std::size_t>(i)]) f(i);
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

std::vector<int> CheckList::followers(std::string_view main_id) const {
  std::vector<int> out;
  for_each_follower(main_id, [&](int i) { out.push_back(i); });
  return out;
}

std::vector<int> CheckList::follow_parent(int current) {
  std::vector<int> changed;
  if (current < 0 || current >= size()) return changed;
  const Text main_id = item_main_id(text(current));
  if (main_id.empty()) return changed;
  const bool tick = ticked(current);
  for_each_follower(main_id, [&](int i) {
    if (set_ticked(i, tick)) changed.push_back(i);
  });
  return changed;
}

bool CheckList::set_all(bool ticked) {
  const std::uint8_t value = ticked ? 1 : 0;
  const bool any = std::any_of(ticks_.begin(), ticks_.end(), [&](std::uint8_t t) { return t != value; });
  std::fill(ticks_.begin(), ticks_.end(), value);
  return any;
}

}  // namespace korvani
