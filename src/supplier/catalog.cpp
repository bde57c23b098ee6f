#include "supplier/catalog.h"

#include <system_error>

#include "app/program_state.h"

namespace korvani {

namespace {

// The markers of records and items, in the code page once.
struct Markers {
  Text main_id = utf8_to_ansi("主目录ID:");
  Text main_name = utf8_to_ansi("----主目录名称:");
  Text sub_id = utf8_to_ansi("子目录ID:");
  Text sub_name = utf8_to_ansi("----子目录名称:");
  Text parent = utf8_to_ansi("上级目录:");
  Text end = "----";
};

const Markers& markers() {
  static const Markers m;
  return m;
}

void append_main_item(Text& out, std::string_view id, std::string_view name) {
  const Markers& m = markers();
  out.append(m.main_id).append(id).append(m.main_name).append(name).append(m.end);
}

void append_sub_item(Text& out, std::string_view id, std::string_view name, std::string_view parent_id) {
  const Markers& m = markers();
  out.append(m.sub_id).append(id).append(m.sub_name).append(name).append(m.parent).append(parent_id).append(m.end);
}

void append_record(Text& out, const CatalogRow& row, std::string_view parent_id) {
  out.append("[").append(row.number).append("]\r\n");
  if (row.is_main()) {
    append_main_item(out, row.main_id, row.main_name);
  } else {
    append_sub_item(out, row.sub_id, row.sub_name, parent_id);
  }
  out.append("\r\n");
}

}  // namespace

bool reads_back_whole(const CatalogRow& row) {
  // The read-back pattern ends each field at the first text that follows it
  // in a record: an ID at "----主目录名称:" or "----子目录名称:", a sub-directory's
  // name at "上级目录:", a main directory's name and a parent ID at "----",
  // which a "-" at the field's end would begin early. Its dots stop at a line
  // feed. A row free of those reads back as its whole line. A main row's ID
  // is the parent ID of the rows below it, so it is checked as one.
  const Markers& m = markers();
  auto holds = [](std::string_view field, std::string_view what) { return field.find(what) != std::string_view::npos; };
  auto one_line = [](std::string_view field) { return field.find('\n') == std::string_view::npos; };
  auto closed_by_dashes = [&](std::string_view field) {
    return !holds(field, m.end) && (field.empty() || field.back() != '-');
  };
  if (row.is_main()) {
    return one_line(row.main_id) && one_line(row.main_name) && !holds(row.main_id, m.main_name) &&
           closed_by_dashes(row.main_id) && closed_by_dashes(row.main_name);
  }
  return one_line(row.sub_id) && one_line(row.sub_name) && !holds(row.sub_id, m.sub_name) &&
         !holds(row.sub_name, m.parent);
}

constexpr std::string_view kMainDirectoryStart = "<div  name=\"parentName\" id=\"parentId_";

const Text& catalog_page_pattern() {
  static const Text pattern =
      "<div  name=\"parentName\" id=\"parentId_(.*?)\" class=\"catalog-list\">\r\n\t\t\t\t"
      "<h3><font color=\".*?\" title=\"\">(.*?)</font>|id=\"(.*?)\">([^?].*?)</a>";
  return pattern;
}

const Text& read_back_pattern() {
  static const Text pattern =
      utf8_to_ansi("主目录ID:(.*?)----主目录名称:(.*?)----|子目录ID:(.*?)----子目录名称:(.*?)上级目录:(.*?)----");
  return pattern;
}

std::size_t CatalogTable::append_from_page(RegexObject& regex, std::string_view page) {
  if (!regex.create(catalog_page_pattern(), page)) return 0;
  const int count = regex.match_count();
  rows_.reserve(rows_.size() + static_cast<std::size_t>(count));
  // Where the previous match ended. A main directory's block that the pattern
  // did not read lies between two matches; the sub-directories after it are
  // not the previous main directory's.
  std::size_t cursor = 0;
  std::size_t main_start = page.find(kMainDirectoryStart);  // the next one at or after cursor
  for (int i = 1; i <= count; ++i) {
    CatalogRow row;
    const Text whole = regex.match_text(i);
    // Matches come in page order without overlap, and the leftmost text equal
    // to a match is that match: an earlier one would have matched first.
    const std::size_t at = page.find(whole, cursor);
    if (at != std::string_view::npos) {
      row.parent_unread = main_start < at;
      cursor = at + whole.size();
      if (main_start < cursor) main_start = page.find(kMainDirectoryStart, cursor);
    }
    row.number = std::to_string(i);
    row.main_id = regex.submatch(i, 1);
    // The page writes names as HTML text ("Q币&amp;点卡"); the directory is
    // called by the decoded name everywhere after this.
    row.main_name = html_unescape(regex.submatch(i, 2));
    row.sub_id = regex.submatch(i, 3);
    row.sub_name = html_unescape(regex.submatch(i, 4));
    if (row.is_main()) row.parent_unread = false;
    rows_.push_back(std::move(row));
  }
  return static_cast<std::size_t>(count);
}

Text main_item_text(std::string_view id, std::string_view name) {
  Text out;
  append_main_item(out, id, name);
  return out;
}

Text sub_item_text(std::string_view id, std::string_view name, std::string_view parent_id) {
  Text out;
  append_sub_item(out, id, name, parent_id);
  return out;
}

Text cache_record(const CatalogRow& row, std::string_view parent_id) {
  Text out;
  append_record(out, row, parent_id);
  return out;
}

Text cache_text(const CatalogTable& table) {
  Text out;
  std::string_view parent_id;
  for (const CatalogRow& row : table.rows()) {
    if (row.is_main()) parent_id = row.main_id;
    if (row.parent_unread) parent_id = {};
    append_record(out, row, parent_id);
  }
  return out;
}

std::vector<Text> read_back_items(RegexObject& regex, std::string_view cache) {
  std::vector<Text> items;
  if (!regex.create(read_back_pattern(), cache)) return items;
  const int count = regex.match_count();
  items.reserve(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) items.push_back(regex.match_text(i));
  return items;
}

std::filesystem::path files_path(std::string_view dir_utf8, std::string_view name_utf8) {
  auto u8 = [](std::string_view s) {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(s.data()), s.size()));
  };
  if (dir_utf8.empty()) return u8(name_utf8);
  return u8(dir_utf8) / u8(name_utf8);
}

