// Window-bound utilities shared by every window: paced message processing, idle time,
// waiting for the user to go idle, forcing a window to the front, grid row deletion, and
// the program home.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/ports.h"

class QTableWidget;
class QWidget;

namespace zibu {

// The program home: where zibu.conf, data/ and temp/ live; always ends with "/".
const std::string& ProgramFolder();
void SetProgramFolder(const std::string& folder);

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

// The program's pacer (processMessagesInterval, set by the main frame's start-up).
void SetProcessMessagesInterval(int64_t ms);
void ProcessMessagesPaced();

// Milliseconds since the user's last keyboard or mouse input: from the X screen-saver
// extension when the display offers it, otherwise since the last input event any window of
// this program received.
uint32_t IdleMs();
// Starts watching the program's own input events (the fallback of IdleMs). Safe to call again.
void InstallInputWatcher();

// Waits, in 500 ms steps that keep the windows alive under the busy cursor, until the user has
// been idle for `ms`. Ends at once when shutdown has been requested.
void WaitForIdle(int64_t ms);

// Set when the main frame closes: waits and paced loops end promptly afterwards.
bool ShutdownRequested();
void SetShutdownRequested(bool requested);

// Restores a minimised window, raises and activates it; returns whether it is now active.
bool ForceForeground(QWidget* window);

// Moves every row below `row` up by one and drops the last row. A row out of range is ignored.
void DeleteGridRow(QTableWidget* grid, int row);

// Real time and the IdleMs above.
class GuiClock : public Clock {
 public:
  int64_t NowMs() const override;
  uint32_t IdleMs() const override;
};

}  // namespace zibu
