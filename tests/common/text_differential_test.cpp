// The linear text functions against the literal step-by-step procedures, on generated inputs
// built to hit the junction cases and on saved real pages.
#include <gtest/gtest.h>

#include <filesystem>
#include <cctype>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "common/errors.h"
#include "common/text.h"
#include "literal_reference.h"

namespace fs = std::filesystem;
using namespace zibu;

namespace {

// Either the text or "error: <message>", so that failures are compared too.
template <typename F>
std::string Outcome(F&& f) {
  try {
    return "ok: " + f();
  } catch (const ConversionError& e) {
    return std::string("error: ") + e.what();
  }
}

void ExpectSameHtmlToText(const std::string& html) {
  const std::string want = Outcome([&] { return literal::HtmlToText(html); });
  const std::string got = Outcome([&] { return HtmlToText(html); });
  ASSERT_EQ(got, want) << "input: " << ::testing::PrintToString(html);
}

// Pieces that, run together at random, make scripts, styles, tags and references that are
// split, nested, cut off, in mixed case, and that decode into new references.
const std::vector<std::string> kHtmlPieces = {"<",
                                              ">",
                                              "<b>",
                                              "</b>",
                                              "<br>",
                                              "<BR>",
                                              "<Br",
                                              "<p>",
                                              "<P>",
                                              "p>",
                                              "br>",
                                              "<br/>",
                                              "</p>",
                                              "<DIV class=a>",
                                              "</li>",
                                              "<td>",
                                              "<h2>",
                                              "<span>",
                                              "<a href=\"x\">",
                                              "<script",
                                              "<SCRIPT>",
                                              "<ScRiPt type=x>",
                                              "</script>",
                                              "/script>",
                                              "</SCRIPT>",
                                              "<scr",
                                              "ipt",
                                              "ipt>",
                                              "<style",
                                              "<STYLE>",
                                              "</style>",
                                              "/style>",
                                              "</Style>",
                                              "<sty",
                                              "le>",
                                              "/sty",
                                              "le",
                                              "&",
                                              "#",
                                              ";",
                                              "&#",
                                              "&#38;",
                                              "&#35;",
                                              "&#65;",
                                              "&#x41;",
                                              "&#X26;",
                                              "&#$23;",
                                              "&#0x3B;",
                                              "&#60;",
                                              "&#62;",
                                              "&#-218;",
                                              "&# 66;",
                                              "&#+67;",
                                              "&#256;",
                                              "&#8217;",
                                              "&#8364;",
                                              "&#128517;",
                                              "&#294;",
                                              "&#291;",
                                              "38;",
                                              "35;",
                                              "65",
                                              "x26",
                                              "&amp;",
                                              "&AMP;",
                                              "amp;",
                                              "&lt;",
                                              "lt;",
                                              "&gt;",
                                              "gt;",
                                              "&nbsp;",
                                              "nbsp;",
                                              "&quot;",
                                              "&copy;",
                                              "copy;",
                                              "&mdash;",
                                              "&ndash;",
                                              "&raquo;",
                                              "&euro;",
                                              "euro;",
                                              "&pound;",
                                              "pound;",
                                              "&eacute;",
                                              "&amp",
                                              "\r\n",
                                              "\r",
                                              "\n",
                                              "\t",
                                              " ",
                                              "  ",
                                              "a",
                                              "B",
                                              "text",
                                              "S",
                                              "'",
                                              "'s",
                                              "\xE9",
                                              "\xA0",
                                              "&#3",
                                              "8;",
                                              "&#6",
                                              "5;"};

// Numbers that are not integers make the whole call fail; keep them rarer than the rest.
const std::vector<std::string> kBadPieces = {"&#;", "&#abc;", "&#1 ;", "&#12a;"};

std::string RandomHtml(std::mt19937& rng, size_t pieces, bool allowBad) {
  std::uniform_int_distribution<size_t> pick(0, kHtmlPieces.size() - 1);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string s;
  for (size_t i = 0; i < pieces; ++i) {
    if (allowBad && percent(rng) == 0)
      s += kBadPieces[static_cast<size_t>(percent(rng)) % kBadPieces.size()];
    else
      s += kHtmlPieces[pick(rng)];
  }
  return s;
}

std::string RandomBytes(std::mt19937& rng, size_t n, const std::string& alphabet) {
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::string s;
  for (size_t i = 0; i < n; ++i) s += alphabet[pick(rng)];
  return s;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(HtmlToTextAgainstReference, JunctionCases) {
  for (const char* s : {"<scr<script>x</script>ipt>y</script>z",
                        "<sc<script>1</script>r<script>2</script>ipt>3</script>4",
                        "<scr<script>x</script>ipt>never closed",
                        "<<script>x</script>script>y</script>",
                        "<sty<style>x</style>le>y</style>z",
                        "<scr<style>x</style>ipt>y</script>z",
                        "&#38;#65;",
                        "&&#35;65;",
                        "&#38;&#35;65;",
                        "&#38;#38;#38;#65;",
                        "&&#35;&#35;65;",
                        "&#38;#",
                        "&&#35;",
                        "&&#35;6",
                        "&#38;amp;copy;",
                        "&amp;amp;copy;",
                        "&#38;#abc;",
                        "x<br",
                        "br>x",
                        "p>x<",
                        "&#60;b&#62;",
                        "<<<>>>",
                        "&#38;#x3C;b>"})
    ExpectSameHtmlToText(s);
}

TEST(HtmlToTextAgainstReference, GeneratedMarkup) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 6000; ++round) {
    const size_t pieces = 1 + static_cast<size_t>(round % 60);
    ExpectSameHtmlToText(RandomHtml(rng, pieces, round % 3 == 0));
  }
}

