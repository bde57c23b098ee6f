#pragma once
// What the demo supplier's catalog should become in the check list, read
// straight from the shop's data file rather than from the page the tool
// scrapes.
#include <QByteArray>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "supplier/catalog.h"
#include "text/text.h"

namespace korvani::test {

// The check-list items the catalog data file promises, in page order: each
// sub-directory names the main directory above it as parent.
inline std::vector<Text> demo_catalog_items(const std::string& catalog_file) {
  std::vector<Text> items;
  std::ifstream in(std::filesystem::path(qgetenv("KORVANI_DEMO_SHOP_DATA").toStdString()) / catalog_file);
  std::string line;
  Text parent;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t bar; (bar = line.find('|', from)) != std::string::npos; from = bar + 1) {
      fields.push_back(line.substr(from, bar - from));
    }
    fields.push_back(line.substr(from));
    if (fields.size() < 3) continue;
    // The page carries names HTML-escaped and sometimes percent-coded.
    const Text name = html_unescape(percent_decode(fields[2]));
    if (fields[0] == "main") {
      parent = fields[1];
      items.push_back(main_item_text(fields[1], name));
    } else {
      items.push_back(sub_item_text(fields[1], name, parent));
    }
  }
  return items;
}

}  // namespace korvani::test
