#include "app/version_check.h"

#include "common/global_settings.h"
#include "common/numbers.h"
#include "http/fetch.h"
#include "ui/dialogs.h"

namespace zibu {

void CheckForNewVersion(const std::string& documentAddress, const HttpOptions& options,
                        const std::string& homePage) {
  try {
    const double current = StrToFloat(kAppVersion);
    if (NewerVersionAvailable(documentAddress, options, current) && AskYesNo(kNewerVersionQuestion)) {
      OpenUrl(homePage);
    }
  } catch (const std::exception&) {
    ShowMessage(kUnableToCheckMessage);
  }
}

}  // namespace zibu
