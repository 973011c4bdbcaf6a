// The program as its windows see it (ProgramPort): built once by the program entry with the
// home folder and the idle source chosen at start-up, and handed to the frame and the windows.
// Tests build their own, so no window reads a process-wide global.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/ports.h"
#include "ui/window_ports.h"

class QObject;

namespace zibu {

// Lets pending window messages run, but at most once per interval: the first call always
// processes; later calls process only when more than the interval has passed since the last
// one that did. Long loops call it freely and re-check their own stop flags afterwards.
class MessagePacer {
 public:
  MessagePacer(const Clock& clock, std::function<void()> processMessages);
  void SetInterval(int64_t ms) { intervalMs_ = ms; }
  int64_t Interval() const { return intervalMs_; }
  // Returns whether messages were processed.
  bool Run();
  void Reset() { lastPacedProcessing_ = 0; }

 private:
  const Clock& clock_;
  std::function<void()> processMessages_;
  int64_t intervalMs_ = 60000;
  int64_t lastPacedProcessing_ = 0;
};

// The last resort: counts only input to this program's own windows, from an event filter on
// the application. Needs a running QApplication.
class AppInputIdleSource : public IdleSource {
 public:
  AppInputIdleSource();
  ~AppInputIdleSource() override;
  uint32_t IdleMs() const override;
  std::string Name() const override { return "input to Zibu's own windows"; }

 private:
  class Watcher;
  Watcher* watcher_;
};

class ProgramServices : public ProgramPort {
 public:
  // `idle` null: the program's own windows are the idle source.
  explicit ProgramServices(std::string homeFolder, std::unique_ptr<IdleSource> idle = nullptr);
  ~ProgramServices() override;

  std::string HomeFolder() const override { return home_; }
  void SetHomeFolder(const std::string& folder);
  const Clock& ProgramClock() const override { return clock_; }
  bool ShutdownRequested() const override { return shutdown_.load(); }
  void SetShutdownRequested(bool requested) { shutdown_.store(requested); }
  void ProcessMessagesPaced() override;
  void SetProcessMessagesInterval(int64_t ms) { pacer_.SetInterval(ms); }
  bool BringToFront(QWidget* window) override;

  const IdleSource& Idle() const { return *idle_; }
  void SetIdleSource(std::unique_ptr<IdleSource> idle);

 private:
  class IdleClock : public Clock {
   public:
    explicit IdleClock(const ProgramServices& p) : p_(p) {}
    int64_t NowMs() const override;
    uint32_t IdleMs() const override { return p_.idle_->IdleMs(); }

   private:
    const ProgramServices& p_;
  };

  std::string home_;
  std::unique_ptr<IdleSource> idle_;
  IdleClock clock_{*this};
  MessagePacer pacer_;
  std::atomic<bool> shutdown_{false};
};

}  // namespace zibu
