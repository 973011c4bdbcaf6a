#include "ui/off_thread.h"

#include <QCoreApplication>
#include <chrono>
#include <future>

namespace zibu {

std::string RunOffThread(const std::function<std::string(const std::atomic<bool>& cancel)>& work,
                         const std::function<bool()>& cancelled) {
  std::atomic<bool> cancel{false};
  std::future<std::string> result = std::async(std::launch::async, [&] { return work(cancel); });
  using namespace std::chrono_literals;
  while (result.wait_for(10ms) != std::future_status::ready) {
    // Every pending event, not the paced kind: the wait itself is what the user must not feel.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!cancel && cancelled && cancelled()) cancel = true;
  }
  return result.get();
}

}  // namespace zibu
