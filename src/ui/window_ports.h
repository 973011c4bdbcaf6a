// The small interfaces through which windows reach the program and each other. The program
// entry builds the ProgramPort, the main frame implements FramePort, the feeds session
// ScanControl (common/ports.h); the frame hands them to every window it creates, so no window needs the
// frame's header, a peer window's, or anything of the program entry's.
#pragma once

#include <cstdint>
#include <string>

#include "common/global_settings.h"
#include "common/ports.h"

class QWidget;

namespace zibu {

// What every window may need of the program as a whole: its home and folders, time and the
// user's idle time, whether it is shutting down, paced event handling and the foreground.
class ProgramPort {
 public:
  virtual ~ProgramPort() = default;
  // Where zibu.conf, data/ and temp/ live; always ends with "/".
  virtual std::string HomeFolder() const = 0;
  std::string DataFolder() const { return HomeFolder() + "data/"; }
  std::string TempFolder() const { return HomeFolder() + "temp/"; }
  std::string ConfigPath() const { return HomeFolder() + "zibu.conf"; }
  // Real time, and the idle time of the idle source chosen at start-up.
  virtual const Clock& ProgramClock() const = 0;
  // Set once the main frame closes: waits and loops end promptly afterwards.
  virtual bool ShutdownRequested() const = 0;
  // Lets pending window events run, at most once per processMessagesInterval.
  virtual void ProcessMessagesPaced() = 0;
  // Restores a minimised window, raises and activates it; returns whether it is now active.
  virtual bool BringToFront(QWidget* window) = 0;
};

// What the frame offers its windows: the program, the global settings (the proxy among them),
// bringing the program to the user's attention, and the single-article window after such an
// alert.
class FramePort : public PageFoundPort {
 public:
  virtual ProgramPort& Program() = 0;
  virtual const GlobalSettings& Settings() const = 0;
  // `reason` and `title` say what the alert is about (a notification shows them); `titleUtf8` is
  // the title with every character the feed gave, where it has more than `title`.
  virtual void AlertUser(const std::string& reason, const std::string& title,
                         const std::string& titleUtf8 = std::string()) = 0;
};

}  // namespace zibu
