#include <chrono>
#include <ctime>

#include "common/ports.h"

namespace zibu {

int64_t NowMs() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const int64_t utc_ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  return utc_ms + static_cast<int64_t>(local.tm_gmtoff) * 1000;
}

int64_t SystemClock::NowMs() const { return zibu::NowMs(); }

}  // namespace zibu
