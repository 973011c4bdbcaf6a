#include "http/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "http/url_resolve.h"

namespace zibu {
namespace {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

using Clock = std::chrono::steady_clock;

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
  void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// What the callbacks share with the transfer loop.
struct Transfer {
  CURL* easy = nullptr;
  std::string body;
  size_t maxBody = 0;
  std::string statusLine;  // of the latest response (redirects and proxy replies included)
  bool readArmed = false;  // a connection is up and we wait for the response
  Clock::time_point lastActivity;
  bool bodyTooLarge = false;
  long errorStatus = 0;  // final status outside 2xx, noticed when its body began
  std::string etag;      // validators of the latest response
  std::string lastModified;
  std::string contentType;  // of the latest response
  std::string contentLocation;
};

// A header line's value when the line is "<name>: value", without the surrounding blanks.
std::optional<std::string> HeaderValue(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return std::nullopt;
  for (size_t i = 0; i < name.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return std::nullopt;
  std::string_view v = line.substr(name.size() + 1);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r' || v.back() == '\n'))
    v.remove_suffix(1);
  return std::string(v);
}

// A validator worth keeping: it goes back into a request header and into the settings file, so
// one that is huge or holds control bytes is dropped (the next request is then unconditional).
std::string UsableValidator(std::string value) {
  if (value.size() > 1024) return {};
  for (unsigned char c : value)
    if (c < 0x20 || c == 0x7F) return {};
  return value;
}

// libcurl's progress callback: a non-zero answer abandons the transfer.
int OnCancelCheck(void* clientp, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(clientp)->load() ? 1 : 0;
}

// A connection is up and the request is about to go out: from now on the read time-out applies.
int OnPrereq(void* clientp, char*, char*, int, int) {
  auto* t = static_cast<Transfer*>(clientp);
  t->readArmed = true;
  t->lastActivity = Clock::now();
  return CURL_PREREQFUNC_OK;
}

size_t OnHeader(char* data, size_t size, size_t count, void* userp) {
  auto* t = static_cast<Transfer*>(userp);
  size_t n = size * count;
  t->lastActivity = Clock::now();
  const std::string_view line(data, n);
  if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
    std::string status(line);
    while (!status.empty() && (status.back() == '\r' || status.back() == '\n')) status.pop_back();
    t->statusLine = Excerpt(status);
    // A new response (after a redirect or an interim one): its own headers count.
    t->etag.clear();
    t->lastModified.clear();
    t->contentType.clear();
    t->contentLocation.clear();
  } else if (auto type = HeaderValue(line, "content-type")) {
    t->contentType = UsableValidator(*type);
  } else if (auto location = HeaderValue(line, "content-location")) {
    t->contentLocation = UsableValidator(*location);
  } else if (auto etag = HeaderValue(line, "etag")) {
    t->etag = UsableValidator(*etag);
  } else if (auto modified = HeaderValue(line, "last-modified")) {
    t->lastModified = UsableValidator(*modified);
  }
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* userp) {
  auto* t = static_cast<Transfer*>(userp);
  size_t n = size * count;
  t->lastActivity = Clock::now();
  if (t->body.empty()) {
    // Bodies of redirects that are followed never get here, so this is the final response.
    long code = 0;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
    if (code < 200 || code > 299) {
      t->errorStatus = code;
      return CURL_WRITEFUNC_ERROR;  // an error page is not worth reading
    }
  }
  if (n > t->maxBody - t->body.size()) {
    t->bodyTooLarge = true;
    return CURL_WRITEFUNC_ERROR;
  }
  t->body.append(data, n);
  return n;
}

std::string SizeText(size_t bytes) {
  if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
  return std::to_string(bytes) + " bytes";
}

// "host:port" of a URL, for messages.
std::string HostAndPort(const std::string& url) {
  std::string result = url;
  CURLU* u = curl_url();
  if (!u) return result;
  if (curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_GUESS_SCHEME) ==
      CURLUE_OK) {
    char* host = nullptr;
    char* port = nullptr;
    if (curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
      result = host;
      if (curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
        result += std::string(":") + port;
    }
    curl_free(host);
    curl_free(port);
  }
  curl_url_cleanup(u);
  return result;
}

std::string HostOf(const std::string& url) {
  std::string hp = HostAndPort(url);
  if (!hp.empty() && hp.front() == '[') return hp.substr(1, hp.find(']') - 1);
  size_t colon = hp.rfind(':');
  return colon == std::string::npos ? hp : hp.substr(0, colon);
}

// Names under ".invalid" never resolve (RFC 6761); answer at once instead of asking a DNS
// server that may not be reachable.
bool IsReservedInvalidName(std::string host) {
  while (!host.empty() && host.back() == '.') host.pop_back();
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
  return host == "invalid" || (host.size() > 8 && host.compare(host.size() - 8, 8, ".invalid") == 0);
}

std::string ProxyAddress(const ProxySettings& proxy) {
  return proxy.port > 0 ? proxy.server + ":" + std::to_string(proxy.port) : proxy.server;
}

[[noreturn]] void ThrowStatus(const Transfer& t, long code, const std::string& proxyNote) {
  std::string line = t.statusLine.empty() ? "HTTP status " + std::to_string(code) : t.statusLine;
  throw HttpError(line + proxyNote, kHttpErrorKind, static_cast<int>(code));
}

// The address being fetched when something went wrong: after a redirect, the redirect target.
std::string CurrentUrl(const Transfer& t, const std::string& requested) {
  char* effective = nullptr;
  if (curl_easy_getinfo(t.easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective && *effective)
    return effective;
  return requested;
}

[[noreturn]] void ThrowCurlError(CURLcode rc, const char* errbuf, const std::string& requested,
                                 const HttpOptions& options, const Transfer& t) {
  const std::string url = CurrentUrl(t, requested);
  const bool viaProxy = !options.proxy.server.empty();
  std::string detail = errbuf[0] ? errbuf : curl_easy_strerror(rc);
  long osErrno = 0;
  curl_easy_getinfo(t.easy, CURLINFO_OS_ERRNO, &osErrno);
  std::string reason = osErrno ? std::strerror(static_cast<int>(osErrno)) : detail;
  std::string target = Excerpt(HostAndPort(url));
  long connectCode = 0;
  curl_easy_getinfo(t.easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
  if (viaProxy && connectCode >= 300) {
    // The proxy turned down the tunnel (CONNECT) for an https address.
    std::string note;
    if (connectCode == 407 || connectCode == 401)
      note = options.proxy.username.empty() ? ": the proxy wants a user name and password"
                                            : ": the proxy did not accept the user name and password";
    else
      note = ": the proxy refused to open a tunnel to " + target;
    ThrowStatus(t, connectCode, note);
  }
  switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
      throw HttpError("Could not resolve host name '" + Excerpt(HostOf(url)) + "'", kHostNotFoundKind);
    case CURLE_COULDNT_RESOLVE_PROXY:
      throw HttpError("Could not resolve proxy host name '" + Excerpt(options.proxy.server) + "'",
                      kHostNotFoundKind);
    case CURLE_COULDNT_CONNECT: {
      if (viaProxy)
        throw HttpError("Could not connect to proxy " + ProxyAddress(options.proxy) + ": " + reason,
                        kSocketErrorKind);
      throw HttpError("Could not connect to " + target + ": " + reason, kSocketErrorKind);
    }
    case CURLE_OPERATION_TIMEDOUT:
      // Only the connect time-out is left to libcurl; the read time-out is ours.
      throw HttpError("Connection to " + (viaProxy ? "proxy " + ProxyAddress(options.proxy) : target) +
                          " timed out after " + std::to_string(options.connectTimeoutMs) + " ms",
                      kTimeoutKind);
    case CURLE_FILESIZE_EXCEEDED:
      throw HttpError("The response is larger than " + SizeText(options.maxBodyBytes) + "; I did not read it",
                      kBodyTooLargeKind);
    case CURLE_TOO_MANY_REDIRECTS:
      throw HttpError("Too many redirects (more than " + std::to_string(options.maxRedirects) + ")",
                      kHttpErrorKind);
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      throw HttpError("Not an address I can download: '" + Excerpt(url) + "' (" + detail + ")",
                      kHttpErrorKind);
    case CURLE_BAD_CONTENT_ENCODING:
      throw HttpError("The compressed response from " + target + " could not be decoded: " + detail,
                      kSocketErrorKind);
    case CURLE_GOT_NOTHING:
      throw HttpError(target + " closed the connection without answering", kSocketErrorKind);
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      throw HttpError("Connection to " + target + " broken: " + detail, kSocketErrorKind);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE: {
      // Which authorities were asked is what the user needs to put this right.
      const TrustedAuthorities trust = TrustedAuthoritiesFor(options);
      std::string note = "; I checked it against the authorities in " + DescribeTrustedAuthorities(trust);
      if (!trust.bundleFromEnvironment && !trust.directoryFromEnvironment && trust.extraFile.empty())
        note += " (caFile in zibu.conf, or SSL_CERT_FILE, can name another authority's file)";
      throw HttpError("Secure connection to " + target + " failed: " + detail + note, kSocketErrorKind);
    }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
      throw HttpError("Secure connection to " + target + " failed: " + detail, kSocketErrorKind);
    default:
      throw HttpError(detail, kHttpErrorKind);
  }
}

// The bundle and directory libcurl was built to trust, asked once.
struct BuiltInStore {
  std::string bundleFile;
  std::string directory;
};
const BuiltInStore& SystemStore() {
  static const BuiltInStore store = [] {
    BuiltInStore s;
    if (CURL* h = curl_easy_init()) {
      char* text = nullptr;
      if (curl_easy_getinfo(h, CURLINFO_CAINFO, &text) == CURLE_OK && text) s.bundleFile = text;
      text = nullptr;
      if (curl_easy_getinfo(h, CURLINFO_CAPATH, &text) == CURLE_OK && text) s.directory = text;
      curl_easy_cleanup(h);
    }
    return s;
  }();
  return store;
}

// An environment variable that is set to something; an empty one counts as not set.
std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

// Authority files are small; anything near this is not one.
constexpr long kMaxCertificateFileBytes = 16L * 1024 * 1024;

// The certificates of a PEM file, or why they cannot be used.
std::optional<std::string> ReadCertificates(const std::string& file, std::string& problem) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!f) {
    problem = std::strerror(errno);
    return std::nullopt;
  }
  std::string bytes;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) {
    bytes.append(buffer, n);
    if (bytes.size() > static_cast<size_t>(kMaxCertificateFileBytes)) {
      problem = "it is larger than 16 MiB, so it is no certificate file";
      return std::nullopt;
    }
  }
  if (std::ferror(f.get())) {
    problem = std::strerror(errno);
    return std::nullopt;
  }
  if (bytes.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    problem = "it holds no certificate in PEM form (-----BEGIN CERTIFICATE-----)";
    return std::nullopt;
  }
  return bytes;
}

