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

bool NameIs(const std::string& name, std::string_view upper) {
  return UpperCase(name) == upper;
}

}  // namespace

HttpOptions FeedRequestOptions(const ProxySettings& proxy) {
  HttpOptions options;
  options.proxy = proxy;
  options.connectTimeoutMs = 60000;
  options.readTimeoutMs = 60000;
  return options;
}

std::string DownloadFeed(const std::string& url, const std::string& downloadFile, const HttpOptions& options,
                         UserPort& port, const HttpGetFunction& get) {
  port.Log("Downloading " + url, true);
  std::string encoded = url;
  try {
    encoded = UrlEncode(url);
    std::remove(downloadFile.c_str());
    const std::string body = get ? get(encoded, options) : HttpGet(encoded, options);
    WriteWholeFile(downloadFile, body);
    port.Log("Downloaded " + encoded + " ok", true);
    return {};
  } catch (const std::exception& e) {
    const std::string error = ErrorText(e);
    port.Log("Error downloading " + encoded + ": " + error);
    return error;
  }
}

void ReadFeedItems(TXmlParser& parser, const std::function<void(TItem&)>& onItem,
                   const bool* cancelRequested) {
  TItem item;
  while (!(cancelRequested && *cancelRequested) && parser.NextPart()) {
    const std::string name = UpperCase(parser.PartName());
    if (name == "ITEM") {
      // Every part named like a field assigns it, start and end tags included: the end tag keeps
      // the text before it, so the element's text is what stays.
      while (parser.NextPart()) {
        const std::string& m = parser.PartName();
        if (NameIs(m, "TITLE"))
          item.Title = parser.PartContent();
        else if (NameIs(m, "DESCRIPTION"))
          item.Description = parser.PartContent();
        else if (NameIs(m, "LINK"))
          item.Link = parser.PartContent();
        else if (NameIs(m, "ITEM"))
          break;
      }
      onItem(item);
    } else if (name == "ENTRY") {
      while (parser.NextPart()) {
        const std::string& m = parser.PartName();
        if (NameIs(m, "TITLE")) {
          item.Title = parser.PartContent();
        } else if (NameIs(m, "CONTENT")) {
          item.Description = parser.PartContent();
        } else if (NameIs(m, "LINK")) {
          // Attributes are held in name order; the first HREF of a link wins, the last link too.
          const TAttrList& attrs = parser.PartAttributes();
          for (int i = 0; i < attrs.Count(); ++i) {
            if (NameIs(attrs.NameAt(i), "HREF")) {
              item.Link = attrs.ValueAt(i);
              break;
            }
          }
        } else if (NameIs(m, "ENTRY")) {
          break;
        }
      }
      onItem(item);
    }
  }
}

void ReadFeedFile(const std::string& path, const std::function<void(TItem&)>& onItem,
                  const bool* cancelRequested) {
  TXmlParser parser;
  parser.LoadFile(path);  // a failed load leaves an empty document
  parser.Rewind();
  ReadFeedItems(parser, onItem, cancelRequested);
}

void ScanFeed(TFeed& feed, Items& results, const FeedScanSettings& settings, UserPort& port) {
  port.Log("Scanning feed " + feed.url);
  feed.lastRefresh = settings.clock ? settings.clock->NowMs() : NowMs();
  const std::string downloadFile = settings.tempDir + kDownloadFileName;
  DownloadFeed(feed.url, downloadFile, settings.http, port, settings.httpGet);
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
        settings.cancelRequested);
  } catch (const std::exception& e) {
    port.Log("Error reading feed " + feed.url + ": " + ErrorText(e));
  }
  port.Log("Finished scanning feed " + feed.url);
}

}  // namespace zibu
