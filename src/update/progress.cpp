#include "update/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korvani {

double round_half_away(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  const double scaled = std::fabs(value) * scale + 1e-12;
  double whole = std::floor(scaled);
  if (scaled - whole >= 0.5) whole += 1.0;
  const double back = whole / scale;
  return value < 0 ? -back : back;
}

Text format_number(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.13g", value);
  return buffer;
}

ProgressDisplay download_progress(std::int64_t total, std::int64_t received, std::int64_t elapsed_ms,
                                  std::int64_t received_this_run) {
  ProgressDisplay display;
  const double elapsed = static_cast<double>(elapsed_ms > 0 ? elapsed_ms : 10);
  const double speed = static_cast<double>(received_this_run) * 1000.0 / 1024.0 / elapsed;
  display.speed = format_number(round_half_away(speed, 2)) + utf8_to_ansi("KB/秒");

  display.has_total = total > 0;
  if (display.has_total) {
    // A body sent gzip-encoded arrives decoded, and may outgrow the length
    // the server announced for the encoded bytes: the bar stops at full.
    const double done = std::min(static_cast<double>(received), static_cast<double>(total));
    // Past some terabytes the product in doubles loses its last bit, and a
    // finished download would stop one step short of full; the bar is full
    // exactly when every byte is there.
    display.bar =
        received >= total
            ? kProgressBarMaximum
            : std::min(kProgressBarMaximum - 1,
                       static_cast<int>(std::trunc(done * kProgressBarMaximum / static_cast<double>(total))));
    display.percent = utf8_to_ansi("已完成：") +
                      format_number(round_half_away(done / static_cast<double>(total) * 100.0, 0)) + "%";
  }
  const double size = static_cast<double>(display.has_total ? total : received);
  display.size = format_number(round_half_away(size / 1048576.0, 2)) + "MB";
  return display;
}

Text countdown_text(int seconds) {
  return utf8_to_ansi("更新完毕，等待") + std::to_string(seconds) + utf8_to_ansi("秒自动运行新版本……");
}

}  // namespace korvani
