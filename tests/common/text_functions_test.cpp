#include <gtest/gtest.h>

#include <ctime>
#include <optional>

#include "common/codepage.h"
#include "common/errors.h"
#include "common/charset.h"
#include "common/feed_date.h"
#include "common/text.h"

using namespace zibu;
using Words = std::vector<std::string>;

TEST(GetWordList, PossessivesPluralsAndCommonWords) {
  EXPECT_EQ(GetWordList("   and  here's to john's apples for the monsters' party  ", 4, 12, {"HERE"}),
            (Words{"JOHN", "APPLE", "MONSTER", "PARTY"}));
  EXPECT_EQ(GetWordList("class buses news", 4, 12, {}), (Words{"CLASS", "BUSE", "NEWS"}));
  // One letter above the minimum may fold to the minimum; exactly the minimum keeps its "S".
  EXPECT_EQ(GetWordList("cats bats", 3, 12, {}), (Words{"CAT", "BAT"}));
  EXPECT_EQ(GetWordList("café", 4, 12, {}), Words{});
  EXPECT_EQ(GetWordList("abcdefghijklm abcdefghijkl", 4, 12, {}), Words{"ABCDEFGHIJKL"});
  // Too long is judged before the plural is folded.
  EXPECT_EQ(GetWordList("abcdefghijkls", 4, 12, {}), Words{});
}

TEST(GetWordList, MarkupDigitsAndPunctuationSplitWords) {
  EXPECT_EQ(GetWordList("<b>bold</b>text&nbsp;more<script>hidden()</script> x2y4zzzz", 4, 12, {}),
            (Words{"BOLDTEXT", "MORE", "ZZZZ"}));
  EXPECT_EQ(GetWordList("O'Reilly's rock'n'roll", 4, 12, {}), (Words{"OREILLY", "ROCKNROLL"}));
  // Only "'S" takes the "S" with it; other apostrophes just go.
  EXPECT_EQ(GetWordList("tom''sbook ab'c'd's", 4, 12, {}), (Words{"TOMBOOK", "ABCD"}));
}

TEST(GetWordList, RepetitionsKeptAndCommonWordsIgnoreCase) {
  const Words common = {"Everyone", "report"};
  EXPECT_EQ(GetWordList("report motors everyone motors REPORTS", 4, 12, common), (Words{"MOTOR", "MOTOR"}));
}

TEST(GetWordList, LongExampleAfterSortUnique) {
  const std::string text =
      "in john's $$$ \"report\" he said that if \"iran's nuclear programme doesn't stop soon george bush "
      "will "
      "get 'really' cross\"!!!, so thEn everyone everyone everyone reads it john's report report!";
  Words common = {"SAID", "THAT", "DOESNT", "STOP", "SOON", "WILL", "REALLY", "CROSS", "THEN", "READ"};
  SortUnique(common);
  Words words = GetWordList(text, 4, 12, common);
  SortUnique(words);
  EXPECT_EQ(words, (Words{"BUSH", "EVERYONE", "GEORGE", "IRAN", "JOHN", "NUCLEAR", "PROGRAMME", "REPORT"}));
}

TEST(SplitString, EmptyPiecesAtTheStartAndBetweenButNotAtTheEnd) {
  EXPECT_EQ(SplitString("1:gary mckinnon\r\n1:richard,dawkins", "\r\n"),
            (Words{"1:gary mckinnon", "1:richard,dawkins"}));
  EXPECT_EQ(SplitString(",a,,b,", ","), (Words{"", "a", "", "b"}));
  EXPECT_EQ(SplitString("a\r\n", "\r\n"), Words{"a"});
  EXPECT_EQ(SplitString("", ","), Words{});
  EXPECT_EQ(SplitString(",", ","), Words{""});
  EXPECT_EQ(SplitString("abc", ""), Words{"abc"});
  EXPECT_EQ(SplitString("", ""), Words{});
  EXPECT_EQ(SplitString("a--b---c", "--"), (Words{"a", "b", "-c"}));
}

