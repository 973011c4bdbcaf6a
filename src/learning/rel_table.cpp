#include "learning/rel_table.h"

#include <algorithm>
#include <cstring>

namespace zibu {

bool T2DRelTypeArray::IsSquare(int n) const {
  if (RowCount() != n) return false;
  for (const auto& r : rows_)
    if (r.length != n) return false;
  return true;
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
}

void T2DRelTypeArray::SetRowCount(int rows) {
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
}

void T2DRelTypeArray::Reset(int n) {
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
