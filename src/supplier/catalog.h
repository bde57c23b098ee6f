#pragma once
// The supplier's catalog as the catalog window reads it: rows scraped from the
// catalog page into a work table that only grows, the cache file of records
// built from that table, and the check-list items read back from the records.
// Everything here is plain logic over code-page texts; the window wires it in.
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "text/regex_object.h"
#include "text/text.h"

namespace korvani {

struct ProgramState;

// File names (UTF-8, as the file system takes them) in the files directory.
inline constexpr std::string_view catalog_cache_file_name = "卡盟对接缓存.txt";
inline constexpr std::string_view response_log_file_name = "返回.txt";

// The supplier page's rows: a main directory's div and heading (groups 1, 2),
// or any id="..."> link text (groups 3, 4). Code-page text.
const Text& catalog_page_pattern();
// The items in the cache text: a main record's second line, or a sub one's.
const Text& read_back_pattern();

// One row of the catalog work table.
struct CatalogRow {
  Text number;     // the match's number within the read that added the row
  Text main_id;    // empty on a sub-directory row
  Text main_name;
  Text sub_id;     // empty on a main directory row
  Text sub_name;
  // A sub-directory row below a main directory whose heading the pattern
  // could not read: its parent is unknown, not the main directory above.
  bool parent_unread = false;
  bool is_main() const { return !main_id.empty(); }
};

// The work table. Rows are appended and never removed while the window lives.
class CatalogTable {
 public:
  // Appends one row per match of the catalog page pattern in `page`; names are
  // HTML text on the page and are decoded once here. Answers the rows added.
  std::size_t append_from_page(RegexObject& regex, std::string_view page);
  void append(CatalogRow row) { rows_.push_back(std::move(row)); }

  const std::vector<CatalogRow>& rows() const { return rows_; }
  std::size_t size() const { return rows_.size(); }

 private:
  std::vector<CatalogRow> rows_;
};

// Item texts of the check list.
Text main_item_text(std::string_view id, std::string_view name);
Text sub_item_text(std::string_view id, std::string_view name, std::string_view parent_id);

// One cache record, both lines with their CR LF.
Text cache_record(const CatalogRow& row, std::string_view parent_id);

// Every record of the table in row order; a sub-directory row takes the ID of
// the nearest main directory row above it (empty when there is none).
Text cache_text(const CatalogTable& table);

// The check-list items a cache text yields: each match of the read-back
// pattern, in order.
std::vector<Text> read_back_items(RegexObject& regex, std::string_view cache);

// True when the read-back pattern yields this row's record line whole (the
// usual case), so that its item is that line; false for fields the pattern
// would cut or skip ("----" or a final "-", a line feed, "上级目录:" in a
// sub-directory's name).
bool reads_back_whole(const CatalogRow& row);

// A file path from a UTF-8 directory and name.
std::filesystem::path files_path(std::string_view dir_utf8, std::string_view name_utf8);

// The cache file, written through one open file: each record goes to its end,
// so writing a catalog costs one pass over its records.
class CacheWriter {
 public:
  // Deletes any old cache file; the first record creates the new one, so a
  // read without records leaves no file.
  explicit CacheWriter(std::filesystem::path path);
  bool append(std::string_view record);
  // Flushes and closes; true when every record reached the file.
  bool finish();
  bool ok() const { return ok_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::vector<char> buffer_;
  std::ofstream out_;
  bool ok_ = true;   // nothing has failed yet
};

// Appends the pieces to the end of a file, creating it when missing.
bool append_to_file(const std::filesystem::path& path, std::initializer_list<std::string_view> pieces);

// The log line that names a file the catalog read could not write.
Text unwritable_file_line(const std::filesystem::path& path);

// What one press of "读取卡盟目录" produced for the window.
struct CatalogReadResult {
  std::vector<Text> items;   // the check list, in order, all unticked
  Text log;                  // lines for the log pane (each ended by CR LF); empty when all went well
};

// One press of "读取卡盟目录", the window's part (emptying the check list and
// filling it) aside: rows from state.catalog_text join the table, the response
// log "返回.txt" gains the text as it stood, the cache file is rebuilt from the
// whole table, and state.catalog_text becomes the cache text, from which the
// items are read back. When the cache file cannot be written the items still
// come from the records, and the log says which file failed.
CatalogReadResult read_catalog(ProgramState& state, CatalogTable& table);

}  // namespace korvani
