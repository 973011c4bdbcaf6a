// The small interfaces through which core code reaches whoever drives it: a window,
// a test playing the user, or zibu-cli.
#pragma once

#include <cstdint>
#include <string>

namespace zibu {

// What a long operation may ask of its driver.
class UserPort {
 public:
  virtual ~UserPort() = default;
  // One status-log line; verbose lines are dropped unless verbose output is on.
  virtual void Log(const std::string& message, bool verbose = false) = 0;
  // A line that quotes a feed's text: `message` as always, and `messageUtf8` the same with every
  // character the feed gave, for a log that can show them (empty when `message` is all of it).
  virtual void LogQuoting(const std::string& message, const std::string& messageUtf8, bool verbose = false) {
    (void)messageUtf8;
    Log(message, verbose);
  }
  virtual void ShowProgress(const std::string& message, int percent) = 0;
  virtual void HideProgress() = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual bool AskYesNo(const std::string& text) = 0;
  // Lets the event loop run, at most once per configured interval.
  virtual void ProcessMessagesPaced() = 0;
};

// What the single-article rating window gives back.
struct PageFoundResult {
  int rating = 0;       // -10..+10; 0 = not rated
  bool enough = false;  // "Enough for now" ticked
  bool ending = false;  // the program is ending: the window was not answered (nor, maybe, shown)
};

// A feed article put before the user for rating, with what its "Why?" needs to explain it.
struct FoundArticle {
  std::string reason;
  std::string title;  // plain text: title + " " + description is the text that was scored
  std::string description;
  std::string link;
  int relevance = 0;        // 100 for a keyword match
  std::string matchedRule;  // the keyword rule line that took it, as written; "" when none did
  bool learning = false;    // shown in a learning run, whatever it scored
  // Where its relevance stands among the recent scores, as the window shows it beside the
  // percentage ("" for none).
  std::string standing;
  // Title, description and link in UTF-8 with every character the feed gave, for showing; each
  // empty where it is the single-byte text itself.
  std::string titleUtf8;
  std::string descriptionUtf8;
  std::string linkUtf8;
};

// Shows one found article (or page line) to the user and asks for a rating; the main frame
// alerts the user first.
class PageFoundPort {
 public:
  virtual ~PageFoundPort() = default;
  virtual PageFoundResult ShowPageFound(const std::string& reason, const std::string& title,
                                        const std::string& description, const std::string& link,
                                        bool ratingPanelVisible) = 0;
  // A feed article with the rating scale. Windows add its "Why?"; anything else shows it as
  // ShowPageFound does.
  virtual PageFoundResult ShowArticle(const FoundArticle& article) {
    return ShowPageFound(article.reason, article.title, article.description, article.link, true);
  }
};

// The feed scans, for work that must not run beside one (a spider's crawl).
class ScanControl {
 public:
  virtual ~ScanControl() = default;
  // Stops the feeds timer and cancels a running scan.
  virtual void HoldScans() = 0;
  // Starts the feeds timer again.
  virtual void ReleaseScans() = 0;
};

// Time source, injectable so tests control it.
class Clock {
 public:
  virtual ~Clock() = default;
  // Local-time milliseconds since 1970-01-01 00:00.
  virtual int64_t NowMs() const = 0;
  // Milliseconds since the user's last keyboard or mouse input.
  virtual uint32_t IdleMs() const = 0;
};

// Where the user's idle time comes from: a display server, a desktop service, or the program's
// own windows. The program picks one at start-up and names it in the status log.
class IdleSource {
 public:
  virtual ~IdleSource() = default;
  // Milliseconds since the user's last keyboard or mouse input.
  virtual uint32_t IdleMs() const = 0;
  // What the status log calls it ("the X screen-saver extension", ...).
  virtual std::string Name() const = 0;
};

// A driver that ignores everything: for command-line tools and tests that do not care.
class SilentUserPort : public UserPort {
 public:
  void Log(const std::string&, bool) override {}
  void ShowProgress(const std::string&, int) override {}
  void HideProgress() override {}
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return false; }
  void ProcessMessagesPaced() override {}
};

// The real clock; idle time is unknown to the core and reported as 0 here.
class SystemClock : public Clock {
 public:
  int64_t NowMs() const override;
  uint32_t IdleMs() const override { return 0; }
};

// Local-time milliseconds since 1970-01-01 00:00 (not UTC).
int64_t NowMs();

}  // namespace zibu
