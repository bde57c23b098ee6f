// RegexObject over random pages: the catalog page pattern, the cache
// read-back pattern, the goods page reader and the platform list with the
// system's own patterns, and, as a pattern of its own, the input's first
// line over the rest of it.
#include <cstdint>
#include <string>

#include "app/login_rule.h"
#include "docking/docking_pages.h"
#include "fuzz_support.h"
#include "supplier/catalog.h"
#include "supplier/supplier_login.h"
#include "text/regex_object.h"

namespace {

using namespace korvani;
using korvani_fuzz::contains;

// Runs one search and checks what it keeps: matches appear in the page in
// order without overlapping, groups lie within the page (within their match
// when `groups_inside` holds: the system's patterns have no look-ahead),
// and numbers out of range answer empty.
void check_search(std::string_view pattern, std::string_view page, int groups, bool groups_inside) {
  RegexObject regex;
  if (!regex.create(pattern, page)) {
    FUZZ_CHECK(regex.match_count() == 0);
    return;
  }
  const int count = regex.match_count();
  FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= page.size() + 1);
  FUZZ_CHECK(regex.match_text(0).empty() && regex.match_text(count + 1).empty());
  FUZZ_CHECK(regex.submatch(1, groups + 1).empty() && regex.submatch(count + 1, 1).empty());
  (void)regex.search_stopped_early();
  // A page with bytes the UTF-8 detour cannot keep comes back with "?" in
  // their place; only the others are compared byte for byte.
  const bool exact = korvani_fuzz::survives_codepage_round_trip(page);
  std::size_t from = 0;
  for (int i = 1; i <= count; ++i) {
    const Text match = regex.match_text(i);
    if (!exact) continue;
    const std::size_t at = page.find(match, from);
    FUZZ_CHECK(at != std::string_view::npos);
    from = at + match.size();
    for (int j = 1; j <= groups; ++j) {
      const Text group = regex.submatch(i, j);
      FUZZ_CHECK(contains(groups_inside ? std::string_view(match) : page, group));
    }
  }
  regex.destroy();
  FUZZ_CHECK(regex.match_count() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view page = korvani_fuzz::bytes_of(data, size);
  const bool exact = korvani_fuzz::survives_codepage_round_trip(page);

  check_search(catalog_page_pattern(), page, 4, true);
  check_search(read_back_pattern(), page, 5, true);

  {
    CatalogTable table;
    RegexObject regex;
    const std::size_t added = table.append_from_page(regex, page);
    FUZZ_CHECK(added == table.size());
    for (const CatalogRow& row : table.rows()) {
      // Each row is a main directory or a sub-directory, never both.
      FUZZ_CHECK(row.main_id.empty() || row.sub_id.empty());
      if (exact) FUZZ_CHECK(contains(page, row.main_id) && contains(page, row.sub_id));
    }
  }

  {
    const GoodsPage goods = read_goods_page(page);
    if (exact) {
      for (const Text& id : goods.good_ids) FUZZ_CHECK(!id.empty() && contains(page, id));
      FUZZ_CHECK(contains(page, goods.key));
    }
    if (!goods.has_key) FUZZ_CHECK(goods.key.empty());
  }

  {
    // The platform list: rows cut from the page, each host offered once,
    // and the supplier id always one of the rows'.
    RegexObject regex;
    const std::vector<PlatformRow> rows = platform_rows(regex, page);
    const std::vector<Text> hosts = offered_hosts(regex, page, rows);
    for (std::size_t i = 0; i < hosts.size(); ++i) {
      if (exact) FUZZ_CHECK(contains(page, hosts[i]));
      if (!rows.empty())
        for (std::size_t k = 0; k < i; ++k) FUZZ_CHECK(hosts[k] != hosts[i]);
    }
    for (const PlatformRow& row : rows) {
      if (exact) FUZZ_CHECK(contains(page, row.host) && contains(page, row.id));
      Text id = "unset";
      look_up_supplier_id(rows, row.host, id);
      FUZZ_CHECK(id != "unset");
    }
    (void)judge_login_answer(page);
    (void)backend_logged_in(page);
  }

  // A pattern of the input's own: the engine must refuse or bound it.
  const std::size_t line = page.find('\n');
  if (line != std::string_view::npos && line <= 64) {
    check_search(page.substr(0, line), page.substr(line + 1), 9, false);
  }
  return 0;
}
