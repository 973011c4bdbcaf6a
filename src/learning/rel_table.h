// The word relationship table: n rows of n signed 8-bit cells, row and column k belonging to
// the word at position k of the word weightings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zibu {

// Rows are separate blocks with a little spare room at their ends, so that the table can grow by
// some words without copying 400 MB each time, while the whole stays within about 1.03 * n * n
// bytes. Cells past a row's length are kept at zero, so growing inside the spare room only has to
// add new rows. Rows may have different lengths for a while: that is how a damaged file is read
// before the loader rejects it.
class T2DRelTypeArray {
 public:
  T2DRelTypeArray() = default;
  // A moved-from table is empty, and so square.
  T2DRelTypeArray(T2DRelTypeArray&& o) noexcept : rows_(std::move(o.rows_)), squareN_(o.squareN_) {
    o.rows_.clear();
    o.squareN_ = 0;
  }
  T2DRelTypeArray& operator=(T2DRelTypeArray&& o) noexcept {
    rows_ = std::move(o.rows_);
    squareN_ = o.squareN_;
    o.rows_.clear();
    o.squareN_ = 0;
    return *this;
  }

  int RowCount() const { return static_cast<int>(rows_.size()); }
  int RowLength(int row) const { return rows_[row].length; }
  // True when there are n rows of n cells.
  bool IsSquare(int n) const;
  // The shortest row's length, capped at the row count: the words every row has cells for.
  int CoveredWords() const;

  // n by n: existing cells keep their values, new cells are 0. Shrinking drops the cells beyond n.
  void Resize(int n);
  // n by n with every cell 0. The memory is kept when the table has that shape already (no fresh
  // pages to fault in); otherwise the old rows are given back.
  void Reset(int n);
  void Clear() { Reset(0); }

  // Row-by-row shaping, used by the file reader.
  void SetRowCount(int rows);
  void SetRowLength(int row, int length);
  // Gives the row `length` cells whose values the caller is about to overwrite (a new block is
  // not cleared first), and returns them.
  int8_t* PrepareRowForOverwrite(int row, int length);

  int8_t Get(int a, int b) const { return rows_[a].cells[b]; }
  void Set(int a, int b, int8_t v) { rows_[a].cells[b] = v; }
  int8_t* Row(int a) { return rows_[a].cells.get(); }
  const int8_t* Row(int a) const { return rows_[a].cells.get(); }

  // Bytes held by the cells and the row bookkeeping (not counting the allocator's own headers).
  size_t MemoryBytes() const;

 private:
  struct RowBlock {
    std::unique_ptr<int8_t[]> cells;
    int32_t length = 0;
    int32_t capacity = 0;
  };
  static int CapacityFor(int n) {
    int64_t c = static_cast<int64_t>(n) + n / 32;
    return c > INT32_MAX ? INT32_MAX : static_cast<int>(c);
  }
  void GrowRow(RowBlock& row, int capacity);

  std::vector<RowBlock> rows_;
  // n while the table is known to be n rows of n cells, -1 while that is unknown. Scoring asks
  // for the shape on every call, and walking 20,000 rows each time would cost more than the score.
  mutable int squareN_ = 0;
};

}  // namespace zibu
