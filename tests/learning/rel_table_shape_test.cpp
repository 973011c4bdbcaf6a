// The table remembers that it is square so scoring need not walk every row; every way of
// reshaping it must forget or update that. Its rows change between a sparse and a dense form,
// which a plain model of rows must not be able to tell.
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
  t.BeginRowRead(4, 5);
  t.EndRowRead(4, false);
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

// The table against the plainest model of it: rows as vectors. Rows are filled sparsely and
// densely, so that both forms, and the changes between them, are exercised.
using Model = std::vector<std::vector<int8_t>>;

void ExpectSame(const T2DRelTypeArray& t, const Model& m, int step) {
  ASSERT_EQ(t.RowCount(), static_cast<int>(m.size())) << "step " << step;
  bool square = true;
  for (size_t a = 0; a < m.size(); ++a) {
    ASSERT_EQ(t.RowLength(static_cast<int>(a)), static_cast<int>(m[a].size()))
        << "step " << step << " row " << a;
    if (!m[a].empty()) {
      std::vector<int8_t> cells(m[a].size());
      t.CopyCells(static_cast<int>(a), 0, static_cast<int>(cells.size()), cells.data());
      ASSERT_EQ(cells, m[a]) << "step " << step << " row " << a;
      const int b = static_cast<int>(a * 7 % m[a].size());
      ASSERT_EQ(t.Get(static_cast<int>(a), b), m[a][b]) << "step " << step << " row " << a;
    }
    square = square && m[a].size() == m.size();
  }
  ASSERT_EQ(t.IsSquare(static_cast<int>(m.size())), square) << "step " << step;
}

}  // namespace

