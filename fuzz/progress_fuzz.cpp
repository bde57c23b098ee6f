// What the download's progress window shows, for any sizes and times a
// server and a clock can hand over, and the number format behind it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "fuzz_support.h"
#include "update/progress.h"

namespace {

using namespace korvani;

// The number written in `text` from `from` on, and where it ends.
double number_in(const Text& text, std::size_t from, std::size_t* end = nullptr) {
  const char* start = text.c_str() + from;
  char* stop = nullptr;
  const double value = std::strtod(start, &stop);
  FUZZ_CHECK(stop != start);
  if (end) *end = from + static_cast<std::size_t>(stop - start);
  return value;
}

void check_format(double value) {
  const Text text = format_number(value);
  if (!std::isfinite(value)) return;
  // At most 13 significant digits, none of them a trailing zero after a
  // point.
  const std::size_t e = text.find_first_of("eE");
  const std::string mantissa = text.substr(0, e);
  int digits = 0;
  bool leading = true;
  for (char c : mantissa) {
    if (c < '0' || c > '9') continue;
    if (c != '0') leading = false;
    if (!leading) ++digits;
  }
  FUZZ_CHECK(digits <= 13);
  if (mantissa.find('.') != std::string::npos) FUZZ_CHECK(mantissa.back() != '0' && mantissa.back() != '.');
  const double back = number_in(text, 0);
  FUZZ_CHECK(std::fabs(back - value) <= std::fabs(value) * 1e-12 || std::fabs(back - value) < 1e-300);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  // Sizes as a server announces them and bytes as they arrive: never
  // negative, the part of this run within what was stored.
  const std::int64_t total = in.ConsumeIntegralInRange<std::int64_t>(0, kMax);
  const std::int64_t received = in.ConsumeIntegralInRange<std::int64_t>(0, kMax);
  const std::int64_t this_run = in.ConsumeIntegralInRange<std::int64_t>(0, received);
  const std::int64_t elapsed = in.ConsumeIntegral<std::int64_t>();
  const int decimals = in.ConsumeIntegralInRange<int>(0, 6);
  const double value = in.ConsumeFloatingPoint<double>();

  check_format(value);
  if (std::isfinite(value) && std::fabs(value) < 1e15) {
    const double rounded = round_half_away(value, decimals);
    FUZZ_CHECK(std::fabs(rounded - value) <=
               0.5 * std::pow(10.0, -decimals) * (1 + 1e-9) + std::fabs(value) * 1e-15);
  }

  const ProgressDisplay shown = download_progress(total, received, elapsed, this_run);
  FUZZ_CHECK(shown.has_total == (total > 0));
  FUZZ_CHECK(number_in(shown.speed, 0) >= 0 && number_in(shown.size, 0) >= 0);
  FUZZ_CHECK(shown.speed.find('-') == Text::npos && shown.size.find('-') == Text::npos);
  if (shown.has_total) {
    FUZZ_CHECK(shown.bar >= 0 && shown.bar <= kProgressBarMaximum);
    const std::size_t digits = shown.percent.find_first_of("0123456789");
    FUZZ_CHECK(digits != Text::npos);
    std::size_t end = 0;
    const double percent = number_in(shown.percent, digits, &end);
    FUZZ_CHECK(percent >= 0 && percent <= 100 && shown.percent.substr(end) == "%");
    if (received >= total) FUZZ_CHECK(shown.bar == kProgressBarMaximum && percent == 100);
    // More bytes never move the bar back.
    if (received < kMax)
      FUZZ_CHECK(download_progress(total, received + 1, elapsed, this_run).bar >= shown.bar);
  }
  return 0;
}
