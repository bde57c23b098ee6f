#pragma once
// Time as the logic sees it, so that tests need not wait out the real waits.
#include <cstdint>

namespace korvani::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t now_ms() = 0;     // monotonic milliseconds
  virtual void sleep_ms(int ms) = 0;
};

Clock& system_clock();

}  // namespace korvani::platform
