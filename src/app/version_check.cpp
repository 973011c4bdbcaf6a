#include "app/version_check.h"

#include "common/global_settings.h"
#include "common/numbers.h"
#include "http/fetch.h"
#include "ui/dialogs.h"

namespace zibu {

namespace {
// How often a request out is checked against the program's closing: short against the time a
// user waits for a closed window to go, long against the cost of asking.
constexpr int kClosingWatchMs = 20;
}  // namespace

VersionCheck::VersionCheck() {
  closingWatch_.setInterval(kClosingWatchMs);
  QObject::connect(&closingWatch_, &QTimer::timeout, &task_, [this] {
    if (closing_ && closing_()) Abandon();
  });
}

VersionCheck::~VersionCheck() = default;

bool VersionCheck::Start(const std::string& documentAddress, const HttpOptions& options, std::string homePage,
                         std::function<bool()> closing, std::function<void()> finished) {
  if (task_.Running()) return false;
  homePage_ = std::move(homePage);
  closing_ = std::move(closing);
  finished_ = std::move(finished);
  const bool started = task_.Start(
      [documentAddress, options](const std::atomic<bool>& cancel) {
        HttpOptions cancellable = options;
        cancellable.cancel = &cancel;
        return FetchPage(documentAddress, cancellable);
      },
      [this](std::string document, std::exception_ptr error) { Done(document, error); });
  if (started) closingWatch_.start();
  return started;
}

void VersionCheck::Abandon() {
  closingWatch_.stop();
  task_.Cancel();
}

void VersionCheck::Done(const std::string& document, std::exception_ptr error) {
  closingWatch_.stop();
  const bool closing = closing_ && closing_();
  try {
    if (error) std::rethrow_exception(error);
    // A program closing has no one left to ask.
    if (!closing && PublishedVersionIsNewer(document, StrToFloat(kAppVersion)) &&
        AskYesNo(kNewerVersionQuestion))
      OpenUrl(homePage_);
  } catch (...) {
    // A program closing during the check has nothing more to tell about it.
    if (!closing) ShowMessage(kUnableToCheckMessage);
  }
  // `finished` may destroy this object: nothing here runs after it.
  std::function<void()> finished = std::move(finished_);
  if (finished) finished();
}

}  // namespace zibu
