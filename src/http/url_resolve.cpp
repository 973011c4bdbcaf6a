#include "http/url_resolve.h"

#include <curl/curl.h>

#include <cctype>
#include <memory>

namespace zibu {

namespace {

struct UrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

constexpr unsigned kParseFlags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE;

}  // namespace

std::string_view SchemeOf(std::string_view address) {
  if (address.empty() || !std::isalpha(static_cast<unsigned char>(address[0]))) return {};
  for (size_t i = 1; i < address.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(address[i]);
    if (c == ':') return address.substr(0, i);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return {};
  }
  return {};
}

std::string ResolveReference(std::string_view base, std::string_view reference) {
  if (HasScheme(reference) || !HasScheme(base)) return std::string(reference);
  // libcurl drops the base's last segment and query for these two (it answers ".../#s" for "#s"
  // on ".../d;p?q"); the rule is the base without its fragment, then the reference.
  if (reference.empty() || reference.front() == '#') {
    const std::string_view whole = base.substr(0, base.find('#'));
    return std::string(whole) + std::string(reference);
  }
  std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url) return std::string(reference);
  const std::string b(base), r(reference);
  if (curl_url_set(url.get(), CURLUPART_URL, b.c_str(), kParseFlags) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_URL, r.c_str(), kParseFlags) != CURLUE_OK)
    return r;
  char* out = nullptr;
  if (curl_url_get(url.get(), CURLUPART_URL, &out, 0) != CURLUE_OK || !out) return r;
  std::string resolved(out);
  curl_free(out);
  return resolved;
}

}  // namespace zibu
