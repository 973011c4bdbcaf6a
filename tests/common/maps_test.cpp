#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/compmap.h"
#include "common/errors.h"
#include "common/shortintmap.h"
#include "common/stringmap.h"

namespace fs = std::filesystem;
using namespace zibu;

namespace {

class MapFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zibu_maps_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

}  // namespace

TEST(StringMap, PositionsDeleteAndDuplicates) {
  TStringMap m;
  m.Add("x", "1");
  m.Add("y", "2");
  EXPECT_FALSE(m.Delete(2));
  EXPECT_EQ(m.Count(), 2);
  EXPECT_TRUE(m.Delete(0));
  ASSERT_EQ(m.Count(), 1);
  EXPECT_EQ(m.KeyAt(0), "y");
  EXPECT_EQ(m.ValueAt(0), "2");
  m.Add("y", "3");
  EXPECT_EQ(m.Count(), 2);
  EXPECT_EQ(m.ValueAt(1), "3");
  EXPECT_THROW(m.KeyAt(2), std::out_of_range);
  EXPECT_THROW(m.Delete(-1), std::out_of_range);
  m.Clear();
  EXPECT_EQ(m.Count(), 0);
}

TEST(ShortIntMap, LookupByKeyIgnoresCaseAndFindsTheFirst) {
  TShortIntMap m;
  const std::pair<const char*, int8_t> entries[] = {
      {"EEE", 5}, {"AAA", 1}, {"CCC", 3}, {"BBB", 2}, {"DDD", 4}};
  for (const auto& [k, v] : entries) m.Add(k, v);
  EXPECT_EQ(m.Get("EEE"), 5);
  EXPECT_EQ(m.Get("AAA"), 1);
  EXPECT_EQ(m.Get("CCC"), 3);
  EXPECT_EQ(m.Get("DDD"), 4);
  EXPECT_EQ(m.Get("BBB"), 2);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(m.KeyAt(i), entries[i].first);
    EXPECT_EQ(m.IndexOf(entries[i].first), i);
  }
  EXPECT_EQ(m.Get("eee"), 5);
  EXPECT_EQ(m.IndexOf("cCc"), 2);
  m.Add("aaa", 9);  // a duplicate: IndexOf and Get keep finding the first
  EXPECT_EQ(m.IndexOf("AAA"), 1);
  EXPECT_EQ(m.Get("Aaa"), 1);
  EXPECT_EQ(m.ValueAt(5), 9);
  EXPECT_EQ(m.IndexOf("FFF"), -1);
  m.Add("CAF\xC9", 6);  // accented letters of Windows-1252 fold as well
  EXPECT_EQ(m.Get("caf\xE9"), 6);
  EXPECT_EQ(m.IndexOf("CAFE"), -1);
  try {
    m.Get("zzz");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "No such key:zzz");
  }
}

TEST(ShortIntMap, SetValueAtAndClear) {
  TShortIntMap m;
  m.Add("A", 1);
  EXPECT_FALSE(m.SetValueAt(1, 7));
  EXPECT_EQ(m.ValueAt(0), 1);
  EXPECT_TRUE(m.SetValueAt(0, -128));
  EXPECT_EQ(m.Get("a"), -128);
  EXPECT_THROW(m.SetValueAt(-1, 0), std::out_of_range);
  m.Clear();
  EXPECT_EQ(m.Count(), 0);
  EXPECT_EQ(m.IndexOf("A"), -1);  // the index is emptied with the lists
  m.Add("B", 2);
  EXPECT_EQ(m.IndexOf("b"), 0);
}

