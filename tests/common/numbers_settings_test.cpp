#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "common/errors.h"
#include "common/file_io.h"
#include "common/numbers.h"
#include "common/settings.h"
#include "common/shortintmap.h"
#include "common/text.h"

namespace fs = std::filesystem;
using namespace zibu;

TEST(IntegerRule, AcceptsBlanksSignAndHexForms) {
  EXPECT_EQ(StrToInt("  42"), 42);
  EXPECT_EQ(StrToInt("-7"), -7);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("x10"), 16);
  EXPECT_EQ(StrToInt("X10"), 16);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt64("1700000000000"), 1700000000000LL);
}

TEST(IntegerRule, RejectsEverythingElse) {
  for (const char* bad : {"", " ", "abc", "12 ", "1.5", "$", "0x", "-", "2147483648", "1e3", "12a"}) {
    EXPECT_THROW(StrToInt(bad), ConversionError) << bad;
  }
  EXPECT_EQ(StrToIntDef("abc", 300), 300);
  try {
    StrToInt("abc");
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    EXPECT_EQ(e.Kind(), "EConvertError");
  }
}

TEST(ErrorTexts, QuoteOnlyAnExcerptOfHostileInput) {
  const std::string digits(10'000'000, '7');
  struct Case {
    std::function<void()> call;
    size_t quotedBytes;
  };
  const std::vector<Case> cases = {
      {[&] { StrToInt(digits); }, digits.size()},
      {[&] { StrToInt64("x" + digits); }, digits.size() + 1},
      {[&] { StrToFloat(digits + "e"); }, digits.size() + 1},
      {[&] { HtmlToText("text &#" + digits + "; more"); }, digits.size()},
      {[&] { TShortIntMap().Get(digits); }, digits.size()},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    try {
      cases[i].call();
      ADD_FAILURE() << "case " << i << " did not fail";
    } catch (const Error& e) {
      EXPECT_LT(std::string(e.what()).size(), 200u) << i;
      EXPECT_NE(std::string(e.what()).find("...(" + std::to_string(cases[i].quotedBytes) + " bytes)"),
                std::string::npos)
          << i << ": " << e.what();
    }
  }
  EXPECT_EQ(Excerpt("short"), "short");
  EXPECT_EQ(Excerpt(std::string(kExcerptLimit, 'a')), std::string(kExcerptLimit, 'a'));
  EXPECT_EQ(Excerpt("abcdef", 3), "abc...(6 bytes)");
}

TEST(FloatRule, ParsesAndFormats) {
  EXPECT_DOUBLE_EQ(StrToFloat("1.13"), 1.13);
  EXPECT_DOUBLE_EQ(StrToFloat(" -2 "), -2);
  EXPECT_DOUBLE_EQ(StrToFloat("1.7E3"), 1700);
  EXPECT_THROW(StrToFloat("1.2.3"), ConversionError);
  EXPECT_THROW(StrToFloat(""), ConversionError);
  EXPECT_THROW(StrToFloat("abc"), ConversionError);
  EXPECT_EQ(FloatToStr(1733659200123.0), "1733659200123");
  EXPECT_EQ(FloatToStr(0), "0");
  EXPECT_EQ(FloatToStr(-5), "-5");
  EXPECT_EQ(FloatToStr(1e15), "1E15");
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zibu_settings_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "zibu.conf").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir_;
  std::string path_;
};

TEST_F(SettingsFileTest, MissingFileAndKeysGiveDefaults) {
  SettingsFile s(path_);
  EXPECT_EQ(s.ReadString("main", "proxyHost", ""), "");
  EXPECT_EQ(s.ReadInteger("main", "repeatInterval", 60), 60);
  EXPECT_TRUE(s.ReadFlag("main", "forceToForeground", true));
  EXPECT_FALSE(s.HasKey("main", "x"));
}

TEST_F(SettingsFileTest, NamesIgnoreCaseFlagsAreExact) {
  Write("[Main]\r\nVerboseOutput=True\r\nfirsttime=true\r\nrepeatInterval=abc\r\nproxyPort= 8080\r\n");
  SettingsFile s(path_);
  EXPECT_FALSE(s.ReadFlag("main", "verboseOutput", false));
  EXPECT_TRUE(s.ReadFlag("MAIN", "firstTime", false));
  EXPECT_EQ(s.ReadInteger("main", "repeatInterval", 60), 60);
  EXPECT_EQ(s.ReadInteger("main", "proxyport", 0), 8080);
}

