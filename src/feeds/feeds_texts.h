// The feeds window's longer texts, kept with the feed core so tests and tools can name them.
#pragma once

namespace zibu {

// Shown once per run on the first activation of the feeds window while firstTime is set.
inline constexpr const char* kFeedsIntroMessage =
    "To start you off I have added some example RSS feeds.  You can add/remove feeds using the controls at "
    "the "
    "top of this page.\r\n\r\nWhen you have set up your feeds, use the control on the right of the page to "
    "set "
    "the trigger keywords.\r\nNote that keywords should be comma-separated, e.g. '1:iran,nuclear,inspection' "
    "- "
    "all keywords that are on a separate line must be found for the alert to be shown, but you can define as "
    "many lines as you like, e.g.\r\n\r\n1:iran,nuclear,inspection\r\n1:economy,inflation,interest "
    "rates\r\n1:cricket tour,england\r\n1:film,!cartoon,!animation\r\n\r\nNote that keywords can contain "
    "spaces, and you can use the '!' character to specify that a word must NOT be found. The '1:' at the "
    "beginning of each line simply defines this keyword line as 'active'\r\n\r\nIf you would like me to "
    "learn "
    "about your interests so that I can find relevant content without you having to set up keywords , please "
    "select a feed and click Learn, then rate each article's relevance from 'Totally irrelvant' to 'Very "
    "relevant'\r\nArticles will be shown one at a time, but if you prefer to see them all together you can "
    "change the 'Results Format' to 'As a table'\r\n\r\nFeeds marked as 'active' are scanned at defined "
    "intervals, but you can also scan a feed manually using the 'Search' buttons at the top";

// The button beside the relevance slider that moves it to the threshold the user's ratings suggest.
inline constexpr const char* kUseSuggestionCaption = "Use suggestion";

// The hint the feeds window's relevance slider shares with its two labels.
inline constexpr const char* kThresholdHint =
    "As you provide feedback on each article's relevance, Zibu will learn about the kind of articles you "
    "find "
    "interesting.\r\nYou can use this slider to indicate how relevant an article needs to be before Zibu "
    "decides to show it to you.\r\nIf you move the slider towards LOW, you will get lots of articles that "
    "may "
    "have little relevance.\r\nHowever, if you move the slider towards HIGH, Zibu will only show you "
    "articles "
    "it thinks are very relevant.\r\nDo not set it to either extreme though or you will get every single "
    "article or none at all.\r\nTry starting off by setting it somewhere in the middle and adjusting it "
    "slowly.";

}  // namespace zibu
