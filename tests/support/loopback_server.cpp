#include "support/loopback_server.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>
#include <chrono>
#include <stdexcept>

namespace zibu::test {

std::string ReceivedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  return "";
}

bool ReceivedRequest::HasHeader(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return true;
  return false;
}

TlsFiles TestTls() {
  return {std::string(ZIBU_TEST_DATA_DIR) + "/tls/server.pem",
          std::string(ZIBU_TEST_DATA_DIR) + "/tls/server.key"};
}

std::string TestCaFile() {
  return std::string(ZIBU_TEST_DATA_DIR) + "/tls/ca.pem";
}

LoopbackServer::LoopbackServer() : server_(std::make_unique<httplib::Server>()) {
  Start();
}

LoopbackServer::LoopbackServer(const TlsFiles& tls)
    : server_(std::make_unique<httplib::SSLServer>(tls.certificateFile.c_str(), tls.keyFile.c_str())),
      tls_(true) {
  if (!server_->is_valid()) throw std::runtime_error("loopback server: cannot load " + tls.certificateFile);
  Start();
}

void LoopbackServer::Start() {
  // One catch-all route, so tests can change routes while the listener thread runs.
  auto dispatch = [this](const httplib::Request& req, httplib::Response& res) { Dispatch(req, res); };
  server_->Get(".*", dispatch);
  server_->Post(".*", dispatch);
  server_->set_keep_alive_timeout(1);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("loopback server: cannot bind 127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  for (int i = 0; i < 2000 && !server_->is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer() {
  Stop();
}

void LoopbackServer::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stopCv_.notify_all();
  server_->stop();
  thread_.join();
}

std::string LoopbackServer::Url(const std::string& path) const {
  return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

void LoopbackServer::Serve(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = std::move(handler);
}

void LoopbackServer::Remove(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_.erase(path);
}

void LoopbackServer::ServeBody(const std::string& path, std::string body, std::string contentType) {
  Serve(path, [body = std::move(body), contentType = std::move(contentType)](const httplib::Request&,
                                                                             httplib::Response& res) {
    res.status = 200;
    res.set_content(body, contentType.c_str());
  });
}

void LoopbackServer::ServeRedirect(const std::string& path, std::string location, int status) {
  Serve(path, [location = std::move(location), status](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(location, status);
  });
}

void LoopbackServer::ServeStatus(const std::string& path, int status, std::string body) {
  Serve(path, [status, body = std::move(body)](const httplib::Request&, httplib::Response& res) {
    res.status = status;
    res.set_content(body, "text/plain");
  });
}

void LoopbackServer::ServeDelayed(const std::string& path, int delayMs, std::string body,
                                  std::string contentType) {
  Serve(path, [this, delayMs, body = std::move(body), contentType = std::move(contentType)](
                  const httplib::Request&, httplib::Response& res) {
    SleepUnlessStopping(delayMs);
    res.status = 200;
    res.set_content(body, contentType.c_str());
  });
}

bool LoopbackServer::SleepUnlessStopping(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

void LoopbackServer::Dispatch(const httplib::Request& req, httplib::Response& res) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ReceivedRequest r;
    r.method = req.method;
    r.path = req.path;
    r.target = req.target;
    for (const auto& [key, value] : req.headers) r.headers.emplace(key, value);
    requests_.push_back(std::move(r));
    auto it = routes_.find(req.path);
    if (it != routes_.end()) handler = it->second;
  }
  if (!handler) {
    res.status = 404;
    res.set_content("Not found", "text/plain");
    return;
  }
  handler(req, res);
}

std::vector<ReceivedRequest> LoopbackServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::optional<ReceivedRequest> LoopbackServer::LastRequest(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = requests_.rbegin(); it != requests_.rend(); ++it)
    if (it->path == path) return *it;
  return std::nullopt;
}

size_t LoopbackServer::RequestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const auto& r : requests_)
    if (r.path == path) ++n;
  return n;
}

void LoopbackServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

int UnusedLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket() failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof(addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot find a free loopback port");
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace zibu::test