TEST_F(SettingsFileTest, UnknownKeysKeptLongValuesWholeAtomicPrivateWrite) {
  Write("[other]\nkeep=me\n[main]\nfeedCount=1\n");
  std::string long_value(5000, 'k');
  long_value += "CRLF=tail";
  {
    SettingsFile s(path_);
    s.WriteString("rss", "feed.0.keywords", long_value);
    s.WriteInteger("MAIN", "FEEDCOUNT", 2);
    s.Save();
  }
  SettingsFile r(path_);
  EXPECT_EQ(r.ReadString("rss", "feed.0.keywords", ""), long_value);
  EXPECT_EQ(r.ReadInteger("main", "feedCount", 0), 2);
  EXPECT_EQ(r.ReadString("other", "keep", ""), "me");
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(Read().find("feedCount=2"), std::string::npos);
}

TEST_F(SettingsFileTest, HighBytesSurviveAndMissingFolderRaises) {
  {
    SettingsFile s(path_);
    s.WriteString("rss", "feed.0.keywords", "1:caf\xE9,\x80uro");
    s.Save();
  }
  EXPECT_EQ(SettingsFile(path_).ReadString("rss", "feed.0.keywords", ""), "1:caf\xE9,\x80uro");
  SettingsFile gone((dir_ / "no" / "such" / "zibu.conf").string());
  gone.WriteString("main", "a", "1");
  try {
    gone.Save();
    FAIL() << "saved into a missing folder";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find("Unable to write to "), std::string::npos);
  }
}

// Whatever the file holds, every key is read, or else the file is left as it is: a NUL byte is
// dropped (and counted) instead of ending the read; a file that cannot be read refuses a save.
TEST_F(SettingsFileTest, TheWholeFileIsReadOrNeverWrittenOver) {
  using std::string_literals::operator""s;
  struct Case {
    const char* name;
    std::string content;
    bool asFolder;  // zibu.conf is a folder
    bool loaded;
    int nuls;
    std::string feed1, feed2;  // values of feed.1.url and feed.2.url after the load
  };
  const Case cases[] = {
      {"no NUL", "[rss]\nfeed.1.url=a\nfeed.2.url=b\n", false, true, 0, "a", "b"},
      {"NUL on a line of its own", "[rss]\nfeed.1.url=a\n\0\nfeed.2.url=b\n"s, false, true, 1, "a", "b"},
      {"NULs inside a value and a key",
       "[rss]\nfeed.1.url=a\0\0x\nfeed.\0"
       "2.url=b\0c\n"s,
       false, true, 4, "ax", "bc"},
      {"NUL first", "\0[rss]\nfeed.2.url=b\n"s, false, true, 1, "", "b"},
      {"a folder", "", true, false, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path_);
    if (c.asFolder)
      fs::create_directories(fs::path(path_) / "inside");
    else
      Write(c.content);
    SettingsFile s(path_);
    EXPECT_EQ(s.Loaded(), c.loaded);
    EXPECT_EQ(s.LoadProblem().empty(), c.loaded) << s.LoadProblem();
    EXPECT_EQ(s.NulBytesDropped(), c.nuls);
    EXPECT_EQ(s.ReadString("rss", "feed.2.url", ""), c.feed2);
    s.WriteString("main", "feedCount", "3");
    if (c.loaded) {
      s.Save();
      SettingsFile again(path_);
      EXPECT_EQ(again.ReadString("rss", "feed.2.url", ""), c.feed2);
      EXPECT_EQ(again.ReadString("rss", "feed.1.url", ""), c.feed1);
      EXPECT_EQ(again.NulBytesDropped(), 0);
    } else {
      try {
        s.Save();
        FAIL() << "saved over a file it could not read";
      } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find("I have not saved " + path_ + ", because I could not read it: "),
                  std::string::npos)
            << e.what();
      }
      EXPECT_TRUE(fs::is_directory(fs::path(path_) / "inside"));
    }
  }
  // Section and key names as the file spells them, in file order.
  fs::remove_all(path_);
  Write("[b]\nZ=1\na=2\n[A]\n");
  SettingsFile names(path_);
  EXPECT_EQ(names.Sections(), (std::vector<std::string>{"b", "A"}));
  EXPECT_EQ(names.Keys("B"), (std::vector<std::string>{"Z", "a"}));
  EXPECT_TRUE(names.Keys("none").empty());
}

