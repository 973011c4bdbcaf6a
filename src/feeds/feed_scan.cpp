#include "feeds/feed_scan.h"

#include <cstdio>
#include <exception>
#include <fstream>

#include "common/errors.h"
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
    WriteWholeFile(downloadFile, response.body);
    result.finalUrl = response.finalUrl;
    port.Log("Downloaded " + encoded + " ok", true);
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
  const FeedDownload download = DownloadFeed(feed.url, downloadFile, settings.http, port, settings.httpGet);
  FeedReadOptions read;
  read.documentUrl = download.finalUrl;
  read.cancelRequested = settings.cancelRequested;
  try {
    ReadFeedFile(
        downloadFile,
        [&](TItem& item) {
          if (!settings.triage) return;
          // One bad item (say, a character reference that is not a number) must not lose the
          // rest of the feed, nor the other feeds of the scan.
          try {
            settings.triage(feed, item, results);
          } catch (const std::exception& e) {
            port.Log("Skipping item " + item.Link + ": " + ErrorText(e));
          }
        },
        read);
  } catch (const std::exception& e) {
    port.Log("Error reading feed " + feed.url + ": " + ErrorText(e));
  }
  port.Log("Finished scanning feed " + feed.url);
}

}  // namespace zibu
