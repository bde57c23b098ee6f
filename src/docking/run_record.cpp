#include "docking/run_record.h"

#include <cstdio>

#include "supplier/catalog.h"

namespace korvani {

Text run_summary_line(const RunCounts& c) {
  return utf8_to_ansi("本次对接：新建目录" + std::to_string(c.created) + "个，跳过" + std::to_string(c.skipped) +
                      "个，未建" + std::to_string(c.failed) + "个，对接商品" + std::to_string(c.goods) + "个\r\n");
}

namespace {

std::string stamp(const LocalTime& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return buffer;
}

}  // namespace

std::string run_log_file_name(const LocalTime& started) { return "对接日志-" + stamp(started) + ".txt"; }

std::filesystem::path write_run_log(const std::string& dir, const LocalTime& started, const std::vector<Text>& lines) {
  const std::string base = "对接日志-" + stamp(started);
  // Two runs in one second must not overwrite each other's record: "x"
  // creates the file only when no file of that name exists.
  for (int n = 1; n <= 100; ++n) {
    const std::filesystem::path path =
        files_path(dir, base + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".txt");
    std::FILE* file = std::fopen(path.c_str(), "wbx");
    if (!file) {
      std::error_code ec;
      if (std::filesystem::exists(path, ec)) continue;
      return {};
    }
    bool ok = true;
    for (const Text& line : lines)
      if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) ok = false;
    if (std::fclose(file) != 0) ok = false;
    if (ok) return path;
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return {};
  }
  return {};
}

}  // namespace korvani
