// Keyword rules, shared by the feeds and the page monitor.
//
// A rule line "1:term,term,!term" is active; any other line is inactive. Terms are comma
// separated and not trimmed; "!" negates a term. A line matches a text when every required term
// and no negated term occurs in it as a substring, compared in upper case (ASCII letters only).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zibu {

class UserPort;

inline constexpr const char* kKeywordLinesFixedMessage =
    "Each keyword line must begin with 1: or 0: to indicate whether active or not.  I have fixed this for "
    "you.";

// Puts "1:" in front of every line of two or more characters that begins with neither "0:" nor
// "1:". Returns whether any line was changed.
bool FixKeywordLines(std::vector<std::string>& lines);
// The same, and shows kKeywordLinesFixedMessage once when a line was changed.
bool FixKeywordLines(std::vector<std::string>& lines, UserPort& port);

// The settings file writes every line break of a rule text as the letters CRLF and reads them
// back, in any letter case, as a line break: a rule line holding those letters would come back
// after a restart as two lines, the second a rule the user never wrote.
std::string CrlfLinesMessage(const std::vector<std::string>& removed);
// Takes out every line that contains "crlf" in any letter case and returns the lines taken out.
std::vector<std::string> RemoveCrlfLines(std::vector<std::string>& lines);
// The same, and tells the user which lines were taken out and why (one message).
bool RemoveCrlfLines(std::vector<std::string>& lines, UserPort& port);

// A tab pasted into a rule would become part of a term that no text contains; the rule editors
// take Tab as a move to the next control, so a tab in a rule line is always a pasted one.
std::string TabLinesMessage(const std::vector<std::string>& changed);
// Takes every tab character out of the lines and returns the changed lines as they now read.
std::vector<std::string> RemoveTabs(std::vector<std::string>& lines);
// The same, and tells the user which lines were changed and why (one message).
bool RemoveTabs(std::vector<std::string>& lines, UserPort& port);

// Rule text a feed keeps, at most, line breaks counted: far beyond any rule set a person writes.
// A longer one, from a damaged settings file or a paste gone wrong, would stall the editor that
// shows it and every scan that matches it.
inline constexpr size_t kMaxKeywordTextBytes = 64u << 10;
// A line, at most: an editor lays a line out whole, and a longer one takes it too long to show.
inline constexpr size_t kMaxKeywordLineBytes = 16u << 10;
// Keeps the lines in order while they fit in kMaxKeywordTextBytes, leaving out each line that
// would go past it or is longer than kMaxKeywordLineBytes; returns how many lines were left out.
size_t BoundKeywordLines(std::vector<std::string>& lines);
// What the rule editor says when it left lines out.
std::string KeywordsTooLongMessage(size_t leftOut);
// The status log line when a feed's stored rules were too long.
std::string KeywordsTooLongLine(const std::string& feedUrl, size_t leftOut);

// Whether one active line's term list (already upper-cased, without "1:") matches `text`.
bool RuleLineMatches(std::string_view upperTerms, std::string_view text);

// The first active rule line that matches a text: its upper-cased term list (without "1:") and
// the line as written.
struct KeywordMatch {
  std::string terms;  // "" when no line matches
  std::string line;
};
KeywordMatch MatchKeywordLine(const std::vector<std::string>& rules, std::string_view text, UserPort& port);

// The upper-cased term list of the first active rule line that matches `text`, or "" when none
// does. Writes the verbose trace of which lines were tried to `port`.
std::string MatchKeywords(const std::vector<std::string>& rules, std::string_view text, UserPort& port);

}  // namespace zibu