TEST(SortUnique, FirstSpellingWinsInCaseInsensitiveOrder) {
  Words list = {"pear", "Apple", "apple", "PEAR", "banana", "Banana", "apple"};
  SortUnique(list);
  EXPECT_EQ(list, (Words{"Apple", "banana", "pear"}));
  Words accented = {"\xE9t\xE9", "\xC9T\xC9", "zoo"};  // accented letters fold too
  SortUnique(accented);
  EXPECT_EQ(accented.size(), 2u);
  EXPECT_EQ(accented[0], "zoo");
}

TEST(InSortedList, CaseInsensitiveBinarySearch) {
  Words list = {"blah", "test", "aaa"};
  SortUnique(list);
  EXPECT_TRUE(InSortedList("test", list));
  EXPECT_TRUE(InSortedList("AAA", list));
  EXPECT_TRUE(InSortedList("blah", list));
  EXPECT_FALSE(InSortedList("xblah", list));
  EXPECT_FALSE(InSortedList("bla", list));
  EXPECT_FALSE(InSortedList("", list));
  EXPECT_FALSE(InSortedList("a", Words{}));
}

TEST(LettersOnly, KeepsCapitalsAndBlanksOnly) {
  EXPECT_EQ(LettersOnly("AZ az09-\xC9\t\x01Q"), "AZ" + std::string(9, ' ') + "Q");
}

TEST(CollapseSpaces, RunsBecomeOneBlankAndEndsAreTrimmed) {
  EXPECT_EQ(CollapseSpaces("  test test    test     test                 test  "),
            "test test test test test");
  EXPECT_EQ(CollapseSpaces("test test"), "test test");
  EXPECT_EQ(CollapseSpaces("test"), "test");
  EXPECT_EQ(CollapseSpaces("\r\n\t a  \t  b \x01"), "a \t b");
  EXPECT_EQ(CollapseSpaces("    "), "");
}

TEST(JoinStrings, EveryEntryFollowedBySeparator) {
  EXPECT_EQ(JoinStrings({}, ";"), "");
  EXPECT_EQ(JoinStrings({"x"}, ";"), "x;");
  EXPECT_EQ(JoinStrings({"a", "b"}, ", "), "a, b, ");
}

TEST(UrlEncode, ReservedBytesAndExistingEscapes) {
  EXPECT_EQ(UrlEncode("a b%c~d"), "a%20b%25c%7Ed");
  EXPECT_EQ(UrlEncode("page.php?x=1&y=2"), "page.php?x=1&y=2");
  EXPECT_EQ(UrlEncode("http://h/a_b-c.d;e:f"), "http://h/a_b-c.d;e:f");
  EXPECT_EQ(UrlEncode("#+,\"'<>[]\x01\x80\xFF"), "%23%2B%2C%22%27%3C%3E%5B%5D%01%80%FF");
  // A valid escape is kept, so an address given already encoded is not encoded twice.
  EXPECT_EQ(UrlEncode("a%20b%2fc%C3%A9"), "a%20b%2fc%C3%A9");
  EXPECT_EQ(UrlEncode(UrlEncode("x y")), "x%20y");
  // A "%" that does not begin a valid escape is encoded.
  EXPECT_EQ(UrlEncode("100%"), "100%25");
  EXPECT_EQ(UrlEncode("%2"), "%252");
  EXPECT_EQ(UrlEncode("%g0%0g"), "%25g0%250g");
  EXPECT_EQ(UrlEncode("%%41"), "%25%41");
}