TEST_F(SettingsFileTest, UnwritableFolderRaisesAndKeepsOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  Write("[main]\na=1\n");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  SettingsFile s(path_);
  s.WriteString("main", "a", "2");
  EXPECT_THROW(s.Save(), IoError);
  fs::permissions(dir_, fs::perms::owner_all);
  EXPECT_EQ(SettingsFile(path_).ReadString("main", "a", ""), "1");
}

// A full disk (the temporary file leads to /dev/full) fails each writer with the cause named, and
// the file of the last save stays as it was.
TEST_F(SettingsFileTest, AFullDiskIsNamedAndTheOldFileStays) {
  const struct {
    const char* name;
    std::function<void()> save;
  } writers[] = {
      {"settings file", [&] {
         SettingsFile s(path_);
         s.WriteString("main", "a", "2");
         s.Save();
       }},
      {"whole file", [&] { WriteFileAtomic(path_, "[main]\na=2\n"); }},
  };
  for (const auto& w : writers) {
    SCOPED_TRACE(w.name);
    Write("[main]\na=1\n");
    fs::remove(path_ + ".tmp");
    fs::create_symlink("/dev/full", path_ + ".tmp");
    try {
      w.save();
      FAIL() << "the save reported success";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos) << e.what();
    }
    EXPECT_EQ(SettingsFile(path_).ReadString("main", "a", ""), "1");
    EXPECT_FALSE(fs::is_symlink(path_ + ".tmp"));
  }
}

// With a backup path the file a save replaces is kept there; a save that fails leaves both as
// they were, and a backup that cannot be kept does not fail the save.
TEST_F(SettingsFileTest, TheBackupCopyIsTheFileASaveReplaced) {
  const std::string backupDir = (dir_ / "backup").string();
  const std::string backup = backupDir + "/zibu.conf";
  const struct {
    const char* name;
    const char* before;  // the file before the save ("" for none)
    bool backupFolder;
    bool diskFull;
    const char* fileAfter;    // a=... after the save
    const char* backupAfter;  // the backup's a=..., "" for no backup file
    bool problem;
  } cases[] = {
      {"a first save", "", true, false, "2", "", false},
      {"a later save", "[main]\na=1\n", true, false, "2", "1", false},
      {"no backup folder", "[main]\na=1\n", false, false, "2", "", true},
      {"a full disk", "[main]\na=1\n", true, true, "1", "0", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path_);
    fs::remove_all(path_ + ".tmp");
    fs::remove_all(backupDir);
    if (*c.before) Write(c.before);
    if (c.backupFolder) {
      fs::create_directories(backupDir);
      if (c.diskFull) std::ofstream(backup) << "[main]\na=0\n";
    }
    if (c.diskFull) fs::create_symlink("/dev/full", path_ + ".tmp");
    SettingsFile s(path_);
    s.SetBackupPath(backup);
    s.WriteString("main", "a", "2");
    EXPECT_EQ(c.diskFull, [&] {
      try {
        s.Save();
        return false;
      } catch (const IoError&) {
        return true;
      }
    }());
    EXPECT_EQ(SettingsFile(path_).ReadString("main", "a", ""), c.fileAfter);
    EXPECT_EQ(fs::exists(backup), *c.backupAfter != 0);
    if (*c.backupAfter) {
      EXPECT_EQ(SettingsFile(backup).ReadString("main", "a", ""), c.backupAfter);
    }
    EXPECT_EQ(s.BackupProblem().empty(), !c.problem) << s.BackupProblem();
    EXPECT_FALSE(fs::exists(backup + ".new"));
  }
}

TEST(CrlfEncoding, RoundTripsLinesAndReadsAnyCase) {
  EXPECT_EQ(EncodeCrlfLines({"1:a", "0:b"}), "1:aCRLF0:bCRLF");
  EXPECT_EQ(DecodeCrlfLines("1:aCRLF0:bCRLF"), (std::vector<std::string>{"1:a", "0:b"}));
  EXPECT_EQ(DecodeCrlfLines("1:acrlfb"), (std::vector<std::string>{"1:a", "b"}));
  EXPECT_EQ(DecodeCrlfLines(EncodeCrlfLines({"1:a", "", "1:b"})),
            (std::vector<std::string>{"1:a", "", "1:b"}));
  EXPECT_TRUE(DecodeCrlfLines("").empty());
}
