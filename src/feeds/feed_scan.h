// One feed's part of a scan: its download's outcome written to the download file, its items read
// from the downloaded bytes, and each handed to the triage.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/global_settings.h"
#include "feeds/download_pool.h"
#include "feeds/feed.h"
#include "feeds/feed_items.h"
#include "http/http_client.h"
#include "xml/xml_parser.h"

namespace zibu {

class Clock;
class UserPort;

// The one download file of the program, in the temporary folder.
inline constexpr const char* kDownloadFileName = "temp.xml";

// The request settings of every feed download: the proxy's server, port, user name and password,
// 60 s connect and read time-outs.
HttpOptions FeedRequestOptions(const ProxySettings& proxy);

// The name, in the temporary folder, of the copy kept of a feed's last downloaded document: read
// again when the server answers that the feed has not changed.
std::string CachedFeedFileName(const std::string& url);

// The longest feed title the list takes from a feed.
inline constexpr size_t kMaxFeedTitle = 120;
// A feed's own title as the list shows it: plain text on one line, blanks collapsed and trimmed,
// cut to kMaxFeedTitle; empty when it holds a numeric reference that is not a number.
std::string FeedTitleText(std::string_view title);
// The same title to show, from its UTF-8 form (`utf8`, "" where it is `title` itself): cut to
// kMaxFeedTitle characters; "" where it shows as FeedTitleText(title) does.
std::string FeedTitleTextUtf8(std::string_view title, std::string_view utf8);
// Removes the copy kept for `url` from `tempDir` unless a feed of `feeds` still has that address:
// a deleted feed's copy would otherwise stay in the folder for good. Never throws.
void DropKeptCopyUnlessUsed(const std::string& tempDir, const std::string& url,
                            const std::vector<TFeed>& feeds);

// Decides about one item of a feed; appends a copy to `results` when it qualifies. May change
// the working item's fields.
using TriageHook = std::function<void(TFeed& feed, TItem& item, Items& results)>;

struct FeedScanSettings {
  std::string tempDir;  // folder of the download file, with a trailing "/"
  HttpOptions http;
  const bool* cancelRequested = nullptr;
  const Clock* clock = nullptr;  // for lastRefresh; the system clock when null
  TriageHook triage;             // null: items are read and dropped
};

// The request options of `feed`'s next download: the settings' own, made conditional when the
// last download left validators and its copy is still in the temporary folder.
HttpOptions FeedDownloadOptions(const TFeed& feed, const FeedScanSettings& settings);

// What the item reader made of a downloaded feed document. It depends on nothing but the bytes
// and the response, so the download's worker builds it.
struct FeedDocument {
  // A "304 Not Modified" answer: the kept copy, read in its place; or why it could not be read.
  std::string keptBytes;
  std::string keptCopyError;
  bool read = false;  // the reader ran (not after a failed download, nor without a copy)
  std::vector<TItem> items;
  std::string ownTitle, ownTitleUtf8;  // the feed's own title, as written, "" when it has none
  std::vector<std::string> undefinedEntities;
  FeedReadCuts cuts;  // what the reader's bounds left out
  TXmlParser::CharsetTrouble charsetTrouble;
  std::string readError;  // the reader stopped on an error after the items it had read
  // The downloaded bytes written on the worker under a name of their own beside the download
  // file ("" when they could not be): the feed's turn only gives them their names, so a large
  // document is never written on the driver's thread. Removed with the document when unused.
  std::string stagedFile;
  ~FeedDocument();
};

// On the download's worker, after the GET: reads the items of the document the response brought
// (of the copy kept in `keptCopyPath` when the server answered that nothing changed) into
// download.document. Stops early when `abandoned` turns true. Never throws.
void ReadDownloadedFeed(PooledDownload& download, const std::string& keptCopyPath,
                        const std::atomic<bool>* abandoned = nullptr);

// One feed's turn in a scan, on the driver's thread, in the order of a scan that downloads one
// feed at a time: logs "Scanning feed", sets its lastRefresh, takes the download's outcome
// (the log lines of the download, the download file, the kept copy and the validators), hands
// the items read on the worker to the triage hook, and logs the closing lines.
// When the last download left validators and the copy of its document is still in the
// temporary folder, the request was conditional; on "304 Not Modified" that copy becomes the
// download file and its items are those read. A download that brings validators replaces the
// copy and the feed's validators; one without them removes both. Nothing is read after a failed
// download, whatever the folder holds.
// The turn keeps no reference to the feed between its calls (the list may grow meanwhile): each
// call is given the same feed again.
class TFeedTurn {
 public:
  TFeedTurn(TFeed& feed, PooledDownload download, const FeedScanSettings& settings, UserPort& port);
  // Triages items in list order until every one is triaged, the cancel flag is seen (before an
  // item), or `until` has passed (after at least one item); true when no item is left. An error
  // while one item is triaged is logged with the item's link and skips that item only.
  bool Triage(TFeed& feed, Items& results, std::chrono::steady_clock::time_point until);
  // The closing lines: a read error, the feed's own title, undefined entities, an unreadable
  // encoding, "Finished scanning feed".
  void Finish(TFeed& feed);

 private:
  FeedScanSettings settings_;
  UserPort& port_;
  std::shared_ptr<FeedDocument> document_;
  size_t next_ = 0;
};

}  // namespace zibu
