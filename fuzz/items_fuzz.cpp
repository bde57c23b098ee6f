// The check-list item texts: parsing an item, the records of the cache text
// and the items the read-back pattern gives for them, the parent-follows
// rule, and the directory ids read from the back end's pages.
//
// The input gives, in order: a raw text (ended by "\" and one more byte, see
// FuzzedDataProvider) whose lines join the check list and which is also the
// back-end page; then catalog rows, each a kind flag, an id and a name.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "docking/docking_pages.h"
#include "fuzz_support.h"
#include "supplier/catalog.h"
#include "supplier/selection.h"
#include "text/regex_object.h"

namespace {

using namespace korvani;
using korvani_fuzz::contains;

// A field as the catalog page's regex hands it over: code-page text that
// the UTF-8 detour keeps, without a zero byte.
Text as_scraped(std::string_view raw) { return utf8_to_ansi(ansi_to_utf8(korvani_fuzz::up_to_zero(raw))); }

bool plain_field(std::string_view s) { return s.find_first_of("-:\r\n") == std::string_view::npos; }
bool plain_markup(std::string_view s) { return s.find_first_of("\"<>&%\r\n") == std::string_view::npos; }

void check_item(std::string_view item) {
  const CatalogItem parsed = parse_catalog_item(item);
  for (const Text* field : {&parsed.id, &parsed.name, &parsed.parent_id}) FUZZ_CHECK(contains(item, *field));
  if (parsed.is_main) {
    static const Text main_marker = utf8_to_ansi("主目录ID:");
    FUZZ_CHECK(item.substr(0, main_marker.size()) == main_marker);
    FUZZ_CHECK(parsed.parent_id.empty());
  }
  FUZZ_CHECK(contains(item, item_main_id(item)) && contains(item, item_parent_id(item)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string raw = in.ConsumeRandomLengthString(512);

  // Rows as the catalog page gives them, and the cache text made of them.
  CatalogTable table;
  std::vector<Text> parents;  // each row's parent id in the records
  Text parent;
  while (in.remaining_bytes() > 0 && table.size() < 64) {
    const bool main = in.ConsumeBool();
    CatalogRow row;
    row.number = std::to_string(table.size() + 1);
    const Text id = as_scraped(in.ConsumeRandomLengthString(16));
    const Text name = as_scraped(in.ConsumeRandomLengthString(32));
    if (main) {
      row.main_id = id;
      row.main_name = name;
    } else {
      row.sub_id = id;
      row.sub_name = name;
    }
    if (row.is_main()) parent = row.main_id;
    parents.push_back(parent);
    table.append(std::move(row));
  }
  const Text cache = cache_text(table);
  RegexObject regex;
  const std::vector<Text> items = read_back_items(regex, cache);
  regex.destroy();

  // Where every row reads back whole, the items are the records' second
  // lines: the catalog read takes that shortcut instead of the pattern.
  bool whole = true;
  std::vector<Text> lines;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const CatalogRow& row = table.rows()[i];
    whole = whole && reads_back_whole(row);
    lines.push_back(row.is_main() ? main_item_text(row.main_id, row.main_name)
                                  : sub_item_text(row.sub_id, row.sub_name, parents[i]));
  }
  if (whole) FUZZ_CHECK(items == lines);
  for (const Text& item : items) FUZZ_CHECK(contains(cache, item));

  // An item of plain fields gives its fields back.
  for (std::size_t i = 0; i < table.size(); ++i) {
    const CatalogRow& row = table.rows()[i];
    const CatalogItem parsed = parse_catalog_item(lines[i]);
    FUZZ_CHECK(parsed.is_main == row.is_main());
    if (row.is_main() ? plain_field(row.main_id) && plain_field(row.main_name)
                      : plain_field(row.sub_id) && plain_field(row.sub_name) && plain_field(parents[i])) {
      FUZZ_CHECK(parsed.id == (row.is_main() ? row.main_id : row.sub_id));
      FUZZ_CHECK(parsed.name == (row.is_main() ? row.main_name : row.sub_name));
      FUZZ_CHECK(parsed.parent_id == (row.is_main() ? Text() : parents[i]));
    }
  }

  // The check list: read-back items and the raw text's lines.
  std::vector<Text> list = items;
  for (std::size_t from = 0; from <= raw.size();) {
    const std::size_t end = std::min(raw.find('\n', from), raw.size());
    list.push_back(raw.substr(from, end - from));
    from = end + 1;
  }
  for (const Text& item : list) check_item(item);
  CheckList check;
  check.assign(list);
  for (int i = 0; i < check.size(); ++i) {
    const Text main_id = item_main_id(check.text(i));
    std::vector<int> expected;
    if (!main_id.empty()) {
      for (int j = 0; j < check.size(); ++j)
        if (item_parent_id(check.text(j)) == main_id) expected.push_back(j);
    }
    if (!main_id.empty()) FUZZ_CHECK(check.followers(main_id) == expected);
    // Ticking an item carries its followers along, and names those that
    // changed.
    std::vector<bool> before;
    for (int j = 0; j < check.size(); ++j) before.push_back(check.ticked(j));
    check.set_ticked(i, !check.ticked(i));
    const std::vector<int> changed = check.follow_parent(i);
    std::vector<int> expected_changed;
    for (int j : expected)
      if (before[static_cast<std::size_t>(j)] != check.ticked(i) && j != i) expected_changed.push_back(j);
    if (!main_id.empty()) {
      for (int j : expected) FUZZ_CHECK(check.ticked(j) == check.ticked(i));
      FUZZ_CHECK(changed == expected_changed);
    } else {
      FUZZ_CHECK(changed.empty());
    }
  }

  // The back end's pages: an id is a piece of the page without quote or
  // line end; a directory added last is found by its name.
  for (std::size_t i = 0; i < table.size() && i < 4; ++i) {
    const CatalogRow& row = table.rows()[i];
    const Text& id = row.is_main() ? row.main_id : row.sub_id;
    const Text& name = row.is_main() ? row.main_name : row.sub_name;
    for (const Text& found : {find_directory_option_id(raw, name), find_batch_directory_id(raw, name)}) {
      FUZZ_CHECK(contains(raw, found) && found.find_first_of("\"\r\n") == Text::npos);
    }
    if (plain_markup(id) && plain_markup(name)) {
      FUZZ_CHECK(
          find_directory_option_id(raw + "<option value=\"" + id + "\" >" + name + "</option>", name) == id);
      FUZZ_CHECK(find_batch_directory_id(raw + "<input type=\"checkbox\" name=\"goodDirs\" value=\"" + id +
                                             "\" />----" + name + "<br/>",
                                         name) == id);
    }
  }
  return 0;
}
