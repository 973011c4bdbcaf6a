// Why a text scores what it scores: the parts of the three relevance scores, computed with the
// scorer's own integer arithmetic, so that the parts add up exactly to the sums it divides.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zibu {

// One known word of the text.
struct WordContribution {
  std::string word;
  int count = 0;             // occurrences in the word list
  int weight = 0;            // its learned weight
  int64_t contribution = 0;  // (weight * 100 / maxWordWeight, truncated) * count
};

// One pair of distinct words of the text.
struct PairContribution {
  std::string first;  // the earlier of the two in the sorted list
  std::string second;
  int value = 0;             // the table's cell [first][second]
  int64_t contribution = 0;  // (value * 100 / maxWordWeight, truncated) * 2
};

struct RelevanceExplanation {
  int simple = 0;        // GetSimpleRelevance of the word list
  int relationship = 0;  // GetRelationshipRelevance of it (computed even when simple <= 0)
  int overall = 0;       // GetRelevance of the text
  int wordCount = 0;     // entries of the word list, known or not
  // Each known word once, in the order of its first occurrence. Their contributions add up to
  // simpleSum, and simple == simpleSum / wordCount (0 for no words).
  std::vector<WordContribution> words;
  int64_t simpleSum = 0;
  int distinctWords = 0;  // c
  // The relationship sum S: relationship == pairSum / (c * (c - 1)) (0 for c < 2).
  int64_t pairSum = 0;
  // The pairs with the largest positive and the largest negative contributions (a contribution
  // of 0 is neither), at most the asked-for number each: of equally strong pairs at the cut the
  // later ones in list order are kept. Strongest first, equally strong ones in list order.
  std::vector<PairContribution> positivePairs;
  std::vector<PairContribution> negativePairs;
};

}  // namespace zibu
