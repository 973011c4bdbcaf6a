// Whether a new spider window may open: a crawl ranks links by what the learning engine knows,
// so with too few learned words the user is refused or asked first.
#pragma once

namespace zibu {

enum class SpiderGate { Refuse, Ask, Open };
SpiderGate SpiderGateFor(int learnedWords);

inline constexpr const char* kTooFewWordsMessage =
    "I have not yet gathered sufficient information about your interests.  Please run the learning process a "
    "few times on the Feeds page";
inline constexpr const char* kFewWordsQuestion =
    "I don't really have sufficient information about your interests.  I recommend that you run the learning "
    "process a few more times on the Feeds page.\r\n\r\nDo you wish to use this feature anyway?";
// Shown when a spider window opens while firstTime is set.
inline constexpr const char* kSpiderIntroduction =
    "On this page you can search the web for relevant content, based on your prior feedback about the kind "
    "of articles you find interesting.\r\n\r\nEnter a web site to start on, and I will follow the links on "
    "this site and search for content that you may be interested in.  Adjust the slider to indicate how "
    "relevant a page needs to be for me to add it to the list.";

}  // namespace zibu
