#include "learning/rel_table.h"

#include <algorithm>
#include <cstring>

namespace zibu {

bool T2DRelTypeArray::IsSquare(int n) const {
  if (squareN_ < 0) {
    const int rows = RowCount();
    bool square = true;
    for (const auto& r : rows_) square = square && r.length == rows;
    if (square) squareN_ = rows;
  }
  if (squareN_ >= 0) return squareN_ == n;
  return false;
}

int T2DRelTypeArray::CoveredWords() const {
  if (IsSquare(RowCount())) return squareN_;
  int covered = RowCount();
  for (const auto& r : rows_) covered = std::min(covered, r.length);
  return covered;
}

void T2DRelTypeArray::GrowRow(RowBlock& row, int capacity) {
  // Value-initialised, so the room past the length is zero as the class promises.
  auto cells = std::make_unique<int8_t[]>(static_cast<size_t>(capacity));
  if (row.length > 0) std::memcpy(cells.get(), row.cells.get(), static_cast<size_t>(row.length));
  row.cells = std::move(cells);
  row.capacity = capacity;
}

void T2DRelTypeArray::SetRowLength(int row, int length) {
  RowBlock& r = rows_[row];
  if (length > r.capacity) {
    GrowRow(r, CapacityFor(length));
  } else if (length < r.length) {
    std::memset(r.cells.get() + length, 0, static_cast<size_t>(r.length - length));
  }
  r.length = length;
  squareN_ = -1;
}

void T2DRelTypeArray::SetRowCount(int rows) {
  squareN_ = -1;
  rows_.resize(static_cast<size_t>(std::max(rows, 0)));
  if (rows_.capacity() > rows_.size() * 2 + 16) rows_.shrink_to_fit();
}

void T2DRelTypeArray::Resize(int n) {
  n = std::max(n, 0);
  const int cap = CapacityFor(n);
  SetRowCount(n);
  for (auto& r : rows_) {
    if (n > r.capacity) {
      GrowRow(r, cap);
    } else if (n < r.length) {
      std::memset(r.cells.get() + n, 0, static_cast<size_t>(r.length - n));
    }
    r.length = n;
  }
  squareN_ = n;
}

int8_t* T2DRelTypeArray::PrepareRowForOverwrite(int row, int length) {
  RowBlock& r = rows_[row];
  if (length > r.capacity) {
    const int capacity = CapacityFor(length);
    r.cells = std::make_unique_for_overwrite<int8_t[]>(static_cast<size_t>(capacity));
    std::memset(r.cells.get() + length, 0, static_cast<size_t>(capacity - length));
    r.capacity = capacity;
  } else if (length < r.length) {
    std::memset(r.cells.get() + length, 0, static_cast<size_t>(r.length - length));
  }
  r.length = length;
  squareN_ = -1;
  return r.cells.get();
}

void T2DRelTypeArray::Reset(int n) {
  n = std::max(n, 0);
  bool reuse = RowCount() == n;
  for (const auto& r : rows_) reuse = reuse && r.capacity >= n && r.capacity <= CapacityFor(n);
  if (reuse) {
    // Cells past a row's length are zero already.
    for (auto& r : rows_) {
      if (r.length > 0) std::memset(r.cells.get(), 0, static_cast<size_t>(r.length));
      r.length = n;
    }
    squareN_ = n;
    return;
  }
  rows_.clear();
  rows_.shrink_to_fit();
  Resize(n);
}

size_t T2DRelTypeArray::MemoryBytes() const {
  size_t total = rows_.capacity() * sizeof(RowBlock);
  for (const auto& r : rows_) total += static_cast<size_t>(r.capacity);
  return total;
}

}  // namespace zibu
