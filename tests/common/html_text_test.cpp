#include <gtest/gtest.h>

#include "common/codepage.h"
#include "common/errors.h"
#include "common/text.h"

using namespace zibu;

TEST(HtmlToText, BreaksParagraphsScriptsAndReferences) {
  EXPECT_EQ(HtmlToText("test<br><p><script language=javascript>function x():</script>end&quot;"),
            "test  end\"");
  EXPECT_EQ(HtmlToText("a<BR>b<P>c<Br>d"), "a b c d");
  // Other spellings are block tags: one blank where the text had none.
  EXPECT_EQ(HtmlToText("a<br/>b<p class=x>c<br >d"), "a b c d");
  EXPECT_EQ(HtmlToText("l1\r\nl2\tl3"), "l1  l2 l3");
}

TEST(HtmlToText, CutOffTagsAtTheEnds) {
  for (const char* s : {"bar><nobar>", "<nobr", "nobr>", "<<nobr", "nobr><blah"})
    EXPECT_EQ(HtmlToText(s), "") << s;
  EXPECT_EQ(HtmlToText("a < b"), "");
  EXPECT_EQ(HtmlToText("a > b"), " b");
  EXPECT_EQ(HtmlToText("x>y<b>z"), "yz");
  EXPECT_EQ(HtmlToText("keep<b>this</b> and <i"), "keepthis and ");
  // The "<" put in front completes a break.
  EXPECT_EQ(HtmlToText("br>after"), " after");
  // The ">" put at the end completes one too.
  EXPECT_EQ(HtmlToText("<x a<br"), "");
}

TEST(HtmlToText, ScriptsAndStyles) {
  EXPECT_EQ(HtmlToText("<SCRIPT>x</Script>y"), "y");
  // Without a closing "/script>" the script's text stays; only its tag goes.
  EXPECT_EQ(HtmlToText("a<script>var x=1;"), "avar x=1;");
  EXPECT_EQ(HtmlToText("a<style type=\"text/css\">p{color:red}</STYLE>b"), "ab");
  // The close is searched from the open, so an earlier close does not count.
  EXPECT_EQ(HtmlToText("a</script>b<script>c</script>d"), "abd");
  // Deleting a script can join the bytes around it into a new script tag.
  EXPECT_EQ(HtmlToText("1<scr<script>x</script>ipt>hidden</script>2"), "12");
  EXPECT_EQ(HtmlToText("1<sty<style>x</style>le>hidden</style>2"), "12");
  // A second open after the first one's close that is never closed stays as text.
  EXPECT_EQ(HtmlToText("<script>a</script>b<script>c"), "bc");
  // Scripts go before styles: a style inside a script goes with it.
  EXPECT_EQ(HtmlToText("<script><style></script>x</style>y"), "xy");
}

