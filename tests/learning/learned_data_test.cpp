#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>

#include "common/compmap.h"
#include "common/settings.h"
#include "common/shortintmap.h"
#include "learning/engine.h"
#include "learning/reltable_file.h"
#include "learning_fixture.h"

using namespace zibu;
using zibu::testing::kEightTexts;
using zibu::testing::LearnExample;
using zibu::testing::RecordingPort;
using zibu::testing::ScratchDir;
namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}

std::vector<int> EightScores(LearningEngine& e) {
  std::vector<int> s;
  for (const char* t : kEightTexts) s.push_back(e.GetRelevance(t));
  return s;
}

}  // namespace

// ---- reltable.dat bytes --------------------------------------------------------------------

TEST(RelTableFile, TwoWordTableIsWrittenByteForByte) {
  ScratchDir dir;
  T2DRelTypeArray t;
  t.Resize(2);
  t.Set(0, 1, 5);
  t.Set(1, 0, 5);
  WriteRelTableFile(t, dir.path() + "reltable.dat");
  EXPECT_EQ(ReadBytes(dir.path() + "reltable.dat"), Bytes({2, 2, 2, 2, 0, 5, 2, 2, 5, 0}));

  T2DRelTypeArray back;
  ReadRelTableFile(back, dir.path() + "reltable.dat");
  ASSERT_TRUE(back.IsSquare(2));
  EXPECT_EQ(back.Get(0, 1), 5);
  EXPECT_EQ(back.Get(1, 0), 5);
}

TEST(RelTableFile, ThreeHundredWordsUseTheTwoByteForm) {
  ScratchDir dir;
  T2DRelTypeArray t;
  t.Resize(300);
  t.Set(299, 0, -7);
  RecordingPort port;
  WriteRelTableFile(t, dir.path() + "r.dat", &port, "reltable.dat");
  const std::string b = ReadBytes(dir.path() + "r.dat");
  ASSERT_EQ(b.size(), 3u + 300u * (3u + 300u));
  EXPECT_EQ(b.substr(0, 6), Bytes({3, 44, 1, 3, 44, 1}));
  EXPECT_EQ(b.substr(3 + 303, 3), Bytes({3, 44, 1}));
  EXPECT_EQ(static_cast<int8_t>(b[3 + 299 * 303 + 3]), -7);
  // Progress each tenth of the rows, then 100 per cent and hidden.
  ASSERT_EQ(port.progress.size(), 11u);
  EXPECT_EQ(port.progress[0], "Saving reltable.dat 9");
  EXPECT_EQ(port.progress[9], "Saving reltable.dat 99");
  EXPECT_EQ(port.progress[10], "Saving reltable.dat 100");
  EXPECT_EQ(port.hides, 1);

  port.Reset();
  T2DRelTypeArray back;
  ReadRelTableFile(back, dir.path() + "r.dat", &port);
  EXPECT_TRUE(back.IsSquare(300));
  EXPECT_EQ(back.Get(299, 0), -7);
  EXPECT_EQ(port.progress.back(), "Loading r.dat 100");
}

TEST(RelTableFile, LongRowsAndManyRowsRoundTrip) {
  ScratchDir dir;
  const std::string p = dir.path() + "r.dat";
  // Rows longer than the direct-read size, of different lengths, and a square table of many rows.
  T2DRelTypeArray t;
  t.SetRowCount(4);
  const int lengths[] = {5000, 70000, 3, 40000};
  uint32_t x = 99;
  for (int i = 0; i < 4; ++i) {
    t.SetRowLength(i, lengths[i]);
    for (int c = 0; c < lengths[i]; ++c)
      t.Set(i, c, static_cast<int8_t>((x = x * 1103515245u + 12345u) >> 24));
  }
  WriteRelTableFile(t, p);
  EXPECT_EQ(fs::file_size(p), 2u + 3u + 5000u + 5u + 70000u + 2u + 3u + 5u + 40000u);
  T2DRelTypeArray back;
  back.Resize(7);  // read over a table of another shape
  ReadRelTableFile(back, p);
  ASSERT_EQ(back.RowCount(), 4);
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(back.RowLength(i), lengths[i]);
    for (int c = 0; c < lengths[i]; ++c) ASSERT_EQ(back.Get(i, c), t.Get(i, c)) << i << "," << c;
  }

  // Cut inside the long second row: the row before it stays, the cut one is not allocated.
  const std::string bytes = ReadBytes(p);
  WriteBytes(p, bytes.substr(0, 2 + 3 + 5000 + 5 + 30000));
  T2DRelTypeArray cut;
  EXPECT_THROW(ReadRelTableFile(cut, p), StreamReadError);
  ASSERT_EQ(cut.RowLength(0), 5000);
  EXPECT_EQ(cut.Get(0, 4999), t.Get(0, 4999));
  EXPECT_EQ(cut.RowLength(1), 0);

  T2DRelTypeArray square, squareBack;
  square.Resize(1500);
  for (int a = 0; a < 1500; ++a)
    for (int b = 0; b < 1500; ++b) square.Set(a, b, static_cast<int8_t>((a * 31 + b * 7) % 255 - 127));
  WriteRelTableFile(square, p);
  ReadRelTableFile(squareBack, p);
  ASSERT_TRUE(squareBack.IsSquare(1500));
  for (int a = 0; a < 1500; a += 7)
    for (int b = 0; b < 1500; ++b) ASSERT_EQ(squareBack.Get(a, b), square.Get(a, b));
}

TEST(RelTableFile, TaggedIntegersTakeTheShortestFormAndAllAreRead) {
  auto tagged = [](int32_t v) {
    std::string s;
    AppendTaggedInt(s, v);
    return s;
  };
  EXPECT_EQ(tagged(127), Bytes({2, 127}));
  EXPECT_EQ(tagged(-128), Bytes({2, 0x80}));
  EXPECT_EQ(tagged(128), Bytes({3, 128, 0}));
  EXPECT_EQ(tagged(-32768), Bytes({3, 0, 0x80}));
  EXPECT_EQ(tagged(32768), Bytes({4, 0, 0x80, 0, 0}));
  EXPECT_EQ(tagged(-1), Bytes({2, 0xFF}));

  // A writer that used longer forms is still read.
  ScratchDir dir;
  WriteBytes(dir.path() + "r.dat", Bytes({4, 2, 0, 0, 0, 3, 2, 0, 0, 9, 2, 2, 9, 0}));
  T2DRelTypeArray t;
  ReadRelTableFile(t, dir.path() + "r.dat");
  ASSERT_TRUE(t.IsSquare(2));
  EXPECT_EQ(t.Get(0, 1), 9);
}

