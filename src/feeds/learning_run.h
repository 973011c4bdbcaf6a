// The rules and messages of the learning run over one feed (the run itself is a scan job), the
// relevance check, and the bridge from the scanner to the learning engine.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "feeds/triage.h"

namespace zibu {

class LearningEngine;

// Six active one-letter rules: nearly every article contains one of these letters.
inline constexpr const char* kLearningRules = "1:a,1:e,1:i,1:o,1:u,1:y";
std::vector<std::string> LearningRules();

inline constexpr const char* kLearningIntro =
    "I will now show you all the articles from this feed.\r\n\r\nPlease let me know how relevant each "
    "article "
    "is by using the scale on the form, then I can start to understand the kind of content that interests "
    "you.\r\n\r\nThe more accurate feedback you give me, the more relevant content I can find for you.";
inline constexpr const char* kLearningFinished =
    "Learning finished for this feed.\r\nYou can repeat this process at any time with this or other "
    "feeds.\r\nThe more I learn, the more relevant the articles I show you will be.";

class EngineLearner : public RelevanceLearner {
 public:
  explicit EngineLearner(LearningEngine& engine) : engine_(engine) {}
  int GetRelevance(std::string_view text) override;
  void LearnFromRating(int rating, std::string_view text) override;
  TRecentScores* RecentScores() override;

 private:
  LearningEngine& engine_;
};

// "Check Rel": the simple, relationship and overall relevance of a typed text, as the message
// that shows them.
std::string CheckRelMessage(LearningEngine& engine, std::string_view text);

}  // namespace zibu
