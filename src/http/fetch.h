// Page fetch and the published-version check, on top of HttpGet.
#pragma once

#include <string>

#include "common/global_settings.h"
#include "http/http_client.h"

namespace zibu {

// UrlEncode(address), then one GET with the standard download settings and `proxy`.
// Returns the body bytes unchanged; any failure throws (HttpError).
std::string FetchPage(const std::string& address, const ProxySettings& proxy);
// The same with every option given, so tests can use short time-outs. UrlEncode is still applied.
std::string FetchPage(const std::string& address, const HttpOptions& options);

// Fetches the version document and reads the text from just after the first "<Program_Version>"
// up to the next "<" as a number: true when it is greater than `currentVersion`. A document
// without the tag gives false; no "<" after the tag or a text that is not a number throws
// ConversionError; a failed fetch throws HttpError.
bool NewerVersionAvailable(const std::string& address, const ProxySettings& proxy, double currentVersion);
bool NewerVersionAvailable(const std::string& address, const HttpOptions& options, double currentVersion);

// The decision alone, on a document already in memory.
bool PublishedVersionIsNewer(const std::string& document, double currentVersion);

}  // namespace zibu