// A reference above 255 gives the byte of its character in Windows-1252, as the XML scanner
// gives it for the character written literally, and 0xBF for a character the code page lacks.
TEST(HtmlToText, ReferencesAbove255AsTheLiteralCharacter) {
  struct Case {
    const char* reference;
    std::string expected;
  };
  const Case cases[] = {
      {"&#8217;", "\x92"}, {"&#x2019;", "\x92"}, {"&#8220;", "\x93"},   {"&#8221;", "\x94"},
      {"&#8211;", "\x96"}, {"&#8212;", "\x97"},  {"&#8364;", "\x80"},   {"&#x20AC;", "\x80"},
      {"&#8482;", "\x99"}, {"&#338;", "\x8C"},   {"&#931;", "\xBF"},    {"&#1046;", "\xBF"},
      {"&#128517;", "\xBF"}, {"&#x1F605;", "\xBF"}, {"&#294;", "\xBF"}, {"&#1114112;", "\xBF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HtmlToText(std::string("a") + c.reference + "b"), "a" + c.expected + "b") << c.reference;
    // No byte above 255 can start a new reference with its neighbours.
    EXPECT_EQ(HtmlToText(std::string(c.reference) + "#65;"), c.expected + "#65;") << c.reference;
  }
}

TEST(HtmlToText, NumericReferences) {
  EXPECT_EQ(HtmlToText("Caf&#233;"), "Caf\xE9");
  EXPECT_EQ(HtmlToText("&#x41;&#X42;&#$43;&#0x44;"), "ABCD");
  EXPECT_EQ(HtmlToText("&#8217;"), "\x92");
  EXPECT_EQ(HtmlToText("&# 65;&#-1;&#+66;"),
            "A\xFF"
            "B");
  // A decoded "&" or "#" starts a new reference with what follows or precedes it.
  EXPECT_EQ(HtmlToText("&#38;#65;"), "A");
  EXPECT_EQ(HtmlToText("&&#35;66;"), "B");
  EXPECT_EQ(HtmlToText("&#38;#38;#67;"), "C");
  EXPECT_EQ(HtmlToText("&#38;&#35;68;"), "D");
  // A decoded "&" before "lt;" is a named reference decoded later.
  EXPECT_EQ(HtmlToText("&#38;lt;b&#38;gt;"), "<b>");
  // No ";" after the "&#": nothing more is decoded.
  EXPECT_EQ(HtmlToText("&#65;&#66"), "A&#66");
  EXPECT_EQ(HtmlToText("&#38;#66"), "&#66");
  EXPECT_EQ(HtmlToText("&amp;#65;"), "&#65;");
  EXPECT_EQ(HtmlToText("&#0;"), std::string(1, '\0'));
}

TEST(HtmlToText, NumericReferenceThatIsNotANumberRaises) {
  for (const char* s : {"&#abc;", "&#;", "x &#12a; y", "&#65;&#; ok", "&#99999999999;", "&#65 ;"}) {
    try {
      HtmlToText(s);
      ADD_FAILURE() << "no error for " << s;
    } catch (const ConversionError& e) {
      EXPECT_EQ(e.Kind(), "EConvertError");
      EXPECT_NE(std::string(e.what()).find("is not a valid integer value"), std::string::npos);
    }
  }
}

TEST(HtmlToText, NamedReferencesInTheirOrder) {
  EXPECT_EQ(HtmlToText("a&nbsp;&amp;&nbsp;b"), "a & b");
  EXPECT_EQ(HtmlToText("&AMP;&Lt;&gT;&QUOT;"), "&<>\"");
  EXPECT_EQ(HtmlToText("&copy;&mdash;&ndash;&raquo;&euro;&pound;"),
            "(c)"
            "---"
            "--"
            ">>"
            "EURO"
            "\xA3");
  // Escaped tags survive as text because tags go first.
  EXPECT_EQ(HtmlToText("&lt;b&gt;bold&lt;/b&gt;"), "<b>bold</b>");
  // "&amp;" is decoded after "&lt;" but before "&copy;".
  EXPECT_EQ(HtmlToText("&amp;lt; &amp;copy; &amp;amp; &amp;euro; &amp;nbsp;"), "&lt; (c) &amp; EURO &nbsp;");
  EXPECT_EQ(HtmlToText("&amp;&copy;"), "&(c)");
  EXPECT_EQ(HtmlToText("&eacute; &hellip; &amp &lt"), "&eacute; &hellip; &amp &lt");
}

TEST(HtmlToText, PlainTextIsUnchangedButForLineBreaks) {
  const std::string plain = "Nothing to see here: 1 + 2 = 3; \xE9t\xE9 caf\xE9 \"quoted\"";
  EXPECT_EQ(HtmlToText(plain), plain);
  EXPECT_EQ(HtmlToText(""), "");
  EXPECT_EQ(HtmlToText(std::string("a\0b", 3)), std::string("a\0b", 3));
}

// A block element's tag separates the words on either side of it; the blank goes only where
// the text has none already.
TEST(HtmlToText, BlockBoundariesLeaveABlank) {
  const struct {
    const char* html;
    const char* text;
  } cases[] = {
      {"<ul><li>Home</li><li>All stories</li><li>About us</li></ul>", "Home All stories About us "},
      {"turns to handhelds</h1><nav><a href=/>Home</a></nav>", "turns to handhelds Home "},
      {"<div>one</div><div>two</div>", "one two "},
      {"<DIV CLASS=x>one</Div>two", "one two"},
      {"<p class=lead>First.</p><p>Second.</p>", "First.  Second. "},  // "<p>" itself is a blank already
      {"a</p>b</P>c", "a b c"},
      {"a<br/>b<BR />c<hr>d<hr/>e", "a b c d e"},
      {"<table><tr><th>Name</th><th>Age</th></tr><tr><td>Ann</td><td>9</td></tr></table>",
       "Name Age Ann 9 "},
      {"<h1>T</h1><h2>U</h2><h3>V</h3><h4>W</h4><h5>X</h5><h6>Y</h6>", "T U V W X Y "},
      {"<header>h</header><section>s</section><article>a</article><footer>f</footer><aside>x</aside>",
       "h s a f x "},
      {"<dl><dt>term</dt><dd>meaning</dd></dl><blockquote>q</blockquote><pre>p</pre>", "term meaning q p "},
      {"<title>Page</title></head><body>Text", "Page Text"},
      // No blank at the start, none doubled: the text already had one there.
      {"<div><div><p class=a>deep</p></div></div>", "deep "},
      {"end </div> of <li> it", "end  of  it"},
      {"word\n</li>\n<li>word", "word  word"},
      // Where the blank stands decides a reference across the boundary.
      {"&amp;</div>copy;", "& copy;"},
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlToText(c.html), c.text) << c.html;
}

// Inline markup and everything else that is not a block element leaves no trace, as before.
TEST(HtmlToText, InlineMarkupJoinsAsBefore) {
  const struct {
    const char* html;
    const char* text;
  } cases[] = {
      {"un<b>break</b>able", "unbreakable"},
      {"<a href=\"/x\">link</a><span class=y>text</span><i>it</i><em>em</em><strong>s</strong>",
       "linktextitems"},
      {"a<img src=x.png>b<sup>2</sup><sub>i</sub><code>c</code><font size=2>f</font>", "ab2icf"},
      {"x<!-- div -->y", "xy"},
      {"pre<divider>post<pa>q<lid>r<h7>s<trx>t", "prepostqrst"},  // names that only begin like block ones
      {"a<!DOCTYPE html>b<?xml version=\"1.0\"?>c", "abc"},
      {"a<script>document.write('<div>')</script>b<style>div{}</style>c", "abc"},
      {"<b>bold</b> <i>italic</i>", "bold italic"},
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlToText(c.html), c.text) << c.html;
}

TEST(HtmlToText, WhichTagsAreBlockTags) {
  for (const char* tag : {"p", "P", "/p", "p class=x", "br/", "br /", "BR", "div", "/DIV", "li", "ul", "ol",
                          "h1", "H6", "td", "th", "tr", "table", "section", "article", "nav", "header",
                          "footer", "blockquote", "hr/", "title", "option", "dd", "dt", "main"})
    EXPECT_TRUE(IsBlockTag(tag)) << tag;
  for (const char* tag : {"", "/", "b", "/b", "a href=x", "span", "img src=y", "h7", "h", "pa", "divx",
                          "!-- div --", "!DOCTYPE html", "?xml", "p:x", "li=1", " p", "//p", "script",
                          "abbreviationsthatarelong"})
    EXPECT_FALSE(IsBlockTag(tag)) << tag;
}

// The UTF-8 conversion shows what HtmlToText's bytes stand for, and the characters Windows-1252
// lacks as themselves; markup and blanks are handled exactly alike.
TEST(HtmlToTextUtf8, ReferencesGiveTheirCharactersAndTheRestIsAsHtmlToText) {
  struct Case {
    const char* what;
    std::string html;      // UTF-8
    std::string expected;  // UTF-8
  };
  const Case cases[] = {
      {"curly quotes and dashes", "&#8220;Hi&#8221; &#8211; &#x2014;", "\u201CHi\u201D \u2013 \u2014"},
      {"a byte reference shows the Windows-1252 character", "&#150;&#146;", "\u2013\u2019"},
      {"Cyrillic and Greek references", "&#1055;&#1088;&#1080; &#931;&#945;", "\u041F\u0440\u0438 \u03A3\u03B1"},
      {"an emoji, decimal and hexadecimal", "&#128517;&#x1F605;", "\U0001F605\U0001F605"},
      {"literal text of any script is kept", "<b>\u041A\u043E\u0442</b> \u4E2D\u6587 \U0001F605",
       "\u041A\u043E\u0442 \u4E2D\u6587 \U0001F605"},
      {"a code point that is no character", "&#1114112;&#xD800;", "\u00BF\u00BF"},
      {"named references, the pound sign in UTF-8", "&pound;5&nbsp;&amp;euro;", "\u00A35 EURO"},
      {"a decoded ampersand still starts a reference", "&#38;#1060;", "\u0424"},
      {"block tags leave a blank, scripts go", "<p>\u0410</p><script>x</script><div>\u0411</div>",
       " \u0410 \u0411 "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HtmlToTextUtf8(c.html), c.expected) << c.what;
    // Back in Windows-1252 it is what HtmlToText gives for the same text in Windows-1252.
    EXPECT_EQ(Utf8ToWin1252(HtmlToTextUtf8(c.html)), HtmlToText(Utf8ToWin1252(c.html))) << c.what;
  }
  EXPECT_THROW(HtmlToTextUtf8("&#12x;"), ConversionError);
}
