// Feed subscriptions in OPML 2.0, the file every feed reader exchanges them in. Zibu writes its
// own fields (keyword rules, interval, active flag) as attributes in its own namespace, so that a
// file it wrote gives the same feeds back; a file from another reader gives addresses and titles.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "feeds/feed.h"

namespace zibu {

class UserPort;

inline constexpr const char* kOpmlZibuNamespace = "http://www.zibu-news.example/opml/1";

// A file that is not a well-formed OPML document. Nothing of it is taken.
class OpmlError : public Error {
 public:
  explicit OpmlError(const std::string& message) : Error(message, "EOpmlError") {}
};

// One subscription found in a file.
struct OpmlFeed {
  // Address, title (unless it only repeats the address) and folder; the other fields are Zibu's
  // own when the file has them.
  TFeed feed;
  std::string title;  // text or title of the outline, for the log
  bool zibuFields = false;
};

// Every outline with an xmlUrl, in document order, nested outlines flattened; the outlines
// without an address around one are its folder ("News", "Tech/Linux"). `bytes` are the
// file as read; text comes back in Windows-1252. Raises OpmlError with a message that says what
// is wrong, and where, for a file that is not OPML or not well formed.
std::vector<OpmlFeed> ReadOpml(std::string_view bytes);

// An OPML 2.0 document in UTF-8 with every feed, in list order, named by its title; each run of
// feeds of one folder inside an outline of that folder.
std::string WriteOpml(const std::vector<TFeed>& feeds);

struct OpmlImportSummary {
  int added = 0;
  int present = 0;   // already in the list (or earlier in the same file)
  int unusable = 0;  // not an http or https address
};

// Adds the subscriptions that are new to the end of `feeds`, with their titles and folders:
// active with the default interval, unless the file carries Zibu's fields. Logs one line per subscription with its title.
OpmlImportSummary MergeOpmlFeeds(std::vector<TFeed>& feeds, const std::vector<OpmlFeed>& found,
                                 UserPort& port);

// "Imported 3 feeds from the OPML file; 1 was already in the list." and the like.
std::string OpmlSummaryText(const OpmlImportSummary& summary);

}  // namespace zibu
