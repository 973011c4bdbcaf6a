#include "feeds/feed_scan.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

#include "common/codepage.h"
#include "common/errors.h"
#include "common/file_io.h"
#include "common/ports.h"
#include "common/text.h"
#include "xml/xml_parser.h"

namespace zibu {

namespace {

// The whole body goes to a temporary name first, so a reader never sees half a file.
void WriteWholeFile(const std::string& path, const std::string& bytes) {
  const std::string tmp = path + ".part";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(tmp.c_str());
      throw IoError("Unable to write to " + path);
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    throw IoError("Unable to write to " + path);
  }
}

}  // namespace

std::string FeedTitleText(std::string_view title) {
  std::string text;
  try {
    text = Trim(CollapseSpaces(HtmlToText(title)));
  } catch (const ConversionError&) {
    return {};
  }
  if (text.size() > kMaxFeedTitle) text = Trim(text.substr(0, kMaxFeedTitle));
  return text;
}

std::string FeedTitleTextUtf8(std::string_view title, std::string_view utf8) {
  if (utf8.empty()) return {};
  std::string text;
  try {
    text = Trim(CollapseSpaces(HtmlToTextUtf8(utf8)));
  } catch (const ConversionError&) {
    return {};
  }
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (chars++ == kMaxFeedTitle) {
      text = Trim(text.substr(0, i));
      break;
    }
  }
  return text == Win1252ToUtf8(FeedTitleText(title)) ? std::string() : text;
}

std::string CachedFeedFileName(const std::string& url) {
  // FNV-1a: a stable name from the address alone, whatever the feed's place in the list.
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : url) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char name[32];
  std::snprintf(name, sizeof name, "feed-%016llx.xml", static_cast<unsigned long long>(hash));
  return name;
}

void DropKeptCopyUnlessUsed(const std::string& tempDir, const std::string& url,
                            const std::vector<TFeed>& feeds) {
  for (const TFeed& feed : feeds)
    if (feed.url == url) return;
  std::error_code ignored;  // a copy that cannot be removed costs some disk space, nothing more
  std::filesystem::remove(tempDir + CachedFeedFileName(url), ignored);
}

HttpOptions FeedDownloadOptions(const TFeed& feed, const FeedScanSettings& settings) {
  HttpOptions http = settings.http;
  std::error_code noCopy;  // a folder that cannot be looked into counts as no copy
  if (std::filesystem::exists(settings.tempDir + CachedFeedFileName(feed.url), noCopy)) {
    http.ifNoneMatch = feed.etag;
    http.ifModifiedSince = feed.lastModified;
  }
  return http;
}

HttpOptions FeedRequestOptions(const ProxySettings& proxy) {
  HttpOptions options;
  options.proxy = proxy;
  options.connectTimeoutMs = 60000;
  options.readTimeoutMs = 60000;
  return options;
}

namespace {
// Thrown out of the reader's item handler when the pool is abandoned: reading stops there.
struct ReadAbandoned {};

// A name of its own for each download's bytes in the temporary folder.
std::string StagedName(const std::string& folder) {
  static std::atomic<uint64_t> next{0};
  return folder + "download-" + std::to_string(::getpid()) + "-" + std::to_string(++next) + ".part";
}

// Gives `from`'s bytes the name `to` too (a second name, else a copy), replacing what stood there.
void LinkOrCopy(const std::string& from, const std::string& to) {
  const std::string tmp = to + ".part";
  std::error_code ec;
  std::filesystem::remove(tmp, ec);
  std::filesystem::create_hard_link(from, tmp, ec);
  if (ec) {
    ec.clear();
    std::filesystem::copy_file(from, tmp, std::filesystem::copy_options::overwrite_existing, ec);
  }
  if (!ec) std::filesystem::rename(tmp, to, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    throw IoError("Unable to write to " + to);
  }
}
}  // namespace

FeedDocument::~FeedDocument() {
  if (!stagedFile.empty()) std::remove(stagedFile.c_str());
}

void ReadDownloadedFeed(PooledDownload& download, const std::string& keptCopyPath,
                        const std::atomic<bool>* abandoned) {
  auto document = std::make_shared<FeedDocument>();
  download.document = document;
  if (download.error) return;
  const HttpResponse& response = download.response;
  std::string_view bytes = response.body;
  if (response.status != 304) {
    const std::string folder = keptCopyPath.substr(0, keptCopyPath.find_last_of('/') + 1);
    const std::string staged = StagedName(folder);
    try {
      WriteWholeFile(staged, response.body);
      document->stagedFile = staged;
    } catch (const std::exception&) {
      // The feed's turn writes the file itself, and says so when it cannot.
    }
  }
  if (response.status == 304) {
    try {
      document->keptBytes = ReadFileBytes(keptCopyPath);
    } catch (const std::exception& e) {
      document->keptCopyError = ErrorText(e);
      return;
    }
    bytes = document->keptBytes;
  }
  FeedReadOptions read;
  const std::string base = DocumentBase(response);
  read.documentUrl = base.empty() ? response.finalUrl : base;
  read.charset = CharsetOf(response.contentType);
  read.feedTitle = &document->ownTitle;
  read.feedTitleUtf8 = &document->ownTitleUtf8;
  read.undefinedEntities = &document->undefinedEntities;
  read.charsetTrouble = &document->charsetTrouble;
  read.cuts = &document->cuts;
  document->read = true;
  try {
    ReadFeedBytes(
        bytes,
        [&](TItem& item) {
          if (abandoned && abandoned->load()) throw ReadAbandoned{};
          document->items.push_back(std::move(item));
        },
        read);
  } catch (const ReadAbandoned&) {
    // The scan was cancelled: its turn triages nothing of what was read.
  } catch (const std::exception& e) {
    document->readError = ErrorText(e);
  } catch (...) {
    document->readError = "Unknown error";
  }
}

