// The feed record, the article record and the result list of one scan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zibu {

// One monitored feed.
struct TFeed {
  std::string url;                    // as typed
  bool active = true;                 // only active feeds are scanned by the scheduled scan
  std::vector<std::string> keywords;  // keyword rule lines
  int32_t refreshInterval = 300;      // seconds between two scans
  int64_t lastRefresh = 0;            // NowMs at the start of the last scan; 0 = never
  // The name the feed list shows: from an imported OPML file, else the feed's own title, taken
  // at its first scan ("" while it has none: the list shows the address).
  std::string title;
  // The same name in UTF-8 where the feed's own title holds characters Windows-1252 lacks
  // (Cyrillic, say), for showing; "" where the title shows as it is.
  std::string titleUtf8;
  // The OPML folder the feed came in; the list shows the feeds of a folder under its name.
  std::string folder;
  // Validators of the last download ("" when the server sent none). They go back with the next
  // request, so an unchanged feed answers "304 Not Modified" and its kept copy is read again.
  std::string etag;
  std::string lastModified;
};

// One article read from a feed.
struct TItem {
  std::string Title;
  std::string Description;  // RSS description or Atom content
  std::string Link;
  std::string Reason;  // why it was selected, as shown to the user
  // The keyword rule line that took it, as the user wrote it ("" when its relevance did, and in a
  // learning run, whose rules are its own), for the rating windows' "Why?".
  std::string MatchedRule;
  int32_t Relevance = 0;
  int32_t Rating = 0;  // -10..10; 0 = not rated
  // Taken for its learned relevance (not by a keyword rule), so that Relevance is a score.
  bool Scored = false;
  // Where that score stands among the recent ones, for the rating windows ("" when it is not a
  // score or there are too few to compare with); filled when the results are presented.
  std::string Standing;
  // Title, description and link as the document wrote them, in UTF-8 with the characters that
  // Windows-1252 lacks, for showing; each empty where it is its single-byte field itself (plain
  // ASCII), so DisplayUtf8 (common/codepage.h) gives what to show. Learning, keyword rules and
  // the shown-article memory never look at them. Where LinkUtf8 is set, Link is its URI form.
  std::string TitleUtf8;
  std::string DescriptionUtf8;
  std::string LinkUtf8;
  // The item's own identity (an RSS guid, an Atom id), "" when it has none; its date (a time
  // stamp, 0 when it gave none this program reads); the xml:base in force at the item, against
  // which its content's relative links resolve ("" when none was given).
  std::string Guid;
  int64_t Published = 0;
  std::string Base;
  // The shown name (UTF-8) of the feed it came from, for the windows that list results of several
  // feeds; filled when triage takes it as a result.
  std::string FeedName;
};

// The result list of one scan.
using Items = std::vector<TItem>;

}  // namespace zibu
