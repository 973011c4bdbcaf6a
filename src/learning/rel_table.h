// The word relationship table: n rows of n signed 8-bit cells, row and column k belonging to
// the word at position k of the word weightings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zibu {

// Zero-filled memory for the table's cells. Large blocks are mappings of their own: untouched
// parts cost nothing, clearing gives the pages back, and growing moves the pages instead of
// copying them. Huge pages are not asked for: on a virtual machine that hands free memory back
// to its host, a start-up after some idle time found every free huge page handed back, and
// faulting 400 MB in as huge pages then took over a second, about twice what small pages took.
class CellSlab {
 public:
  CellSlab() = default;
  // Raises std::bad_alloc.
  explicit CellSlab(size_t bytes);
  CellSlab(CellSlab&& o) noexcept;
  CellSlab& operator=(CellSlab&& o) noexcept;
  CellSlab(const CellSlab&) = delete;
  CellSlab& operator=(const CellSlab&) = delete;
  ~CellSlab();

  int8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // At least `bytes`, keeping the contents; what is added is zero. A mapping is moved by the
  // system rather than copied, so growing never needs the old and the new block side by side.
  // Raises std::bad_alloc and is then unchanged.
  void Grow(size_t bytes);
  // Every byte 0 again. A mapping just gives its pages back, to be faulted in as zeros when
  // next touched.
  void Zero();

 private:
  void Release() noexcept;
  int8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
};

// The rows live in one slab, row i at i * stride, with a little spare room in both directions so
// that the table can grow by some words in place, while the whole stays within about
// 1.03 * n * n bytes. A row that must be longer than the stride (rows of a damaged file, which
// the loader rejects, may have any length) gets a block of its own until the table is made
// square again. Cells past a row's length, and rows of the slab past the row count, are kept at
// zero, so growing in place only has to change lengths.
class T2DRelTypeArray {
 public:
  T2DRelTypeArray() = default;
  // A moved-from table is empty, and so square.
  T2DRelTypeArray(T2DRelTypeArray&& o) noexcept { Take(o); }
  T2DRelTypeArray& operator=(T2DRelTypeArray&& o) noexcept {
    if (this != &o) Take(o);
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
  // `rows` rows whose cells the caller is about to overwrite. With `square`, the rows are
  // expected to be `rows` cells long: the slab is made to fit them, and when the one it has does
  // not, a fresh one replaces it without the old cells being copied.
  void BeginOverwrite(int rows, bool square);
  // Gives the row `length` cells whose values the caller is about to overwrite (they are not
  // cleared first), and returns them.
  int8_t* PrepareRowForOverwrite(int row, int length);

  int8_t Get(int a, int b) const { return Cells(a)[b]; }
  void Set(int a, int b, int8_t v) { Cells(a)[b] = v; }
  int8_t* Row(int a) { return Cells(a); }
  const int8_t* Row(int a) const { return Cells(a); }

  // Bytes held by the cells and the row bookkeeping (not counting the allocator's own headers).
  size_t MemoryBytes() const;

 private:
  struct RowBlock {
    std::unique_ptr<int8_t[]> own;  // only for a row longer than the stride
    int32_t length = 0;
    int32_t ownCapacity = 0;
  };
  static int CapacityFor(int n) {
    int64_t c = static_cast<int64_t>(n) + n / 64;
    return c > INT32_MAX ? INT32_MAX : static_cast<int>(c);
  }
  int8_t* Cells(int a) const {
    const RowBlock& r = rows_[a];
    if (r.own) return r.own.get();
    return a < slabRows_ ? slab_.data() + static_cast<size_t>(a) * static_cast<size_t>(stride_) : nullptr;
  }
  int Capacity(int a) const;
  // Room in the slab for `rows` rows of `length` cells, the rows in place keeping their cells.
  void EnsureSlab(int rows, int length);
  // The slab holds n rows of n cells without being more than the spare room too large.
  bool SlabFits(int n) const;
  // No rows and no slab.
  void DropAll();
  // Gives row a a block of its own of `capacity` cells; `keep` of its cells are copied there.
  void MoveToOwnBlock(int a, int capacity, int keep);
  void Take(T2DRelTypeArray& o) noexcept;

  CellSlab slab_;
  int stride_ = 0;    // cells per row in the slab
  int slabRows_ = 0;  // rows the slab has room for
  std::vector<RowBlock> rows_;
  // n while the table is known to be n rows of n cells, -1 while that is unknown. Scoring asks
  // for the shape on every call, and walking 20,000 rows each time would cost more than the score.
  mutable int squareN_ = 0;
};

}  // namespace zibu
