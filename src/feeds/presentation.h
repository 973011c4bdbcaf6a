// Putting the articles of a scan before the user: their order and the reminders.
#pragma once

#include <optional>
#include <string>

#include "feeds/feed.h"

namespace zibu {

// Highest relevance first, by the classic exchange walk: for every position r and within it for
// every position i, exchange i and r when i has the lower relevance. Its order among equal
// relevances is part of the behaviour (3a 5b 3c 5d 1e gives 5b 5d 3c 3a 1e).
void SortByRelevance(Items& items);

// The reminder to rate more is due when there is more than one item and no more than a third of
// them (rounded down) were rated.
bool RatingReminderDue(int itemCount, int rated);

// "No new matching items found" is followed by this on a first run. With a threshold suggested
// by the user's ratings (0..100) the advice names it.
std::string ThresholdAdvice(int threshold, std::optional<int> suggested = std::nullopt);

// Shown after a one-by-one presentation in which few articles were rated.
std::string RatingReminder(int rated, int itemCount);

}  // namespace zibu