TEST(RelTableFile, DamageIsReportedWithTheRowsReadSoFar) {
  ScratchDir dir;
  const std::string p = dir.path() + "r.dat";
  T2DRelTypeArray t;
  // Cut in the middle of the second row.
  WriteBytes(p, Bytes({2, 2, 2, 2, 0, 5, 2, 2, 5}));
  t.Resize(2);
  try {
    ReadRelTableFile(t, p);
    FAIL();
  } catch (const StreamReadError& e) {
    EXPECT_EQ(e.Kind(), "EReadError");
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  EXPECT_EQ(t.RowCount(), 2);
  EXPECT_EQ(t.Get(0, 1), 5);
  // A bad type byte.
  WriteBytes(p, Bytes({2, 1, 5, 0}));
  try {
    ReadRelTableFile(t, p);
    FAIL();
  } catch (const StreamReadError& e) {
    EXPECT_STREQ(e.what(), "Invalid value type 5 in r.dat");
  }

  WriteBytes(p, Bytes({2, 1, 7, 1}));
  EXPECT_THROW(ReadRelTableFile(t, p), StreamReadError);
  WriteBytes(p, "");
  EXPECT_THROW(ReadRelTableFile(t, p), StreamReadError);
  EXPECT_THROW(ReadRelTableFile(t, dir.path() + "missing.dat"), IoError);
}

TEST(RelTableFile, SizesTheFileCannotHoldAreRejectedBeforeAllocating) {
  ScratchDir dir;
  const std::string p = dir.path() + "r.dat";
  T2DRelTypeArray t;
  const auto start = std::chrono::steady_clock::now();
  // Two thousand million rows in a 5-byte file.
  WriteBytes(p, Bytes({4, 0xFF, 0xFF, 0xFF, 0x7F}));
  try {
    ReadRelTableFile(t, p);
    FAIL();
  } catch (const StreamReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  EXPECT_EQ(t.RowCount(), 0);
  // One row claiming two thousand million cells.
  WriteBytes(p, Bytes({2, 1, 4, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3}));
  EXPECT_THROW(ReadRelTableFile(t, p), StreamReadError);
  EXPECT_LE(t.MemoryBytes(), 4096u);
  // Negative sizes.
  WriteBytes(p, Bytes({2, 0xFF}));
  EXPECT_THROW(ReadRelTableFile(t, p), StreamReadError);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_LT(ms.count(), 500);
}

// ---- reltable.dat, compact form -----------------------------------------------------------------

namespace {

// Shapes a table may have, learned or read from an old file.
struct CompactCase {
  const char* what;
  std::function<void(T2DRelTypeArray&)> make;
  bool mirrored;  // stored as one triangle
};

void SetPair(T2DRelTypeArray& t, int a, int b, int8_t v) {
  t.Set(a, b, v);
  t.Set(b, a, v);
}

const std::vector<CompactCase>& CompactCases() {
  static const std::vector<CompactCase> cases = {
      {"no words", [](T2DRelTypeArray&) {}, true},
      {"one word", [](T2DRelTypeArray& t) { t.Resize(1); }, true},
      {"empty rows around one pair",
       [](T2DRelTypeArray& t) {
         t.Resize(9);
         SetPair(t, 2, 7, -3);
       },
       true},
      {"full rows",
       [](T2DRelTypeArray& t) {
         t.Resize(150);
         for (int a = 0; a < 150; ++a)
           for (int b = a + 1; b < 150; ++b) {
             const int v = (a * 7 + b * 3) % 254 - 127;
             SetPair(t, a, b, static_cast<int8_t>(v == 0 ? 5 : v));
           }
       },
       true},
      {"value limits",
       [](T2DRelTypeArray& t) {
         t.Resize(6);
         SetPair(t, 0, 1, 127);
         SetPair(t, 0, 5, -128);
         SetPair(t, 1, 2, 1);
         SetPair(t, 3, 4, -1);
       },
       true},
      {"wide gaps",
       [](T2DRelTypeArray& t) {
         t.Resize(40000);
         SetPair(t, 0, 39999, 9);
         SetPair(t, 5, 200, -9);
         SetPair(t, 20000, 20001, 4);
       },
       true},
      {"sparse and dense rows",
       [](T2DRelTypeArray& t) {
         t.Resize(3000);
         uint32_t x = 7;
         for (int k = 0; k < 60000; ++k) {
           x = x * 1103515245u + 12345u;
           const int a = static_cast<int>((x >> 8) % 3000),
                     b = static_cast<int>((x >> 3) % 40);  // 40 busy words
           if (a != b) SetPair(t, a, b, static_cast<int8_t>(1 + (x >> 24) % 100));
         }
       },
       true},
      // Tables no learning makes, as an old file may hold them: kept cell for cell.
      {"one-sided cell",
       [](T2DRelTypeArray& t) {
         t.Resize(4);
         t.Set(1, 3, 6);
       },
       false},
      {"the last pair differs",
       [](T2DRelTypeArray& t) {
         t.Resize(500);
         for (int a = 0; a < 500; a += 3) SetPair(t, a, 499 - a, 2);
         t.Set(499, 498, 1);
         t.Set(498, 499, 2);
       },
       false},
      {"a diagonal cell",
       [](T2DRelTypeArray& t) {
         t.Resize(3);
         SetPair(t, 0, 2, 5);
         t.Set(1, 1, 8);
       },
       false},
      {"rows of other lengths",
       [](T2DRelTypeArray& t) {
         t.SetRowCount(4);
         const int lengths[] = {3, 0, 70000, 3};
         for (int a = 0; a < 4; ++a) t.SetRowLength(a, lengths[a]);
         t.Set(0, 2, -7);
         t.Set(2, 69999, 3);
         t.Set(2, 0, 1);
       },
       false},
  };
  return cases;
}

// Same rows, row lengths and cells.
void ExpectSameTable(const T2DRelTypeArray& x, const T2DRelTypeArray& y) {
  ASSERT_EQ(x.RowCount(), y.RowCount());
  for (int a = 0; a < x.RowCount(); ++a) {
    ASSERT_EQ(x.RowLength(a), y.RowLength(a)) << a;
    ASSERT_EQ(x.RowNonZero(a), y.RowNonZero(a)) << a;
    const T2DRelTypeArray::RowView v = x.View(a);
    for (int i = 0; i < v.held; ++i) {
      if (v.dense) {
        if (v.dense[i] != 0) {
          ASSERT_EQ(y.Get(a, i), v.dense[i]) << a << "," << i;
        }
      } else {
        const int b = T2DRelTypeArray::EntryColumn(v.entries[i]);
        ASSERT_EQ(y.Get(a, b), T2DRelTypeArray::EntryValue(v.entries[i])) << a << "," << b;
      }
    }
  }
}

}  // namespace

TEST(RelTableFile, CompactFormKeepsEveryCellAndShape) {
  ScratchDir dir;
  const std::string p = dir.path() + "reltable.dat";
  for (const CompactCase& c : CompactCases()) {
    SCOPED_TRACE(c.what);
    T2DRelTypeArray t;
    c.make(t);
    RecordingPort port;
    WriteCompactRelTableFile(t, p, &port);
    EXPECT_EQ(port.progress.back(), "Saving reltable.dat 100");
    const std::string bytes = ReadBytes(p);
    ASSERT_GE(bytes.size(), 36u);
    EXPECT_EQ(bytes.substr(0, 12), std::string("ZIBURELT") + Bytes({1, 0, 0, 0}));
    EXPECT_EQ(bytes[12], c.mirrored ? 1 : 0);

    T2DRelTypeArray back;
    back.Resize(5);  // read over a table of another shape
    back.Set(0, 4, 9);
    EXPECT_EQ(ReadRelTableFile(back, p, &port), RelTableForm::kCompact);
    EXPECT_EQ(port.progress.back(), "Loading reltable.dat 100");
    ExpectSameTable(t, back);
    EXPECT_EQ(back.IsSquare(back.RowCount()), t.IsSquare(t.RowCount()));
    // What was read is written again byte for byte.
    WriteCompactRelTableFile(back, dir.path() + "c.dat");
    EXPECT_TRUE(ReadBytes(dir.path() + "c.dat") == bytes);
  }
}

TEST(RelTableFile, CompactTwoWordTableBytes) {
  ScratchDir dir;
  T2DRelTypeArray t;
  t.Resize(2);
  SetPair(t, 0, 1, 5);
  WriteCompactRelTableFile(t, dir.path() + "r.dat");
  // Header, one run of two rows of length 2, row 0 holds one cell (gap 0, value 5), row 1 none,
  // one cell stored, then the checksum.
  const std::string b = ReadBytes(dir.path() + "r.dat");
  ASSERT_EQ(b.size(), 42u);
  EXPECT_EQ(b.substr(0, 34), std::string("ZIBURELT") + Bytes({1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 2,
                                                              2, 1, 0, 5, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  // The dense form of the same table is not taken for the compact one.
  WriteRelTableFile(t, dir.path() + "d.dat");
  T2DRelTypeArray back;
  EXPECT_EQ(ReadRelTableFile(back, dir.path() + "d.dat"), RelTableForm::kDense);
  EXPECT_EQ(back.Get(1, 0), 5);
}

TEST(RelTableFile, ALearnedTableIsWrittenUncheckedAsTheCheckWouldWriteIt) {
  ScratchDir dir;
  SilentUserPort port;
  LearningEngine e(port);
  LearnExample(e);
  for (int k = 0; k < 300; ++k)
    e.LearnFromRating(k % 7 - 3, "word" + std::string(1, 'a' + k % 26) + " jordan katie");
  ASSERT_TRUE(e.RelTable().KnownSymmetric());
  WriteCompactRelTableFile(e.RelTable(), dir.path() + "learned.dat");
  // The same cells set one by one: symmetric, but not known to be.
  T2DRelTypeArray same;
  same.Resize(e.WordCount());
  for (int a = 0; a < e.WordCount(); ++a)
    for (int b = 0; b < e.WordCount(); ++b) same.Set(a, b, e.RelTable().Get(a, b));
  ASSERT_FALSE(same.KnownSymmetric());
  WriteCompactRelTableFile(same, dir.path() + "checked.dat");
  EXPECT_TRUE(ReadBytes(dir.path() + "learned.dat") == ReadBytes(dir.path() + "checked.dat"));
  EXPECT_EQ(ReadBytes(dir.path() + "learned.dat")[12], 1);  // mirrored
  T2DRelTypeArray back;
  ReadRelTableFile(back, dir.path() + "learned.dat");
  EXPECT_TRUE(back.KnownSymmetric());
  ExpectSameTable(back, e.RelTable());
}

TEST(RelTableFile, DamagedCompactFilesAreRejectedWhole) {
  ScratchDir dir;
  const std::string p = dir.path() + "reltable.dat";
  T2DRelTypeArray t;
  t.Resize(400);
  for (int a = 0; a < 400; a += 2) SetPair(t, a, (a * 7 + 1) % 400, static_cast<int8_t>(a % 50 + 1));
  WriteCompactRelTableFile(t, p);
  const std::string good = ReadBytes(p);
  auto flip = [&](size_t at) {
    std::string b = good;
    b[at] = static_cast<char>(b[at] ^ 0x10);
    return b;
  };
  std::string version = good;
  version[8] = 2;
  const struct {
    const char* what;
    std::string bytes;
    const char* error;
  } cases[] = {
      {"cut in the rows", good.substr(0, good.size() / 2), "Checksum error in reltable.dat"},
      {"cut before the checksum", good.substr(0, good.size() - 8), "Checksum error in reltable.dat"},
      {"only the header", good.substr(0, 20), "reltable.dat is cut short"},
      {"a byte flipped in the rows", flip(good.size() / 2), "Checksum error in reltable.dat"},
      {"a byte flipped in the row count", flip(16), "Checksum error in reltable.dat"},
      {"a checksum that does not match", flip(good.size() - 1), "Checksum error in reltable.dat"},
      {"bytes appended", good + std::string(8, '\0'), "Checksum error in reltable.dat"},
      {"a later version", version, "reltable.dat is in version 2 of the compact form, which I cannot read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(p, c.bytes);
    T2DRelTypeArray back;
    back.Resize(3);
    back.Set(0, 1, 4);
    try {
      ReadRelTableFile(back, p);
      ADD_FAILURE() << "read";
    } catch (const StreamReadError& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
    EXPECT_EQ(back.RowCount(), 0);
  }
}

// ---- save and load -------------------------------------------------------------------------

class LearnedData : public ::testing::Test {
 protected:
  std::string Data(const char* name) const { return dir.path() + "data/" + name; }
  std::string Backup(const char* name) const { return dir.path() + "data/backup/" + name; }
  // Loaded from the scratch folder unless `load` is false (for a test that loads it itself).
  std::unique_ptr<LearningEngine> NewEngine(bool load = true) {
    auto e = std::make_unique<LearningEngine>(port);
    e->SetDataFolder(dir.path() + "data");
    e->SetDurableSave(false);
    e->SetMaxWordWeight(50);
    TCompMap shown;
    if (load) e->LoadData(&shown);  // a save only writes what was loaded
    return e;
  }
  ScratchDir dir;
  RecordingPort port;
};

TEST_F(LearnedData, SaveClearLoadKeepsTheEightScores) {
  auto e = NewEngine();
  LearnExample(*e);
  const auto before = EightScores(*e);
  EXPECT_EQ(before, (std::vector<int>{40, 40, 35, 35, -14, -14, 10, 10}));
  TCompMap shown;
  shown.Add("http://a/?x=1", 1700000000000LL);
  port.Reset();
  e->SaveData(&shown);
  EXPECT_EQ(port.progress.front(), "Saving data... 0");
  EXPECT_TRUE(port.Logged("Saving data..."));
  EXPECT_TRUE(port.Logged("Finished saving data..."));
  EXPECT_EQ(ReadBytes(Data("wordweightings.dat")), "JORDAN=18\r\nABDULLAH=26\r\nSAND=20\r\nKATIE=-32\r\n");
  for (const auto& f : fs::directory_iterator(dir.path() + "data"))
    EXPECT_EQ(f.path().extension(), f.is_directory() ? "" : ".dat") << f.path();

  e->ClearLearnedData();
  EXPECT_EQ(EightScores(*e), std::vector<int>(8, 0));
  TCompMap shownBack;
  port.Reset();
  e->LoadData(&shownBack);
  EXPECT_TRUE(port.messages.empty());
  EXPECT_EQ(EightScores(*e), before);
  ASSERT_EQ(shownBack.Count(), 1);
  EXPECT_EQ(shownBack.KeyAt(0), "http://a/?x=1");

  // A fresh engine loads the same.
  auto fresh = NewEngine(false);
  fresh->LoadData();
  EXPECT_EQ(EightScores(*fresh), before);
}

TEST_F(LearnedData, BackupsHoldThePreviousSave) {
  auto e = NewEngine();
  e->LearnFromRating(5, "first save");
  e->SaveData();
  EXPECT_FALSE(fs::exists(Backup("wordweightings.dat")));
  const std::string firstWeights = ReadBytes(Data("wordweightings.dat"));
  const std::string firstTable = ReadBytes(Data("reltable.dat"));
  e->LearnFromRating(-3, "second save words");
  e->SaveData();
  EXPECT_EQ(ReadBytes(Backup("wordweightings.dat")), firstWeights);
  EXPECT_EQ(ReadBytes(Backup("reltable.dat")), firstTable);
  EXPECT_NE(ReadBytes(Data("wordweightings.dat")), firstWeights);
  EXPECT_FALSE(fs::exists(Backup("shownfeedurls.dat")));

  // With backups off the backup folder is never touched.
  ScratchDir other;
  auto off = std::make_unique<LearningEngine>(port);
  off->SetDataFolder(other.path() + "data");
  off->SetBackupDataFiles(false);
  off->LoadData();
  off->LearnFromRating(5, "first save");
  off->SaveData();
  off->LearnFromRating(5, "second save");
  off->SaveData();
  EXPECT_TRUE(fs::is_empty(other.path() + "data/backup"));
}

TEST_F(LearnedData, AFailedSaveRaisesAndLeavesTheLastSaveInPlace) {
  auto e = NewEngine();
  LearnExample(*e);
  e->SaveData();
  const std::string weights = ReadBytes(Data("wordweightings.dat"));
  e->LearnFromRating(7, "something newer");
  // Something in the way of the new table file.
  fs::create_directories(Data("reltable.dat.new/blocked"));
  port.Reset();
  EXPECT_THROW(e->SaveData(), IoError);
  EXPECT_GE(port.hides, 1);
  EXPECT_FALSE(port.Logged("Finished saving data..."));
  EXPECT_EQ(ReadBytes(Data("wordweightings.dat")), weights);
  EXPECT_FALSE(fs::exists(Data("wordweightings.dat.new")));
  fs::remove_all(Data("reltable.dat.new"));
  auto loaded = NewEngine(false);
  loaded->LoadData();
  EXPECT_EQ(EightScores(*loaded), (std::vector<int>{40, 40, 35, 35, -14, -14, 10, 10}));
}

TEST_F(LearnedData, MissingFilesGiveEmptyOrZeroDataWithoutMessages) {
  auto e = NewEngine();
  e->LoadData();
  EXPECT_EQ(e->WordCount(), 0);
  EXPECT_EQ(e->RelTable().RowCount(), 0);
  EXPECT_TRUE(port.messages.empty());

  WriteBytes(Data("wordweightings.dat"), "ALPHA=3\r\nBRAVO=-200\r\nbad line\r\nCHARLIE=90\r\n");
  e->LoadData();
  EXPECT_EQ(e->WordCount(), 3);
  EXPECT_EQ(e->WordWeights().Get("BRAVO"), 50);    // -200 kept as 8 bits is 56, then bounded
  EXPECT_EQ(e->WordWeights().Get("CHARLIE"), 50);  // bounded by maxWordWeight
  EXPECT_TRUE(e->RelTable().IsSquare(3));
  EXPECT_TRUE(port.messages.empty());
}

TEST_F(LearnedData, CommonWordsAreSortedOnceAndKeptOutOfWordLists) {
  auto e = NewEngine();
  WriteBytes(Data("commonwords.dat"), "said\r\nHERE\r\nthat\r\nSaid\r\n\r\nwill\n");
  e->LoadData();
  EXPECT_EQ(e->CommonWords(), (std::vector<std::string>{"HERE", "said", "that", "will"}));
  EXPECT_EQ(e->GetWordList("   and  here's to john's apples for the monsters' party  "),
            (std::vector<std::string>{"JOHN", "APPLE", "MONSTER", "PARTY"}));
}

namespace {

// Saves the example data once (backup pair) and a bigger state over it (data pair).
void SaveTwoGenerations(LearningEngine& e) {
  LearnExample(e);
  e.SaveData();
  e.LearnFromRating(4, "newer words appear");
  e.SaveData();
}

}  // namespace

TEST_F(LearnedData, TableOneRowTooLongLoadsTheBackupPair) {
  auto e = NewEngine();
  SaveTwoGenerations(*e);
  // Seven words; a table of eight rows of eight.
  T2DRelTypeArray wrong;
  wrong.Resize(8);
  WriteRelTableFile(wrong, Data("reltable.dat"));
  port.Reset();
  auto loaded = NewEngine(false);
  loaded->LoadData();
  EXPECT_EQ(port.messages,
            (std::vector<std::string>{
                "Error loading word relationship table.\r\nI will try to load it from the last backup",
                "Loading backup word relationship table was successful"}));
  EXPECT_EQ(std::find(port.progress.begin(), port.progress.end(), "Loading backup word weightings... 0") !=
                port.progress.end(),
            true);
  EXPECT_EQ(loaded->WordCount(), 4);
  EXPECT_EQ(EightScores(*loaded), (std::vector<int>{40, 40, 35, 35, -14, -14, 10, 10}));
}

TEST_F(LearnedData, TableCutMidRowWithoutBackupIsReset) {
  auto e = NewEngine();
  LearnExample(*e);
  e->SaveData();
  WriteRelTableFile(e->RelTable(), Data("reltable.dat"));  // an old home's dense table
  const std::string full = ReadBytes(Data("reltable.dat"));
  WriteBytes(Data("reltable.dat"), full.substr(0, full.size() - 2));
  port.Reset();
  auto loaded = NewEngine(false);
  loaded->LoadData();
  EXPECT_TRUE(port.Logged("EReadError: Stream read error"));
  EXPECT_EQ(port.messages,
            (std::vector<std::string>{"Error loading word relationship table.\r\nNo backup exists, so "
                                      "word relationships will be reset"}));
  EXPECT_EQ(loaded->WordCount(), 4);  // the data folder's weights stay
  ASSERT_TRUE(loaded->RelTable().IsSquare(4));
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b) EXPECT_EQ(loaded->RelTable().Get(a, b), 0);
}

TEST_F(LearnedData, TableCutMidRowWithABackupPairLoadsTheBackup) {
  auto e = NewEngine();
  SaveTwoGenerations(*e);
  WriteRelTableFile(e->RelTable(), Data("reltable.dat"));  // an old home's dense table
  const std::string full = ReadBytes(Data("reltable.dat"));
  WriteBytes(Data("reltable.dat"), full.substr(0, full.size() / 2));
  port.Reset();
  auto loaded = NewEngine(false);
  loaded->LoadData();
  EXPECT_TRUE(port.Logged("EReadError: Stream read error"));
  EXPECT_EQ(port.messages.back(), "Loading backup word relationship table was successful");
  EXPECT_EQ(EightScores(*loaded), (std::vector<int>{40, 40, 35, 35, -14, -14, 10, 10}));
}

TEST_F(LearnedData, DamagedCompactTableFollowsTheRecoveryRulesAndKeepsTheWordWeights) {
  auto cut = [](std::string b) { return b.substr(0, b.size() - 5); };
  auto flip = [](std::string b) {
    b[b.size() / 2] = static_cast<char>(b[b.size() / 2] ^ 0x01);
    return b;
  };
  auto otherSum = [](std::string b) {
    b.back() = static_cast<char>(b.back() ^ 0x80);
    return b;
  };
  const struct {
    const char* what;
    std::function<std::string(std::string)> damage;
    const char* logged;  // "" for none
  } cases[] = {
      {"cut short", cut, "EReadError: Checksum error in reltable.dat"},
      {"a flipped byte", flip, "EReadError: Checksum error in reltable.dat"},
      {"a checksum that does not match", otherSum, "EReadError: Checksum error in reltable.dat"},
      {"more rows than words",
       [](std::string) {
         ScratchDir other;
         T2DRelTypeArray wrong;
         wrong.Resize(9);
         WriteCompactRelTableFile(wrong, other.path() + "r.dat");
         return ReadBytes(other.path() + "r.dat");
       },
       ""},
  };
  const std::vector<int> example{40, 40, 35, 35, -14, -14, 10, 10};
  for (const auto& c : cases) {
    for (const bool withBackup : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (withBackup ? ", with a backup pair" : ", no backup"));
      fs::remove_all(dir.path() + "data");
      auto e = NewEngine();
      if (withBackup) {
        SaveTwoGenerations(*e);  // the backup pair holds the example, the data folder 7 words
      } else {
        LearnExample(*e);
        e->SaveData();
      }
      WriteBytes(Data("reltable.dat"), c.damage(ReadBytes(Data("reltable.dat"))));
      port.Reset();
      auto loaded = NewEngine(false);
      loaded->LoadData();
      if (*c.logged) {
        EXPECT_TRUE(port.Logged(c.logged));
      }
      if (withBackup) {
        EXPECT_EQ(port.messages,
                  (std::vector<std::string>{
                      "Error loading word relationship table.\r\nI will try to load it from the last backup",
                      "Loading backup word relationship table was successful"}));
        EXPECT_EQ(loaded->WordCount(), 4);
        EXPECT_EQ(EightScores(*loaded), example);
      } else {
        EXPECT_EQ(port.messages,
                  (std::vector<std::string>{"Error loading word relationship table.\r\nNo backup exists, so "
                                            "word relationships will be reset"}));
        // The weights stay; only the pairs are lost.
        EXPECT_EQ(loaded->WordWeights().Get("KATIE"), -32);
        EXPECT_EQ(loaded->WordCount(), 4);
        ASSERT_TRUE(loaded->RelTable().IsSquare(4));
        EXPECT_EQ(loaded->RelTable().NonZeroCells(), 0);
        // The next save writes a whole pair again, and the damaged file is not kept as a backup.
        loaded->SaveData();
        T2DRelTypeArray back;
        EXPECT_EQ(ReadRelTableFile(back, Data("reltable.dat")), RelTableForm::kCompact);
        EXPECT_TRUE(back.IsSquare(4));
        EXPECT_FALSE(fs::exists(Backup("reltable.dat")));
      }
    }
  }
}

TEST_F(LearnedData, TableOneRowTooLongWithoutBackupIsReset) {
  auto e = NewEngine();
  LearnExample(*e);
  e->SaveData();
  T2DRelTypeArray wrong;
  wrong.Resize(5);
  wrong.Set(0, 1, 9);
  WriteRelTableFile(wrong, Data("reltable.dat"));
  port.Reset();
  auto loaded = NewEngine(false);
  loaded->LoadData();
  EXPECT_EQ(port.messages,
            (std::vector<std::string>{"Error loading word relationship table.\r\nNo backup exists, so "
                                      "word relationships will be reset"}));
  ASSERT_TRUE(loaded->RelTable().IsSquare(4));
  EXPECT_EQ(loaded->RelTable().Get(0, 1), 0);
  EXPECT_EQ(loaded->WordWeights().Get("KATIE"), -32);
}

TEST_F(LearnedData, UnusableBackupPairResetsTheTableAndKeepsTheDataWeights) {
  auto e = NewEngine();
  SaveTwoGenerations(*e);
  WriteBytes(Data("reltable.dat"), Bytes({2, 1}));
  WriteBytes(Backup("reltable.dat"), Bytes({2, 9}));
  port.Reset();
  auto loaded = NewEngine(false);
  loaded->LoadData();
  EXPECT_EQ(port.messages,
            (std::vector<std::string>{
                "Error loading word relationship table.\r\nI will try to load it from the last backup",
                "Error loading backup word relationship table.\r\nWord relationships will be reset."}));
  EXPECT_EQ(loaded->WordCount(), 7);
  EXPECT_EQ(loaded->WordWeights().Get("NEWER"), 4);
  EXPECT_TRUE(loaded->RelTable().IsSquare(7));
}

TEST_F(LearnedData, BackupTableWithoutWordFileKeepsTheDataWeights) {
  auto e = NewEngine();
  SaveTwoGenerations(*e);
  fs::remove(Backup("wordweightings.dat"));
  WriteBytes(Data("reltable.dat"), Bytes({2, 1}));
  port.Reset();
  auto loaded = NewEngine(false);
  loaded->LoadData();
  EXPECT_EQ(port.messages,
            (std::vector<std::string>{
                "Error loading word relationship table.\r\nI will try to load it from the last backup",
                "Error loading backup word relationship table.\r\nWord relationships will be reset."}));
  EXPECT_EQ(loaded->WordCount(), 7);
  EXPECT_EQ(loaded->WordWeights().Get("JORDAN"), 18);
  EXPECT_TRUE(loaded->RelTable().IsSquare(7));
}

TEST_F(LearnedData, DamagedWordFileTakesTheBackupPair) {
  auto e = NewEngine();
  SaveTwoGenerations(*e);
  WriteBytes(Data("wordweightings.dat"), "JORDAN=18\r\nX=1=2\r\n");
  port.Reset();
  auto loaded = NewEngine(false);
  loaded->LoadData();
  EXPECT_TRUE(port.Logged(
      "wordweightings.dat line 2: '1=2' is not a valid integer value; I have kept the word X with weight 0"))
      << (port.logs.empty() ? "" : port.logs[0].text);
  // The box names the file that was damaged, not the table.
  EXPECT_EQ(port.messages.front(),
            "Error loading word weightings: 1 line of " + Data("wordweightings.dat") +
                " could not be read, so the word relationship table does not match it.\r\nI will try to load the "
                "word weightings and the word relationship table from the last backup");
  EXPECT_EQ(port.messages.back(), "Loading backup word weightings and word relationship table was successful");
  EXPECT_EQ(loaded->WordCount(), 4);
}

// ---- crash safety --------------------------------------------------------------------------

namespace {

// Generation g: 3 + g words, every weight g, every pair g. A loaded pair is consistent when all
// of it says the same generation.
int8_t GenerationValue(int g) {
  return static_cast<int8_t>(g % 41);
}

void MakeGeneration(LearningEngine& e, int g) {
  e.ClearLearnedData();
  for (int k = 0; k < 3 + g; ++k) e.WordWeights().Add("WORD" + std::to_string(k), GenerationValue(g));
  e.RelTable().Resize(e.WordCount());
  for (int a = 0; a < e.WordCount(); ++a)
    for (int b = 0; b < e.WordCount(); ++b)
      if (a != b) e.RelTable().Set(a, b, GenerationValue(g));
}

// The generation the engine holds, or -1 when its weights and table disagree.
int GenerationOf(LearningEngine& e) {
  const int n = e.WordCount();
  if (n < 4 || !e.RelTable().IsSquare(n)) return -1;
  const int g = n - 3;
  for (int k = 0; k < n; ++k)
    if (e.WordWeights().ValueAt(k) != GenerationValue(g)) return -1;
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b)
      if (e.RelTable().Get(a, b) != (a == b ? 0 : GenerationValue(g))) return -1;
  return g;
}

int GenerationOfShown(const TCompMap& m) {
  return m.Count() == 1 ? static_cast<int>(m.ValueAt(0)) : -1;
}

}  // namespace

namespace {

// The generation of the pair in `folder` read as it lies on the disk: -1 when the two files are
// not a whole pair of one generation.
int PairOnDisk(const std::string& folder) {
  SilentUserPort quiet;
  LearningEngine probe(quiet);
  probe.SetMaxWordWeight(50);
  try {
    probe.LoadWordWeightings(folder + "wordweightings.dat");
  } catch (const std::exception&) {
    return -1;
  }
  if (!probe.LoadRelTable(folder + "reltable.dat")) return -1;
  return GenerationOf(probe);
}

// Files of both folders that are not learned-data files (what a save left beside them).
std::vector<std::string> Leftovers(const std::string& dataDir) {
  std::vector<std::string> found;
  for (const std::string folder : {dataDir, dataDir + "backup/"})
    for (const auto& f : fs::directory_iterator(folder))
      if (!f.is_directory() && f.path().extension() != ".dat") found.push_back(f.path().string());
  return found;
}

}  // namespace

// The steps of one save of generation 3 over generation 2 (data) and 1 (backup): where each is
// stopped (the process ends there) or fails (a full disk), the data folder and the backup folder
// each hold a whole pair, and a load gets the old save with the old backup or the new save with
// the old save as backup.
class SaveSteps : public LearnedData {
 protected:
  void SetUp() override {
    auto e = NewEngine();
    TwoGenerations(*e);
    MakeGeneration(*e, 3);
    TCompMap shown;
    shown.Add("g", 3);
    e->SetSaveStepHook([this](const std::string& s) { steps.push_back(s); });
    e->SaveData(&shown);
  }
  // Generation 1 saved, then 2 over it: the backup folder holds 1, the data folder 2.
  void TwoGenerations(LearningEngine& e) {
    TCompMap shown;
    for (int g = 1; g <= 2; ++g) {
      MakeGeneration(e, g);
      shown.Clear();
      shown.Add("g", g);
      e.SaveData(&shown);
    }
  }
  void Reset() {
    fs::remove_all(dir.path() + "data");
    auto e = NewEngine();
    TwoGenerations(*e);
  }
  size_t CommitAt() const { return std::find(steps.begin(), steps.end(), "commit") - steps.begin(); }
  std::string DataDir() const { return dir.path() + "data/"; }
  std::vector<std::string> steps;
};

TEST_F(SaveSteps, AStopAtEveryStepLeavesBothPairsWhole) {
  // Four files (the record of rated articles was emptied with the rest): each written, its
  // backup staged, the record written and put in place, the backups and the files renamed.
  ASSERT_EQ(steps.size(), 19u);
  ASSERT_LT(CommitAt(), steps.size());
  for (size_t stop = 0; stop < steps.size(); ++stop) {
    SCOPED_TRACE("stopped before " + steps[stop]);
    Reset();
    fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto e = NewEngine();
      MakeGeneration(*e, 3);
      TCompMap shown;
      shown.Add("g", 3);
      size_t at = 0;
      e->SetSaveStepHook([&](const std::string&) {
        if (at++ == stop) _exit(0);  // the process ends here, nothing else runs
      });
      e->SaveData(&shown);
      _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const bool committed = stop > CommitAt();
    // Before the commit point both folders are as they were, to the byte.
    if (!committed) {
      EXPECT_EQ(PairOnDisk(DataDir()), 2);
      EXPECT_EQ(PairOnDisk(DataDir() + "backup/"), 1);
    }

    port.Reset();
    auto loaded = NewEngine(false);
    TCompMap shown;
    loaded->LoadData(&shown);
    EXPECT_EQ(GenerationOf(*loaded), committed ? 3 : 2);
    EXPECT_EQ(GenerationOfShown(shown), committed ? 3 : 2);
    EXPECT_TRUE(port.messages.empty());
    EXPECT_EQ(port.Logged("I have finished the save of learned data that was interrupted"), committed);
    EXPECT_EQ(PairOnDisk(DataDir()), committed ? 3 : 2);
    EXPECT_EQ(PairOnDisk(DataDir() + "backup/"), committed ? 2 : 1);
    EXPECT_EQ(Leftovers(DataDir()), std::vector<std::string>{});
  }
}

TEST_F(SaveSteps, AFullDiskAtEveryStepKeepsBothPairsWholeAndSaysWhatHappened) {
  for (size_t fault = 0; fault < steps.size(); ++fault) {
    const std::string& step = steps[fault];
    SCOPED_TRACE("no space at " + step);
    Reset();
    auto e = NewEngine();
    MakeGeneration(*e, 3);
    TCompMap shown;
    shown.Add("g", 3);
    e->SetSaveFaultHook([&](const std::string& s) { return s == step ? ENOSPC : 0; });
    port.Reset();
    enum { kSaved, kFailed, kNotFinished } outcome = kSaved;
    try {
      e->SaveData(&shown);
    } catch (const SaveNotFinished& x) {
      outcome = kNotFinished;
      EXPECT_NE(std::string(x.what()).find("No space left on device"), std::string::npos) << x.what();
    } catch (const IoError& x) {
      outcome = kFailed;
      EXPECT_NE(std::string(x.what()).find("No space left on device"), std::string::npos) << x.what();
    }
    const bool staging = step.rfind("link backup ", 0) == 0;
    const bool pairStaging = step == "link backup wordweightings.dat" || step == "link backup reltable.dat";
    if (fault <= CommitAt() && !staging) {
      // Nothing of the save is kept: both pairs are the ones before it, and nothing is left over.
      EXPECT_EQ(outcome, kFailed);
      EXPECT_FALSE(port.Logged("Finished saving data..."));
      EXPECT_EQ(PairOnDisk(DataDir()), 2);
      EXPECT_EQ(PairOnDisk(DataDir() + "backup/"), 1);
      EXPECT_EQ(Leftovers(DataDir()), std::vector<std::string>{});
    } else if (staging) {
      // The previous files cannot get their second name: the save goes on, says so, and the
      // backup folder keeps its older (whole) pair.
      EXPECT_EQ(outcome, kSaved);
      EXPECT_EQ(PairOnDisk(DataDir()), 3);
      EXPECT_EQ(PairOnDisk(DataDir() + "backup/"), pairStaging ? 1 : 2);
      bool told = false;
      for (const auto& l : port.logs)
        told |= l.text.find("in the backup folder (No space left on device); it keeps the older backup") !=
                std::string::npos;
      EXPECT_TRUE(told);
    } else {
      // Committed: the new files are whole under their new names, a read-only load reads them,
      // and the next save finishes the renames without writing them again.
      EXPECT_EQ(outcome, kNotFinished);
      auto reader = NewEngine(false);
      reader->LoadData(nullptr, true);
      EXPECT_EQ(GenerationOf(*reader), 3);
      e->SetSaveFaultHook({});
      port.Reset();
      e->SaveData(&shown);
      EXPECT_TRUE(port.Logged("I have finished the save of learned data that was interrupted"));
      EXPECT_EQ(PairOnDisk(DataDir()), 3);
      EXPECT_EQ(PairOnDisk(DataDir() + "backup/"), 2);
      EXPECT_EQ(Leftovers(DataDir()), std::vector<std::string>{});
    }
    port.Reset();
    auto loaded = NewEngine(false);
    TCompMap back;
    loaded->LoadData(&back);
    EXPECT_EQ(GenerationOf(*loaded), outcome == kFailed ? 2 : 3);
    EXPECT_EQ(GenerationOfShown(back), outcome == kFailed ? 2 : 3);
    EXPECT_TRUE(port.messages.empty());
  }
}

// What a kill leaves under temporary names (a write cut short inside a file's own temporary
// name, the commit record's) is removed by the next load that may write, and by no other.
TEST_F(SaveSteps, TemporaryFilesOfAKilledSaveAreRemovedAtTheNextLoad) {
  const std::vector<std::string> left = {"shownfeedurls.dat.new.tmp", "wordweightings.dat.new.tmp",
                                         "ratedarticles.dat.new.tmp", "save.commit.new", "commonwords.dat.tmp",
                                         "wordweightings.dat.new", "backup/reltable.dat.new"};
  for (bool readOnly : {true, false}) {
    SCOPED_TRACE(readOnly ? "read-only" : "loading for change");
    for (const auto& name : left) WriteBytes(DataDir() + name, "half");
    auto e = NewEngine(false);
    e->LoadData(nullptr, readOnly);
    EXPECT_EQ(GenerationOf(*e), 3);
    for (const auto& name : left) EXPECT_EQ(fs::exists(DataDir() + name), readOnly) << name;
  }
}

TEST_F(LearnedData, KillingTheSavingProcessAtRandomMomentsLosesOnlyTheSaveInProgress) {
  std::mt19937 rng(5);
  for (int round = 0; round < 12; ++round) {
    fs::remove_all(dir.path() + "data");
    int pipeFd[2];
    ASSERT_EQ(pipe(pipeFd), 0);
    fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipeFd[0]);
      SilentUserPort quiet;
      LearningEngine e(quiet);
      e.SetDataFolder(dir.path() + "data");
      e.SetDurableSave(false);
      TCompMap shown;
      e.LoadData(&shown);
      // Larger tables make a save last long enough to be hit in the middle.
      for (int g = 1; g < 120; ++g) {
        MakeGeneration(e, 200 + g);
        shown.Clear();
        shown.Add("g", 200 + g);
        e.SaveData(&shown);
        const int done = 200 + g;
        if (write(pipeFd[1], &done, sizeof done) != sizeof done) _exit(2);
      }
      _exit(0);
    }
    close(pipeFd[1]);
    // Let a few saves complete, then kill at a random moment.
    int lastDone = -1, v = 0;
    const int wanted = 2 + static_cast<int>(rng() % 4);
    for (int k = 0; k < wanted && read(pipeFd[0], &v, sizeof v) == sizeof v; ++k) lastDone = v;
    usleep(static_cast<useconds_t>(rng() % 4000));
    kill(child, SIGKILL);
    while (read(pipeFd[0], &v, sizeof v) == sizeof v) lastDone = v;
    close(pipeFd[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_NE(lastDone, -1);

    port.Reset();
    auto loaded = NewEngine(false);
    TCompMap shown;
    loaded->LoadData(&shown);
    const int g = GenerationOf(*loaded);
    EXPECT_TRUE(g == lastDone || g == lastDone + 1)
        << "round " << round << ": loaded " << g << ", last done " << lastDone;
    EXPECT_EQ(GenerationOfShown(shown), g);
    EXPECT_TRUE(port.messages.empty());
  }
}

TEST_F(LearnedData, ReadOnlyLoadReadsACommittedSaveWithoutTouchingFiles) {
  std::vector<std::string> steps;
  auto e = NewEngine();
  LearnExample(*e);
  e->SaveData();
  e->LearnFromRating(9, "jordan zebra");
  const auto expected = EightScores(*e);
  fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    e->SetSaveStepHook([](const std::string& s) {
      if (s == "rename reltable.dat") _exit(0);
    });
    e->SaveData();
    _exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(fs::exists(Data("save.commit")));
  auto reader = NewEngine(false);
  reader->LoadData(nullptr, true);
  EXPECT_EQ(EightScores(*reader), expected);
  EXPECT_TRUE(fs::exists(Data("save.commit")));
  EXPECT_TRUE(fs::exists(Data("reltable.dat.new")));
}

// ---- saved homes and what a save writes ------------------------------------------------------

namespace {

// Bytes this process has handed to write calls so far.
int64_t BytesWritten() {
  std::ifstream in("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (in >> key >> value)
    if (key == "wchar:") return value;
  return -1;
}

std::map<std::string, std::string> FolderBytes(const std::string& folder) {
  std::map<std::string, std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& f : fs::recursive_directory_iterator(folder))
    if (f.is_regular_file()) files[f.path().string()] = ReadBytes(f.path().string());
  return files;
}

std::vector<std::string> SavedHomes() {
  std::vector<std::string> homes;
  for (const auto& h : fs::directory_iterator(std::string(ZIBU_TEST_DATA_DIR) + "/homes"))
    homes.push_back(h.path().string() + "/");
  std::sort(homes.begin(), homes.end());
  return homes;
}

}  // namespace

TEST_F(LearnedData, OldDenseHomesLoadAsTheyWereAndAreSavedCompact) {
  const auto homes = SavedHomes();
  ASSERT_GE(homes.size(), 2u);
  for (const std::string& home : homes) {
    SCOPED_TRACE(home);
    fs::remove_all(dir.path() + "data");
    fs::copy(home + "data", dir.path() + "data", fs::copy_options::recursive);
    std::map<std::string, std::string> original;
    for (const auto& f : fs::recursive_directory_iterator(dir.path() + "data"))
      if (f.is_regular_file()) original[f.path().string()] = ReadBytes(f.path().string());
    auto e = NewEngine(false);
    e->ReadLearningParameters(SettingsFile(home + "zibu.conf"));
    TCompMap shown;
    port.Reset();
    e->LoadData(&shown);
    EXPECT_TRUE(port.messages.empty());
    ASSERT_TRUE(e->RelTable().IsSquare(e->WordCount()));
    ASSERT_GT(e->WordCount(), 3);

    // Streamed out again, every file is what was read.
    const std::string again = dir.path() + "again.dat";
    WriteRelTableFile(e->RelTable(), again);
    EXPECT_EQ(ReadBytes(again), original[Data("reltable.dat")]);
    e->WordWeights().SaveToFile(again);
    EXPECT_EQ(ReadBytes(again), original[Data("wordweightings.dat")]);
    shown.SaveToFile(again);
    EXPECT_EQ(ReadBytes(again), original[Data("shownfeedurls.dat")]);
    T2DRelTypeArray backup;
    ReadRelTableFile(backup, Backup("reltable.dat"));
    WriteRelTableFile(backup, again);
    EXPECT_EQ(ReadBytes(again), original[Backup("reltable.dat")]);
    fs::remove(again);

    // Old homes hold the dense form; its scores are kept exactly.
    std::vector<std::string> texts;
    for (int k = 0; k + 6 <= e->WordCount(); k += 5) {
      std::string text;
      for (int j = 0; j < 6; ++j) text += e->WordWeights().KeyAt(k + j) + " ";
      texts.push_back(text);
    }
    std::vector<int> scores;
    for (const auto& t : texts) scores.push_back(e->GetRelevance(t));

    // The first save writes the table in the compact form, even with nothing changed; the dense
    // file moves to the backup folder byte for byte, with the word file it pairs with.
    e->SaveData(&shown);
    T2DRelTypeArray compact;
    EXPECT_EQ(ReadRelTableFile(compact, Data("reltable.dat")), RelTableForm::kCompact);
    if (e->WordCount() > 100) {
      EXPECT_LT(fs::file_size(Data("reltable.dat")) * 4, original[Data("reltable.dat")].size());
    }
    EXPECT_EQ(ReadBytes(Data("wordweightings.dat")), original[Data("wordweightings.dat")]);
    EXPECT_EQ(ReadBytes(Backup("reltable.dat")), original[Data("reltable.dat")]);
    EXPECT_EQ(ReadBytes(Backup("wordweightings.dat")), original[Data("wordweightings.dat")]);
    EXPECT_EQ(ReadBytes(Data("shownfeedurls.dat")), original[Data("shownfeedurls.dat")]);
    EXPECT_EQ(ReadBytes(Backup("shownfeedurls.dat")), original[Backup("shownfeedurls.dat")]);

    // A save with nothing changed then leaves every file as it is, backups included.
    const auto saved = FolderBytes(dir.path() + "data");
    const auto stamp = fs::last_write_time(Data("reltable.dat"));
    e->SaveData(&shown);
    EXPECT_TRUE(FolderBytes(dir.path() + "data") == saved);
    EXPECT_EQ(fs::last_write_time(Data("reltable.dat")), stamp);

    // Loaded from the compact form, every cell and every score is the same.
    auto loaded = NewEngine(false);
    loaded->ReadLearningParameters(SettingsFile(home + "zibu.conf"));
    port.Reset();
    loaded->LoadData();
    EXPECT_TRUE(port.messages.empty());
    ASSERT_EQ(loaded->WordCount(), e->WordCount());
    for (int a = 0; a < e->WordCount(); ++a)
      for (int b = 0; b < e->WordCount(); ++b)
        ASSERT_EQ(loaded->RelTable().Get(a, b), e->RelTable().Get(a, b)) << a << "," << b;
    for (size_t k = 0; k < texts.size(); ++k)
      EXPECT_EQ(loaded->GetRelevance(texts[k]), scores[k]) << texts[k];
  }
}

TEST_F(LearnedData, PeriodicSavesWriteOnlyWhatChanged) {
  auto e = NewEngine();
  LearnExample(*e);
  for (int k = 0; k < 400; ++k)
    e->LearnFromRating(1 + k % 3, "word" + std::string(1, 'a' + k % 26) + " jordan");
  TCompMap shown;
  shown.Add("http://a/", 1765000000000LL);
  e->SaveData(&shown);
  const auto tableBytes = static_cast<int64_t>(fs::file_size(Data("reltable.dat")));
  const auto wordBytes = static_cast<int64_t>(fs::file_size(Data("wordweightings.dat")));
  const auto shownBytes = static_cast<int64_t>(fs::file_size(Data("shownfeedurls.dat")));
  const auto ratedBytes = static_cast<int64_t>(fs::file_size(Data("ratedarticles.dat")));
  const std::string backupWords = ReadBytes(Backup("wordweightings.dat"));

  struct Case {
    const char* what;
    std::function<void()> between;
    int64_t expected;  // bytes written by the save, the commit record aside
  };
  const Case cases[] = {
      {"nothing", [] {}, 0},
      {"a look at scores", [&] { e->GetRelevance("jordan abdullah sand"); }, 0},
      {"an article shown", [&] { shown.Add("http://b/", 1765000060000LL); }, shownBytes + 20},
      // The record gains a line: "2 ", the relevance, CR LF.
      {"a rating", [&] { e->LearnFromRating(2, "jordan sand"); }, tableBytes + wordBytes + ratedBytes + 5},
  };
  for (const Case& c : cases) {
    c.between();
    const int64_t before = BytesWritten();
    e->SaveData(&shown);
    const int64_t written = BytesWritten() - before;
    // The commit record names the files written and the backups staged.
    const int64_t record = c.expected == 0 ? 0 : 160;
    EXPECT_GE(written, c.expected) << c.what;
    EXPECT_LE(written, c.expected + record) << c.what;
    if (c.expected == 0) {
      EXPECT_EQ(ReadBytes(Backup("wordweightings.dat")), backupWords) << c.what;
    }
  }
}

// ---- damaged files, one family per file kind -------------------------------------------------

namespace {

// A port that fails at the first progress display with the given text, as an error escaping
// from the middle of a load would.
class FailingPort : public RecordingPort {
 public:
  explicit FailingPort(std::string at) : at_(std::move(at)) {}
  void ShowProgress(const std::string& message, int percent) override {
    RecordingPort::ShowProgress(message, percent);
    if (message == at_) throw std::runtime_error("stopped at " + message);
  }

 private:
  std::string at_;
};

}  // namespace

TEST_F(LearnedData, ASaveTouchesNoFileThatWasNotLoaded) {
  struct Case {
    const char* what;
    std::function<void(LearningEngine&, TCompMap&)> start;
    bool shownSaved, pairSaved;
  };
  const Case cases[] = {
      {"no load at all", [](LearningEngine&, TCompMap&) {}, false, false},
      {"only the shown-article memory loaded", [](LearningEngine& e, TCompMap& s) { e.LoadShownUrls(s); },
       true, false},
      {"the word data's load stopped by an error",
       [this](LearningEngine& e, TCompMap& s) {
         FailingPort failing("Loading word weightings...");
         e.SetPort(failing);
         EXPECT_THROW(e.LoadData(&s), std::runtime_error);
         e.SetPort(port);
       },
       true, false},
      {"the shown-article memory unreadable",
       [this](LearningEngine& e, TCompMap& s) {
         fs::remove(Data("shownfeedurls.dat"));
         fs::create_directory(Data("shownfeedurls.dat"));
         e.LoadData(&s);
       },
       false, true},
      {"everything loaded", [](LearningEngine& e, TCompMap& s) { e.LoadData(&s); }, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir.path() + "data");
    {
      auto first = NewEngine();
      SaveTwoGenerations(*first);
      TCompMap shown;
      shown.Add("http://first/", 1765000000000LL);
      first->SaveData(&shown);
      shown.Add("http://again/", 1765000000000LL);
      first->SaveData(&shown);
    }
    auto e = NewEngine(false);
    TCompMap shown;
    c.start(*e, shown);
    const auto before = FolderBytes(dir.path() + "data");
    EXPECT_EQ(e->DataLoaded(LearnedFile::kShownUrls), c.shownSaved);
    EXPECT_EQ(e->DataLoaded(LearnedFile::kWordWeightings), c.pairSaved);
    EXPECT_EQ(e->DataLoaded(LearnedFile::kRelTable), c.pairSaved);
    // Whatever is in memory now differs from the files.
    shown.Add("http://second/", 1765000060000LL);
    e->LearnFromRating(5, "brand new words");
    port.Reset();
    e->SaveData(&shown);
    const auto after = FolderBytes(dir.path() + "data");
    for (const char* name : {"shownfeedurls.dat", "wordweightings.dat", "reltable.dat"}) {
      const bool saved = std::string(name) == "shownfeedurls.dat" ? c.shownSaved : c.pairSaved;
      const auto data = Data(name), backup = Backup(name);
      if (saved) {
        EXPECT_NE(after.at(data), before.at(data)) << name;
        EXPECT_EQ(after.at(backup), before.at(data)) << name;
      } else {
        EXPECT_EQ(after.count(data), before.count(data)) << name;
        if (before.count(data)) {
          EXPECT_EQ(after.at(data), before.at(data)) << name;
        }
        EXPECT_EQ(after.at(backup), before.at(backup)) << name;
      }
    }
    EXPECT_EQ(
        port.Logged("I have not saved wordweightings.dat and reltable.dat, as it was not loaded in full "
                    "when I started"),
        !c.pairSaved);
  }
}

TEST_F(LearnedData, DamagedWordFiles) {
  struct Case {
    const char* what;
    std::function<void()> damage;
    int words;          // words in use after the load
    const char* log;    // a status line expected, or ""
    bool backupLoaded;  // the backup pair is in use
    std::string box;    // the box that says what was damaged, or "" (none, or the too-large one first)
  };
  // The data pair: JORDAN, ABDULLAH, SAND, KATIE, NEWER, WORD, APPEAR; the backup pair the
  // first four.
  const std::string huge = [] {
    std::string s;
    s.reserve(11000000);
    for (int i = 0; i < 1000000; ++i) s += "W" + std::to_string(1000000 + i) + "=1\r\n";
    return s;
  }();
  const Case cases[] = {
      {"one bad value on line 3",
       [this] {
         std::string w = ReadBytes(Data("wordweightings.dat"));
         w.replace(w.find("SAND=20"), 7, "SAND=4x7");
         WriteBytes(Data("wordweightings.dat"), w);
       },
       7,
       "wordweightings.dat line 3: '4x7' is not a valid integer value; I have kept the word SAND with weight "
       "0",
       false, ""},
      {"twelve lines that are not words",
       [this] {
         std::string w = ReadBytes(Data("wordweightings.dat")), garbage;
         for (int i = 0; i < 12; ++i) garbage += "garbage" + std::to_string(i) + "\r\n";
         w.replace(w.find("SAND=20\r\n"), 9, garbage);
         WriteBytes(Data("wordweightings.dat"), w);
       },
       4, "wordweightings.dat: 12 lines in all could not be read whole", true,
       "Error loading word weightings: 12 lines of " + Data("wordweightings.dat") +
           " could not be read, so the word relationship table does not match it.\r\nI will try to load the word "
           "weightings and the word relationship table from the last backup"},
      {"twelve lines that are not words and no backup",
       [this] {
         std::string w = ReadBytes(Data("wordweightings.dat"));
         w.replace(w.find("SAND=20\r\n"), 9, "S\r\nA\r\nN\r\nD\r\n");
         for (int i = 0; i < 8; ++i) w += "-\r\n";
         WriteBytes(Data("wordweightings.dat"), w);
         fs::remove_all(dir.path() + "data/backup");
       },
       6, "wordweightings.dat line 3: S is not a word and its weight; I have skipped that line", false,
       "Error loading word weightings: 12 lines of " + Data("wordweightings.dat") +
           " could not be read, so the word relationship table does not match it.\r\nNo backup exists, so word "
           "relationships will be reset"},
      {"a million words", [&] { WriteBytes(Data("wordweightings.dat"), huge); }, 4, "", true,
       "Error loading word weightings: I could not use " + Data("wordweightings.dat") +
           ".\r\nI will try to load the word weightings and the word relationship table from the last backup"},
      {"a million words and no backup",
       [&] {
         WriteBytes(Data("wordweightings.dat"), huge);
         fs::remove_all(dir.path() + "data/backup");
       },
       0, "", false, ""},
      {"a file too large to be a word file",
       [this] {
         WriteBytes(Data("wordweightings.dat"), "JORDAN=1\r\n");
         fs::resize_file(Data("wordweightings.dat"), uintmax_t{65} << 20);
       },
       4, "", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir.path() + "data");
    {
      auto e = NewEngine();
      SaveTwoGenerations(*e);
    }
    c.damage();
    const auto start = std::chrono::steady_clock::now();
    port.Reset();
    auto e = NewEngine(false);
    e->LoadData();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(e->WordCount(), c.words);
    ASSERT_TRUE(e->RelTable().IsSquare(e->WordCount()));
    if (*c.log) {
      EXPECT_TRUE(port.Logged(c.log));
    }
    if (c.words == 7) {
      // The table is kept whole beside the word that lost its value.
      EXPECT_EQ(e->WordWeights().Get("SAND"), 0);
      EXPECT_EQ(e->WordWeights().Get("KATIE"), -32);
      const int j = e->WordWeights().IndexOf("JORDAN"), s = e->WordWeights().IndexOf("SAND");
      EXPECT_EQ(e->RelTable().Get(j, s), 16);
      EXPECT_TRUE(port.messages.empty());
    }
    if (c.backupLoaded) {
      EXPECT_EQ(port.messages.back(), "Loading backup word weightings and word relationship table was successful");
    }
    if (!c.box.empty()) {
      EXPECT_NE(std::find(port.messages.begin(), port.messages.end(), c.box), port.messages.end())
          << (port.messages.empty() ? "" : port.messages.front());
    }
    if (std::string(c.what).find("million") != std::string::npos ||
        std::string(c.what).find("too large") != std::string::npos) {
      ASSERT_FALSE(port.messages.empty());
      EXPECT_NE(port.messages.front().find("more than 200000 words"), std::string::npos)
          << port.messages.front();
    }
    // Whatever the save writes is a matching pair, and a refused file never becomes the backup.
    e->LearnFromRating(2, "after the load");
    e->SaveData();
    auto again = NewEngine(false);
    port.Reset();
    again->LoadData();
    EXPECT_TRUE(port.messages.empty());
    EXPECT_EQ(again->WordCount(), e->WordCount());
    if (fs::exists(Backup("wordweightings.dat"))) {
      EXPECT_LT(fs::file_size(Backup("wordweightings.dat")), 1000u);
    }
  }
}

TEST_F(LearnedData, DamagedShownMemoryFiles) {
  struct Case {
    const char* line;
    bool kept;
  };
  const Case cases[] = {
      {"http://a/=1765000000000", true},
      {"http://b/?q&equals;1=1765000000001.4", true},
      {"http://c/=-9223372036854775808", false},
      {"http://d/=1000000000000000", false},
      {"http://e/=1E16", false},
      {"http://f/=soon", false},
      {"http://g/=-1", false},
      {"no equals sign at all", false},
      {"http://h/=999999999999999", true},
      {"http://i/=0", true},
  };
  std::string file;
  for (const Case& c : cases) file += std::string(c.line) + "\r\n";
  fs::create_directories(dir.path() + "data/backup");
  WriteBytes(Data("shownfeedurls.dat"), file);
  auto e = NewEngine(false);
  TCompMap shown;
  port.Reset();
  e->LoadData(&shown);
  EXPECT_EQ(shown.Count(),
            std::count_if(std::begin(cases), std::end(cases), [](const Case& c) { return c.kept; }));
  std::vector<std::string> keys;
  for (int i = 0; i < shown.Count(); ++i) keys.push_back(shown.KeyAt(i));
  EXPECT_EQ(keys, (std::vector<std::string>{"http://a/", "http://b/?q=1", "http://h/", "http://i/"}));
  EXPECT_EQ(shown.ValueAt(1), 1765000000001LL);
  EXPECT_TRUE(
      port.Logged("shownfeedurls.dat line 3: -9223372036854775808 is not a time; I have dropped that line"));
  EXPECT_TRUE(
      port.Logged("shownfeedurls.dat line 6: 'soon' is not a valid floating point value; I have dropped that "
                  "line"));
  // The exact round trip of a save.
  e->SaveData(&shown);
  TCompMap back;
  auto loaded = NewEngine(false);
  port.Reset();
  loaded->LoadData(&back);
  ASSERT_EQ(back.Count(), shown.Count());
  for (int i = 0; i < back.Count(); ++i) {
    EXPECT_EQ(back.KeyAt(i), shown.KeyAt(i));
    EXPECT_EQ(back.ValueAt(i), shown.ValueAt(i));
  }
  for (const auto& l : port.logs)
    EXPECT_EQ(l.text.find("shownfeedurls.dat line"), std::string::npos) << l.text;
  // The damaged file went to the backup as it was; the data folder has the clean one.
  EXPECT_EQ(ReadBytes(Backup("shownfeedurls.dat")), file);
}

// ---- forgetting words ------------------------------------------------------------------------

TEST_F(LearnedData, ForgettingAWordKeepsEveryOtherWeightAndPairThroughSaveAndLoad) {
  auto e = NewEngine();
  LearnExample(*e);
  e->LearnFromRating(6, "katie zebra yellow jordan");
  e->LearnFromRating(-4, "yellow sand zebra");
  auto weightsOf = [](LearningEngine& x) {
    std::map<std::string, int> w;
    for (const auto& lw : x.LearnedWords()) w[lw.word] = lw.weight;
    return w;
  };
  auto pairsOf = [](LearningEngine& x) {
    std::map<std::pair<std::string, std::string>, int> p;
    for (int a = 0; a < x.WordCount(); ++a)
      for (int b = 0; b < x.WordCount(); ++b)
        if (x.RelTable().Get(a, b) != 0)
          p[{x.WordWeights().KeyAt(a), x.WordWeights().KeyAt(b)}] = x.RelTable().Get(a, b);
    return p;
  };
  // Forgotten in the middle, at the start and at the end of the positions.
  for (const char* word : {"KATIE", "JORDAN", "YELLOW"}) {
    SCOPED_TRACE(word);
    auto weights = weightsOf(*e);
    auto pairs = pairsOf(*e);
    weights.erase(word);
    std::erase_if(pairs, [&](const auto& p) { return p.first.first == word || p.first.second == word; });
    EXPECT_TRUE(e->ForgetWord(word));
    EXPECT_FALSE(e->ForgetWord(word));
    EXPECT_EQ(e->WordWeights().IndexOf(word), -1);
    ASSERT_TRUE(e->RelTable().IsSquare(e->WordCount()));
    EXPECT_EQ(weightsOf(*e), weights);
    EXPECT_EQ(pairsOf(*e), pairs);
    e->SaveData();
    auto loaded = NewEngine(false);
    port.Reset();
    loaded->LoadData();
    EXPECT_TRUE(port.messages.empty());
    EXPECT_EQ(weightsOf(*loaded), weights);
    EXPECT_EQ(pairsOf(*loaded), pairs);
    // The next rating and score work on the moved positions.
    EXPECT_EQ(loaded->GetRelevance("sand zebra"), e->GetRelevance("sand zebra"));
  }
}

TEST_F(LearnedData, ACommonWordAddedIsWrittenAndForgotten) {
  auto e = NewEngine();
  WriteBytes(Data("commonwords.dat"), "said\r\nthat\r\n");
  e->LoadData();
  LearnExample(*e);
  EXPECT_TRUE(e->AddCommonWord("Katie"));
  EXPECT_EQ(ReadBytes(Data("commonwords.dat")), "Katie\r\nsaid\r\nthat\r\n");
  EXPECT_EQ(e->WordWeights().IndexOf("KATIE"), -1);
  EXPECT_EQ(e->WordCount(), 3);
  EXPECT_EQ(e->GetWordList("katie jordan"), (std::vector<std::string>{"JORDAN"}));
  EXPECT_FALSE(e->AddCommonWord("SAID"));
  EXPECT_FALSE(e->AddCommonWord("  "));
  // Never written over a file that was not read.
  auto unread = NewEngine(false);
  EXPECT_THROW(unread->AddCommonWord("word"), Error);
  EXPECT_EQ(ReadBytes(Data("commonwords.dat")), "Katie\r\nsaid\r\nthat\r\n");
}

// ---- the record of rated articles ------------------------------------------------------------

TEST_F(LearnedData, DamagedRatedArticlesFiles) {
  struct Case {
    const char* line;
    bool kept;
  };
  const Case cases[] = {
      {"7 12", true},   {"-4 -3", true},  {"0 5", false},  {"11 5", false}, {"3 101", false},
      {"3", false},     {"x 4", false},   {"+3 4", false}, {"3  4", false}, {"-10 -100", true},
      {"10 100", true}, {"5 0x10", false}, {"", true},  // an empty line is no entry and no damage
  };
  std::string file;
  for (const Case& c : cases) file += std::string(c.line) + "\r\n";
  fs::create_directories(dir.path() + "data/backup");
  WriteBytes(Data("ratedarticles.dat"), file);
  auto e = NewEngine(false);
  port.Reset();
  e->LoadData();
  EXPECT_EQ(e->RatedArticles().Entries(),
            (std::deque<RatedArticle>{{7, 12}, {-4, -3}, {-10, -100}, {10, 100}}));
  EXPECT_TRUE(port.Logged("ratedarticles.dat line 3: 0 is not a rating; I have dropped that line"));
  EXPECT_TRUE(port.Logged("ratedarticles.dat line 5: 101 is not a relevance; I have dropped that line"));
  EXPECT_TRUE(
      port.Logged("ratedarticles.dat line 6: '3' is not a rating and a relevance; I have dropped that line"));
  EXPECT_TRUE(port.messages.empty());
  // The save writes the clean record, the damaged file going to the backup as it was; a second
  // load reads it back exactly and silently.
  e->SaveData();
  EXPECT_EQ(ReadBytes(Data("ratedarticles.dat")), "7 12\r\n-4 -3\r\n-10 -100\r\n10 100\r\n");
  EXPECT_EQ(ReadBytes(Backup("ratedarticles.dat")), file);
  auto loaded = NewEngine(false);
  port.Reset();
  loaded->LoadData();
  EXPECT_EQ(loaded->RatedArticles().Entries(), e->RatedArticles().Entries());
  EXPECT_TRUE(port.logs.empty());

  // A long file keeps its most recent lines; only the first ten damaged ones are named.
  std::string longFile;
  for (int k = 0; k < 1200; ++k) longFile += (k < 15 ? "bad\r\n" : std::to_string(k % 2 ? 3 : -3) + " " +
                                                                       std::to_string(k % 100) + "\r\n");
  WriteBytes(Data("ratedarticles.dat"), longFile);
  auto many = NewEngine(false);
  port.Reset();
  many->LoadData();
  ASSERT_EQ(many->RatedArticles().Count(), kRatedArticlesKept);
  EXPECT_EQ(many->RatedArticles().Entries().front(), (RatedArticle{-3, 0}));  // line 201
  EXPECT_EQ(many->RatedArticles().Entries().back(), (RatedArticle{3, 99}));   // line 1200
  EXPECT_TRUE(port.Logged("ratedarticles.dat: 15 lines in all were dropped"));
}

// The two records that stand beside the word files: the rated articles and the recent scores.
TEST_F(LearnedData, TheRecordsFollowTheSaveRulesOfTheLearnedFiles) {
  struct Record {
    const char* file;
    LearnedFile kind;
    std::function<void(LearningEngine&)> fill;    // before the first two saves
    std::function<void(LearningEngine&)> change;  // after the load of each case
    const char* added;                            // the line the change adds
    int lines;                                    // of the first engine's file
    std::function<int(const LearningEngine&)> count;
  };
  const Record records[] = {
      {"ratedarticles.dat", LearnedFile::kRatedArticles, [](LearningEngine&) {},
       [](LearningEngine& e) { e.LearnFromRating(5, "zebra quokka"); }, "5 0\r\n", 13,
       [](const LearningEngine& e) { return e.RatedArticles().Count(); }},
      {"recentscores.dat", LearnedFile::kRecentScores,
       [](LearningEngine& e) {
         for (int k = 0; k < 4; ++k) e.RecentScores().Add(1765152000000 + k, k * 10 - 5);
       },
       [](LearningEngine& e) { e.RecentScores().Add(1765152000100, 3); }, "1765152000100 3\r\n", 4,
       [](const LearningEngine& e) { return e.RecentScores().Count(); }},
  };
  for (const Record& r : records) {
    SCOPED_TRACE(r.file);
    struct Case {
      const char* what;
      std::function<void(LearningEngine&)> start;
      bool saved;
    };
    const Case cases[] = {
        {"no load at all", [](LearningEngine&) {}, false},
        {"only the shown-article memory loaded",
         [](LearningEngine& e) {
           TCompMap s;
           e.LoadShownUrls(s);
         },
         false},
        {"the record unreadable",
         [&](LearningEngine& e) {
           fs::remove(Data(r.file));
           fs::create_directory(Data(r.file));
           e.LoadData();
         },
         false},
        {"everything loaded", [](LearningEngine& e) { e.LoadData(); }, true},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      fs::remove_all(dir.path() + "data");
      {
        auto first = NewEngine();
        LearnExample(*first);
        r.fill(*first);
        first->SaveData();
        first->LearnFromRating(4, "newer words appear");
        first->SaveData();
      }
      const std::string firstRecord = ReadBytes(Data(r.file));
      EXPECT_EQ(std::count(firstRecord.begin(), firstRecord.end(), '\n'), r.lines);
      auto e = NewEngine(false);
      c.start(*e);
      EXPECT_EQ(e->DataLoaded(r.kind), c.saved);
      const auto before = FolderBytes(dir.path() + "data");
      r.change(*e);
      port.Reset();
      e->SaveData();
      const auto after = FolderBytes(dir.path() + "data");
      const std::string data = Data(r.file), backup = Backup(r.file);
      if (c.saved) {
        EXPECT_EQ(after.at(data), firstRecord + r.added);
        EXPECT_EQ(after.at(backup), firstRecord);
      } else {
        EXPECT_EQ(after.count(data), before.count(data));
        if (before.count(data)) {
          EXPECT_EQ(after.at(data), before.at(data));
        }
        EXPECT_EQ(after.count(backup), before.count(backup));
        if (before.count(backup)) {
          EXPECT_EQ(after.at(backup), before.at(backup));
        }
        EXPECT_TRUE(port.Logged(std::string("I have not saved ") + r.file +
                                ", as it was not loaded in full when I started"));
      }
    }
    // Forgotten with the learned data: the next save writes an empty record.
    auto e = NewEngine();
    EXPECT_GT(r.count(*e), 0);
    e->ClearLearnedData();
    e->SaveData();
    EXPECT_EQ(ReadBytes(Data(r.file)), "");
    auto loaded = NewEngine();
    EXPECT_EQ(r.count(*loaded), 0);
  }
}

TEST_F(LearnedData, DamagedRecentScoresFiles) {
  struct Case {
    const char* line;
    bool kept;
  };
  const Case cases[] = {
      {"1765152000000 12", true},  {"1765152000001 -100", true}, {"1765152000002 101", false},
      {"1765152000003", false},    {"x 4", false},               {"-1 4", false},
      {"1000000000000000 4", false}, {"0 100", true},            {"+1765152000004 4", false},
      {"1765152000005  4", false}, {"1765152000006 4x", false},  {"", true},
      {"999999999999999 -7", true},
  };
  std::string file, kept;
  for (const Case& c : cases) {
    file += std::string(c.line) + "\r\n";
    if (c.kept && *c.line) kept += std::string(c.line) + "\r\n";
  }
  fs::create_directories(dir.path() + "data/backup");
  WriteBytes(Data("recentscores.dat"), file);
  auto e = NewEngine(false);
  port.Reset();
  e->LoadData();
  EXPECT_EQ(e->RecentScores().Count(), 4);
  EXPECT_TRUE(port.Logged("recentscores.dat line 3: 101 is not a relevance; I have dropped that line"));
  EXPECT_TRUE(port.Logged("recentscores.dat line 6: -1 is not a time; I have dropped that line"));
  EXPECT_TRUE(port.Logged(
      "recentscores.dat line 4: '1765152000003' is not a time and a relevance; I have dropped that line"));
  EXPECT_TRUE(port.messages.empty());
  // The save writes the good lines alone, the damaged file going to the backup as it was.
  e->SaveData();
  EXPECT_EQ(ReadBytes(Data("recentscores.dat")), kept);
  EXPECT_EQ(ReadBytes(Backup("recentscores.dat")), file);
  auto loaded = NewEngine(false);
  port.Reset();
  loaded->LoadData();
  EXPECT_EQ(loaded->RecentScores().Entries(), e->RecentScores().Entries());
  EXPECT_TRUE(port.logs.empty());

  // A long file keeps its most recent lines.
  std::string longFile;
  for (int k = 0; k < kRecentScoresKept + 30; ++k)
    longFile += (k < 12 ? std::string("bad") : std::to_string(1765152000000 + k) + " " + std::to_string(k % 100)) +
                "\r\n";
  WriteBytes(Data("recentscores.dat"), longFile);
  auto many = NewEngine(false);
  port.Reset();
  many->LoadData();
  ASSERT_EQ(many->RecentScores().Count(), kRecentScoresKept);
  EXPECT_EQ(many->RecentScores().Entries().front(), (RecentScore{1765152000030, 30}));
  EXPECT_EQ(many->RecentScores().Entries().back(), (RecentScore{1765152000000 + kRecentScoresKept + 29, 29}));
  EXPECT_TRUE(port.Logged("recentscores.dat: 12 lines in all were dropped"));
}
