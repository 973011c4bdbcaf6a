#include "learning/rel_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zibu {

namespace {

constexpr size_t kPage = 4096;
// Smaller blocks come from the heap: a mapping of their own would waste most of a page.
constexpr size_t kMapFrom = size_t{1} << 20;

size_t RoundUp(size_t v, size_t to) {
  return (v + to - 1) / to * to;
}

}  // namespace

CellSlab::CellSlab(size_t bytes) {
  if (bytes == 0) return;
  const size_t mappedSize = RoundUp(bytes, kPage);
  if (mappedSize < kMapFrom) {
    data_ = static_cast<int8_t*>(std::calloc(bytes, 1));
    if (!data_) throw std::bad_alloc();
    size_ = bytes;
    return;
  }
  void* p = ::mmap(nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = static_cast<int8_t*>(p);
  size_ = mappedSize;
  mapped_ = true;
}

CellSlab::CellSlab(CellSlab&& o) noexcept : data_(o.data_), size_(o.size_), mapped_(o.mapped_) {
  o.data_ = nullptr;
  o.size_ = 0;
  o.mapped_ = false;
}

CellSlab& CellSlab::operator=(CellSlab&& o) noexcept {
  if (this != &o) {
    Release();
    data_ = o.data_;
    size_ = o.size_;
    mapped_ = o.mapped_;
    o.data_ = nullptr;
    o.size_ = 0;
    o.mapped_ = false;
  }
  return *this;
}

CellSlab::~CellSlab() {
  Release();
}

void CellSlab::Release() noexcept {
  if (mapped_) {
    ::munmap(data_, size_);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

void CellSlab::Grow(size_t bytes) {
  if (bytes <= size_) return;
  const size_t mappedSize = RoundUp(bytes, kPage);
  if (!mapped_ || mappedSize < kMapFrom) {
    CellSlab bigger(bytes);
    if (size_ > 0) std::memcpy(bigger.data_, data_, size_);
    *this = std::move(bigger);
    return;
  }
  void* p = ::mremap(data_, size_, mappedSize, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = static_cast<int8_t*>(p);
  size_ = mappedSize;
}

void CellSlab::Zero() {
  if (size_ == 0) return;
  if (mapped_ && ::madvise(data_, size_, MADV_DONTNEED) == 0) return;
  std::memset(data_, 0, size_);
}

// ---- the table --------------------------------------------------------------------------------

void T2DRelTypeArray::Take(T2DRelTypeArray& o) noexcept {
  slab_ = std::move(o.slab_);
  stride_ = o.stride_;
  slabRows_ = o.slabRows_;
  rows_ = std::move(o.rows_);
  squareN_ = o.squareN_;
  o.rows_.clear();
  o.stride_ = 0;
  o.slabRows_ = 0;
  o.squareN_ = 0;
}

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

int T2DRelTypeArray::Capacity(int a) const {
  const RowBlock& r = rows_[a];
  if (r.own) return r.ownCapacity;
  return a < slabRows_ ? stride_ : 0;
}

void T2DRelTypeArray::MoveToOwnBlock(int a, int capacity, int keep) {
  auto block = std::make_unique<int8_t[]>(static_cast<size_t>(capacity));
  RowBlock& r = rows_[a];
  int8_t* old = Cells(a);
  if (keep > 0) std::memcpy(block.get(), old, static_cast<size_t>(keep));
  // The row's place in the slab is left as zeros, ready for when it comes back.
  if (!r.own && r.length > 0) std::memset(old, 0, static_cast<size_t>(r.length));
  r.own = std::move(block);
  r.ownCapacity = capacity;
}

void T2DRelTypeArray::SetRowLength(int row, int length) {
  RowBlock& r = rows_[row];
  if (length > Capacity(row)) {
    MoveToOwnBlock(row, CapacityFor(length), r.length);
  } else if (length < r.length) {
    std::memset(Cells(row) + length, 0, static_cast<size_t>(r.length - length));
  }
  r.length = length;
  squareN_ = -1;
}

int8_t* T2DRelTypeArray::PrepareRowForOverwrite(int row, int length) {
  RowBlock& r = rows_[row];
  if (length > Capacity(row)) {
    MoveToOwnBlock(row, CapacityFor(length), 0);
  } else if (length < r.length) {
    std::memset(Cells(row) + length, 0, static_cast<size_t>(r.length - length));
  }
  r.length = length;
  squareN_ = -1;
  return Cells(row);
}

void T2DRelTypeArray::SetRowCount(int rows) {
  rows = std::max(rows, 0);
  squareN_ = -1;
  for (int a = rows; a < RowCount(); ++a) {
    RowBlock& r = rows_[a];
    if (!r.own && r.length > 0) std::memset(Cells(a), 0, static_cast<size_t>(r.length));
  }
  rows_.resize(static_cast<size_t>(rows));
  if (rows_.capacity() > rows_.size() * 2 + 16) rows_.shrink_to_fit();
}

void T2DRelTypeArray::EnsureSlab(int rows, int length) {
  if (slabRows_ >= rows && stride_ >= length) return;
  const int newStride = stride_ >= length ? stride_ : CapacityFor(length);
  const int newRows = slabRows_ >= rows ? slabRows_ : CapacityFor(rows);
  slab_.Grow(static_cast<size_t>(newRows) * static_cast<size_t>(newStride));
  if (newStride != stride_) {
    // Spread the rows out in place, the last first, so that none is overwritten before it has
    // moved. Past the old rows' end the slab is zero already.
    int8_t* base = slab_.data();
    const int placed = std::min(RowCount(), slabRows_);
    const size_t oldEnd = static_cast<size_t>(placed) * static_cast<size_t>(stride_);
    for (int a = placed - 1; a >= 0; --a) {
      const size_t length = rows_[a].own ? 0 : static_cast<size_t>(rows_[a].length);
      const size_t from = static_cast<size_t>(a) * static_cast<size_t>(stride_);
      const size_t to = static_cast<size_t>(a) * static_cast<size_t>(newStride);
      if (length > 0 && to != from) std::memmove(base + to, base + from, length);
      const size_t clearEnd = std::min(to + static_cast<size_t>(newStride), oldEnd);
      if (clearEnd > to + length) std::memset(base + to + length, 0, clearEnd - (to + length));
    }
  }
  stride_ = newStride;
  slabRows_ = newRows;
}

void T2DRelTypeArray::Resize(int n) {
  n = std::max(n, 0);
  SetRowCount(n);
  EnsureSlab(n, n);
  for (int a = 0; a < n; ++a) {
    RowBlock& r = rows_[a];
    int8_t* home = slab_.data() + static_cast<size_t>(a) * static_cast<size_t>(stride_);
    if (r.own) {
      std::memcpy(home, r.own.get(), static_cast<size_t>(std::min(r.length, n)));
      r.own.reset();
      r.ownCapacity = 0;
    } else if (r.length > n) {
      std::memset(home + n, 0, static_cast<size_t>(r.length - n));
    }
    r.length = n;
  }
  squareN_ = n;
}

bool T2DRelTypeArray::SlabFits(int n) const {
  return stride_ >= n && slabRows_ >= n && stride_ <= CapacityFor(n) && slabRows_ <= CapacityFor(n);
}

void T2DRelTypeArray::DropAll() {
  rows_.clear();
  rows_.shrink_to_fit();
  slab_ = CellSlab();
  stride_ = slabRows_ = 0;
}

void T2DRelTypeArray::BeginOverwrite(int rows, bool square) {
  rows = std::max(rows, 0);
  if (square && rows > 0 && !SlabFits(rows)) {
    // The old cells are about to be overwritten: give them back first rather than move them.
    DropAll();
    EnsureSlab(rows, rows);
  }
  SetRowCount(rows);
}

void T2DRelTypeArray::Reset(int n) {
  n = std::max(n, 0);
  bool reuse = RowCount() == n && SlabFits(n);
  for (const auto& r : rows_) reuse = reuse && !r.own;
  if (reuse) {
    slab_.Zero();
    for (auto& r : rows_) r.length = n;
    squareN_ = n;
    return;
  }
  DropAll();
  Resize(n);
}

size_t T2DRelTypeArray::MemoryBytes() const {
  size_t total = slab_.size() + rows_.capacity() * sizeof(RowBlock);
  for (const auto& r : rows_) total += static_cast<size_t>(r.ownCapacity);
  return total;
}

}  // namespace zibu
