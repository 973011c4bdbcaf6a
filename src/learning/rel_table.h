// The word relationship table: n rows of n signed 8-bit cells, row and column k belonging to
// the word at position k of the word weightings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zibu {

// Only the cells that are not 0 are held, row by row, each row in whichever of two forms is
// smaller:
//  - sparse: the cells that are not 0 as sorted 32-bit entries, column << 8 | value byte;
//  - dense: the cells from column 0 up to the last one that is not 0; the rest are 0.
// Ratings touch the pairs of one text, so over years of use most rows stay sparse (a 100,000-word
// vocabulary with ten million pairs set takes about 80 MB instead of 10 GB), while rows of words
// that occur everywhere, and every row of a fully populated table, become dense, which scans as
// fast as a square block. A row's length is kept as a number of its own: rows of a damaged file
// may have any length, and a table made larger costs nothing until cells are set.
class T2DRelTypeArray {
 public:
  // Columns from here on are only held in dense rows (a sparse entry has 24 bits for them).
  static constexpr int kSparseColumns = 1 << 24;

  T2DRelTypeArray();
  ~T2DRelTypeArray();
  T2DRelTypeArray(T2DRelTypeArray&& o) noexcept;
  T2DRelTypeArray& operator=(T2DRelTypeArray&& o) noexcept;
  T2DRelTypeArray(const T2DRelTypeArray&) = delete;
  T2DRelTypeArray& operator=(const T2DRelTypeArray&) = delete;
  // A deliberate copy (a save taken off the user's thread): same cells, same shape, same stamp.
  T2DRelTypeArray Clone() const;

  int RowCount() const { return static_cast<int>(rows_.size()); }
  int RowLength(int row) const { return rows_[static_cast<size_t>(row)].length; }
  // Cells of the row that are not 0.
  int RowNonZero(int row) const { return rows_[static_cast<size_t>(row)].nonZero; }
  // True when there are n rows of n cells.
  bool IsSquare(int n) const;
  // The shortest row's length, capped at the row count: the words every row has cells for.
  int CoveredWords() const;

  // n by n: existing cells keep their values, new cells are 0. Shrinking drops the cells beyond n.
  void Resize(int n);
  // n by n with every cell 0.
  void Reset(int n);
  void Clear() { Reset(0); }
  // Row-by-row shaping (file reading, damaged shapes): new rows have no cells; a row made
  // shorter loses its cells past the new length, one made longer gets zeros.
  void SetRowCount(int rows);
  void SetRowLength(int row, int length);

  // Removes row k and column k: later rows and columns move down by one, every other cell keeps
  // its value. For a square table (a word forgotten).
  void RemoveWord(int k);

  int8_t Get(int a, int b) const;
  void Set(int a, int b, int8_t v);
  // Row a becomes `length` cells long with these values.
  void SetRow(int a, const int8_t* cells, int length);
  // Cells [from, from + count) of row a, zeros included, into out (for writing the file).
  void CopyCells(int a, int from, int count, int8_t* out) const;

  // The cells of row a at the given columns (ascending, within the row), into out.
  void Gather(int a, const int* columns, int k, int8_t* out) const;
  // Sets the cells of row a at the given columns (ascending, within the row) to the values.
  void Scatter(int a, const int* columns, int k, const int8_t* values);

  // How a scan reads a row without copying it.
  struct RowView {
    const int8_t* dense = nullptr;      // dense row: cells [0, held); every later cell is 0
    const uint32_t* entries = nullptr;  // sparse row: `held` entries, column << 8 | value byte
    int held = 0;
  };
  RowView View(int a) const;
  static int EntryColumn(uint32_t e) { return static_cast<int>(e >> 8); }
  static int8_t EntryValue(uint32_t e) { return static_cast<int8_t>(e & 0xFF); }

  // File reading: `length` writable cells for row a, of undefined content, to be filled by the
  // caller and then handed back with EndRowRead before the next row is begun. A row not completed
  // (ok false) is left as `length` zeros.
  int8_t* BeginRowRead(int a, int length);
  void EndRowRead(int a, bool ok);

