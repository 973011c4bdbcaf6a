// The start-up check for a newer published version.
#pragma once

#include <QTimer>
#include <functional>
#include <string>

#include "http/http_client.h"
#include "ui/background_task.h"

namespace zibu {

inline constexpr const char* kNewerVersionQuestion =
    "A newer version of this program is available.  Do you want to visit the web site now so you can "
    "download the most recent version?";
inline constexpr const char* kUnableToCheckMessage =
    "Unable to check for new version.\r\n\r\nThe site may be down, or there could be a problem with your "
    "internet connection.";

// Reads the published version at a document address; when it is higher than this program's, asks
// whether to visit the home page and opens it on Yes. The request runs on a worker and its answer
// comes back through the event loop, so the calling thread never waits for the network. Once
// `closing` answers true (it is asked every few milliseconds while the request is out) the
// request is abandoned. Any failure ends in the unable-to-check message (none when the program
// is closing); nothing is thrown.
class VersionCheck {
 public:
  VersionCheck();
  // Abandons a request still out; its `finished` never runs then.
  ~VersionCheck();
  VersionCheck(const VersionCheck&) = delete;
  VersionCheck& operator=(const VersionCheck&) = delete;

  // `finished` runs from the event loop once the check is over: after the question was answered,
  // the message shown, or the request abandoned. False (nothing started) while a check runs.
  bool Start(const std::string& documentAddress, const HttpOptions& options, std::string homePage,
             std::function<bool()> closing, std::function<void()> finished);
  // Ends the request at once; `finished` still comes, from the event loop.
  void Abandon();
  bool Running() const { return task_.Running(); }

 private:
  void Done(const std::string& document, std::exception_ptr error);

  BackgroundTask task_;
  QTimer closingWatch_;
  std::string homePage_;
  std::function<bool()> closing_;
  std::function<void()> finished_;
};

}  // namespace zibu
