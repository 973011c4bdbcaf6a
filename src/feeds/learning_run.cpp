#include "feeds/learning_run.h"

#include "common/text.h"
#include "learning/engine.h"

namespace zibu {

std::vector<std::string> LearningRules() {
  return SplitString(kLearningRules, ",");
}

int EngineLearner::GetRelevance(std::string_view text) {
  return engine_.GetRelevance(text);
}

void EngineLearner::LearnFromRating(int rating, std::string_view text) {
  engine_.LearnFromRating(text, rating);
}

TRecentScores* EngineLearner::RecentScores() {
  return &engine_.RecentScores();
}

std::string CheckRelMessage(LearningEngine& engine, std::string_view text) {
  std::vector<std::string> words = engine.GetWordList(text);
  const int simple = engine.GetSimpleRelevance(words);
  // Computed even when the simple relevance is not positive; it sorts the list.
  const int relationship = engine.GetRelationshipRelevance(words);
  const int overall = engine.GetRelevance(text);
  return "Simple relevance=" + std::to_string(simple) + "%, " +
         "Relationship relevance=" + std::to_string(relationship) + "%, " +
         "Overall relevance=" + std::to_string(overall) + "%";
}

}  // namespace zibu