bool IsSecureAddress(const std::string& url) {
  return url.size() >= 8 && std::equal(url.begin(), url.begin() + 8, "https://", [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

bool Conditional(const HttpOptions& options) {
  return !options.ifNoneMatch.empty() || !options.ifModifiedSince.empty();
}

}  // namespace

TrustedAuthorities TrustedAuthoritiesFor(const HttpOptions& options) {
  InitCurlOnce();
  TrustedAuthorities trust;
  if (auto file = Environment("SSL_CERT_FILE")) {
    trust.bundleFile = *file;
    trust.bundleFromEnvironment = true;
  } else {
    trust.bundleFile = SystemStore().bundleFile;
  }
  if (auto dir = Environment("SSL_CERT_DIR")) {
    trust.directory = *dir;
    trust.directoryFromEnvironment = true;
  } else {
    trust.directory = SystemStore().directory;
  }
  trust.extraFile = options.extraCaFile;
  return trust;
}

std::string DescribeTrustedAuthorities(const TrustedAuthorities& trust) {
  constexpr size_t kPathLimit = 200;
  std::vector<std::string> parts;
  if (!trust.bundleFile.empty())
    parts.push_back(Excerpt(trust.bundleFile, kPathLimit) +
                    (trust.bundleFromEnvironment ? " (SSL_CERT_FILE)" : " (the system's bundle)"));
  if (!trust.directory.empty())
    parts.push_back(Excerpt(trust.directory, kPathLimit) +
                    (trust.directoryFromEnvironment ? " (SSL_CERT_DIR)" : " (the system's directory)"));
  if (!trust.extraFile.empty()) parts.push_back(Excerpt(trust.extraFile, kPathLimit) + " (caFile)");
  if (parts.empty()) return "the TLS library's defaults";
  std::string text = parts.front();
  for (size_t i = 1; i < parts.size(); ++i) text += (i + 1 == parts.size() ? " and " : ", ") + parts[i];
  return text;
}

int TotalTimeoutMs(const HttpOptions& options) {
  if (options.totalTimeoutMs > 0) return options.totalTimeoutMs;
  const int64_t sum = int64_t{std::max(1, options.connectTimeoutMs)} + std::max(1, options.readTimeoutMs);
  return static_cast<int>(std::min<int64_t>(sum, std::numeric_limits<int>::max()));
}

std::string HttpGet(const std::string& url, const HttpOptions& options) {
  return HttpGetResponse(url, options).body;
}

HttpResponse HttpGetResponse(const std::string& url, const HttpOptions& options) {
  InitCurlOnce();
  if (IsReservedInvalidName(HostOf(url)))
    throw HttpError("Could not resolve host name '" + Excerpt(HostOf(url)) + "'", kHostNotFoundKind);
  if (!options.proxy.server.empty() && IsReservedInvalidName(options.proxy.server))
    throw HttpError("Could not resolve proxy host name '" + Excerpt(options.proxy.server) + "'",
                    kHostNotFoundKind);

  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!easy || !multi) throw HttpError("Cannot create an HTTP client", kHttpErrorKind);
  CURL* h = easy.get();

  Transfer t;
  t.easy = h;
  t.maxBody = options.maxBodyBytes;
  char errbuf[CURL_ERROR_SIZE] = {};

  std::vector<std::string> lines = {"User-Agent: Mozilla/4.0", "Connection: Keep-Alive",
                                    "Proxy-Connection: Keep-Alive", "Cache-Control: no-cache"};
  if (!options.ifNoneMatch.empty()) lines.push_back("If-None-Match: " + options.ifNoneMatch);
  if (!options.ifModifiedSince.empty()) lines.push_back("If-Modified-Since: " + options.ifModifiedSince);
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  for (const std::string& line : lines) {
    curl_slist* next = curl_slist_append(headers.get(), line.c_str());
    if (!next) throw HttpError("Out of memory for request headers", kHttpErrorKind);
    headers.release();
    headers.reset(next);
  }

  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(options.maxRedirects));
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // No cookie engine: nothing is stored from Set-Cookie and no Cookie header is sent.
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(1, options.connectTimeoutMs)));
  // The size the server announces; the limit on the decoded body is kept in OnBody.
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBodyBytes));
  // "": every encoding this libcurl can decode (gzip, deflate, br, ...); the body arrives decoded.
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  // libcurl trusts its built-in bundle and directory whatever the environment says; OpenSSL
  // programs let SSL_CERT_FILE and SSL_CERT_DIR replace them, and a private authority is often
  // given only that way.
  const TrustedAuthorities trust = TrustedAuthoritiesFor(options);
  if (!trust.bundleFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, trust.bundleFile.c_str());
  if (!trust.directory.empty()) curl_easy_setopt(h, CURLOPT_CAPATH, trust.directory.c_str());
  if (!trust.extraFile.empty()) {
    std::string problem;
    if (auto extra = ReadCertificates(trust.extraFile, problem)) {
      // One bundle of the store's file and the extra one, so the extra authorities are added to
      // the store rather than put in its place.
      std::string ignored;
      std::string trustBlob;
      if (auto base = ReadCertificates(trust.bundleFile, ignored)) trustBlob = std::move(*base) + "\n";
      trustBlob += *extra;
      curl_blob blob{trustBlob.data(), trustBlob.size(), CURL_BLOB_COPY};
      curl_easy_setopt(h, CURLOPT_CAINFO_BLOB, &blob);
    } else if (IsSecureAddress(url)) {
      throw HttpError("I cannot use the certificate file " + Excerpt(trust.extraFile, 200) + " (caFile): " + problem,
                      kSocketErrorKind);
    }
    // An http address goes ahead: the file matters only if it redirects to https, and then the
    // failed verification names it.
  }
  if (trust.bundleFromEnvironment && IsSecureAddress(url)) {
    std::string problem;
    if (!ReadCertificates(trust.bundleFile, problem))
      throw HttpError("I cannot use the certificate file " + Excerpt(trust.bundleFile, 200) +
                          " (SSL_CERT_FILE): " + problem,
                      kSocketErrorKind);
  }
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnPrereq);
  curl_easy_setopt(h, CURLOPT_PREREQDATA, &t);
  if (options.cancel) {
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnCancelCheck);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(options.cancel));
  }

  // The proxy comes from the settings only: an empty server is a direct connection, whatever
  // http_proxy or no_proxy say.
  curl_easy_setopt(h, CURLOPT_PROXY, options.proxy.server.c_str());
  curl_easy_setopt(h, CURLOPT_NOPROXY, "");
  if (!options.proxy.server.empty()) {
    if (options.proxy.port > 0) curl_easy_setopt(h, CURLOPT_PROXYPORT, static_cast<long>(options.proxy.port));
    if (!options.proxy.username.empty()) {
      curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, options.proxy.username.c_str());
      curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, options.proxy.password.c_str());
    }
  }

  // The multi interface lets us watch the gap between received bytes to the millisecond, and
  // the deadline of the whole request.
  curl_multi_add_handle(multi.get(), h);
  bool readTimedOut = false;
  bool cancelled = false;
  bool deadlinePassed = false;
  const auto readTimeout = std::chrono::milliseconds(std::max(1, options.readTimeoutMs));
  const int totalMs = TotalTimeoutMs(options);
  const auto deadline = Clock::now() + std::chrono::milliseconds(totalMs);
  for (;;) {
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi.get(), &running);
    if (mc != CURLM_OK) {
      curl_multi_remove_handle(multi.get(), h);
      throw HttpError(curl_multi_strerror(mc), kHttpErrorKind);
    }
    if (!running) break;
    const auto now = Clock::now();
    if (now >= deadline) {
      deadlinePassed = true;
      break;
    }
    int waitMs = static_cast<int>(std::min<long long>(
        1000, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1));
    if (t.readArmed) {
      auto idle = Clock::now() - t.lastActivity;
      if (idle >= readTimeout) {
        readTimedOut = true;
        break;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(readTimeout - idle).count() + 1;
      waitMs = static_cast<int>(std::min<long long>(waitMs, left));
    }
    // libcurl asks the progress callback about once a second while nothing arrives: short
    // waits and a look at the flag here end a cancelled request well within that.
    if (options.cancel) {
      if (options.cancel->load()) {
        cancelled = true;
        break;
      }
      waitMs = std::min(waitMs, 50);
    }
    curl_multi_poll(multi.get(), nullptr, 0, waitMs, nullptr);
  }

  CURLcode rc = CURLE_OK;
  int queued = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued))
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) rc = msg->data.result;
  curl_multi_remove_handle(multi.get(), h);

  if (cancelled || rc == CURLE_ABORTED_BY_CALLBACK)
    throw HttpError("Download from " + Excerpt(HostAndPort(url)) + " cancelled", kCancelledKind);
  if (deadlinePassed)
    throw HttpError("Download from " + Excerpt(HostAndPort(CurrentUrl(t, url))) + " did not finish within " +
                        std::to_string(totalMs) + " ms; I stopped it",
                    kTimeoutKind);
  if (readTimedOut)
    throw HttpError("Read timed out: no data from " + Excerpt(HostAndPort(CurrentUrl(t, url))) + " for " +
                        std::to_string(options.readTimeoutMs) + " ms",
                    kTimeoutKind);
  if (t.bodyTooLarge)
    throw HttpError(
        "The response is larger than " + SizeText(options.maxBodyBytes) + "; I stopped reading it",
        kBodyTooLargeKind);
  long code = t.errorStatus;
  if (code == 0 && rc == CURLE_OK) curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
  HttpResponse response;
  if (code == 304 && rc == CURLE_OK && Conditional(options)) {
    response.status = 304;
  } else if (code != 0 && (code < 200 || code > 299)) {
    std::string note;
    const bool viaProxy = !options.proxy.server.empty();
    if (code == 407)
      note = options.proxy.username.empty() ? ": the proxy wants a user name and password"
                                            : ": the proxy did not accept the user name and password";
    else if (code == 401 && viaProxy && !options.proxy.username.empty())
      // Some proxies (tinyproxy) turn down wrong credentials with 401, like a site would.
      note = " (from the site, or from the proxy refusing the user name and password)";
    ThrowStatus(t, code, note);
  }
  if (rc != CURLE_OK) ThrowCurlError(rc, errbuf, url, options, t);
  if (response.status == 0) response.status = static_cast<int>(code);
  response.body = std::move(t.body);
  response.etag = std::move(t.etag);
  response.lastModified = std::move(t.lastModified);
  response.finalUrl = CurrentUrl(t, url);
  response.contentType = std::move(t.contentType);
  response.contentLocation = std::move(t.contentLocation);
  return response;
}

std::string CharsetOf(std::string_view contentType) {
  // Parameters follow the media type after ";": name=value, the value perhaps quoted.
  size_t semi = contentType.find(';');
  while (semi != std::string_view::npos) {
    std::string_view param = contentType.substr(semi + 1);
    const size_t next = param.find(';');
    if (next != std::string_view::npos) param = param.substr(0, next);
    while (!param.empty() && (param.front() == ' ' || param.front() == '\t')) param.remove_prefix(1);
    const size_t eq = param.find('=');
    std::string name(param.substr(0, eq == std::string_view::npos ? 0 : eq));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "charset") {
      std::string_view value = param.substr(eq + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      return std::string(value);
    }
    semi = next == std::string_view::npos ? next : semi + 1 + next;
  }
  return {};
}

std::string DocumentBase(const HttpResponse& response) {
  if (response.contentLocation.empty()) return response.finalUrl;
  return response.finalUrl.empty() ? response.contentLocation
                                   : ResolveReference(response.finalUrl, response.contentLocation);
}

}  // namespace zibu