TEST_F(MapFiles, ShortIntMapFileFormatAndRoundTrip) {
  TShortIntMap m;
  m.Add("FOOTBALL", -12);
  m.Add("A=B", 7);
  m.Add("==", 127);
  m.Add("ZED", -128);
  m.SaveToFile(Path("w.dat"));
  EXPECT_EQ(Read("w.dat"), "FOOTBALL=-12\r\nA&equals;B=7\r\n&equals;&equals;=127\r\nZED=-128\r\n");
  EXPECT_FALSE(fs::exists(Path("w.dat.tmp")));
  TShortIntMap back;
  back.Add("stale", 1);
  back.LoadFromFile(Path("w.dat"));
  ASSERT_EQ(back.Count(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(back.KeyAt(i), m.KeyAt(i));
    EXPECT_EQ(back.ValueAt(i), m.ValueAt(i));
  }
  EXPECT_EQ(back.IndexOf("a=b"), 1);
}

TEST_F(MapFiles, ShortIntMapReadingRules) {
  Write("w.dat", "ONE=200\r\n\r\nno separator\nTWO=$10\nA&EQUALS;B=-1\r\nTHREE= 3\nFOUR=-129\n");
  TShortIntMap m;
  m.LoadFromFile(Path("w.dat"));
  ASSERT_EQ(m.Count(), 5);
  EXPECT_EQ(m.Get("ONE"), -56);  // only the lowest 8 bits
  EXPECT_EQ(m.Get("TWO"), 16);
  EXPECT_EQ(m.Get("A=B"), -1);
  EXPECT_EQ(m.Get("THREE"), 3);
  EXPECT_EQ(m.Get("FOUR"), 127);
}

TEST_F(MapFiles, ShortIntMapBadValueKeepsTheLinesBefore) {
  Write("w.dat", "GOOD=1\r\nX=1=2\r\nLATER=3\r\n");
  TShortIntMap m;
  EXPECT_THROW(m.LoadFromFile(Path("w.dat")), ConversionError);
  ASSERT_EQ(m.Count(), 1);
  EXPECT_EQ(m.KeyAt(0), "GOOD");
  m.LoadFromFile(Path("missing.dat"));
  EXPECT_EQ(m.Count(), 0);
}

TEST_F(MapFiles, IoErrorsReachTheCaller) {
  TShortIntMap s;
  s.Add("A", 1);
  EXPECT_THROW(s.SaveToFile(Path("no/such/folder/w.dat")), IoError);
  TCompMap c;
  c.Add("a", 1);
  EXPECT_THROW(c.SaveToFile(Path("no/such/folder/s.dat")), IoError);
  fs::create_directories(Path("a_folder"));
  EXPECT_THROW(s.LoadFromFile(Path("a_folder")), IoError);
}

TEST(CompMap, DeleteKeepsPairsAndAddAllCopies) {
  TCompMap m;
  m.Add("a", 5);
  m.Add("b", 6);
  m.Add("c", 7);
  EXPECT_FALSE(m.Delete(3));
  EXPECT_TRUE(m.Delete(1));
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m.KeyAt(0), "a");
  EXPECT_EQ(m.ValueAt(0), 5);
  EXPECT_EQ(m.KeyAt(1), "c");
  EXPECT_EQ(m.ValueAt(1), 7);
  EXPECT_THROW(m.Delete(-1), std::out_of_range);

  TCompMap copy;
  copy.AddAll(m);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.KeyAt(1), "c");
  EXPECT_EQ(copy.ValueAt(1), 7);
  copy.AddAll(copy);  // onto itself: doubles once
  EXPECT_EQ(copy.Count(), 4);
  EXPECT_EQ(copy.KeyAt(3), "c");
  copy.Clear();
  EXPECT_EQ(copy.Count(), 0);
}

TEST_F(MapFiles, CompMapFileFormatAndRoundTrip) {
  TCompMap m;
  const int64_t stamp = 1765190000123;
  m.Add("page?a=b", stamp);
  m.Add("http://x/y", -5);
  m.Add("dup", 999999999999999);
  m.Add("dup", 0);
  m.SaveToFile(Path("s.dat"));
  EXPECT_EQ(Read("s.dat"),
            "page?a&equals;b=1765190000123\r\nhttp://x/y=-5\r\ndup=999999999999999\r\ndup=0\r\n");
  TCompMap back;
  back.LoadFromFile(Path("s.dat"));
  ASSERT_EQ(back.Count(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(back.KeyAt(i), m.KeyAt(i));
    EXPECT_EQ(back.ValueAt(i), m.ValueAt(i));
  }
}

TEST_F(MapFiles, CompMapReadingRules) {
  Write("s.dat", "a=1.5\r\nb=2.5\nc=1E15\nd=-7.6\nskipped\nK&Equals;V=12\r\n");
  TCompMap m;
  m.LoadFromFile(Path("s.dat"));
  ASSERT_EQ(m.Count(), 5);
  EXPECT_EQ(m.ValueAt(0), 2);  // halves round to even
  EXPECT_EQ(m.ValueAt(1), 2);
  EXPECT_EQ(m.ValueAt(2), 1000000000000000);
  EXPECT_EQ(m.ValueAt(3), -8);
  EXPECT_EQ(m.KeyAt(4), "K=V");
  // Every value is written as plain digits and read back exactly, 10^15 and beyond included
  // (the exponent form lost digits).
  m.SaveToFile(Path("out.dat"));
  EXPECT_NE(Read("out.dat").find("c=1000000000000000\r\n"), std::string::npos);
  TCompMap extremes, back;
  for (int64_t v : {INT64_MAX, INT64_MIN, int64_t{9007199254740993}, int64_t{-1}})
    extremes.Add("k" + std::to_string(v), v);
  extremes.SaveToFile(Path("x.dat"));
  back.LoadFromFile(Path("x.dat"));
  ASSERT_EQ(back.Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back.ValueAt(i), extremes.ValueAt(i));

  Write("bad.dat", "a=1\r\nb=soon\r\nc=3\r\n");
  EXPECT_THROW(m.LoadFromFile(Path("bad.dat")), ConversionError);
  ASSERT_EQ(m.Count(), 1);
  EXPECT_EQ(m.KeyAt(0), "a");
  Write("huge.dat", "a=1E30\r\n");
  EXPECT_THROW(m.LoadFromFile(Path("huge.dat")), ConversionError);
  m.LoadFromFile(Path("missing.dat"));
  EXPECT_EQ(m.Count(), 0);
}
