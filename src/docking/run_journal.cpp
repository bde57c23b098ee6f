#include "docking/run_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace korvani {
namespace {

constexpr std::string_view kGoodsMark = "goods";
constexpr std::string_view kPagesMark = "pages:";

// "pages:N" with N from 1 to 9999; 0 for anything else.
int pages_of(std::string_view field) {
  if (field.substr(0, kPagesMark.size()) != kPagesMark) return 0;
  field.remove_prefix(kPagesMark.size());
  if (field.empty() || field.size() > 4 || field[0] == '0') return 0;
  int n = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

bool plain(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == ':' || c == '/';
}

std::string encode(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (plain(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Strict: every byte that the writer escapes must come escaped, so that a
// line mangled by hand or by a torn write is refused rather than misread.
std::optional<Text> decode(std::string_view field) {
  Text out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto c = static_cast<unsigned char>(field[i]);
    if (c == '%') {
      if (i + 2 >= field.size()) return std::nullopt;
      const int high = hex(field[i + 1]);
      const int low = hex(field[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (plain(c)) {
      out += static_cast<char>(c);
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t tab = line.find('\t');
    parts.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
  }
  return parts;
}

}  // namespace

std::string journal_line(const JournalEntry& e) {
  std::string line = encode(e.backend_root) + '\t' + encode(e.supplier_host) + '\t' + encode(e.supplier_dir_id) +
                     '\t' + encode(e.backend_id) + '\t' + encode(e.name);
  if (e.goods_docked) {
    line += '\t' + std::string(kGoodsMark);
  } else if (e.goods_pages > 0) {
    line += '\t' + std::string(kPagesMark) + std::to_string(e.goods_pages);
  }
  return line + '\n';
}

std::optional<JournalEntry> parse_journal_line(std::string_view line) {
  const auto parts = split_tabs(line);
  if (parts.size() != 5 && !(parts.size() == 6 && (parts[5] == kGoodsMark || pages_of(parts[5]) > 0)))
    return std::nullopt;
  Text fields[5];
  for (int i = 0; i < 5; ++i) {
    auto decoded = decode(parts[static_cast<std::size_t>(i)]);
    if (!decoded) return std::nullopt;
    fields[i] = std::move(*decoded);
  }
  JournalEntry e{fields[0], fields[1], fields[2], fields[3], fields[4], false, 0};
  if (parts.size() == 6) {
    e.goods_docked = parts[5] == kGoodsMark;
    e.goods_pages = pages_of(parts[5]);
  }
  // Only a directory line may lack the back-end id (saved, id not read).
  if (e.backend_root.empty() || e.supplier_dir_id.empty() || e.name.empty() ||
      (!e.is_directory() && e.backend_id.empty()))
    return std::nullopt;
  return e;
}

RunJournal::RunJournal(std::filesystem::path path, Text backend_root, Text supplier_host)
    : path_(std::move(path)), backend_root_(std::move(backend_root)), supplier_host_(std::move(supplier_host)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::ostringstream whole;
  whole << in.rdbuf();
  const std::string text = whole.str();
  std::string_view rest = text;
  // Only lines ended by "\n" count: what follows the last one is torn.
  for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
    auto entry = parse_journal_line(rest.substr(0, end));
    if (entry && entry->backend_root == backend_root_ && entry->supplier_host == supplier_host_)
      entries_.push_back(std::move(*entry));
  }
}

const JournalEntry* RunJournal::find(std::string_view supplier_dir_id) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    if (it->is_directory() && it->supplier_dir_id == supplier_dir_id) return &*it;
  return nullptr;
}

bool RunJournal::goods_docked(std::string_view supplier_dir_id, std::string_view backend_id) const {
  for (const JournalEntry& e : entries_)
    if (e.goods_docked && e.supplier_dir_id == supplier_dir_id && e.backend_id == backend_id) return true;
  return false;
}

int RunJournal::goods_pages(std::string_view supplier_dir_id, std::string_view backend_id) const {
  int pages = 0;
  for (const JournalEntry& e : entries_)
    if (e.supplier_dir_id == supplier_dir_id && e.backend_id == backend_id) pages = std::max(pages, e.goods_pages);
  return pages;
}

bool RunJournal::add(const Text& supplier_dir_id, const Text& backend_id, const Text& name, bool goods_docked) {
  return add_entry({backend_root_, supplier_host_, supplier_dir_id, backend_id, name, goods_docked, 0});
}

bool RunJournal::add_goods_pages(const Text& supplier_dir_id, const Text& backend_id, const Text& name, int pages) {
  return add_entry({backend_root_, supplier_host_, supplier_dir_id, backend_id, name, false, pages});
}

bool RunJournal::add_entry(JournalEntry entry) {
  const bool written = !path_.empty() && append_line_durably(path_, journal_line(entry));
  entries_.push_back(std::move(entry));
  return written;
}

bool append_line_durably(const std::filesystem::path& path, std::string_view line) {
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string bytes(line);
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
    char last = '\n';
    if (::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') bytes.insert(bytes.begin(), '\n');
  }
  bool ok = true;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace korvani
