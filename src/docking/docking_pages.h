#pragma once
// Reading the back end's pages during a docking run: the items of the check
// list, the id a new directory got, the goods of a directory. Plain text
// work, no requests.
#include <string_view>
#include <vector>

#include "text/text.h"

namespace korvani {

// One check-list item taken apart. A main directory item carries its
// supplier id and name; a sub-directory item its supplier id, name and the
// supplier id of its main directory.
struct CatalogItem {
  bool is_main = false;
  Text id;
  Text name;
  Text parent_id;  // sub-directory items only
};
CatalogItem parse_catalog_item(std::string_view item_text);

// The id of the last directory named `name` in the back end's directory page
// ("directory/initadd.html"), read up to the closing quote of its option
// value. Empty when the page lists no such directory.
Text find_directory_option_id(std::string_view page, std::string_view name);

// Whether the directory page lists a directory with this id and this name
// (one option carrying both).
bool directory_option_listed(std::string_view page, std::string_view id, std::string_view name);

// The same in the batch-adding page ("platform/batchAddGoods.html"), where a
// directory is an input followed by "----" and its name.
Text find_batch_directory_id(std::string_view page, std::string_view name);

// What a goods query page holds: the goods ids in page order, and the key of
// its "批量对接" link when it has one (the last one wins).
struct GoodsPage {
  std::vector<Text> good_ids;
  bool has_key = false;
  Text key;
};
// Builds a RegexObject of its own, so it may run on any thread.
GoodsPage read_goods_page(std::string_view page);

}  // namespace korvani
