#include "feeds/shown_memory.h"

#include "common/compmap.h"

namespace zibu {

bool WasShownRecently(TCompMap& shownUrls, const std::string& link, int64_t now, int64_t repeatIntervalMs) {
  for (int i = shownUrls.Count() - 1; i >= 0; --i) {
    // A time so far from now that the difference does not fit counts as long ago.
    int64_t age = 0;
    if (!__builtin_sub_overflow(now, shownUrls.ValueAt(i), &age) && age <= repeatIntervalMs) {
      if (shownUrls.KeyAt(i) == link) return true;
    } else {
      shownUrls.Delete(i);
    }
  }
  return false;
}

void MarkShown(TCompMap& shownUrls, const std::string& link, int64_t now) {
  shownUrls.Add(link, now);
}

void RestoreAfterLearning(TCompMap& shownUrls, const TCompMap& setAside, const TCompMap& presented) {
  shownUrls.Clear();
  shownUrls.AddAll(setAside);
  shownUrls.AddAll(presented);
}

}  // namespace zibu
