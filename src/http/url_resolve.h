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

}  // namespace zibu
