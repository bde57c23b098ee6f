#pragma once
// What earlier docking runs created in which back end, so that a run over
// the same ticks does not make a second copy. One line per directory that a
// run saved and whose back-end id it found (or saved, or may have saved,
// without its id being read: the id is then empty); a second line for a
// sub-directory once all of its goods pages were docked, and one after each
// page before that, so that a rerun goes on after the last page docked. Lines are appended
// and flushed one by one, so a crash loses at most the line being written,
// and a line without its "\n" is taken as torn and left out.
//
// Line: backend_root, supplier host, supplier directory id, back-end id,
// name, each percent-encoded (the file stays ASCII; tabs, line ends, "&" and
// any character of the name survive), separated by tabs; a sixth field
// "goods" marks the line of all goods docked, "pages:N" that of pages 1 to N.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace korvani {

inline constexpr std::string_view run_journal_file_name = "对接记录.txt";

struct JournalEntry {
  Text backend_root;
  Text supplier_host;
  Text supplier_dir_id;
  Text backend_id;
  Text name;
  bool goods_docked = false;  // all pages of goods docked
  int goods_pages = 0;        // pages 1 to this docked, more may follow
  bool is_directory() const { return !goods_docked && goods_pages == 0; }
};

// The line for `entry`, its "\n" included.
std::string journal_line(const JournalEntry& entry);
// One line without its "\n"; nothing when it is not a whole, well-formed line.
std::optional<JournalEntry> parse_journal_line(std::string_view line);

// The entries of one back end and one supplier.
class RunJournal {
 public:
  RunJournal() = default;
  // Reads `path` (a missing file is an empty journal); entries of any other
  // back end or supplier are left out.
  RunJournal(std::filesystem::path path, Text backend_root, Text supplier_host);

  // The directory entry written last for this supplier directory.
  const JournalEntry* find(std::string_view supplier_dir_id) const;
  // Whether the goods of this supplier directory were docked into that
  // back-end directory.
  bool goods_docked(std::string_view supplier_dir_id, std::string_view backend_id) const;
  // How many of its goods pages were docked there, when not all were.
  int goods_pages(std::string_view supplier_dir_id, std::string_view backend_id) const;

  // Writes a directory entry (or the goods line when `goods_docked`), and
  // remembers it. False when the file could not be written; the entry is
  // then remembered for this run only.
  bool add(const Text& supplier_dir_id, const Text& backend_id, const Text& name, bool goods_docked = false);
  // The line for pages 1 to `pages` of its goods docked.
  bool add_goods_pages(const Text& supplier_dir_id, const Text& backend_id, const Text& name, int pages);

  const std::filesystem::path& path() const { return path_; }

 private:
  bool add_entry(JournalEntry entry);

  std::filesystem::path path_;
  Text backend_root_;
  Text supplier_host_;
  std::vector<JournalEntry> entries_;
};

// Appends `line` to the file at `path` and forces it to disk. A file whose
// last line is torn gets a line end first, so the new line stays whole.
bool append_line_durably(const std::filesystem::path& path, std::string_view line);

}  // namespace korvani
