#include "docking/docking_pages.h"

#include <string>

#include "text/regex_object.h"

namespace korvani {
namespace {

// The literals below are written in UTF-8 here and compared in the program's
// code page.
struct Words {
  Text main_id = utf8_to_ansi("主目录ID:");
  Text main_name = utf8_to_ansi("主目录名称:");
  Text sub_id = utf8_to_ansi("子目录ID:");
  Text sub_name = utf8_to_ansi("子目录名称:");
  Text parent = utf8_to_ansi("上级目录:");
  Text goods_pattern = utf8_to_ansi("<a name=\"goodmessage\" id=\"(.*?)\"|temp=\"(.*?)\">批量对接</a>");
};

const Words& words() {
  static const Words w;
  return w;
}

constexpr std::string_view kDash = "----";

// Every form in which the back end's page, after percent_decode, may show
// `before + name + after`: written as it is or HTML-escaped, and, when the
// name holds a "%", as the decoding of the whole page has changed it.
// Escapers differ on the apostrophe: many leave it as it is while escaping
// the double quote, others write it as a numeric reference.
std::vector<Text> marker_forms(std::string_view name, std::string_view before, std::string_view after) {
  std::vector<Text> forms;
  auto add = [&](Text marker) {
    for (const Text& f : forms)
      if (f == marker) return;
    forms.push_back(std::move(marker));
  };
  const Text escaped = html_escape(name);
  std::vector<Text> written_forms = {Text(name), escaped};
  if (name.find('\'') != std::string_view::npos) {
    for (std::string_view apostrophe : {"'", "&#039;", "&apos;"}) {
      written_forms.push_back(text_replace(escaped, "&#39;", apostrophe));
    }
  }
  for (const Text& written : written_forms) {
    Text marker = Text(before) + written + Text(after);
    if (marker.find('%') != Text::npos) add(percent_decode(ansi_to_utf8(marker)));
    add(std::move(marker));
  }
  return forms;
}

// The value of the attribute that `opener` begins nearest before the last
// marker naming `name`, up to its closing quote. Every marker starts with a
// quote, so the value never reaches past the marker.
//
// A quote and a "<" are never the second byte of a character in the code
// page, so plain byte searches for them land on character boundaries: the
// marker is searched from the end (the newest directory stands last), and
// the opener only within the tag that holds the marker, which keeps a lookup
// from scanning the whole page twice as the back end's list grows.
Text find_id_before(std::string_view page, std::string_view name, std::string_view before,
                    std::string_view after, std::string_view opener) {
  std::size_t best = std::string_view::npos;
  for (const Text& marker : marker_forms(name, before, after)) {
    const std::size_t at = page.rfind(marker);
    if (at != std::string_view::npos && (best == std::string_view::npos || at > best)) best = at;
  }
  if (best == std::string_view::npos) return {};
  const std::size_t tag = page.rfind('<', best);
  if (tag == std::string_view::npos) return {};
  const int open = text_find_last(page.substr(tag, best - tag), opener);
  if (open < 1) return {};
  const std::size_t start = tag + static_cast<std::size_t>(open - 1) + opener.size();
  // Between the opener and the marker lies the rest of one tag; a "<" or ">"
  // there means the opener belongs to an earlier element.
  std::string_view rest = page.substr(start, best - start);
  if (rest.find_first_of("<>") != std::string_view::npos) return {};
  Text value(rest.substr(0, rest.find('"')));
  if (value.find_first_of("\r\n") != Text::npos) return {};
  return value;
}

}  // namespace

CatalogItem parse_catalog_item(std::string_view item_text) {
  const Words& w = words();
  CatalogItem item;
  item.is_main = item_text.substr(0, w.main_id.size()) == w.main_id;
  if (item.is_main) {
    item.id = text_between(item_text, w.main_id, kDash);
    item.name = text_between(item_text, w.main_name, kDash);
  } else {
    item.id = text_between(item_text, w.sub_id, kDash);
    item.name = text_between(item_text, w.sub_name, w.parent);
    item.parent_id = text_between(item_text, w.parent, kDash);
  }
  return item;
}

Text find_directory_option_id(std::string_view page, std::string_view name) {
  return find_id_before(page, name, "\" >", "</option>", "<option value=\"");
}

bool directory_option_listed(std::string_view page, std::string_view id, std::string_view name) {
  if (id.empty() || id.find_first_of("\"<>") != std::string_view::npos) return false;
  const Text opener = "<option value=\"" + Text(id);
  for (const Text& marker : marker_forms(name, "\" >", "</option>"))
    if (page.find(opener + marker) != std::string_view::npos) return true;
  return false;
}

Text find_batch_directory_id(std::string_view page, std::string_view name) {
  return find_id_before(page, name, "\" />----", "<br/>", "value=\"");
}

GoodsPage read_goods_page(std::string_view page) {
  GoodsPage found;
  RegexObject regex;
  if (!regex.create(words().goods_pattern, page)) return found;
  const int count = regex.match_count();
  for (int i = 1; i <= count; ++i) {
    Text id = regex.submatch(i, 1);
    if (!id.empty()) {
      found.good_ids.push_back(std::move(id));
    } else if (regex.match_text(i).rfind('<', 0) != 0) {
      // Only the link sets the key: a goods entry with an empty id must not
      // wipe a key found earlier.
      found.has_key = true;
      found.key = regex.submatch(i, 2);
    }
  }
  regex.destroy();
  return found;
}

}  // namespace korvani
