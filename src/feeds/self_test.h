// The built-in checks behind the hidden "Unit Tests" button: fixed examples of the containers,
// the text functions, keyword matching, learning, scoring, the data files and the parallel scan,
// run on the program's own engine. A failed check raises an assertion failure naming "feeds".
#pragma once

#include <string>

#include "common/global_settings.h"

namespace zibu {

class LearningEngine;
class UserPort;

// A news page whose words feed the comparison of the single- and multi-thread relationship sums.
inline constexpr const char* kSelfTestNewsPage = "http://news.bbc.co.uk/";

struct SelfTestOutcome {
  bool newsPageChecked = false;
  std::string newsPageProblem;  // why the news page could not be used, when it could not
};

// Runs every check in order. Replaces the engine's learned data (and its learning parameters)
// with the checks' own; the caller ends the program afterwards. tempFolder ends with "/".
SelfTestOutcome RunSelfTests(LearningEngine& engine, UserPort& port, const ProxySettings& proxy,
                             const std::string& tempFolder, const std::string& newsPage = kSelfTestNewsPage);

// The closing message: "All tests passed", with a note when the news page could not be fetched.
std::string SelfTestMessage(const SelfTestOutcome& outcome);

}  // namespace zibu
