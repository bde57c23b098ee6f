#pragma once
// What the progress window shows of a running download, computed apart from
// the window so that every figure can be checked on its own.
#include <cstdint>

#include "text/text.h"

namespace korvani {

// Half away from zero at `decimals` places; 1e-12 is added to the scaled
// magnitude first so that 2.675 and its kin, stored a hair below the half,
// still go up.
double round_half_away(double value, int decimals);

// At most 13 significant digits, no trailing zeros, no trailing point.
Text format_number(double value);

inline constexpr int kProgressBarMaximum = 10000;

struct ProgressDisplay {
  Text speed;            // "25KB/秒"
  bool has_total = false;
  // Only meaningful with a total: without one nothing can be divided by it,
  // and the window leaves the bar and the percentage as they stand.
  int bar = 0;           // 0..10000
  Text percent;          // "已完成：50%"
  Text size;             // "1.5MB": the total, or what arrived when there is none
};

// total: bytes announced by the server (0: none); received: bytes stored so
// far, a resume offset included; elapsed_ms: since the transfer began (0 is
// taken as 10); received_this_run: without the resume offset.
ProgressDisplay download_progress(std::int64_t total, std::int64_t received, std::int64_t elapsed_ms,
                                  std::int64_t received_this_run);

// The label of one countdown step: "更新完毕，等待3秒自动运行新版本……".
Text countdown_text(int seconds);

}  // namespace korvani
