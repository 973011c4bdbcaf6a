#include <gtest/gtest.h>

#include "common/errors.h"
#include "common/text.h"

using namespace zibu;

TEST(HtmlToText, BreaksParagraphsScriptsAndReferences) {
  EXPECT_EQ(HtmlToText("test<br><p><script language=javascript>function x():</script>end&quot;"),
            "test  end\"");
  EXPECT_EQ(HtmlToText("a<BR>b<P>c<Br>d"), "a b c d");
  // Only the bare spellings are breaks; others are ordinary tags and leave nothing.
  EXPECT_EQ(HtmlToText("a<br/>b<p class=x>c<br >d"), "abcd");
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

TEST(HtmlToText, NumericReferences) {
  EXPECT_EQ(HtmlToText("Caf&#233;"), "Caf\xE9");
  EXPECT_EQ(HtmlToText("&#x41;&#X42;&#$43;&#0x44;"), "ABCD");
  EXPECT_EQ(HtmlToText("&#8217;"), "\x19");
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