TFeedTurn::TFeedTurn(TFeed& feed, PooledDownload download, const FeedScanSettings& settings, UserPort& port)
    : settings_(settings), port_(port), document_(std::move(download.document)) {
  port_.Log("Scanning feed " + feed.url);
  feed.lastRefresh = settings_.clock ? settings_.clock->NowMs() : NowMs();
  if (!document_) document_ = std::make_shared<FeedDocument>();
  const std::string downloadFile = settings_.tempDir + kDownloadFileName;
  const std::string keptCopy = settings_.tempDir + CachedFeedFileName(feed.url);
  port_.Log("Downloading " + feed.url, true);
  std::string encoded = feed.url;
  std::string error;
  const HttpResponse& response = download.response;
  try {
    encoded = UrlEncode(feed.url);
    // The download file is the record of this feed's download alone: after a failed one it does
    // not exist.
    std::remove(downloadFile.c_str());
    if (download.error) std::rethrow_exception(download.error);
    if (response.status == 304) {
      port_.Log("Downloaded " + encoded + " ok: not modified since the last download", true);
    } else {
      if (!document_->stagedFile.empty())
        LinkOrCopy(document_->stagedFile, downloadFile);
      else
        WriteWholeFile(downloadFile, response.body);
      port_.Log("Downloaded " + encoded + " ok", true);
    }
  } catch (const std::exception& e) {
    error = ErrorText(e);
    port_.Log("Error downloading " + encoded + ": " + error);
  }
  // Whatever the worker read belongs to this feed only when its download went well.
  bool readable = error.empty() && document_->read;
  if (error.empty() && response.status == 304) {
    try {
      if (!document_->keptCopyError.empty()) throw IoError(document_->keptCopyError);
      LinkOrCopy(keptCopy, downloadFile);
    } catch (const std::exception& e) {
      // The copy went between the check and now: ask unconditionally next time.
      port_.Log("Error downloading " + feed.url +
                ": the feed has not changed, but I cannot read the copy kept from " + "the last download (" +
                ErrorText(e) + ")");
      feed.etag.clear();
      feed.lastModified.clear();
      readable = false;
    }
  } else if (error.empty()) {
    feed.etag = response.etag;
    feed.lastModified = response.lastModified;
    try {
      if (feed.etag.empty() && feed.lastModified.empty())
        std::filesystem::remove(keptCopy);
      else if (!document_->stagedFile.empty())
        LinkOrCopy(document_->stagedFile, keptCopy);
      else
        WriteWholeFile(keptCopy, response.body);
    } catch (const std::exception& e) {
      port_.Log("Cannot keep a copy of " + feed.url + ": " + ErrorText(e));
      feed.etag.clear();
      feed.lastModified.clear();
    }
  }
  if (!readable) document_ = std::make_shared<FeedDocument>();
  document_->keptBytes.clear();
}

bool TFeedTurn::Triage(TFeed& feed, Items& results, std::chrono::steady_clock::time_point until) {
  std::vector<TItem>& items = document_->items;
  bool first = true;
  while (next_ < items.size()) {
    if (settings_.cancelRequested && *settings_.cancelRequested) {
      next_ = items.size();
      break;
    }
    if (!first && std::chrono::steady_clock::now() >= until) return false;
    first = false;
    TItem& item = items[next_++];
    if (!settings_.triage) continue;
    // One bad item (say, a character reference that is not a number) must not lose the rest of
    // the feed, nor the other feeds of the scan.
    try {
      settings_.triage(feed, item, results);
    } catch (const std::exception& e) {
      port_.Log("Skipping item " + Excerpt(item.Link) + ": " + ErrorText(e));
    }
    item = TItem();  // triaged: its texts are no longer needed
  }
  return true;
}

void TFeedTurn::Finish(TFeed& feed) {
  const FeedDocument& document = *document_;
  if (!document.readError.empty()) port_.Log("Error reading feed " + feed.url + ": " + document.readError);
  // A feed with no title yet is named by its own; a title given in an OPML file stays. A title
  // taken before its characters were kept ("???" for Cyrillic) gets them from the feed when the
  // feed's title is still the one it was taken from.
  const bool lacksCharacters = feed.titleUtf8.empty() && feed.title.find('\xBF') != std::string::npos;
  const std::string& own = document.ownTitle;
  if ((feed.title.empty() || lacksCharacters) && !own.empty() &&
      (feed.title.empty() || FeedTitleText(own) == feed.title)) {
    feed.title = FeedTitleText(own);
    feed.titleUtf8 = FeedTitleTextUtf8(own, document.ownTitleUtf8);
  }
  if (!document.undefinedEntities.empty())
    port_.Log(UndefinedEntitiesMessage(feed.url, document.undefinedEntities));
  if (const std::string m = CharsetTroubleMessage(feed.url, document.charsetTrouble); !m.empty())
    port_.Log(m);
  for (const std::string& m : FeedReadCutMessages(feed.url, document.cuts)) port_.Log(m);
  port_.Log("Finished scanning feed " + feed.url);
}

}  // namespace zibu
