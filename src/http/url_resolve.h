// Making a link found in a document absolute against the address it belongs to.
#pragma once

#include <string>
#include <string_view>

namespace zibu {

// The scheme `address` begins with ("mailto" of "mailto:ed@x"), or "" when it has none: a
// letter, then letters, digits, "+", "-" or ".", up to a ":".
std::string_view SchemeOf(std::string_view address);
inline bool HasScheme(std::string_view address) {
  return !SchemeOf(address).empty();
}

// `reference` resolved against `base` the standard way (dot segments removed, "?query",
// "#fragment" and "//host" references included). A reference that already has a scheme, an
// empty or unusable base, or a pair libcurl's parser refuses gives `reference` unchanged.
std::string ResolveReference(std::string_view base, std::string_view reference);

// An address as a document writes it, in UTF-8 with characters beyond ASCII (an IRI), as the
// address to send (the IRI-to-URI mapping of RFC 3987): a host with such characters as its
// IDNA A-labels ("xn--..."), which is what name resolution knows, and every byte of such a
// character elsewhere percent-encoded ("%D0%9F"); a host libidn2 rejects is percent-encoded
// too. An ASCII address comes back unchanged.
std::string IriToUri(std::string_view utf8);
// The way back, for showing an address: escapes that spell well-formed UTF-8 characters beyond
// ASCII become those characters (RFC 3987, 3.2), every other escape stays as it is, and a host
// of A-labels is shown in its own characters.
std::string UriToIri(std::string_view uri);

}  // namespace zibu
