// Downloading a feed into the download file and reading its RSS items and Atom entries.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/global_settings.h"
#include "feeds/feed.h"
#include "feeds/feed_items.h"
#include "http/http_client.h"

namespace zibu {

class Clock;
class UserPort;

// The one download file of the program, in the temporary folder.
inline constexpr const char* kDownloadFileName = "temp.xml";

// The request settings of every feed download: the proxy's server, port, user name and password,
// 60 s connect and read time-outs.
HttpOptions FeedRequestOptions(const ProxySettings& proxy);

// How a download's one GET is made: HttpGetResponse itself, or a window's way of running it on
// a worker thread while its events go on.
using HttpGetFunction = std::function<HttpResponse(const std::string& url, const HttpOptions& options)>;

// The outcome of one feed download.
struct FeedDownload {
  std::string error;         // "" on success
  bool notModified = false;  // a conditional request answered 304: no download file was written
  std::string finalUrl;      // the address the document came from, after redirects
  std::string baseUrl;       // what its relative links resolve against (DocumentBase)
  std::string charset;       // the charset the response's Content-Type named, "" when none
  std::string etag;          // the response's validators
  std::string lastModified;
};

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

// Fetches `url` (percent-encoded first) into `downloadFile`, which is deleted beforehand, so it
// does not exist after a failed download (nor after a 304 answer to a conditional request). On
// failure the error text is also logged as "Error downloading <encoded url>: <error text>".
// Never throws. The GET goes through `get` when one is given.
FeedDownload DownloadFeed(const std::string& url, const std::string& downloadFile, const HttpOptions& options,
                          UserPort& port, const HttpGetFunction& get = {});

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

// The request options of `feed`'s next download: the settings' own, made conditional when the
// last download left validators and its copy is still in the temporary folder.
HttpOptions FeedDownloadOptions(const TFeed& feed, const FeedScanSettings& settings);

// Scans one feed: logs, sets its lastRefresh, downloads it, reads its items and hands each to
// the triage hook (nothing is read after a failed download). An error while one item is triaged is logged with the item's link and skips
// that item only; nothing is thrown.
// When the last download left validators and the copy of its document is still in the
// temporary folder, the request is conditional; on "304 Not Modified" that copy becomes the
// download file and is read as if it had just arrived. A download that brings validators
// replaces the copy and the feed's validators; one without them removes both.
void ScanFeed(TFeed& feed, Items& results, const FeedScanSettings& settings, UserPort& port);

}  // namespace zibu
