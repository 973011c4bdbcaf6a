#include "ui/status_log.h"

#include <QDateTime>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>

#include "ui/qtext.h"

namespace zibu {

namespace {

// The locale's long time format names the time zone; a status line only wants the clock time.
QString LongTimeFormat() {
  QString f = QLocale::system().timeFormat(QLocale::LongFormat);
  static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
  f.replace(zone, QStringLiteral(" "));
  f = f.trimmed();
  return f.isEmpty() ? QStringLiteral("HH:mm:ss") : f;
}

}  // namespace

std::string StatusTimeStamp() {
  const QLocale locale = QLocale::system();
  const QDateTime now = QDateTime::currentDateTime();
  return FromQ(locale.toString(now.date(), QLocale::ShortFormat) + " " +
               locale.toString(now.time(), LongTimeFormat()));
}

StatusLog::StatusLog(QPlainTextEdit* memo, std::function<bool()> verboseEnabled)
    : memo_(memo), verboseEnabled_(std::move(verboseEnabled)) {
  memo_->setReadOnly(true);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // A keyboard user reads the log and goes on with Tab.
  memo_->setTabChangesFocus(true);
}

int StatusLog::LineCount() const {
  if (memo_->document()->isEmpty()) return 0;
  return memo_->document()->blockCount();
}

void StatusLog::Log(const std::string& message, bool verbose) {
  Append(message, verbose, false);
}

void StatusLog::LogUtf8(const std::string& message, bool verbose) {
  Append(message, verbose, true);
}

void StatusLog::Append(const std::string& message, bool verbose, bool utf8) {
  if (verbose && !(verboseEnabled_ && verboseEnabled_())) return;
  if (LineCount() > kMaxLines) memo_->clear();
  std::string line = StatusTimeStamp() + ": ";
  // A message may hold its own line breaks, in either convention.
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
    line += message[i];
  }
  memo_->appendPlainText(utf8 ? QString::fromStdString(line) : ToQ(line));
  memo_->verticalScrollBar()->setValue(memo_->verticalScrollBar()->maximum());
}

}  // namespace zibu
