#include "app/version_check.h"

#include "common/global_settings.h"
#include "common/numbers.h"
#include "http/fetch.h"
#include "ui/dialogs.h"
#include "ui/off_thread.h"

namespace zibu {

void CheckForNewVersion(const std::string& documentAddress, const HttpOptions& options,
                        const std::string& homePage, const std::function<bool()>& closing) {
  try {
    const double current = StrToFloat(kAppVersion);
    // The request runs on a worker while this thread keeps the splash painted: a network that
    // does not answer costs its time-outs, not a frozen screen. Closing the program abandons it.
    const std::string document = RunOffThread(
        [&](const std::atomic<bool>& cancel) {
          HttpOptions cancellable = options;
          cancellable.cancel = &cancel;
          return FetchPage(documentAddress, cancellable);
        },
        closing);
    if (PublishedVersionIsNewer(document, current) && AskYesNo(kNewerVersionQuestion)) OpenUrl(homePage);
  } catch (const std::exception&) {
    // A program closing during the check has nothing more to tell about it.
    if (!(closing && closing())) ShowMessage(kUnableToCheckMessage);
  }
}

}  // namespace zibu
