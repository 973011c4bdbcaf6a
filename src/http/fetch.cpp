#include "http/fetch.h"

#include "common/errors.h"
#include "common/numbers.h"
#include "common/text.h"

namespace zibu {

std::string FetchPage(const std::string& address, const HttpOptions& options) {
  return HttpGet(UrlEncode(address), options);
}

std::string FetchPage(const std::string& address, const ProxySettings& proxy) {
  HttpOptions options;
  options.proxy = proxy;
  return FetchPage(address, options);
}

bool PublishedVersionIsNewer(const std::string& document, double currentVersion) {
  static constexpr std::string_view kTag = "<Program_Version>";
  size_t tag = document.find(kTag);
  if (tag == std::string::npos) return false;
  size_t start = tag + kTag.size();
  size_t end = document.find('<', start);
  if (end == std::string::npos)
    throw ConversionError("The version document has no \"<\" after \"<Program_Version>\"");
  return StrToFloat(std::string_view(document).substr(start, end - start)) > currentVersion;
}

bool NewerVersionAvailable(const std::string& address, const HttpOptions& options, double currentVersion) {
  return PublishedVersionIsNewer(FetchPage(address, options), currentVersion);
}

bool NewerVersionAvailable(const std::string& address, const ProxySettings& proxy, double currentVersion) {
  HttpOptions options;
  options.proxy = proxy;
  return NewerVersionAvailable(address, options, currentVersion);
}

}  // namespace zibu
