// The program's one way to download: a single HTTP GET per call over libcurl, with the
// request settings every download shares (proxy, redirects followed, no cookies, connect and
// read time-outs, four fixed headers). The body comes back as bytes, untouched.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "common/errors.h"
#include "common/global_settings.h"

namespace zibu {

// A body larger than this is refused rather than held in memory.
inline constexpr size_t kMaxHttpBodyBytes = size_t{64} * 1024 * 1024;

struct HttpOptions {
  ProxySettings proxy;  // empty server: direct connection (proxy variables of the environment ignored)
  int connectTimeoutMs = 60000;  // name resolution and connection
  int readTimeoutMs = 60000;     // longest wait for the next bytes of the response
  size_t maxBodyBytes = kMaxHttpBodyBytes;
  int maxRedirects = 15;
  // When set, the request in flight is abandoned (kCancelledKind) soon after it turns true; the
  // flag is read from the downloading thread while another thread sets it.
  const std::atomic<bool>* cancel = nullptr;
};

// Kinds of download failure, as reported by Error::Kind().
inline constexpr const char* kHostNotFoundKind = "EHostNotFound";  // the name does not resolve
inline constexpr const char* kSocketErrorKind = "ESocketError";    // refused, reset, closed, TLS
inline constexpr const char* kTimeoutKind = "ETimeout";            // connect or read time-out
inline constexpr const char* kHttpErrorKind = "EHttpError";  // error status, too many redirects, bad URL
inline constexpr const char* kBodyTooLargeKind = "EBodyTooLarge";  // body above maxBodyBytes
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

// GETs `url` (used as given: no encoding here) and returns the body of the final response after
// redirects. Sends User-Agent "Mozilla/4.0", Connection "Keep-Alive", Proxy-Connection
// "Keep-Alive" and Cache-Control "no-cache"; accepts and sends no cookies. Any failure, including
// a final status outside 200-299, throws HttpError.
std::string HttpGet(const std::string& url, const HttpOptions& options);

}  // namespace zibu
