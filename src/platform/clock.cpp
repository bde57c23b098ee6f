#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace korvani::platform {

namespace {
class SystemClock final : public Clock {
 public:
  std::int64_t now_ms() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  void sleep_ms(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};
}  // namespace

Clock& system_clock() {
  static SystemClock clock;
  return clock;
}

}  // namespace korvani::platform
