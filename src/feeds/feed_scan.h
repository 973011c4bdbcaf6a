// Downloading a feed into the download file and reading its RSS items and Atom entries.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/global_settings.h"
#include "feeds/feed.h"
#include "http/http_client.h"

namespace zibu {

class Clock;
class TXmlParser;
class UserPort;

// The one download file of the program, in the temporary folder.
inline constexpr const char* kDownloadFileName = "temp.xml";

// The request settings of every feed download: the proxy's server, port, user name and password,
// 60 s connect and read time-outs.
HttpOptions FeedRequestOptions(const ProxySettings& proxy);

// How a download's one GET is made: HttpGet itself, or a window's way of running it on a worker
// thread while its events go on.
using HttpGetFunction = std::function<std::string(const std::string& url, const HttpOptions& options)>;

// Fetches `url` (percent-encoded first) into `downloadFile`, which is deleted beforehand, so it
// does not exist after a failed download. Returns "" on success, otherwise the error text, which
// is also logged as "Error downloading <encoded url>: <error text>". Never throws. The GET goes
// through `get` when one is given.
std::string DownloadFeed(const std::string& url, const std::string& downloadFile, const HttpOptions& options,
                         UserPort& port, const HttpGetFunction& get = {});

// Walks a loaded document and calls `onItem` with the working item at the end of every RSS item
// and Atom entry. One working item serves the whole document: a field an item does not set keeps
// the previous item's value (and whatever `onItem` left in it). Stops before the next item once
// *cancelRequested is true.
void ReadFeedItems(TXmlParser& parser, const std::function<void(TItem&)>& onItem,
                   const bool* cancelRequested = nullptr);
// The same over a file; a file that cannot be read gives no items.
void ReadFeedFile(const std::string& path, const std::function<void(TItem&)>& onItem,
                  const bool* cancelRequested = nullptr);

// Decides about one item of a feed; appends a copy to `results` when it qualifies. May change
// the working item's fields.
using TriageHook = std::function<void(TFeed& feed, TItem& item, Items& results)>;

struct FeedScanSettings {
  std::string tempDir;  // folder of the download file, with a trailing "/"
  HttpOptions http;
  const bool* cancelRequested = nullptr;
  const Clock* clock = nullptr;  // for lastRefresh; the system clock when null
  TriageHook triage;             // null: items are read and dropped
  HttpGetFunction httpGet;       // null: HttpGet on the calling thread
};

// Scans one feed: logs, sets its lastRefresh, downloads it, reads its items and hands each to
// the triage hook. An error while one item is triaged is logged with the item's link and skips
// that item only; nothing is thrown.
void ScanFeed(TFeed& feed, Items& results, const FeedScanSettings& settings, UserPort& port);

}  // namespace zibu