  // Building the whole table straight from its cells (the compact file): PrepareRows makes it
  // `rows` rows, row a lengths[a] long with room for cells[a] cells that are not 0, all below
  // column ends[a] (below kSparseColumns); FillCell then puts each in, a row's cells in ascending
  // column order and none of them 0; FinishFill ends the building. Each row takes the form it
  // would take read whole; all rows are carved from one piece of memory taken at once.
  void PrepareRows(int rows, const int32_t* lengths, const int32_t* cells, const int32_t* ends);
  void FillCell(int a, int b, int8_t v) {
    Row& r = rows_[static_cast<size_t>(a)];
    if (r.dense)
      static_cast<int8_t*>(r.block)[b] = v;
    else
      static_cast<uint32_t*>(r.block)[r.held++] = (static_cast<uint32_t>(b) << 8) | static_cast<uint8_t>(v);
  }
  // Where FillCell(a, b, ...) will write, brought into the cache ahead of time: cells filled
  // across many rows are otherwise a cache miss each.
  void PrefetchFill(int a, int b) const {
    const Row& r = rows_[static_cast<size_t>(a)];
    if (r.dense)
      __builtin_prefetch(static_cast<const int8_t*>(r.block) + b, 1);
    else
      __builtin_prefetch(static_cast<const uint32_t*>(r.block) + r.held, 1);
  }
  // `symmetric`: the cells filled are known to make a symmetric table (see KnownSymmetric).
  void FinishFill(bool symmetric);

  // True while the table is known to be square and symmetric with a zero diagonal, the shape
  // learning keeps: after Reset, a symmetric fill, or MarkSymmetric, and through Resize and
  // RemoveWord; any other change of a cell or of the shape makes it unknown (false), even when
  // the result happens to be symmetric.
  bool KnownSymmetric() const { return symmetric_; }
  // For a caller that has just changed both cells of every pair alike in a table that was known
  // symmetric before.
  void MarkSymmetric() { symmetric_ = true; }

  // Cells that are not 0.
  int64_t NonZeroCells() const;
  // Bytes held by the cells and the row bookkeeping (not counting the allocator's own headers).
  size_t MemoryBytes() const;
  // Changes with every change of a cell or of the shape (see common/data_version.h).
  uint64_t Version() const { return version_; }

 private:
  struct Row {
    void* block = nullptr;  // malloc'd: int8_t cells (dense) or uint32_t entries (sparse)
    int32_t length = 0;     // cells of the row
    int32_t held = 0;       // dense: cells held; sparse: entries
    int32_t capacity = 0;   // in cells or entries
    int32_t nonZero = 0;    // cells that are not 0
    bool dense = false;
    bool pooled = false;  // block is a part of pool_, not malloc'd
  };
  void Free(Row& r);
  // The block of r made `bytes` long, keeping its first `keep` bytes.
  void* Regrow(Row& r, size_t bytes, size_t keep);
  // A pooled row gives its part of the pool back; the pool goes when no row uses it.
  void LeavePool(Row& r);
  void Changed();
  // Makes the row hold these cells (the rest 0) in whichever form suits them.
  void Settle(Row& r, const int8_t* cells, int held);
  void ToDense(Row& r);
  void ReserveDense(Row& r, int cells);
  void TrimRow(Row& r, int length);

  std::vector<Row> rows_;
  // n while the table is known to be n rows of n cells, -1 while that is unknown. Scoring asks
  // for the shape on every call, and walking 100,000 rows each time would cost more than the score.
  mutable int squareN_ = 0;
  uint64_t version_;
  bool symmetric_ = true;
  // The cells of the last row read that turned out sparse, kept for the next row.
  int8_t* spare_ = nullptr;
  size_t spareSize_ = 0;
  bool readingOwn_ = false;  // the row being read is read over its own cells
  std::vector<uint32_t> scratch_;
  // The memory of the rows a file was read into: one mapping, so that a table of tens of
  // megabytes is faulted in as a few large pages rather than thousands of small ones.
  void* pool_ = nullptr;
  size_t poolSize_ = 0;
  int pooledRows_ = 0;
};

}  // namespace zibu