TEST(RelTableShape, EveryReshapeKeepsTheCellsAPlainModelKeeps) {
  std::mt19937 rng(7);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  // Mostly zeros, with a density that differs from row to row.
  auto fill = [&](int8_t* cells, std::vector<int8_t>& row) {
    const int density = pick(0, 3) == 0 ? 100 : pick(0, 12);
    for (auto& v : row) v = pick(0, 99) < density ? static_cast<int8_t>(pick(-128, 127)) : 0;
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
    switch (pick(0, 8)) {
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
      case 3: {  // a file being read over the table, square or not, or rows set whole
        const bool square = pick(0, 2) > 0;
        const bool read = pick(0, 1) == 0;
        if (!read || pick(0, 1) == 0) t.Clear();  // else dense rows are read over their own cells
        t.SetRowCount(n);
        m.assign(static_cast<size_t>(n), {});
        for (int a = 0; a < n; ++a) {
          m[a].resize(static_cast<size_t>(square ? n : pick(0, 2 * n + 1)));
          const int len = static_cast<int>(m[a].size());
          if (read) {
            fill(t.BeginRowRead(a, len), m[a]);
            t.EndRowRead(a, true);
          } else {
            std::vector<int8_t> cells(m[a].size());
            fill(cells.data(), m[a]);
            t.SetRow(a, cells.data(), len);
          }
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
      case 6:
        for (int k = 0; k < 200 && rows > 0; ++k) {
          const int a = pick(0, rows - 1);
          if (m[a].empty()) continue;
          const int b = pick(0, static_cast<int>(m[a].size()) - 1);
          m[a][b] = pick(0, 3) == 0 ? 0 : static_cast<int8_t>(pick(-128, 127));
          t.Set(a, b, m[a][b]);
        }
        break;
      case 8: {  // rows built from their cells, as the compact file fills them, square or not
        const bool square = pick(0, 1) > 0;
        m.assign(static_cast<size_t>(n), {});
        std::vector<int32_t> lengths(static_cast<size_t>(n)), cells(static_cast<size_t>(n), 0),
            ends(static_cast<size_t>(n), 0);
        for (int a = 0; a < n; ++a) {
          m[a].resize(static_cast<size_t>(square ? n : pick(0, 2 * n + 1)));
          std::vector<int8_t> scratch(m[a].size());
          fill(scratch.data(), m[a]);
          lengths[a] = static_cast<int32_t>(m[a].size());
          for (size_t b = 0; b < m[a].size(); ++b)
            if (m[a][b] != 0) {
              ++cells[a];
              ends[a] = static_cast<int32_t>(b + 1);
            }
        }
        t.PrepareRows(n, lengths.data(), cells.data(), ends.data());
        for (int a = 0; a < n; ++a)
          for (size_t b = 0; b < m[a].size(); ++b)
            if (m[a][b] != 0) t.FillCell(a, static_cast<int>(b), m[a][b]);
        t.FinishFill(false);
        break;
      }
      default:  // many cells of a row at once, some back to 0: rows turn dense and sparse again
        for (int k = 0; k < 5 && rows > 0; ++k) {
          const int a = pick(0, rows - 1);
          const int len = static_cast<int>(m[a].size());
          std::vector<int> columns;
          std::vector<int8_t> values;
          const int stride = pick(1, 9);
          for (int b = pick(0, 8); b < len; b += stride) {
            columns.push_back(b);
            values.push_back(pick(0, 2) == 0 ? 0 : static_cast<int8_t>(pick(-128, 127)));
            m[a][b] = values.back();
          }
          std::vector<int8_t> back(columns.size());
          t.Scatter(a, columns.data(), static_cast<int>(columns.size()), values.data());
          t.Gather(a, columns.data(), static_cast<int>(columns.size()), back.data());
          ASSERT_EQ(back, values) << "step " << step;
        }
    }
    ExpectSame(t, m, step);
  }
}

TEST(RelTableShape, MemoryFollowsTheCellsThatAreSetInEitherForm) {
  // A square of 3,000 words costs its row bookkeeping until cells are set.
  T2DRelTypeArray t;
  t.Resize(3000);
  EXPECT_LT(t.MemoryBytes(), 150u * 1024);
  const size_t empty = t.MemoryBytes();
  // Ten cells per row: held as entries, four bytes each.
  for (int a = 0; a < 3000; ++a)
    for (int k = 1; k <= 10; ++k) t.Set(a, (a + k * 271) % 3000, static_cast<int8_t>(k));
  EXPECT_EQ(t.NonZeroCells(), 30000);
  EXPECT_LE(t.MemoryBytes() - empty, 3000u * 10 * 4 * 2);
  // Every cell set: rows turn dense, about one byte per cell.
  std::vector<int8_t> full(3000, 7);
  for (int a = 0; a < 3000; ++a) t.SetRow(a, full.data(), 3000);
  EXPECT_GE(t.MemoryBytes(), 3000u * 3000);
  EXPECT_LE(static_cast<double>(t.MemoryBytes()), 1.05 * 3000 * 3000);
  // Clearing gives it all back.
  t.Clear();
  EXPECT_LT(t.MemoryBytes(), 4096u);
}

TEST(RelTableShape, SymmetryIsKnownOnlyWhileEveryStepKeepsIt) {
  const struct {
    const char* what;
    void (*step)(T2DRelTypeArray&);
    bool known;
  } steps[] = {
      {"a new table", [](T2DRelTypeArray&) {}, true},
      {"grown", [](T2DRelTypeArray& t) { t.Resize(6); }, true},
      {"one cell set", [](T2DRelTypeArray& t) { t.Set(1, 4, 3); }, false},
      {"its mirror set too", [](T2DRelTypeArray& t) { t.Set(4, 1, 3); }, false},  // not looked at
      {"marked", [](T2DRelTypeArray& t) { t.MarkSymmetric(); }, true},
      {"a word removed", [](T2DRelTypeArray& t) { t.RemoveWord(2); }, true},
      {"grown again", [](T2DRelTypeArray& t) { t.Resize(9); }, true},
      {"a cell set to what it holds", [](T2DRelTypeArray& t) { t.Set(1, 3, 3); }, true},
      {"cells set at once",
       [](T2DRelTypeArray& t) {
         const int columns[] = {0, 2};
         const int8_t values[] = {5, 0};
         t.Scatter(3, columns, 2, values);
       },
       false},
      {"reset", [](T2DRelTypeArray& t) { t.Reset(3); }, true},
      {"a row set whole",
       [](T2DRelTypeArray& t) {
         const int8_t cells[] = {0, 0, 0};
         t.SetRow(0, cells, 3);
       },
       false},
      {"cleared", [](T2DRelTypeArray& t) { t.Clear(); }, true},
      {"a row lengthened",
       [](T2DRelTypeArray& t) {
         t.SetRowCount(2);
         t.SetRowLength(0, 2);
       },
       false},
      {"filled as symmetric",
       [](T2DRelTypeArray& t) {
         const int32_t lengths[] = {2, 2}, cells[] = {1, 1}, ends[] = {2, 1};
         t.PrepareRows(2, lengths, cells, ends);
         t.FillCell(0, 1, 7);
         t.FillCell(1, 0, 7);
         t.FinishFill(true);
       },
       true},
      {"a copy", [](T2DRelTypeArray& t) { t = t.Clone(); }, true},
      {"filled as it came",
       [](T2DRelTypeArray& t) {
         const int32_t lengths[] = {2, 2}, cells[] = {1, 0}, ends[] = {2, 0};
         t.PrepareRows(2, lengths, cells, ends);
         t.FillCell(0, 1, 7);
         t.FinishFill(false);
       },
       false},
      {"a copy of that", [](T2DRelTypeArray& t) { t = t.Clone(); }, false},
  };
  T2DRelTypeArray t;
  for (const auto& s : steps) {
    s.step(t);
    EXPECT_EQ(t.KnownSymmetric(), s.known) << s.what;
  }
}
