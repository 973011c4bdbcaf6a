// Text and address helpers shared by every window. All text is bytes (Windows-1252).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zibu {

// One line of plain text from an HTML fragment: line breaks become blanks, scripts, style
// sheets and tags go, numeric and a fixed set of named references are decoded. Blanks are
// neither collapsed nor trimmed. A block element's tag (<p class=x>, </div>, <br/>, <li>, ...)
// becomes a blank unless the text before it is empty or ends in one; other tags vanish. Raises
// ConversionError when a numeric reference ("&#...;") does not hold an integer; there is no
// partial result.
std::string HtmlToText(std::string_view html);
// The same for HTML in UTF-8, giving UTF-8: each reference becomes its character in UTF-8 (the
// character HtmlToText's byte stands for, or one Windows-1252 lacks). The words of the two
// texts are the same.
std::string HtmlToTextUtf8(std::string_view html);
// Whether a tag, given by what stands between its "<" and ">" ("/LI", "div class=x", "br/"),
// opens or closes an element that starts a new block of text in a browser.
bool IsBlockTag(std::string_view tag);

// The words of a text, in text order with repetitions: HTML stripped, upper-cased, "'S" and
// apostrophes dropped, only the letters A to Z kept, words shorter than minWordLength or longer
// than maxWordLength dropped, a simple plural "S" folded, and words of commonWords (sorted
// without regard to case, see SortUnique) removed.
std::vector<std::string> GetWordList(std::string_view text, int minWordLength, int maxWordLength,
                                     const std::vector<std::string>& commonWords);

// Pieces between separators. A leading separator gives a leading empty piece, adjacent ones an
// empty piece between them, a trailing one no trailing piece. An empty separator gives the
// whole text as the one piece (none for an empty text).
std::vector<std::string> SplitString(std::string_view text, std::string_view sep);

// Every byte that is neither a blank nor one of "A" to "Z" becomes a blank.
std::string LettersOnly(std::string_view text);

// Every distinct entry once (the first spelling met wins), ascending without regard to case.
void SortUnique(std::vector<std::string>& list);

// Binary search in a list sorted without regard to case (the order of SortUnique / LessNoCase).
bool InSortedList(std::string_view word, const std::vector<std::string>& sortedCaseInsensitive);

// Trims bytes of value 32 or less from both ends and turns every run of blanks into one blank.
// Tabs and line breaks inside the text are left alone.
std::string CollapseSpaces(std::string_view text);

// Each entry followed by the separator, so a non-empty result ends with it.
std::string JoinStrings(const std::vector<std::string>& list, std::string_view sep);

// Percent-encodes every byte outside & - . / 0-9 : ; = ? A-Z _ a-z as "%XX" (upper-case hex),
// except a "%" that already begins a valid escape ("%" and two hex digits), which is kept, so
// an address the user gave already encoded is fetched as given.
std::string UrlEncode(std::string_view text);

// The address up to (not including) the first "/" at or after its 8th byte, e.g.
// "http://host/a/b" -> "http://host"; empty when there is none.
std::string SiteRoot(std::string_view address);

// The address up to (not including) its last "/"; the whole address when it has none.
std::string UrlParent(std::string_view address);

// "HH:MM" as a fraction of a day (0.5 = 12:00). Raises ConversionError for non-numeric parts,
// hours above 23 or minutes above 59.
double ParseHourMinute(std::string_view text);

// The number of processors the system reports (at least 1).
int ProcessorCount();

// Upper-cases only the ASCII letters "a" to "z".
std::string UpperCase(std::string_view text);

// Upper-cases the letters of Windows-1252, accented ones included: the folding used wherever
// text is compared without regard to case.
std::string AnsiUpperCase(std::string_view text);

// Comparison without regard to case (Windows-1252 letters folded), then by byte value:
// negative, 0 or positive.
int CompareTextNoCase(std::string_view a, std::string_view b);
bool SameTextNoCase(std::string_view a, std::string_view b);
// Strict weak order of CompareTextNoCase, for sorting lists that InSortedList searches.
bool LessNoCase(std::string_view a, std::string_view b);

// Removes every byte of value 32 or less from both ends.
std::string Trim(std::string_view text);

}  // namespace zibu