// What a page's meta element says its charset is, as browsers read it.
TEST(HtmlMetaCharset, TheFirstMetaElementThatNamesOne) {
  struct Case {
    std::string page;
    std::string charset;
  };
  const Case cases[] = {
      {"<html><head><meta charset=\"UTF-8\"><title>x</title>", "utf-8"},
      {"<META CHARSET=koi8-r>", "koi8-r"},
      {"<meta charset = 'windows-1251' />", "windows-1251"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">", "shift_jis"},
      {"<meta content='text/html;charset=\"euc-kr\"' http-equiv='content-type'>", "euc-kr"},
      {"<meta http-equiv=\"refresh\" content=\"5; charset=koi8-r\"><meta charset=gbk>", "gbk"},
      {"<meta name=\"viewport\" content=\"width=device-width\"><meta charset=big5>", "big5"},
      {"<!-- <meta charset=koi8-r> --><meta charset=iso-8859-5>", "iso-8859-5"},
      {"<metadata charset=koi8-r>", ""},
      {"<meta charset=\"utf-16le\">", "utf-8"},  // the page could not be read this far otherwise
      {std::string(17 * 1024, ' ') + "<meta charset=koi8-r>", ""},
      {"<meta charset=", ""},
      {"no markup at all", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(HtmlMetaCharset(c.page), c.charset) << c.page.substr(0, 80);
  // The charset decided: a mark, then a response's charset iconv knows, then the meta element.
  EXPECT_EQ(HtmlPageCharset("\xEF\xBB\xBF<meta charset=koi8-r>", "windows-1251"), "UTF-8");
  EXPECT_EQ(HtmlPageCharset("\xFF\xFEx", ""), "UTF-16LE");
  EXPECT_EQ(HtmlPageCharset("<meta charset=koi8-r>", "\"Windows-1251\""), "windows-1251");
  EXPECT_EQ(HtmlPageCharset("<meta charset=koi8-r>", "x-nothing"), "koi8-r");
  EXPECT_EQ(HtmlPageCharset("<meta charset=x-nothing>", ""), "windows-1252");
  // Text in UTF-8 keeps its characters, a byte outside one is the Windows-1252 character.
  EXPECT_EQ(TextToUtf8("a\xD0\x9F\xD1", "utf-8"), "a\u041F\u00D1");
  EXPECT_EQ(TextToUtf8("caf\xE9", "UTF8"), "caf\u00E9");
  EXPECT_EQ(TextToUtf8("\xEA\xEE\xF2", "windows-1251"), "\u043A\u043E\u0442");
  EXPECT_EQ(TextToUtf8("\xEA\xEE\xF2", "ISO-8859-1"), "\u00EA\u00EE\u00F2");
  EXPECT_EQ(TextToUtf8("\xCF\x98", "windows-1251"), "\u00CF\u02DC");  // rejected: Windows-1252
}

TEST(SiteRootAndUrlParent, Addresses) {
  EXPECT_EQ(SiteRoot("http://news.example.com/world/uk.html"), "http://news.example.com");
  EXPECT_EQ(UrlParent("http://news.example.com/world/uk.html"), "http://news.example.com/world");
  EXPECT_EQ(SiteRoot("http://news.example.com"), "");
  EXPECT_EQ(UrlParent("http://news.example.com"), "http:/");
  EXPECT_EQ(SiteRoot("http://h/"), "http://h");
  // The host of an https address begins a byte later.
  EXPECT_EQ(SiteRoot("https://host/x/y.html"), "https://host");
  EXPECT_EQ(SiteRoot("HTTPS://host/"), "HTTPS://host");
  EXPECT_EQ(SiteRoot("https://host"), "");
  EXPECT_EQ(UrlParent("https://host/x/y.html"), "https://host/x");
  EXPECT_EQ(SiteRoot("short"), "");
  EXPECT_EQ(UrlParent("noslash"), "noslash");
  EXPECT_EQ(UrlParent("a/b/"), "a/b");
}

TEST(ParseHourMinute, FractionOfADay) {
  EXPECT_DOUBLE_EQ(ParseHourMinute("07:30"), 7.5 / 24);
  EXPECT_DOUBLE_EQ(ParseHourMinute("00:00"), 0.0);
  EXPECT_DOUBLE_EQ(ParseHourMinute("23:59"), (23 * 60 + 59) / 1440.0);
  EXPECT_DOUBLE_EQ(ParseHourMinute("12.00"), 0.5);  // the third byte is not checked
  for (const char* bad : {"24:00", "12:60", "ab:cd", "7:30", "", "12", "12:", "-1:00", "12:5x"})
    EXPECT_THROW(ParseHourMinute(bad), ConversionError) << bad;
}

TEST(CaseHelpers, AsciiAndWindows1252Folding) {
  EXPECT_EQ(UpperCase("abz\xE9"), "ABZ\xE9");
  EXPECT_EQ(AnsiUpperCase("abz\xE9\xFF\x9A\xF7"), "ABZ\xC9\x9F\x8A\xF7");
  EXPECT_EQ(CompareTextNoCase("abc", "ABC"), 0);
  EXPECT_LT(CompareTextNoCase("abc", "ABD"), 0);
  EXPECT_LT(CompareTextNoCase("ab", "abc"), 0);
  EXPECT_GT(CompareTextNoCase("b", "A"), 0);
  EXPECT_GE(ProcessorCount(), 1);
}

namespace zibu {
namespace {

// The dates of real feeds, each read to the instant it names (UTC), or refused.
TEST(FeedDate, ReadsTheFormsFeedsWrite) {
  constexpr int64_t k2003 = 1055217600000;  // 2003-06-10 04:00:00 UTC
  const struct {
    const char* text;
    std::optional<int64_t> utc;
  } cases[] = {
      {"Tue, 10 Jun 2003 04:00:00 GMT", k2003},
      {"Tue, 10 Jun 2003 04:00:00 +0000", k2003},
      {"10 Jun 2003 06:00:00 +0200", k2003},
      {"Tue, 10 Jun 2003 00:00:00 EDT", k2003},
      {"Tue, 10 June 2003 04:00 GMT", k2003},
      {"  Tue, 10 Jun 03 04:00:00 Z  ", k2003},
      {"Tue, 10 Jun 2003 04:00:00", k2003},
      {"Tue, 10 Jun 2003", k2003 - 4 * 3600000},
      {"Tue, 10 Jun 2003 05:30:00 +01:30", k2003},
      {"Tue, 10 Jun 2003 04:00:00 XYZ", k2003},
      {"2003-06-10T04:00:00Z", k2003},
      {"2003-06-10t04:00:00.250Z", k2003 + 250},
      {"2003-06-10T06:00:00+02:00", k2003},
      {"2003-06-09T23:00:00-05:00", k2003},
      {"2003-06-10 04:00", k2003},
      {"2003-06-10", k2003 - 4 * 3600000},
      {"1969-12-31T23:59:59Z", -1000},
      {"2024-02-29T00:00:00Z", 1709164800000},
      {"2023-02-29T00:00:00Z", std::nullopt},
      {"Sun, 31 Apr 2005 10:00:00 GMT", std::nullopt},
      {"2003-13-10T04:00:00Z", std::nullopt},
      {"2003-06-10T25:00:00Z", std::nullopt},
      {"yesterday", std::nullopt},
      {"", std::nullopt},
      {"10 Foo 2003 04:00:00 GMT", std::nullopt},
      {"Tue, 10 Jun 2003 04:00:00 GMT trailing words", std::nullopt},
      {"2003-06-10T04:00:00Z and more", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFeedDateUtc(c.text), c.utc) << c.text;
  // The program's time stamps count local time: the same instant, moved by the zone's offset.
  const auto local = ParseFeedDate("2003-06-10T04:00:00Z");
  ASSERT_TRUE(local);
  std::time_t t = static_cast<std::time_t>(k2003 / 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  EXPECT_EQ(*local, k2003 + static_cast<int64_t>(tm.tm_gmtoff) * 1000);
}

}  // namespace
}  // namespace zibu