CacheWriter::CacheWriter(std::filesystem::path path) : path_(std::move(path)), buffer_(1 << 20) {
  std::error_code ec;
  std::filesystem::remove(path_, ec);
  // Records are small; a large buffer keeps them from costing a write each.
  out_.rdbuf()->pubsetbuf(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
}

bool CacheWriter::append(std::string_view record) {
  if (!ok_) return false;
  if (!out_.is_open()) {
    out_.open(path_, std::ios::binary | std::ios::trunc);
    if (!out_.is_open()) {
      ok_ = false;
      return false;
    }
  }
  out_.write(record.data(), static_cast<std::streamsize>(record.size()));
  if (!out_) ok_ = false;
  return ok_;
}

bool CacheWriter::finish() {
  if (out_.is_open()) {
    out_.close();
    if (out_.fail()) ok_ = false;
  }
  return ok_;
}

bool append_to_file(const std::filesystem::path& path, std::initializer_list<std::string_view> pieces) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  if (!out.is_open()) return false;
  for (std::string_view bytes : pieces) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

Text unwritable_file_line(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return utf8_to_ansi("无法写入文件：") +
         utf8_to_ansi(std::string_view(reinterpret_cast<const char*>(name.data()), name.size())) + "\r\n";
}

CatalogReadResult read_catalog(ProgramState& state, CatalogTable& table) {
  CatalogReadResult result;
  // A search object of the press's own, released when the press ends.
  RegexObject regex;

  CacheWriter cache(files_path(state.files_dir, catalog_cache_file_name));

  const Text& page = state.catalog_text;  // replaced only once the records are written
  table.append_from_page(regex, page);
  regex.destroy();  // the page's matches are in the table now

  const auto log_path = files_path(state.files_dir, response_log_file_name);
  if (!append_to_file(log_path, {page, "\r\n"})) result.log += unwritable_file_line(log_path);

  // The records go to the file as they are made. They are also kept: they are
  // what the file now holds, and the check list must not depend on the file
  // being writable.
  Text records;
  std::size_t records_size = 0;
  for (const CatalogRow& row : table.rows()) {
    records_size += row.number.size() + row.main_id.size() + row.main_name.size() + row.sub_id.size() +
                    row.sub_name.size() + 96;
  }
  records.reserve(records_size);
  std::vector<Text> items;
  items.reserve(table.size());
  bool whole_lines = true;
  std::string_view parent_id;
  for (const CatalogRow& row : table.rows()) {
    if (row.is_main()) parent_id = row.main_id;
    if (row.parent_unread) parent_id = {};
    const std::size_t start = records.size();
    append_record(records, row, parent_id);
    const std::string_view record = std::string_view(records).substr(start);
    cache.append(record);
    if (whole_lines && reads_back_whole(row)) {
      // The second line without its line end.
      const std::size_t line = record.find('\n') + 1;
      items.emplace_back(record.substr(line, record.size() - line - 2));
    } else {
      whole_lines = false;
    }
  }
  if (!cache.finish()) result.log += unwritable_file_line(cache.path());
  state.catalog_text = std::move(records);

  if (whole_lines) {
    result.items = std::move(items);
  } else {
    result.items = read_back_items(regex, state.catalog_text);
  }
  regex.destroy();
  return result;
}

}  // namespace korvani
