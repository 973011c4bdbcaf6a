#include "spider/links.h"

#include <algorithm>

#include "common/codepage.h"
#include "common/text.h"
#include "http/url_resolve.h"

namespace zibu {

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// How far a description reaches on each side of the anchor.
constexpr size_t kContextReach = 49;

bool IsHttps(std::string_view address) {
  return UpperCase(address.substr(0, 8)) == "HTTPS://";
}

}  // namespace

std::string SpiderRequestAddress(std::string_view address) {
  const size_t scheme = address.find("://");
  if (scheme != std::string_view::npos) {
    const size_t start = scheme + 3;
    const size_t end = std::min(address.find_first_of("/?#", start), address.size());
    const std::string_view host = address.substr(start, end - start);
    const bool beyondAscii =
        std::any_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (beyondAscii && IsWellFormedUtf8(address)) return IriToUri(address);
  }
  return UrlEncode(address);
}

std::string SpiderAddressShown(std::string_view address) {
  if (IsAscii(address) || !IsWellFormedUtf8(address)) return {};
  return std::string(address);
}

bool LinkAddressSkipped(std::string_view address) {
  if (StartsWith(address, "#")) return true;
  const std::string upper = UpperCase(address);
  if (upper.find("JAVASCRIPT") != std::string::npos || upper.find("VBSCRIPT") != std::string::npos)
    return true;
  const std::string scheme = UpperCase(SchemeOf(address));
  return !scheme.empty() && scheme != "HTTP" && scheme != "HTTPS";
}

std::string AbsoluteLinkAddress(std::string_view address, std::string_view current) {
  std::string a(address);
  if (StartsWith(a, "//")) a = (IsHttps(current) ? "https:" : "http:") + a;
  if (StartsWith(a, "/")) a = SiteRoot(current) + a;
  if (UpperCase(std::string_view(a).substr(0, 7)) != "HTTP://" && !IsHttps(a))
    a = UrlParent(current) + "/" + a;
  return a;
}

std::string DescribeLink(std::string_view anchorText, std::string_view page, size_t anchorStart,
                         size_t afterAnchor) {
  return DescribeLink(anchorText, page, anchorStart, afterAnchor,
                      [](std::string_view html) { return HtmlToText(html); });
}

std::string DescribeLink(std::string_view anchorText, std::string_view page, size_t anchorStart,
                         size_t afterAnchor, const std::function<std::string(std::string_view)>& plainText) {
  // Before the anchor: the lowest blank among the positions from the "<" back over 50 places,
  // never position 0; the text runs from that blank to two places before the "<", so the
  // character right before the anchor is left out.
  std::string before;
  if (anchorStart >= 1) {
    const size_t low = std::max<size_t>(1, anchorStart >= kContextReach ? anchorStart - kContextReach : 0);
    for (size_t k = low; k <= anchorStart; ++k) {
      if (page[k] != ' ') continue;
      if (k + 1 < anchorStart) before = plainText(page.substr(k, anchorStart - 1 - k));
      break;
    }
  }
  // After the anchor: the highest blank among the 50 positions from just after "</A>", never
  // the page's last character; the text runs from just after "</A>" up to that blank.
  std::string after;
  if (page.size() >= 2 && afterAnchor <= page.size() - 2) {
    const size_t high = std::min(page.size() - 2, afterAnchor + kContextReach);
    for (size_t k = high + 1; k-- > afterAnchor;) {
      if (page[k] != ' ') continue;
      after = plainText(page.substr(afterAnchor, k - afterAnchor));
      break;
    }
  }
  std::string description = before;
  description += ' ';
  description += anchorText;
  description += ' ';
  description += after;
  return Trim(description);
}

}  // namespace zibu
