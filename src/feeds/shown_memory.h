// The shown-article memory: which article links were put before the user, and when. Entries
// are kept in the order they were added; an entry older than the repeat interval is forgotten
// when a lookup walks over it.
#pragma once

#include <cstdint>
#include <string>

namespace zibu {

class TCompMap;

// Whether link was shown within repeatIntervalMs of now. Walks the entries from the newest to
// the oldest, deleting every expired entry it passes, and stops at the first live entry whose
// key equals link (exact, case-sensitive); entries before that one are not looked at.
bool WasShownRecently(TCompMap& shownUrls, const std::string& link, int64_t now, int64_t repeatIntervalMs);

// Remembers link as shown at now.
void MarkShown(TCompMap& shownUrls, const std::string& link, int64_t now);

// Gives back the memory a learning run set aside. The articles the run presented (link and time
// shown, in presentation order) are remembered as shown as well, rated or left at 0: either way
// the user has judged them, and the same article back as an alert minutes later would ask again.
void RestoreAfterLearning(TCompMap& shownUrls, const TCompMap& setAside, const TCompMap& presented);

// The memory's file in the data folder.
inline constexpr const char* kShownFeedUrlsFile = "shownfeedurls.dat";

}  // namespace zibu
