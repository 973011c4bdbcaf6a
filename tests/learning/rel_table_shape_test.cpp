// The table remembers that it is square so scoring need not walk every row; every way of
// reshaping it must forget or update that.
#include <gtest/gtest.h>

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
