// The dates feeds give their articles: RFC 822 in RSS (pubDate, "Tue, 10 Jun 2003 04:00:00
// GMT"), RFC 3339 in Atom and Dublin Core ("2003-12-13T18:30:02Z"), and the many near misses of
// real feeds (no weekday, two-digit years, zone names, a missing zone, no seconds).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zibu {

// Milliseconds since 1970-01-01 00:00 UTC, or nothing when the text is no date this reads (or
// names a day that does not exist). A date without a zone is taken as UTC.
std::optional<int64_t> ParseFeedDateUtc(std::string_view text);

// The same as the program's time stamps count: local time, as NowMs gives it.
std::optional<int64_t> ParseFeedDate(std::string_view text);

}  // namespace zibu
