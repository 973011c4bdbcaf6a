// The start-up check for a newer published version.
#pragma once

#include <functional>
#include <string>

#include "http/http_client.h"

namespace zibu {

inline constexpr const char* kNewerVersionQuestion =
    "A newer version of this program is available.  Do you want to visit the web site now so you can "
    "download the most recent version?";
inline constexpr const char* kUnableToCheckMessage =
    "Unable to check for new version.\r\n\r\nThe site may be down, or there could be a problem with your "
    "internet connection.";

// Reads the published version at `documentAddress`; when it is higher than this program's, asks
// whether to visit `homePage` and opens it on Yes. The request runs off this thread, which
// handles its events meanwhile; once `closing` answers true the request is abandoned. Any failure
// ends in the unable-to-check message (none when the program is closing); nothing is thrown.
void CheckForNewVersion(const std::string& documentAddress, const HttpOptions& options,
                        const std::string& homePage, const std::function<bool()>& closing);

}  // namespace zibu
