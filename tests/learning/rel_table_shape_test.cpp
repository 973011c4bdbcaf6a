// The table remembers that it is square so scoring need not walk every row; every way of
// reshaping it must forget or update that.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "learning/rel_table.h"

using zibu::T2DRelTypeArray;

TEST(RelTableShape, SquareKnowledgeFollowsEveryReshape) {
  T2DRelTypeArray t;
  EXPECT_TRUE(t.IsSquare(0));
  t.Resize(4);
  t.Set(3, 1, 7);
  EXPECT_TRUE(t.IsSquare(4));
  EXPECT_FALSE(t.IsSquare(3));
  EXPECT_EQ(t.CoveredWords(), 4);

  t.SetRowLength(2, 2);  // one short row, as while a file is read
  EXPECT_FALSE(t.IsSquare(4));
  EXPECT_EQ(t.CoveredWords(), 2);
  t.SetRowLength(2, 4);
  EXPECT_TRUE(t.IsSquare(4));  // found square again by looking
  EXPECT_EQ(t.Get(3, 1), 7);

  t.SetRowCount(5);  // a new row of no cells
  EXPECT_FALSE(t.IsSquare(4));
  EXPECT_FALSE(t.IsSquare(5));
  EXPECT_EQ(t.CoveredWords(), 0);
  t.PrepareRowForOverwrite(4, 5);
  EXPECT_FALSE(t.IsSquare(5));
  t.Resize(5);
  EXPECT_TRUE(t.IsSquare(5));
  EXPECT_EQ(t.Get(3, 1), 7);

  T2DRelTypeArray moved(std::move(t));
  EXPECT_TRUE(moved.IsSquare(5));
  EXPECT_TRUE(t.IsSquare(0));  // NOLINT(bugprone-use-after-move): a moved-from table is empty
  t = std::move(moved);
  EXPECT_TRUE(t.IsSquare(5));
  EXPECT_TRUE(moved.IsSquare(0));  // NOLINT(bugprone-use-after-move)
  t.Reset(5);
  EXPECT_TRUE(t.IsSquare(5));
  EXPECT_EQ(t.Get(3, 1), 0);
}

namespace {

// The table against the plainest model of it: rows as vectors. Sizes cross the point where the
// cells move from the heap to a mapping of their own, so growing in place, moving a mapping and
// spreading rows out to a longer stride are all exercised.
using Model = std::vector<std::vector<int8_t>>;

void ExpectSame(const T2DRelTypeArray& t, const Model& m, int step) {
  ASSERT_EQ(t.RowCount(), static_cast<int>(m.size())) << "step " << step;
  bool square = true;
  for (size_t a = 0; a < m.size(); ++a) {
    ASSERT_EQ(t.RowLength(static_cast<int>(a)), static_cast<int>(m[a].size()))
        << "step " << step << " row " << a;
    if (!m[a].empty()) {
      ASSERT_EQ(std::memcmp(t.Row(static_cast<int>(a)), m[a].data(), m[a].size()), 0)
          << "step " << step << " row " << a;
    }
    square = square && m[a].size() == m.size();
  }
  ASSERT_EQ(t.IsSquare(static_cast<int>(m.size())), square) << "step " << step;
}

}  // namespace

TEST(RelTableShape, EveryReshapeKeepsTheCellsAPlainModelKeeps) {
  std::mt19937 rng(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto fill = [&](int8_t* cells, std::vector<int8_t>& row) {
    for (auto& v : row) v = static_cast<int8_t>(pick(-128, 127));
    if (!row.empty()) std::memcpy(cells, row.data(), row.size());
  };
  T2DRelTypeArray t;
  Model m;
  for (int step = 0; step < 200; ++step) {
    const int rows = static_cast<int>(m.size());
    // Mostly small growth, now and then a jump past the spare room or down again.
    const int n = pick(0, 9) < 7 ? std::max(0, rows + pick(-3, 25))
                  : pick(0, 1)   ? pick(0, 1400)
                                 : pick(1000, 1400);
    switch (pick(0, 6)) {
      case 0:
      case 1:
        t.Resize(n);
        m.resize(static_cast<size_t>(n));
        for (auto& r : m) r.resize(static_cast<size_t>(n), 0);
        break;
      case 2: {  // often to the shape it has, which keeps the memory
        const int size = pick(0, 1) ? rows : n;
        t.Reset(size);
        m.assign(static_cast<size_t>(size), std::vector<int8_t>(static_cast<size_t>(size), 0));
        break;
      }
      case 3: {  // a file being read over the table, square or not
        const bool square = pick(0, 2) > 0;
        t.BeginOverwrite(n, square);
        m.assign(static_cast<size_t>(n), {});
        for (int a = 0; a < n; ++a) {
          m[a].resize(static_cast<size_t>(square ? n : pick(0, 2 * n + 1)));
          fill(t.PrepareRowForOverwrite(a, static_cast<int>(m[a].size())), m[a]);
        }
        break;
      }
      case 4:
        t.SetRowCount(n);
        m.resize(static_cast<size_t>(n));
        break;
      case 5:
        if (rows > 0) {  // one row lengthened or shortened, sometimes past the stride
          const int a = pick(0, rows - 1);
          const int len = pick(0, 2 * rows + 40);
          t.SetRowLength(a, len);
          m[a].resize(static_cast<size_t>(len), 0);
        }
        break;
      default:
        for (int k = 0; k < 200 && rows > 0; ++k) {
          const int a = pick(0, rows - 1);
          if (m[a].empty()) continue;
          const int b = pick(0, static_cast<int>(m[a].size()) - 1);
          m[a][b] = static_cast<int8_t>(pick(-128, 127));
          t.Set(a, b, m[a][b]);
        }
    }
    ExpectSame(t, m, step);
  }
}

TEST(RelTableShape, ACountTheFileCannotHoldAsASquareGetsNoSquareRoom) {
  // 3,000 rows of no cells: a file of some 6 KB must not make the table take 9 MB.
  T2DRelTypeArray t;
  t.BeginOverwrite(3000, false);
  EXPECT_EQ(t.RowCount(), 3000);
  EXPECT_LT(t.MemoryBytes(), 100u * 1024);
  t.BeginOverwrite(3000, true);
  EXPECT_GE(t.MemoryBytes(), 3000u * 3000);
  EXPECT_LE(static_cast<double>(t.MemoryBytes()), 1.05 * 3000 * 3000);
}
