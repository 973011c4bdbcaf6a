// The text procedures done literally, step by step, each step rebuilding the string and
// searching again from the start. Slow (quadratic) but obviously right: the fast versions in
// src/common must give byte for byte the same results.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zibu::literal {

// Replaces every occurrence, scanning left to right and not rescanning replacements; ASCII
// letters compared without regard to case when `ignoreCase`.
std::string StringReplaceAll(std::string_view text, std::string_view pattern, std::string_view replacement,
                             bool ignoreCase);

// With blockBlanks false, a block element's tag vanishes like any other, as it did before block
// boundaries left a blank: the differential check of what that change did to real pages.
std::string HtmlToText(std::string_view html, bool blockBlanks = true);
std::string CollapseSpaces(std::string_view text);
std::vector<std::string> GetWordList(std::string_view text, int minWordLength, int maxWordLength,
                                     const std::vector<std::string>& commonWords);

}  // namespace zibu::literal
