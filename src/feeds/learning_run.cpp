#include "feeds/learning_run.h"

#include <exception>

#include "common/compmap.h"
#include "common/errors.h"
#include "common/global_settings.h"
#include "common/text.h"
#include "feeds/scheduler.h"
#include "feeds/shown_memory.h"
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

void TFeedScanner::LearnClick() {
  cancelRequested = false;
  host_.StopTimer();
  TCompMap setAside;
  bool memorySetAside = false;
  auto restoreMemory = [&] {
    if (!memorySetAside) return;
    RestoreAfterLearning(shownUrls_, setAside, ratedWhileLearning);
    ratedWhileLearning.Clear();
    memorySetAside = false;
  };
  try {
    const int selected = host_.SelectedFeed();
    if (selected < 0 || selected >= static_cast<int>(feeds_.size())) {
      port_.ShowMessage("Please select a feed to use for learning");
    } else {
      if (host_.Settings().firstTime) port_.ShowMessage(kLearningIntro);
      isLearning = true;
      setAside.AddAll(shownUrls_);
      shownUrls_.Clear();
      ratedWhileLearning.Clear();
      memorySetAside = true;
      // A copy: the feed in the list keeps its own rules and its time of last refresh.
      TFeed copy = feeds_[selected];
      copy.keywords = LearningRules();
      Items collected;
      try {
        host_.ScanFeed(copy, collected);
        PresentResults(collected);
      } catch (...) {
        collected.clear();
        throw;
      }
      collected.clear();
      restoreMemory();
      host_.SaveFeedConfig();
      host_.SaveData();
      port_.ShowMessage(kLearningFinished);
    }
  } catch (const std::exception& e) {
    // Whatever ended the run, the memory is as it was before it but for the articles rated so
    // far: articles seen only while learning can still be shown by later scans.
    restoreMemory();
    port_.Log(ErrorText(e));
  }
  isLearning = false;
  host_.StartTimer();
}

}  // namespace zibu
