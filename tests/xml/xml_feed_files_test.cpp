// The sample feeds of tests/data/xml, through the scanner and through zibu-cli xml-parts.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "xml/xml_parser.h"
#include "xml/xml_test_util.h"

namespace zibu {
namespace {

using Strings = std::vector<std::string>;

const std::string kData = std::string(ZIBU_TEST_DATA_DIR) + "/xml/";

// Title, link and guid texts of each item, the way the feed reader picks them by part name.
Strings ItemFields(const std::string& file) {
  TXmlParser p;
  EXPECT_TRUE(p.LoadFile(file));
  Strings out;
  bool inItem = false;
  p.Rewind();
  while (p.NextPart()) {
    if (p.PartKind() == PartStartTag && (p.PartName() == "item" || p.PartName() == "entry")) inItem = true;
    if (!inItem) continue;
    if (p.PartKind() == PartEndTag && (p.PartName() == "title" || p.PartName() == "link"))
      out.push_back(p.PartName() + ":" + p.PartContent());
    if (p.PartKind() == PartCData) out.push_back("cdata:" + p.PartContent());
    if (p.PartKind() == PartStartTag && p.PartName() == "guid")
      out.push_back("guid:" + p.PartAttributes().ValueOf("isPermaLink"));
    if (p.PartKind() == PartEmptyTag && p.PartName() == "link")
      out.push_back("href:" + p.PartAttributes().ValueOf("href"));
  }
  return out;
}

TEST(XmlFeedFiles, Utf8RssWithExternalDtd) {
  EXPECT_EQ(ItemFields(kData + "feed_utf8.xml"),
            (Strings{"title:Prices rise 5% & the \x93"
                     "espresso\x94 index <3",
                     "link:https://news.example.com/a?x=1&y=2", "guid:yes",
                     "cdata:<p>Costs went up by 3 \x80 per cup.</p>", "title:Second item on two lines",
                     "link:https://news.example.com/b", "guid:no"}));
  TXmlParser p;
  ASSERT_TRUE(p.LoadFile(kData + "feed_utf8.xml"));
  auto parts = xmltest::Walk(p);
  EXPECT_EQ(p.RootName(), "rss");
  EXPECT_EQ(p.DeclaredEncoding(), "UTF-8");
  ASSERT_GE(parts.size(), 8u);
  EXPECT_EQ(parts[5].content, "Caf\xE9 News \x97 Zibu Test Press");  // entities from both subsets
  EXPECT_EQ(parts[7].attrs, Strings{"lang=en"});                     // fixed in the external DTD
}

TEST(XmlFeedFiles, Latin1AtomIsNotConverted) {
  EXPECT_EQ(ItemFields(kData + "feed_latin1.xml"), (Strings{"title:R\xE9sum\xE9", "href:http://e.com/1"}));
}

std::string RunCli(const std::string& args, int* status) {
  std::string cmd = std::string(ZIBU_BIN_DIR) + "/zibu-cli xml-parts " + args + " 2>/dev/null";
  std::string out;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  int rc = pclose(f);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

TEST(XmlCli, PartsAsJsonLines) {
  if (!std::filesystem::exists(std::string(ZIBU_BIN_DIR) + "/zibu-cli")) GTEST_SKIP() << "zibu-cli not built";
  xmltest::TempDir dir;
  std::string file =
      dir.Write("t.xml", std::string("<?xml version='1.0'?><a k='\"q\"\\' b='2'>x\x01\t\xC3\xA9</a>"
                                     "<!DOCTYPE broken"));
  int status = -1;
  std::string out = RunCli(file, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out,
            "{\"kind\": \"XML Prolog\", \"name\": \"\", \"content\": \"\", \"attrs\": [[\"version\", "
            "\"1.0\", 0, 0]]}\n"
            "{\"kind\": \"Start Tag\", \"name\": \"a\", \"content\": \"\", \"attrs\": [[\"b\", \"2\", 0, 0], "
            "[\"k\", \"\\\"q\\\"\\\\\", 0, 0]]}\n"
            "{\"kind\": \"Text\", \"name\": \"a\", \"content\": \"x\\u0001 \\u00e9\", \"attrs\": [[\"b\", "
            "\"2\", 0, 0], "
            "[\"k\", \"\\\"q\\\"\\\\\", 0, 0]]}\n"
            "{\"kind\": \"End Tag\", \"name\": \"a\", \"content\": \"x\\u0001 \\u00e9\", \"attrs\": []}\n"
            "{\"kind\": \"DTD Declaration\", \"name\": \"\", \"content\": \"\", \"attrs\": []}\n");
  std::string count = RunCli("--count " + file, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(count, "{\"parts\": 5, \"bytes\": 11}\n");  // names a, a, a; contents "x\x01 \xE9" twice
  RunCli(dir.Path().string() + "/missing.xml", &status);
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace zibu
