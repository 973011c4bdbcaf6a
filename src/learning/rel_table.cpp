#include "learning/rel_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/data_version.h"

namespace zibu {

namespace {

void* Allocate(size_t bytes) {
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (!p) throw std::bad_alloc();
  return p;
}

void* Reallocate(void* old, size_t bytes) {
  void* p = std::realloc(old, bytes == 0 ? 1 : bytes);
  if (!p) throw std::bad_alloc();
  return p;
}

uint32_t Entry(int column, int8_t v) {
  return (static_cast<uint32_t>(column) << 8) | static_cast<uint8_t>(v);
}

// The cells that are not 0, and one past the last of them (0 when there is none).
struct Census {
  int nonZero = 0;
  int end = 0;
};

Census Count(const int8_t* cells, int n) {
  Census c;
  int nonZero = 0;
  for (int i = 0; i < n; ++i) nonZero += cells[i] != 0;  // vectorised
  c.nonZero = nonZero;
  if (nonZero > 0) {
    int end = n;
    while (cells[end - 1] == 0) --end;
    c.end = end;
  }
  return c;
}

// A row is dense when that takes no more memory than its entries would; it turns sparse again
// only when it is twice as large as its entries, so that a row near the line does not change
// form with every rating.
bool DenseSuits(int64_t end, int64_t nonZero) {
  return end >= T2DRelTypeArray::kSparseColumns || end <= 4 * nonZero;
}

}  // namespace

T2DRelTypeArray::T2DRelTypeArray() : version_(NextDataVersion()) {}

T2DRelTypeArray::~T2DRelTypeArray() {
  for (auto& r : rows_) Free(r);
  std::free(spare_);
}

T2DRelTypeArray::T2DRelTypeArray(T2DRelTypeArray&& o) noexcept
    : rows_(std::move(o.rows_)),
      squareN_(o.squareN_),
      version_(o.version_),
      symmetric_(o.symmetric_),
      spare_(o.spare_),
      spareSize_(o.spareSize_),
      scratch_(std::move(o.scratch_)),
      pool_(o.pool_),
      poolSize_(o.poolSize_),
      pooledRows_(o.pooledRows_) {
  o.rows_.clear();
  o.squareN_ = 0;
  o.spare_ = nullptr;
  o.spareSize_ = 0;
  o.pool_ = nullptr;
  o.poolSize_ = 0;
  o.pooledRows_ = 0;
  o.version_ = NextDataVersion();
}

T2DRelTypeArray& T2DRelTypeArray::operator=(T2DRelTypeArray&& o) noexcept {
  if (this != &o) {
    for (auto& r : rows_) Free(r);
    std::free(spare_);
    rows_ = std::move(o.rows_);
    squareN_ = o.squareN_;
    version_ = o.version_;
    symmetric_ = o.symmetric_;
    spare_ = o.spare_;
    spareSize_ = o.spareSize_;
    scratch_ = std::move(o.scratch_);
    pool_ = o.pool_;
    poolSize_ = o.poolSize_;
    pooledRows_ = o.pooledRows_;
    o.rows_.clear();
    o.squareN_ = 0;
    o.spare_ = nullptr;
    o.spareSize_ = 0;
    o.pool_ = nullptr;
    o.poolSize_ = 0;
    o.pooledRows_ = 0;
    o.version_ = NextDataVersion();
  }
  return *this;
}

T2DRelTypeArray T2DRelTypeArray::Clone() const {
  T2DRelTypeArray copy;
  copy.rows_.resize(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) {
    const Row& from = rows_[i];
    Row& to = copy.rows_[i];
    to.length = from.length;
    to.held = from.held;
    to.nonZero = from.nonZero;
    to.dense = from.dense;
    if (from.held == 0 || !from.block) continue;
    const size_t bytes = static_cast<size_t>(from.held) * (from.dense ? sizeof(int8_t) : sizeof(uint32_t));
    to.block = std::malloc(bytes);
    if (!to.block) throw std::bad_alloc();
    std::memcpy(to.block, from.block, bytes);
    to.capacity = from.held;
  }
  copy.squareN_ = squareN_;
  copy.symmetric_ = symmetric_;
  copy.version_ = version_;
  return copy;
}

void T2DRelTypeArray::LeavePool(Row& r) {
  if (!r.pooled) return;
  r.pooled = false;
  if (--pooledRows_ == 0) {
    ::munmap(pool_, poolSize_);
    pool_ = nullptr;
    poolSize_ = 0;
  }
}

void* T2DRelTypeArray::Regrow(Row& r, size_t bytes, size_t keep) {
  if (!r.pooled) return Reallocate(r.block, bytes);
  void* p = Allocate(bytes);
  std::memcpy(p, r.block, std::min(keep, bytes));
  LeavePool(r);
  return p;
}

void T2DRelTypeArray::Free(Row& r) {
  if (r.pooled)
    LeavePool(r);
  else
    std::free(r.block);
  r.block = nullptr;
  r.held = r.capacity = r.nonZero = 0;
  r.dense = false;
}

void T2DRelTypeArray::Changed() {
  version_ = NextDataVersion();
  symmetric_ = false;
}

// ---- shape -----------------------------------------------------------------------------------

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

void T2DRelTypeArray::TrimRow(Row& r, int length) {
  if (r.dense) {
    if (r.held > length) {
      r.nonZero -= Count(static_cast<int8_t*>(r.block) + length, r.held - length).nonZero;
      r.held = length;
    }
  } else {
    const auto* e = static_cast<const uint32_t*>(r.block);
    const int keep = static_cast<int>(std::lower_bound(e, e + r.held, Entry(length, 0)) - e);
    r.held = r.nonZero = keep;
  }
  if (r.nonZero == 0) Free(r);
}

void T2DRelTypeArray::SetRowCount(int rows) {
  rows = std::max(rows, 0);
  if (rows == RowCount()) return;
  for (size_t a = static_cast<size_t>(rows); a < rows_.size(); ++a) Free(rows_[a]);
  rows_.resize(static_cast<size_t>(rows));
  if (rows_.capacity() > rows_.size() * 2 + 16) rows_.shrink_to_fit();
  squareN_ = -1;
  Changed();
}

void T2DRelTypeArray::SetRowLength(int row, int length) {
  Row& r = rows_[static_cast<size_t>(row)];
  length = std::max(length, 0);
  if (length == r.length) return;
  if (length < r.length) TrimRow(r, length);
  r.length = length;
  squareN_ = -1;
  Changed();
}

void T2DRelTypeArray::Resize(int n) {
  n = std::max(n, 0);
  if (squareN_ == n && RowCount() == n) return;
  const bool symmetric = symmetric_;  // rows and columns added or dropped alike
  SetRowCount(n);
  for (auto& r : rows_) {
    if (r.length > n) TrimRow(r, n);
    r.length = n;
  }
  squareN_ = n;
  Changed();
  symmetric_ = symmetric;
}

void T2DRelTypeArray::Reset(int n) {
  n = std::max(n, 0);
  for (auto& r : rows_) Free(r);
  rows_.clear();
  if (n == 0) {
    rows_.shrink_to_fit();
    std::free(spare_);
    spare_ = nullptr;
    spareSize_ = 0;
    std::vector<uint32_t>().swap(scratch_);
  }
  rows_.resize(static_cast<size_t>(n));
  for (auto& r : rows_) r.length = n;
  squareN_ = n;
  Changed();
  symmetric_ = true;
}

void T2DRelTypeArray::RemoveWord(int k) {
  if (k < 0 || k >= RowCount()) return;
  const bool symmetric = symmetric_;  // row and column k go alike
  Free(rows_[static_cast<size_t>(k)]);
  rows_.erase(rows_.begin() + k);
  for (auto& r : rows_) {
    if (r.length > k) --r.length;
    if (r.dense) {
      if (r.held > k) {
        auto* d = static_cast<int8_t*>(r.block);
        r.nonZero -= d[k] != 0;
        std::memmove(d + k, d + k + 1, static_cast<size_t>(r.held - k - 1));
        --r.held;
      }
    } else {
      auto* e = static_cast<uint32_t*>(r.block);
      int out = 0;
      for (int i = 0; i < r.held; ++i) {
        const int b = EntryColumn(e[i]);
        if (b == k) continue;
        e[out++] = b > k ? e[i] - (1u << 8) : e[i];
      }
      r.held = r.nonZero = out;
    }
    if (r.nonZero == 0) Free(r);
  }
  squareN_ = -1;
  Changed();
  symmetric_ = symmetric;
}

// ---- cells -----------------------------------------------------------------------------------

int8_t T2DRelTypeArray::Get(int a, int b) const {
  const Row& r = rows_[static_cast<size_t>(a)];
  if (r.dense) return b < r.held ? static_cast<const int8_t*>(r.block)[b] : 0;
  const auto* e = static_cast<const uint32_t*>(r.block);
  const uint32_t* at = std::lower_bound(e, e + r.held, Entry(b, 0));
  return at != e + r.held && EntryColumn(*at) == b ? EntryValue(*at) : 0;
}

void T2DRelTypeArray::Set(int a, int b, int8_t v) {
  Scatter(a, &b, 1, &v);
}

T2DRelTypeArray::RowView T2DRelTypeArray::View(int a) const {
  const Row& r = rows_[static_cast<size_t>(a)];
  RowView v;
  v.held = r.held;
  if (r.dense) {
    v.dense = static_cast<const int8_t*>(r.block);
  } else {
    v.entries = static_cast<const uint32_t*>(r.block);
  }
  return v;
}

void T2DRelTypeArray::Gather(int a, const int* columns, int k, int8_t* out) const {
  const Row& r = rows_[static_cast<size_t>(a)];
  if (r.dense) {
    const auto* d = static_cast<const int8_t*>(r.block);
    for (int j = 0; j < k; ++j) out[j] = columns[j] < r.held ? d[columns[j]] : 0;
    return;
  }
  const auto* e = static_cast<const uint32_t*>(r.block);
  const uint32_t* p = e;
  const uint32_t* end = e + r.held;
  // A long row against a few columns is searched; otherwise both are walked together.
  const bool search = r.held > 8 * k;
  for (int j = 0; j < k; ++j) {
    const uint32_t key = Entry(columns[j], 0);
    if (search) {
      p = std::lower_bound(p, end, key);
    } else {
      while (p != end && *p < key) ++p;
    }
    out[j] = p != end && EntryColumn(*p) == columns[j] ? EntryValue(*p) : 0;
  }
}

void T2DRelTypeArray::ReserveDense(Row& r, int cells) {
  if (cells <= r.held) return;
  if (cells > r.capacity) {
    // Growing rows grow by half again, up to the row's length.
    int64_t want = std::max<int64_t>(cells, static_cast<int64_t>(r.capacity) + r.capacity / 2);
    want = std::min<int64_t>(want, std::max(r.length, cells));
    r.block = Regrow(r, static_cast<size_t>(want), static_cast<size_t>(r.held));
    r.capacity = static_cast<int32_t>(want);
  }
  std::memset(static_cast<int8_t*>(r.block) + r.held, 0, static_cast<size_t>(cells - r.held));
  r.held = cells;
}

void T2DRelTypeArray::ToDense(Row& r) {
  const auto* e = static_cast<const uint32_t*>(r.block);
  const int end = r.held > 0 ? EntryColumn(e[r.held - 1]) + 1 : 0;
  auto* d = static_cast<int8_t*>(Allocate(static_cast<size_t>(end)));
  std::memset(d, 0, static_cast<size_t>(end));
  for (int i = 0; i < r.held; ++i) d[EntryColumn(e[i])] = EntryValue(e[i]);
  const int nonZero = r.held;
  Free(r);
  r.block = d;
  r.held = r.capacity = end;
  r.nonZero = nonZero;
  r.dense = true;
}

void T2DRelTypeArray::Settle(Row& r, const int8_t* cells, int held) {
  const Census c = Count(cells, held);
  Free(r);
  if (c.nonZero == 0) return;
  if (DenseSuits(c.end, c.nonZero)) {
    r.block = Allocate(static_cast<size_t>(c.end));
    std::memcpy(r.block, cells, static_cast<size_t>(c.end));
    r.held = r.capacity = c.end;
    r.nonZero = c.nonZero;
    r.dense = true;
    return;
  }
  auto* e = static_cast<uint32_t*>(Allocate(sizeof(uint32_t) * static_cast<size_t>(c.nonZero)));
  int n = 0;
  for (int i = 0; i < c.end; ++i)
    if (cells[i] != 0) e[n++] = Entry(i, cells[i]);
  r.block = e;
  r.held = r.capacity = r.nonZero = n;
}

void T2DRelTypeArray::Scatter(int a, const int* columns, int k, const int8_t* values) {
  if (k <= 0) return;
  Row& r = rows_[static_cast<size_t>(a)];
  int top = -1;  // the highest column that gets a value other than 0
  for (int j = k - 1; j >= 0 && top < 0; --j)
    if (values[j] != 0) top = columns[j];

  if (r.dense && top >= r.held) {
    if (top<kSparseColumns&& static_cast<int64_t>(top) + 1> 8 * (static_cast<int64_t>(r.nonZero) + k)) {
      // Growing this far for so few cells would waste memory: the row goes back to entries.
      const int8_t* d = static_cast<const int8_t*>(r.block);
      scratch_.clear();
      for (int i = 0; i < r.held; ++i)
        if (d[i] != 0) scratch_.push_back(Entry(i, d[i]));
      Free(r);
      if (!scratch_.empty()) {
        r.block = Allocate(sizeof(uint32_t) * scratch_.size());
        std::memcpy(r.block, scratch_.data(), sizeof(uint32_t) * scratch_.size());
        r.held = r.capacity = r.nonZero = static_cast<int32_t>(scratch_.size());
      }
    } else {
      ReserveDense(r, top + 1);
    }
  }

  bool changed = false;
  if (r.dense) {
    auto* d = static_cast<int8_t*>(r.block);
    for (int j = 0; j < k; ++j) {
      const int b = columns[j];
      if (b >= r.held) continue;  // 0 stays 0
      const int8_t old = d[b];
      if (old == values[j]) continue;
      r.nonZero += (values[j] != 0) - (old != 0);
      d[b] = values[j];
      changed = true;
    }
  } else {
    // Merge the row's entries with the new values in one pass.
    const auto* e = static_cast<const uint32_t*>(r.block);
    const int held = r.held;
    scratch_.clear();
    scratch_.reserve(static_cast<size_t>(held) + static_cast<size_t>(k));
    int i = 0;
    for (int j = 0; j < k; ++j) {
      const int b = columns[j];
      while (i < held && EntryColumn(e[i]) < b) scratch_.push_back(e[i++]);
      const bool present = i < held && EntryColumn(e[i]) == b;
      const int8_t old = present ? EntryValue(e[i]) : 0;
      if (present) ++i;
      if (values[j] != 0) scratch_.push_back(Entry(b, values[j]));
      changed = changed || old != values[j];
    }
    while (i < held) scratch_.push_back(e[i++]);
    if (changed) {
      const int n = static_cast<int>(scratch_.size());
      if (n == 0) {
        Free(r);
      } else {
        if (n > r.capacity) {
          const int capacity = n + n / 4 + 4;
          r.block = Regrow(r, sizeof(uint32_t) * static_cast<size_t>(capacity), 0);  // filled below
          r.capacity = capacity;
        }
        std::memcpy(r.block, scratch_.data(), sizeof(uint32_t) * static_cast<size_t>(n));
        r.held = r.nonZero = n;
        const int end = EntryColumn(scratch_.back()) + 1;
        if (end >= 64 && DenseSuits(end, n)) ToDense(r);
      }
    }
  }
  if (changed) Changed();
}

void T2DRelTypeArray::SetRow(int a, const int8_t* cells, int length) {
  Row& r = rows_[static_cast<size_t>(a)];
  length = std::max(length, 0);
  Settle(r, cells, length);
  if (r.length != length) squareN_ = -1;
  r.length = length;
  Changed();
}

void T2DRelTypeArray::CopyCells(int a, int from, int count, int8_t* out) const {
  std::memset(out, 0, static_cast<size_t>(count));
  const Row& r = rows_[static_cast<size_t>(a)];
  if (r.dense) {
    const int end = std::min(from + count, r.held);
    if (end > from)
      std::memcpy(out, static_cast<const int8_t*>(r.block) + from, static_cast<size_t>(end - from));
    return;
  }
  const auto* e = static_cast<const uint32_t*>(r.block);
  const uint32_t* p = std::lower_bound(e, e + r.held, Entry(from, 0));
  const int64_t end = static_cast<int64_t>(from) + count;
  for (; p != e + r.held && EntryColumn(*p) < end; ++p) out[EntryColumn(*p) - from] = EntryValue(*p);
}

// ---- reading a file --------------------------------------------------------------------------

int8_t* T2DRelTypeArray::BeginRowRead(int a, int length) {
  Row& r = rows_[static_cast<size_t>(a)];
  length = std::max(length, 0);
  if (r.length != length) squareN_ = -1;
  Changed();
  if (r.dense && !r.pooled && r.capacity >= length && length > 0) {
    // A dense row read again is read over its own cells: a table loaded a second time takes no
    // fresh memory.
    r.length = length;
    readingOwn_ = true;
    return static_cast<int8_t*>(r.block);
  }
  Free(r);
  r.length = length;
  readingOwn_ = false;
  if (static_cast<size_t>(length) > spareSize_) {
    std::free(spare_);
    spare_ = nullptr;
    spareSize_ = 0;
    spare_ = static_cast<int8_t*>(Allocate(static_cast<size_t>(length)));
    spareSize_ = static_cast<size_t>(length);
  }
  return spare_;
}

void T2DRelTypeArray::EndRowRead(int a, bool ok) {
  Row& r = rows_[static_cast<size_t>(a)];
  if (readingOwn_) {
    readingOwn_ = false;
    const Census c = ok ? Count(static_cast<const int8_t*>(r.block), r.length) : Census{};
    if (c.nonZero == 0) {
      Free(r);
    } else if (DenseSuits(c.end, c.nonZero)) {
      r.held = c.end;
      r.nonZero = c.nonZero;
    } else {
      // Now sparse: its cells are turned into entries, and their block serves the next row.
      auto* cells = static_cast<int8_t*>(r.block);
      const size_t size = static_cast<size_t>(r.capacity);
      r.block = nullptr;
      Free(r);
      Settle(r, cells, c.end);
      if (size > spareSize_) {
        std::free(spare_);
        spare_ = cells;
        spareSize_ = size;
      } else {
        std::free(cells);
      }
    }
    return;
  }
  if (!ok || r.length == 0) return;
  const Census c = Count(spare_, r.length);
  if (c.nonZero == 0) return;
  if (DenseSuits(c.end, c.nonZero) && static_cast<size_t>(c.end) * 2 >= spareSize_) {
    // The row fills most of the cells it was read into: it keeps them, uncopied.
    r.block = spare_;
    r.held = c.end;
    r.capacity = static_cast<int32_t>(spareSize_);
    r.nonZero = c.nonZero;
    r.dense = true;
    spare_ = nullptr;
    spareSize_ = 0;
    return;
  }
  Settle(r, spare_, c.end);
}

// ---- building from cells -------------------------------------------------------------------

void T2DRelTypeArray::PrepareRows(int rows, const int32_t* lengths, const int32_t* cells,
                                  const int32_t* ends) {
  Reset(0);
  rows_.resize(static_cast<size_t>(std::max(rows, 0)));
  // Each row's block, 8-byte aligned, in one mapping aligned to the large page size.
  constexpr size_t kLargePage = size_t{2} << 20;
  auto bytesOf = [&](size_t a) -> size_t {
    if (cells[a] <= 0) return 0;
    const size_t b = DenseSuits(ends[a], cells[a]) ? static_cast<size_t>(ends[a])
                                                   : sizeof(uint32_t) * static_cast<size_t>(cells[a]);
    return (b + 7) & ~size_t{7};
  };
  size_t total = 0;
  for (size_t a = 0; a < rows_.size(); ++a) total += bytesOf(a);
  char* base = nullptr;
  if (total > 0) {
    poolSize_ = total + kLargePage;
    void* m = ::mmap(nullptr, poolSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) {
      poolSize_ = 0;
    } else {
      pool_ = m;
      const auto at = reinterpret_cast<uintptr_t>(m);
      base = reinterpret_cast<char*>((at + kLargePage - 1) & ~(kLargePage - 1));
      ::madvise(base, total, MADV_HUGEPAGE);  // a hint; small pages work too
    }
  }
  for (size_t a = 0; a < rows_.size(); ++a) {
    Row& r = rows_[a];
    r.length = std::max(lengths[a], 0);
    if (cells[a] <= 0) continue;
    const bool dense = DenseSuits(ends[a], cells[a]);
    const size_t bytes = bytesOf(a);
    if (base) {
      r.block = base;  // fresh mapped memory is all zeros
      base += bytes;
      r.pooled = true;
      ++pooledRows_;
    } else {
      r.block = Allocate(bytes);
      if (dense) std::memset(r.block, 0, bytes);
    }
    r.dense = dense;
    r.held = dense ? ends[a] : 0;
    r.capacity = dense ? ends[a] : cells[a];
    r.nonZero = cells[a];
  }
  if (pooledRows_ == 0 && pool_) {
    ::munmap(pool_, poolSize_);
    pool_ = nullptr;
    poolSize_ = 0;
  }
}

void T2DRelTypeArray::FinishFill(bool symmetric) {
  squareN_ = -1;
  Changed();
  symmetric_ = symmetric;
}

// ---- figures ---------------------------------------------------------------------------------

int64_t T2DRelTypeArray::NonZeroCells() const {
  int64_t n = 0;
  for (const auto& r : rows_) n += r.nonZero;
  return n;
}

size_t T2DRelTypeArray::MemoryBytes() const {
  size_t total = rows_.capacity() * sizeof(Row) + spareSize_ + scratch_.capacity() * sizeof(uint32_t);
  for (const auto& r : rows_) total += static_cast<size_t>(r.capacity) * (r.dense ? 1 : sizeof(uint32_t));
  return total;
}

}  // namespace zibu
