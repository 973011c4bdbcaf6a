// The status log rule shared by every window with a "Status" memo.
#pragma once

#include <functional>
#include <string>

class QPlainTextEdit;

namespace zibu {

class StatusLog {
 public:
  // Makes the memo read-only with a vertical scroll bar. `verboseEnabled` tells whether lines
  // marked verbose are written (the verboseOutput setting); empty means never.
  StatusLog(QPlainTextEdit* memo, std::function<bool()> verboseEnabled);

  // Appends "<short date> <long time>: <message>"; the memo is emptied first once it holds
  // more than kMaxLines lines, and scrolls to show the new line.
  void Log(const std::string& message, bool verbose = false);
  // The same for a message in UTF-8.
  void LogUtf8(const std::string& message, bool verbose = false);

  // Lines held by the memo (0 when empty).
  int LineCount() const;
  QPlainTextEdit* Memo() const { return memo_; }

  static constexpr int kMaxLines = 10000;

 private:
  void Append(const std::string& message, bool verbose, bool utf8);
  QPlainTextEdit* memo_;
  std::function<bool()> verboseEnabled_;
};

// The date and time prefix of a status line, in the user's short date and long time format.
std::string StatusTimeStamp();

}  // namespace zibu
