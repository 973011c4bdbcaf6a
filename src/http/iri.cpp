#include <idn2.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "common/codepage.h"
#include "http/url_resolve.h"

namespace zibu {
namespace {

void AppendPercentEncoded(std::string_view utf8, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
}

std::string DecodeEscapes(std::string_view uri) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  // The bytes the escapes from `at` on spell, as long as each is one ("%D1%84...").
  auto escaped = [&](size_t at, std::string& bytes, std::vector<size_t>& ends) {
    while (at + 2 < uri.size() && uri[at] == '%' && hex(uri[at + 1]) >= 0 && hex(uri[at + 2]) >= 0) {
      bytes += static_cast<char>(hex(uri[at + 1]) * 16 + hex(uri[at + 2]));
      at += 3;
      ends.push_back(at);
    }
  };
  std::string out;
  out.reserve(uri.size());
  size_t i = 0;
  while (i < uri.size()) {
    std::string bytes;
    std::vector<size_t> ends;
    if (uri[i] == '%') escaped(i, bytes, ends);
    size_t k = 0;  // bytes taken from the run
    size_t from = i;
    while (k < bytes.size()) {
      const auto* b = reinterpret_cast<const unsigned char*>(bytes.data()) + k;
      const size_t len = *b >= 0x80 ? Utf8SequenceLength(b, bytes.size() - k) : 0;
      const size_t to = ends[k + (len ? len : 1) - 1];
      if (len)
        out.append(bytes, k, len);
      else
        out.append(uri.substr(from, to - from));  // ASCII, or not a character: kept escaped
      k += len ? len : 1;
      from = to;
    }
    if (bytes.empty()) {
      out += uri[i];
      ++i;
    } else {
      i = from;
    }
  }
  return out;
}

// Where the host of an address stands: after "scheme://" or a leading "//", past any user
// information, up to the port, path, query or fragment. Empty (begin == end) when it has none.
struct HostSpan {
  size_t begin = 0;
  size_t end = 0;
};

HostSpan FindHost(std::string_view address) {
  const size_t scheme = SchemeOf(address).size();
  size_t at;
  if (scheme > 0 && address.substr(scheme, 3) == "://")
    at = scheme + 3;
  else if (address.substr(0, 2) == "//")
    at = 2;
  else
    return {};
  size_t end = address.find_first_of("/?#", at);
  if (end == std::string_view::npos) end = address.size();
  const size_t atSign = address.substr(at, end - at).rfind('@');
  if (atSign != std::string_view::npos) at += atSign + 1;
  if (at < end && address[at] == '[') return {at, at};  // an IPv6 address is ASCII
  const size_t colon = address.substr(at, end - at).find(':');
  return {at, colon == std::string_view::npos ? end : at + colon};
}

struct Idn2Free {
  void operator()(char* p) const { idn2_free(p); }
};

// The A-label form of a host ("xn--..."), the way browsers map it (Unicode's compatibility
// processing, so capitals and full-width forms become what the name is registered as); empty
// when libidn2 rejects the name.
std::string ToAscii(const std::string& host) {
  char* out = nullptr;
  if (idn2_to_ascii_8z(host.c_str(), &out, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL) != IDN2_OK) return {};
  std::unique_ptr<char, Idn2Free> owned(out);
  return out;
}

bool HasALabel(std::string_view host) {
  for (size_t i = 0; i + 4 <= host.size(); ++i) {
    if (i > 0 && host[i - 1] != '.') continue;
    const std::string_view l = host.substr(i, 4);
    if ((l[0] == 'x' || l[0] == 'X') && (l[1] == 'n' || l[1] == 'N') && l[2] == '-' && l[3] == '-') return true;
  }
  return false;
}

}  // namespace

std::string IriToUri(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 2);
  const HostSpan h = FindHost(utf8);
  const std::string_view host = utf8.substr(h.begin, h.end - h.begin);
  if (!host.empty() && !IsAscii(host)) {
    const std::string ascii = ToAscii(std::string(host));
    if (!ascii.empty()) {
      AppendPercentEncoded(utf8.substr(0, h.begin), out);
      out += ascii;
      AppendPercentEncoded(utf8.substr(h.end), out);
      return out;
    }
  }
  AppendPercentEncoded(utf8, out);  // a host libidn2 rejects goes as its bytes
  return out;
}

std::string UriToIri(std::string_view uri) {
  std::string out = DecodeEscapes(uri);
  const HostSpan h = FindHost(out);
  const std::string host = out.substr(h.begin, h.end - h.begin);
  if (host.empty() || !IsAscii(host) || !HasALabel(host)) return out;
  char* shown = nullptr;
  if (idn2_to_unicode_8z8z(host.c_str(), &shown, 0) != IDN2_OK) return out;
  std::unique_ptr<char, Idn2Free> owned(shown);
  // Only a name that goes back to the same A-labels is shown in its characters: anything else
  // would show an address that is not the one used.
  std::string lower = host;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (ToAscii(shown) != lower) return out;
  return out.replace(h.begin, h.end - h.begin, shown);
}

}  // namespace zibu
