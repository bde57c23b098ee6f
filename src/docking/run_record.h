#pragma once
// The record a docking run leaves: a summary line for the log, and the
// whole log of the run in a dated file beside the catalog cache.
#include <filesystem>
#include <string>
#include <vector>

#include "supplier/supplier_login.h"
#include "text/text.h"

namespace korvani {

struct RunCounts {
  int created = 0;   // directories saved
  int skipped = 0;   // directories an earlier run made and the back end still holds
  int failed = 0;    // directories not saved, for whatever reason
  int goods = 0;     // goods ids sent in batch saves
};

// "本次对接：新建目录N个，跳过N个，未建N个，对接商品N个\r\n", in the code page.
Text run_summary_line(const RunCounts& counts);

// "对接日志-YYYYMMDD-HHMMSS.txt" (UTF-8), for a run started at `started`.
std::string run_log_file_name(const LocalTime& started);

// Writes `lines` (code page, as logged) to a new file named for `started` in
// `dir` (UTF-8). A file of that name that is there already is kept: the new
// one gets "-2", "-3" … before ".txt". Answers the path written, or an empty
// path when no file could be written.
std::filesystem::path write_run_log(const std::string& dir, const LocalTime& started, const std::vector<Text>& lines);

}  // namespace korvani
