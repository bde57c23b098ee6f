#include "app/files_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

namespace korvani {

namespace fs = std::filesystem;

namespace {

// The strings hold UTF-8; a plain std::string path would be read in the
// system's narrow code page on Windows.
fs::path path_of(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

}  // namespace

bool directory_writable(const std::string& dir) {
  if (dir.empty()) return false;
  std::error_code ec;
  if (!fs::is_directory(path_of(dir), ec)) return false;
  const fs::path probe = path_of(dir) / (".korvani-write-probe-" + std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id())));
  bool ok;
  {
    std::ofstream out(probe, std::ios::binary | std::ios::trunc);
    ok = out.good() && (out << 'x') && out.flush().good();
  }
  fs::remove(probe, ec);
  return ok;
}

std::string choose_files_dir(const std::string& exe_dir, const std::string& fallback_dir) {
  if (directory_writable(exe_dir)) return exe_dir;
  std::error_code ec;
  if (!fallback_dir.empty()) fs::create_directories(path_of(fallback_dir), ec);
  return fallback_dir;
}

std::string resolve_files_dir(const std::string& exe_dir, const std::string& fallback_dir) {
  const char* forced = std::getenv("KORVANI_FILES_DIR");
  if (forced && *forced) {
    std::error_code ec;
    fs::create_directories(path_of(forced), ec);
    return forced;
  }
  return choose_files_dir(exe_dir, fallback_dir);
}

}  // namespace korvani
