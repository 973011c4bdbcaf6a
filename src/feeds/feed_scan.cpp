#include "feeds/feed_scan.h"

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

FeedDownload DownloadFeed(const std::string& url, const std::string& downloadFile, const HttpOptions& options,
                          UserPort& port, const HttpGetFunction& get) {
  port.Log("Downloading " + url, true);
  std::string encoded = url;
  FeedDownload result;
  try {
    encoded = UrlEncode(url);
    std::remove(downloadFile.c_str());
    const HttpResponse response = get ? get(encoded, options) : HttpGetResponse(encoded, options);
    result.finalUrl = response.finalUrl;
    result.baseUrl = DocumentBase(response);
    result.charset = CharsetOf(response.contentType);
    result.etag = response.etag;
    result.lastModified = response.lastModified;
    if (response.status == 304) {
      result.notModified = true;
      port.Log("Downloaded " + encoded + " ok: not modified since the last download", true);
    } else {
      WriteWholeFile(downloadFile, response.body);
      port.Log("Downloaded " + encoded + " ok", true);
    }
  } catch (const std::exception& e) {
    result.error = ErrorText(e);
    port.Log("Error downloading " + encoded + ": " + result.error);
  }
  return result;
}

void ScanFeed(TFeed& feed, Items& results, const FeedScanSettings& settings, UserPort& port) {
  port.Log("Scanning feed " + feed.url);
  feed.lastRefresh = settings.clock ? settings.clock->NowMs() : NowMs();
  const std::string downloadFile = settings.tempDir + kDownloadFileName;
  const std::string keptCopy = settings.tempDir + CachedFeedFileName(feed.url);
  const FeedDownload download =
      DownloadFeed(feed.url, downloadFile, FeedDownloadOptions(feed, settings), port, settings.httpGet);
  // Whatever an earlier download left in the folder (a download file that could not be removed,
  // say) belongs to another feed: after a failed download nothing is read.
  bool readable = download.error.empty();
  if (download.notModified) {
    try {
      WriteWholeFile(downloadFile, ReadFileBytes(keptCopy));
    } catch (const std::exception& e) {
      // The copy went between the check and now: ask unconditionally next time.
      port.Log("Error downloading " + feed.url +
               ": the feed has not changed, but I cannot read the copy kept from " + "the last download (" +
               ErrorText(e) + ")");
      feed.etag.clear();
      feed.lastModified.clear();
      readable = false;
    }
  } else if (download.error.empty()) {
    feed.etag = download.etag;
    feed.lastModified = download.lastModified;
    try {
      if (feed.etag.empty() && feed.lastModified.empty())
        std::filesystem::remove(keptCopy);
      else
        WriteWholeFile(keptCopy, ReadFileBytes(downloadFile));
    } catch (const std::exception& e) {
      port.Log("Cannot keep a copy of " + feed.url + ": " + ErrorText(e));
      feed.etag.clear();
      feed.lastModified.clear();
    }
  }
  FeedReadOptions read;
  read.documentUrl = download.baseUrl.empty() ? download.finalUrl : download.baseUrl;
  read.charset = download.charset;
  read.cancelRequested = settings.cancelRequested;
  std::string ownTitle, ownTitleUtf8;
  // A title taken before its characters were kept ("???" for Cyrillic) gets them from the feed
  // when the feed's title is still the one it was taken from.
  const bool lacksCharacters = feed.titleUtf8.empty() && feed.title.find('\xBF') != std::string::npos;
  if (feed.title.empty() || lacksCharacters) {
    read.feedTitle = &ownTitle;
    read.feedTitleUtf8 = &ownTitleUtf8;
  }
  std::vector<std::string> undefined;
  read.undefinedEntities = &undefined;
  TXmlParser::CharsetTrouble charsetTrouble;
  read.charsetTrouble = &charsetTrouble;
  FeedReadCuts cuts;
  read.cuts = &cuts;
  try {
    if (readable)
      ReadFeedFile(
        downloadFile,
        [&](TItem& item) {
          if (!settings.triage) return;
          // One bad item (say, a character reference that is not a number) must not lose the
          // rest of the feed, nor the other feeds of the scan.
          try {
            settings.triage(feed, item, results);
          } catch (const std::exception& e) {
            port.Log("Skipping item " + Excerpt(item.Link) + ": " + ErrorText(e));
          }
        },
        read);
  } catch (const std::exception& e) {
    port.Log("Error reading feed " + feed.url + ": " + ErrorText(e));
  }
  // A feed with no title yet is named by its own; a title given in an OPML file stays.
  if (!ownTitle.empty() && (feed.title.empty() || FeedTitleText(ownTitle) == feed.title)) {
    feed.title = FeedTitleText(ownTitle);
    feed.titleUtf8 = FeedTitleTextUtf8(ownTitle, ownTitleUtf8);
  }
  if (!undefined.empty()) port.Log(UndefinedEntitiesMessage(feed.url, undefined));
  if (const std::string m = CharsetTroubleMessage(feed.url, charsetTrouble); !m.empty()) port.Log(m);
  for (const std::string& m : FeedReadCutMessages(feed.url, cuts)) port.Log(m);
  port.Log("Finished scanning feed " + feed.url);
}

}  // namespace zibu
