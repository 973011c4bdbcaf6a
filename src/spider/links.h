// Pieces of link extraction that need no crawl state: turning an anchor's address into an
// absolute one, the addresses never followed, and a link's description.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace zibu {

// What every anchor the scanner recognises starts with, compared in upper case: the tag name,
// exactly one space, href as the first attribute and a double quote.
inline constexpr std::string_view kAnchorStart = "<A HREF=\"";

// An address beginning with "#", holding "JAVASCRIPT" or "VBSCRIPT" anywhere in any letter
// case, or beginning with a scheme other than http and https ("mailto:", "ftp:", "data:", ...)
// is never followed.
bool LinkAddressSkipped(std::string_view address);

// The address of a link on the page at `current`, made absolute by three rules in order:
// "//host/path" gets "https:" on an https page, otherwise "http:"; "/path" gets
// SiteRoot(current); anything not then beginning with "HTTP://" or "HTTPS://" (any case) gets
// UrlParent(current) + "/". Dot segments are left as they are.
std::string AbsoluteLinkAddress(std::string_view address, std::string_view current);

// The address to request for a link: percent-encoded as every spider download is, except that
// an address whose host has characters beyond ASCII, written in UTF-8, goes out with the host as
// its IDNA A-labels (and those characters escaped as UTF-8), since no resolver knows the host
// otherwise.
std::string SpiderRequestAddress(std::string_view address);

// The form of an address to show beside its bytes: the address itself where it is UTF-8 with
// characters beyond ASCII (as a UTF-8 page writes its links), else "" (its bytes read as
// Windows-1252 are what shows).
std::string SpiderAddressShown(std::string_view address);

// A link's description: up to about 50 characters of page text before the anchor, the anchor
// text, and up to about 50 after it, each side reaching to the farthest blank in its window so
// it ends on a word boundary. `anchorStart` is the 0-based position of the anchor's "<" and
// `afterAnchor` the 0-based position just after its "</A>" (the page's length: no text after).
// Raises what HtmlToText raises.
std::string DescribeLink(std::string_view anchorText, std::string_view page, size_t anchorStart,
                         size_t afterAnchor);
// The same with the plain text of each side made by `plainText` (HtmlToText above), so a
// description can be made in the page's own characters from the same places.
std::string DescribeLink(std::string_view anchorText, std::string_view page, size_t anchorStart,
                         size_t afterAnchor, const std::function<std::string(std::string_view)>& plainText);

}  // namespace zibu
