// The program's one way to download: a single HTTP GET per call over libcurl, with the
// request settings every download shares (proxy, redirects followed, no cookies, connect and
// read time-outs and an overall deadline, four fixed headers, compressed transfer). The body
// comes back as the server's bytes, decompressed but otherwise untouched.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "common/global_settings.h"

namespace zibu {

// A body larger than this (once decompressed) is refused rather than held in memory.
inline constexpr size_t kMaxHttpBodyBytes = size_t{64} * 1024 * 1024;

struct HttpOptions {
  ProxySettings proxy;  // empty server: direct connection (proxy variables of the environment ignored)
  int connectTimeoutMs = 60000;  // name resolution and connection
  int readTimeoutMs = 60000;     // longest wait for the next bytes of the response
  // The longest the whole request may take, redirects included; 0 means the connect time-out
  // plus the read time-out. Without it a server that trickles one byte at a time, or answers
  // "100 Continue" without end, would hold the download forever.
  int totalTimeoutMs = 0;
  size_t maxBodyBytes = kMaxHttpBodyBytes;  // of the decoded body
  int maxRedirects = 15;
  // When set, the request in flight is abandoned (kCancelledKind) soon after it turns true; the
  // flag is read from the downloading thread while another thread sets it.
  const std::atomic<bool>* cancel = nullptr;
  // A PEM file of authorities trusted besides the store (the caFile key of zibu.conf; tests use
  // it to trust the certificate of a loopback TLS server). Empty: the store only. The store is
  // what OpenSSL programs trust: the bundle SSL_CERT_FILE names, else the system's, and the
  // directories SSL_CERT_DIR names (colon-separated), else the system's.
  std::string extraCaFile;
  // Validators of a copy kept from an earlier download. When either is set they are sent as
  // If-None-Match / If-Modified-Since, and "304 Not Modified" is an answer, not an error.
  std::string ifNoneMatch;
  std::string ifModifiedSince;
};

// Where the authorities a secure download trusts come from, with the environment of the moment.
struct TrustedAuthorities {
  std::string bundleFile;  // SSL_CERT_FILE, else the system's bundle ("" when libcurl knows none)
  bool bundleFromEnvironment = false;
  std::string directory;  // SSL_CERT_DIR, else the system's directory ("" when libcurl knows none)
  bool directoryFromEnvironment = false;
  std::string extraFile;  // HttpOptions::extraCaFile
};
TrustedAuthorities TrustedAuthoritiesFor(const HttpOptions& options);
// "/etc/ssl/certs/ca-certificates.crt (the system's bundle), /etc/ssl/certs (the system's
// directory) and /home/me/ca.pem (caFile)": what a failed verification was checked against.
std::string DescribeTrustedAuthorities(const TrustedAuthorities& trust);

// The deadline a request gets from these options, in milliseconds.
int TotalTimeoutMs(const HttpOptions& options);

// Kinds of download failure, as reported by Error::Kind().
inline constexpr const char* kHostNotFoundKind = "EHostNotFound";  // the name does not resolve
inline constexpr const char* kSocketErrorKind = "ESocketError";    // refused, reset, closed, TLS
inline constexpr const char* kTimeoutKind = "ETimeout";      // connect or read time-out, or the deadline
inline constexpr const char* kHttpErrorKind = "EHttpError";  // error status, too many redirects, bad URL
inline constexpr const char* kBodyTooLargeKind = "EBodyTooLarge";  // decoded body above maxBodyBytes
inline constexpr const char* kCancelledKind = "ECancelled";        // HttpOptions::cancel was set

class HttpError : public Error {
 public:
  HttpError(const std::string& message, std::string kind, int status = 0)
      : Error(message, std::move(kind)), status_(status) {}
  // The final HTTP status for an error status, otherwise 0.
  int Status() const { return status_; }

 private:
  int status_;
};

// What a successful GET brought back.
struct HttpResponse {
  int status = 0;    // 200-299, or 304 when the request was conditional
  std::string body;  // decoded; empty for 304
  std::string etag;  // validators of the final response, "" when it had none
  std::string lastModified;
  std::string finalUrl;  // the address the body came from, after redirects
  // Content-Type and Content-Location of the final response, as sent ("" when absent).
  std::string contentType;
  std::string contentLocation;
};

// The charset a Content-Type names ("text/xml; charset=\"utf-8\"" -> "utf-8"), "" when none.
std::string CharsetOf(std::string_view contentType);
// The address relative links of the body resolve against: its Content-Location (itself
// resolved against the final address) when the response has one, else the final address.
std::string DocumentBase(const HttpResponse& response);

// GETs `url` (used as given: no encoding here) and returns the final response after redirects.
// Sends User-Agent "Mozilla/4.0", Connection "Keep-Alive", Proxy-Connection "Keep-Alive",
// Cache-Control "no-cache" and Accept-Encoding with every compression libcurl can decode;
// accepts and sends no cookies. Any failure, including a final status outside 200-299 (304
// excepted for a conditional request), throws HttpError.
HttpResponse HttpGetResponse(const std::string& url, const HttpOptions& options);
// The same, for the body alone.
std::string HttpGet(const std::string& url, const HttpOptions& options);

}  // namespace zibu