// Narrow piece sets, so that deletions and decoded bytes often complete a new match.
TEST(HtmlToTextAgainstReference, GeneratedJunctions) {
  const std::vector<std::vector<std::string>> sets = {
      {"<scr", "<script>", "</script>", "/script>", "ipt>", "ipt", "x", "<s", "cript", "<SCRIPT", "<", ">",
       "<style>", "</style>", "<sty", "le>", "/scr"},
      {"&", "#", ";", "&#38;", "&#35;", "&#59;", "&#", "38", "35", "65;", "66;", "amp;", "&amp;", "lt;",
       "copy;", "x", "x26;", "&#x23;"}};
  std::mt19937 rng(99);
  for (const auto& set : sets) {
    std::uniform_int_distribution<size_t> pick(0, set.size() - 1);
    for (int round = 0; round < 4000; ++round) {
      std::string s;
      for (int i = 0, n = 1 + round % 24; i < n; ++i) s += set[pick(rng)];
      ExpectSameHtmlToText(s);
    }
  }
}

TEST(HtmlToTextAgainstReference, ByteSoup) {
  std::mt19937 rng(7);
  const std::string narrow = "<>&#;/scriptSCRIPTstyle0123456789xX$ \r\n\tabp";
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  for (int round = 0; round < 3000; ++round) {
    ExpectSameHtmlToText(RandomBytes(rng, 1 + static_cast<size_t>(round % 200), narrow));
    ExpectSameHtmlToText(RandomBytes(rng, static_cast<size_t>(round % 50), all));
  }
}

TEST(HtmlToTextAgainstReference, SavedPages) {
  const fs::path dir = fs::path(ZIBU_TEST_DATA_DIR) / "pages";
  int pages = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string html = ReadFile(entry.path());
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_EQ(HtmlToText(html), literal::HtmlToText(html));
    ++pages;
  }
  EXPECT_GE(pages, 3);
}

// What leaving a blank at block boundaries did to saved pages: the text of before, with blanks
// put in and nothing else, and put in where words had been glued together.
TEST(HtmlToTextAgainstReference, BlockBlanksAreAllThatChangesOnSavedPages) {
  int pages = 0, gluedBefore = 0, gluedAfter = 0;
  for (const char* folder : {"pages", "monitor"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(ZIBU_TEST_DATA_DIR) / folder)) {
      const std::string html = ReadFile(entry.path());
      SCOPED_TRACE(entry.path().filename().string());
      const std::string before = literal::HtmlToText(html, false), after = HtmlToText(html);
      size_t b = 0, inserted = 0;
      for (size_t a = 0; a < after.size(); ++a) {
        if (b < before.size() && after[a] == before[b]) {
          ++b;
        } else {
          ASSERT_EQ(after[a], ' ') << "at byte " << a << " of the new text: " << after.substr(a, 40);
          ++inserted;
        }
      }
      EXPECT_EQ(b, before.size()) << "the new text lost the old one's tail: " << before.substr(b, 40);
      EXPECT_GT(inserted, 0u);
      // A word run into the next one: a lower-case letter straight before an upper-case one, as in
      // "handheldsHome".
      auto glued = [](const std::string& t) {
        int n = 0;
        for (size_t i = 1; i < t.size(); ++i)
          n += std::islower(static_cast<unsigned char>(t[i - 1])) && std::isupper(static_cast<unsigned char>(t[i]));
        return n;
      };
      gluedBefore += glued(before);
      gluedAfter += glued(after);
      ++pages;
    }
  }
  EXPECT_GE(pages, 6);
  EXPECT_LT(gluedAfter, gluedBefore);
  std::cout << pages << " saved pages: " << gluedBefore << " lower-upper joins before, " << gluedAfter << " after\n";
}

TEST(CollapseSpacesAgainstReference, GeneratedText) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    const std::string s = RandomBytes(rng, static_cast<size_t>(round % 80), "    ab\t\r\n\x01");
    ASSERT_EQ(CollapseSpaces(s), literal::CollapseSpaces(s)) << ::testing::PrintToString(s);
  }
}

TEST(GetWordListAgainstReference, GeneratedText) {
  std::mt19937 rng(13);
  std::vector<std::string> common = {"THE", "ANDS", "TEXT", "sss", "cat"};
  SortUnique(common);
  const std::string alphabet = "aAsStTeEcCxX   '''<>&#;0\xE9";
  for (int round = 0; round < 3000; ++round) {
    const std::string s = RandomBytes(rng, static_cast<size_t>(round % 120), alphabet);
    for (auto [lo, hi] : {std::pair{4, 12}, std::pair{1, 3}, std::pair{0, 5}, std::pair{3, 3}}) {
      const std::string want =
          Outcome([&] { return JoinStrings(literal::GetWordList(s, lo, hi, common), ","); });
      const std::string got = Outcome([&] { return JoinStrings(GetWordList(s, lo, hi, common), ","); });
      ASSERT_EQ(got, want) << ::testing::PrintToString(s) << " " << lo << ".." << hi;
    }
  }
}
