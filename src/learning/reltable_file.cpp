#include "learning/reltable_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "common/ports.h"

namespace zibu {

namespace {

// Large enough that a 400 MB table goes out in a few hundred system calls; the bytes are the
// same whatever the size.
constexpr size_t kBufferSize = 1 << 20;
// Reads of at least this much go straight to their destination ...
constexpr size_t kDirectRead = 4096;
// ... together with this much for what follows.
constexpr size_t kDirectTail = 512;
// Pieces per writev call (the system's limit is at least 1024).
constexpr size_t kMaxVectors = 1024;

std::string BaseName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

std::string SystemText(int err) {
  return std::strerror(err);
}

// Shows "<verb> <name>" after row i the way both directions do it.
class RowProgress {
 public:
  RowProgress(UserPort* port, std::string text) : port_(port), text_(std::move(text)) {}
  void Start(int rows) {
    rows_ = rows;
    step_ = rows / 10;
  }
  void AfterRow(int i) {
    if (port_ && rows_ > 9 && step_ > 0 && (i + 1) % step_ == 0)
      port_->ShowProgress(text_, static_cast<int>(static_cast<int64_t>(i) * 100 / rows_));
  }
  void Finish() {
    if (!port_) return;
    port_->ShowProgress(text_, 100);
    port_->HideProgress();
  }

 private:
  UserPort* port_;
  std::string text_;
  int rows_ = 0;
  int step_ = 0;
};

class FileWriter {
 public:
  explicit FileWriter(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) throw IoError("Unable to create " + path + ": " + SystemText(errno));
    buf_.reserve(kBufferSize);
  }
  ~FileWriter() {
    if (fd_ >= 0) ::close(fd_);
  }
  void Append(const void* data, size_t n) {
    if (buf_.size() + n > kBufferSize) Flush();
    if (n >= kBufferSize) {
      WriteAll(static_cast<const char*>(data), n);
    } else {
      buf_.append(static_cast<const char*>(data), n);
    }
  }
  // Writes the pieces in order, after what is buffered.
  void WriteVectors(std::vector<iovec> pieces) {
    Flush();
    size_t first = 0;
    while (first < pieces.size()) {
      ssize_t w = ::writev(fd_, pieces.data() + first, static_cast<int>(pieces.size() - first));
      if (w < 0) {
        if (errno == EINTR) continue;
        throw IoError("Unable to write to " + path_ + ": " + SystemText(errno));
      }
      size_t done = static_cast<size_t>(w);
      while (first < pieces.size() && done >= pieces[first].iov_len) done -= pieces[first++].iov_len;
      if (first < pieces.size()) {
        pieces[first].iov_base = static_cast<char*>(pieces[first].iov_base) + done;
        pieces[first].iov_len -= done;
      }
    }
  }
  void Flush() {
    if (!buf_.empty()) WriteAll(buf_.data(), buf_.size());
    buf_.clear();
  }
  // Empties the file to write it again from its start.
  void Restart() {
    buf_.clear();
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)
      throw IoError("Unable to write to " + path_ + ": " + SystemText(errno));
  }
  void Close(bool durable) {
    Flush();
    if (durable && ::fdatasync(fd_) != 0)
      throw IoError("Unable to write to " + path_ + ": " + SystemText(errno));
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw IoError("Unable to write to " + path_ + ": " + SystemText(errno));
  }

 private:
  void WriteAll(const char* p, size_t n) {
    while (n > 0) {
      ssize_t w = ::write(fd_, p, n);
      if (w < 0) {
        if (errno == EINTR) continue;
        throw IoError("Unable to write to " + path_ + ": " + SystemText(errno));
      }
      p += w;
      n -= static_cast<size_t>(w);
    }
  }
  std::string path_;
  int fd_ = -1;
  std::string buf_;
};

class FileReader {
 public:
  explicit FileReader(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw IoError("Unable to open " + path + ": " + SystemText(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      ::close(fd_);
      throw IoError("Unable to read " + path + ": " + SystemText(errno));
    }
    unread_ = static_cast<int64_t>(st.st_size);
    buf_.resize(kBufferSize);
  }
  ~FileReader() { ::close(fd_); }

  // Bytes of the file not yet handed out.
  int64_t Remaining() const { return unread_ + static_cast<int64_t>(end_ - pos_); }

  void Read(void* dst, size_t n) {
    char* out = static_cast<char*>(dst);
    size_t have = end_ - pos_;
    if (have >= n) {
      std::memcpy(out, buf_.data() + pos_, n);
      pos_ += n;
      return;
    }
    std::memcpy(out, buf_.data() + pos_, have);
    pos_ = end_ = 0;
    out += have;
    n -= have;
    if (n >= kDirectRead) {
      // Straight into the destination, with a little more into the buffer for the next header
      // and small rows: the cells are copied once, by the kernel.
      ReadInto(out, n, kDirectTail);
      if (got_ < n) throw StreamReadError("Stream read error");
      end_ = got_ - n;
      return;
    }
    ReadRaw(buf_.data(), buf_.size());
    end_ = got_;
    if (end_ < n) {
      std::memcpy(out, buf_.data(), end_);
      pos_ = end_;
      throw StreamReadError("Stream read error");
    }
    std::memcpy(out, buf_.data(), n);
    pos_ = n;
  }

  int32_t ReadTaggedInt() {
    uint8_t type = 0;
    Read(&type, 1);
    switch (type) {
      case 2: {
        int8_t v;
        Read(&v, 1);
        return v;
      }
      case 3: {
        uint8_t b[2];
        Read(b, 2);
        return static_cast<int16_t>(static_cast<uint16_t>(b[0] | (b[1] << 8)));
      }
      case 4: {
        uint8_t b[4];
        Read(b, 4);
        return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                    (static_cast<uint32_t>(b[2]) << 16) |
                                    (static_cast<uint32_t>(b[3]) << 24));
      }
      default:
        throw StreamReadError("Invalid value type " + std::to_string(type) + " in " + BaseName(path_));
    }
  }

 private:
  // Reads up to n bytes into dst and then up to `tail` bytes into the buffer; got_ tells how
  // many arrived in all (fewer only at the end of the file).
  void ReadInto(char* dst, size_t n, size_t tail) {
    got_ = 0;
    while (got_ < n + tail) {
      iovec iov[2];
      int count = 0;
      if (got_ < n) iov[count++] = {dst + got_, n - got_};
      const size_t inTail = got_ > n ? got_ - n : 0;
      iov[count++] = {buf_.data() + inTail, tail - inTail};
      ssize_t r = ::readv(fd_, iov, count);
      if (r < 0) {
        if (errno == EINTR) continue;
        throw IoError("Unable to read " + path_ + ": " + SystemText(errno));
      }
      if (r == 0) break;
      got_ += static_cast<size_t>(r);
      if (got_ >= n) break;  // the row is complete; whatever came for the tail is enough
    }
    Consumed();
  }

  // Reads up to n bytes; got_ tells how many arrived (fewer only at the end of the file).
  void ReadRaw(char* dst, size_t n) {
    got_ = 0;
    while (got_ < n) {
      ssize_t r = ::read(fd_, dst + got_, n - got_);
      if (r < 0) {
        if (errno == EINTR) continue;
        throw IoError("Unable to read " + path_ + ": " + SystemText(errno));
      }
      if (r == 0) break;
      got_ += static_cast<size_t>(r);
    }
    Consumed();
  }

  void Consumed() { unread_ -= static_cast<int64_t>(got_); }

  std::string path_;
  int fd_ = -1;
  std::vector<char> buf_;
  size_t pos_ = 0, end_ = 0, got_ = 0;
  int64_t unread_ = 0;
};

}  // namespace

void AppendTaggedInt(std::string& out, int32_t v) {
  if (v >= -128 && v <= 127) {
    out.push_back(2);
    out.push_back(static_cast<char>(static_cast<int8_t>(v)));
  } else if (v >= -32768 && v <= 32767) {
    uint16_t u = static_cast<uint16_t>(static_cast<int16_t>(v));
    out.push_back(3);
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  } else {
    uint32_t u = static_cast<uint32_t>(v);
    out.push_back(4);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
  }
}

void WriteRelTableFile(const T2DRelTypeArray& table, const std::string& path, UserPort* port,
                       std::string_view shownName, bool durable) {
  RowProgress progress(port, "Saving " + (shownName.empty() ? BaseName(path) : std::string(shownName)));
  try {
    FileWriter out(path);
    const int rows = table.RowCount();
    progress.Start(rows);
    // The pieces go to the kernel from where they are: the length headers, the cells of dense
    // rows, a block of zeros for the cells past them, and sparse rows spelled out in an arena
    // that is reused once its pieces are written.
    std::string headers;
    headers.reserve(5 * (static_cast<size_t>(rows) + 1));  // never moves, so pointers into it stay valid
    const std::vector<int8_t> zeros(kBufferSize, 0);
    std::vector<int8_t> arena(kBufferSize);
    size_t arenaUsed = 0;
    std::vector<iovec> batch;
    batch.reserve(kMaxVectors);
    auto flush = [&] {
      out.WriteVectors(batch);
      batch.clear();
      arenaUsed = 0;
    };
    auto add = [&](const void* p, size_t n) {
      if (n == 0) return;
      if (batch.size() == kMaxVectors) flush();
      batch.push_back({const_cast<void*>(p), n});
    };
    auto addHeader = [&](int32_t v) {
      const size_t at = headers.size();
      AppendTaggedInt(headers, v);
      add(headers.data() + at, headers.size() - at);
    };
    auto addZeros = [&](size_t n) {
      for (; n > 0; n -= std::min(n, zeros.size())) add(zeros.data(), std::min(n, zeros.size()));
    };
    addHeader(rows);
    for (int i = 0; i < rows; ++i) {
      const int length = table.RowLength(i);
      addHeader(length);
      const T2DRelTypeArray::RowView row = table.View(i);
      if (row.dense) {
        const int held = std::min(row.held, length);
        add(row.dense, static_cast<size_t>(held));
        addZeros(static_cast<size_t>(length - held));
      } else if (row.held == 0) {
        addZeros(static_cast<size_t>(length));
      } else {
        for (int from = 0; from < length;) {
          // Room for the piece first: a flush reuses the arena from its start.
          if (arenaUsed == arena.size() || batch.size() == kMaxVectors) flush();
          const int count = static_cast<int>(
              std::min<size_t>(arena.size() - arenaUsed, static_cast<size_t>(length - from)));
          table.CopyCells(i, from, count, arena.data() + arenaUsed);
          batch.push_back({arena.data() + arenaUsed, static_cast<size_t>(count)});
          arenaUsed += static_cast<size_t>(count);
          from += count;
        }
      }
      progress.AfterRow(i);
    }
    out.WriteVectors(batch);
    out.Close(durable);
  } catch (...) {
    progress.Finish();
    throw;
  }
  progress.Finish();
}

namespace {

void ReadDenseRelTableFile(T2DRelTypeArray& table, const std::string& path, UserPort* port) {
  RowProgress progress(port, "Loading " + BaseName(path));
  try {
    FileReader in(path);
    const int32_t rows = in.ReadTaggedInt();
    // Every row takes at least two bytes (its length), so a count the rest of the file cannot
    // hold is damage, caught before the row table is allocated.
    if (rows < 0)
      throw StreamReadError("Invalid row count " + std::to_string(rows) + " in " + BaseName(path));
    if (static_cast<int64_t>(rows) * 2 > in.Remaining()) throw StreamReadError("Stream read error");
    // The rows are read over the table's own, one by one; rows the reading does not reach are
    // left empty.
    table.SetRowCount(rows);
    progress.Start(rows);
    int reached = 0;
    try {
      for (int i = 0; i < rows; ++i) {
        const int32_t len = in.ReadTaggedInt();
        if (len < 0)
          throw StreamReadError("Invalid row length " + std::to_string(len) + " in " + BaseName(path));
        // The file ends before this row would: the read would fail anyway, so it fails before
        // the row is allocated.
        if (len > in.Remaining()) throw StreamReadError("Stream read error");
        int8_t* cells = table.BeginRowRead(i, len);
        reached = i + 1;
        try {
          if (len > 0) in.Read(cells, static_cast<size_t>(len));
        } catch (...) {
          table.EndRowRead(i, false);  // not left with stale or unset cells
          throw;
        }
        table.EndRowRead(i, true);
        progress.AfterRow(i);
      }
    } catch (...) {
      for (int a = reached; a < rows; ++a) table.SetRowLength(a, 0);
      throw;
    }
  } catch (...) {
    progress.Finish();
    throw;
  }
  progress.Finish();
}

// ---- the compact form ------------------------------------------------------------------------

constexpr char kCompactMagic[8] = {'Z', 'I', 'B', 'U', 'R', 'E', 'L', 'T'};
constexpr uint32_t kCompactVersion = 1;
constexpr uint32_t kMirrored = 1;
constexpr size_t kCompactHeader = 20;
constexpr size_t kCompactTrailer = 16;

uint64_t LoadLe64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A 64-bit checksum of a byte stream, fed in pieces of any size. Each 8-byte word goes through a
// step that is one-to-one both in the running value and in the word, so any damage confined to
// one word always changes the result; the length is mixed in last, so a file cut short at a word
// boundary does not pass either. A few gigabytes a second: it costs the load milliseconds.
class Checksum {
 public:
  void Add(const uint8_t* p, size_t n) {
    total_ += n;
    if (tailBytes_ > 0) {
      while (n > 0 && tailBytes_ < 8) {
        tail_[tailBytes_++] = *p++;
        --n;
      }
      if (tailBytes_ < 8) return;
      h_ = Step(h_, LoadLe64(tail_));
      tailBytes_ = 0;
    }
    for (; n >= 8; n -= 8, p += 8) h_ = Step(h_, LoadLe64(p));
    while (n > 0) {
      tail_[tailBytes_++] = *p++;
      --n;
    }
  }
  uint64_t Value() const {
    uint8_t last[8] = {};
    std::memcpy(last, tail_, tailBytes_);
    uint64_t h = Step(Step(h_, LoadLe64(last)), total_);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return h;
  }

 private:
  static uint64_t Step(uint64_t h, uint64_t w) {
    h ^= w * 0x9E3779B97F4A7C15ull;
    return std::rotl(h, 31) * 0xC2B2AE3D27D4EB4Full;
  }
  uint64_t h_ = 0x27D4EB2F165667C5ull;
  uint64_t total_ = 0;
  uint8_t tail_[8] = {};
  size_t tailBytes_ = 0;
};

// Encodes into a buffer that goes to the file, through the checksum, when full.
class CompactOut {
 public:
  explicit CompactOut(FileWriter& file) : file_(file), buf_(new uint8_t[kBufferSize]) {}
  void Varint(uint32_t v) {
    uint8_t* p = Room(5);
    size_t k = 0;
    while (v >= 0x80) {
      p[k++] = static_cast<uint8_t>(v | 0x80);
      v >>= 7;
    }
    p[k++] = static_cast<uint8_t>(v);
    used_ += k;
  }
  void Cell(uint32_t gap, int8_t v) {
    if (gap < 0x80 && used_ + 2 <= kBufferSize) {
      buf_[used_++] = static_cast<uint8_t>(gap);
    } else {
      Varint(gap);
    }
    *Room(1) = static_cast<uint8_t>(v);
    ++used_;
  }
  void Raw(const void* p, size_t n) {
    std::memcpy(Room(n), p, n);
    used_ += n;
  }
  void Le32(uint32_t v) {
    uint8_t b[4];
    for (int k = 0; k < 4; ++k) b[k] = static_cast<uint8_t>(v >> (8 * k));
    Raw(b, 4);
  }
  void Le64(uint64_t v) {
    uint8_t b[8];
    for (int k = 0; k < 8; ++k) b[k] = static_cast<uint8_t>(v >> (8 * k));
    Raw(b, 8);
  }
  // Writes what is buffered and then the checksum of everything so far.
  void Finish() {
    Flush();
    const uint64_t sum = checksum_.Value();
    uint8_t b[8];
    for (int k = 0; k < 8; ++k) b[k] = static_cast<uint8_t>(sum >> (8 * k));
    file_.Append(b, 8);
  }

 private:
  uint8_t* Room(size_t n) {
    if (used_ + n > kBufferSize) Flush();
    return buf_.get() + used_;
  }
  void Flush() {
    if (used_ == 0) return;
    checksum_.Add(buf_.get(), used_);
    file_.WriteVectors({iovec{buf_.get(), used_}});
    used_ = 0;
  }
  FileWriter& file_;
  std::unique_ptr<uint8_t[]> buf_;
  size_t used_ = 0;
  Checksum checksum_;
};

int CountNonZero(const int8_t* cells, int n) {
  int k = 0;
  for (int i = 0; i < n; ++i) k += cells[i] != 0;  // vectorised
  return k;
}

uint32_t EntryOf(int column, int8_t v) {
  return (static_cast<uint32_t>(column) << 8) | static_cast<uint8_t>(v);
}

// Writes the whole file. A mirrored attempt gives up (false) as soon as the table turns out not
// symmetric; seen[b] then counts the cells of row b left of the diagonal that the rows above
// have matched (for a sparse row also the index of its next unmatched entry).
bool WriteCompactBody(FileWriter& file, const T2DRelTypeArray& table, bool mirrored, RowProgress& progress) {
  // A table known symmetric needs no check.
  const bool check = mirrored && !table.KnownSymmetric();
  using Table = T2DRelTypeArray;
  CompactOut out(file);
  const int rows = table.RowCount();
  out.Raw(kCompactMagic, sizeof kCompactMagic);
  out.Le32(kCompactVersion);
  out.Le32(mirrored ? kMirrored : 0);
  out.Le32(static_cast<uint32_t>(rows));
  for (int a = 0; a < rows;) {
    const int length = table.RowLength(a);
    int b = a;
    while (b < rows && table.RowLength(b) == length) ++b;
    out.Varint(static_cast<uint32_t>(b - a));
    out.Varint(static_cast<uint32_t>(length));
    a = b;
  }
  std::vector<int32_t> seen(check ? static_cast<size_t>(rows) : 0, 0);
  // Whether cell [b][a] (a < b) is v, counting it as matched.
  auto mirror = [&](int b, int a, int8_t v) {
    const Table::RowView r = table.View(b);
    int32_t& s = seen[static_cast<size_t>(b)];
    if (r.dense) {
      if (a >= r.held || r.dense[a] != v) return false;
    } else if (s >= r.held || r.entries[s] != EntryOf(a, v)) {
      return false;
    }
    ++s;
    return true;
  };
  // The cells a row stores, gathered first so that their mirror cells can be fetched ahead.
  constexpr size_t kAhead = 16;
  std::vector<int32_t> columns;
  std::vector<int8_t> values;
  uint64_t cells = 0;
  for (int a = 0; a < rows; ++a) {
    const Table::RowView row = table.View(a);
    columns.clear();
    values.clear();
    if (row.dense) {
      const int held = std::min(row.held, table.RowLength(a));
      int from = 0;
      if (check) {
        // Every cell left of the diagonal was matched by a row above, and the diagonal is 0.
        if (CountNonZero(row.dense, std::min(a, held)) != seen[static_cast<size_t>(a)] ||
            (a < held && row.dense[a] != 0))
          return false;
      }
      if (mirrored) from = a + 1;
      for (int b = from; b < held; ++b) {
        if (row.dense[b] == 0) continue;
        columns.push_back(b);
        values.push_back(row.dense[b]);
      }
    } else {
      int from = 0;
      if (check) {
        from = seen[static_cast<size_t>(a)];
        if (from < row.held && Table::EntryColumn(row.entries[from]) <= a) return false;
      } else if (mirrored) {
        from = static_cast<int>(std::upper_bound(row.entries, row.entries + row.held, EntryOf(a, -1)) -
                                row.entries);
      }
      for (int i = from; i < row.held; ++i) {
        columns.push_back(Table::EntryColumn(row.entries[i]));
        values.push_back(Table::EntryValue(row.entries[i]));
      }
    }
    const size_t k = columns.size();
    out.Varint(static_cast<uint32_t>(k));
    int prev = mirrored ? a : -1;  // the first cell's gap counts from prev + 1
    for (size_t j = 0; j < k; ++j) {
      out.Cell(static_cast<uint32_t>(columns[j] - prev - 1), values[j]);
      prev = columns[j];
    }
    if (check) {
      for (size_t j = 0; j < k; ++j) {
        if (j + kAhead < k) {
          const int b = columns[j + kAhead];
          const Table::RowView r = table.View(b);
          __builtin_prefetch(r.dense ? static_cast<const void*>(r.dense + a)
                                     : static_cast<const void*>(r.entries + seen[static_cast<size_t>(b)]));
        }
        if (!mirror(columns[j], a, values[j])) return false;
      }
    }
    cells += k;
    progress.AfterRow(a);
  }
  out.Le64(cells);
  out.Finish();
  return true;
}

// Reads the compact file held in buf[0, n) into the table: everything is checked first, then the
// rows are built with room for exactly their cells.
void ReadCompact(T2DRelTypeArray& table, const uint8_t* buf, size_t n, const std::string& name,
                 RowProgress& progress) {
  auto damaged = [&]() { return StreamReadError("Invalid compact data in " + name); };
  if (n < kCompactHeader + kCompactTrailer) throw StreamReadError(name + " is cut short");
  const uint32_t version = LoadLe32(buf + 8);
  if (version != kCompactVersion)
    throw StreamReadError(name + " is in version " + std::to_string(version) +
                          " of the compact form, which I cannot read");
  Checksum sum;
  sum.Add(buf, n - 8);
  if (sum.Value() != LoadLe64(buf + n - 8)) throw StreamReadError("Checksum error in " + name);
  const uint32_t flags = LoadLe32(buf + 12);
  const uint32_t rowCount = LoadLe32(buf + 16);
  const size_t bodyEnd = n - kCompactTrailer;
  size_t pos = kCompactHeader;
  // Every row takes a byte at least.
  if ((flags & ~kMirrored) != 0 || rowCount > bodyEnd - pos || rowCount > INT_MAX) throw damaged();
  const bool mirrored = (flags & kMirrored) != 0;
  const int rows = static_cast<int>(rowCount);
  auto varint = [&]() -> uint32_t {
    uint32_t v = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      if (pos >= bodyEnd) throw damaged();
      const uint8_t b = buf[pos++];
      if (shift == 28 && b > 0x0F) throw damaged();
      v |= static_cast<uint32_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return v;
    }
    throw damaged();
  };
  std::vector<int32_t> lengths(static_cast<size_t>(rows));
  for (int filled = 0; filled < rows;) {
    const uint32_t count = varint();
    const uint32_t length = varint();
    if (count == 0 || count > static_cast<uint32_t>(rows - filled) || length > INT_MAX) throw damaged();
    if (mirrored && length != rowCount) throw damaged();
    std::fill_n(lengths.begin() + filled, count, static_cast<int32_t>(length));
    filled += static_cast<int>(count);
  }
  // First pass: every count and column checked, the cells of each row and where they end counted.
  std::vector<int32_t> cellsOf(static_cast<size_t>(rows), 0), endOf(static_cast<size_t>(rows), 0);
  const size_t cellsStart = pos;
  uint64_t cells = 0;
  for (int a = 0; a < rows; ++a) {
    const uint32_t k = varint();
    if (k > (bodyEnd - pos) / 2) throw damaged();
    int64_t column = mirrored ? a : -1;
    const int64_t limit = std::min<int64_t>(lengths[static_cast<size_t>(a)], T2DRelTypeArray::kSparseColumns);
    for (uint32_t j = 0; j < k; ++j) {
      column += 1 + static_cast<int64_t>(varint());
      if (column >= limit || pos >= bodyEnd || buf[pos++] == 0) throw damaged();
      if (mirrored) {
        ++cellsOf[static_cast<size_t>(column)];
        endOf[static_cast<size_t>(column)] = a + 1;
      }
    }
    if (k > 0) endOf[static_cast<size_t>(a)] = static_cast<int32_t>(column + 1);
    cellsOf[static_cast<size_t>(a)] += static_cast<int32_t>(k);
    cells += k;
  }
  if (pos != bodyEnd || cells != LoadLe64(buf + bodyEnd)) throw damaged();

  // Second pass: the rows built. Cells left of the diagonal come from the rows above, in
  // ascending order, before a row's own: each row is filled in column order.
  progress.Start(rows);
  table.PrepareRows(rows, lengths.data(), cellsOf.data(), endOf.data());
  pos = cellsStart;
  auto next = [&]() -> uint32_t {
    uint32_t v = 0;
    for (int shift = 0;; shift += 7) {
      const uint8_t b = buf[pos++];
      v |= static_cast<uint32_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return v;
    }
  };
  // A row's cells are decoded first, so that the mirror cells, one in each of many rows, can be
  // fetched ahead.
  constexpr uint32_t kAhead = 16;
  std::vector<int32_t> columns;
  std::vector<int8_t> values;
  for (int a = 0; a < rows; ++a) {
    const uint32_t k = next();
    columns.resize(k);
    values.resize(k);
    int column = mirrored ? a : -1;
    for (uint32_t j = 0; j < k; ++j) {
      column += 1 + static_cast<int>(next());
      columns[j] = column;
      values[j] = static_cast<int8_t>(buf[pos++]);
      table.FillCell(a, column, values[j]);
    }
    if (mirrored) {
      for (uint32_t j = 0; j < k; ++j) {
        if (j + kAhead < k) table.PrefetchFill(columns[j + kAhead], a);
        table.FillCell(columns[j], a, values[j]);
      }
    }
    progress.AfterRow(a);
  }
  table.FinishFill(mirrored);
}

}  // namespace

void WriteCompactRelTableFile(const T2DRelTypeArray& table, const std::string& path, UserPort* port,
                              std::string_view shownName, bool durable) {
  RowProgress progress(port, "Saving " + (shownName.empty() ? BaseName(path) : std::string(shownName)));
  try {
    FileWriter file(path);
    progress.Start(table.RowCount());
    // Learning keeps the table symmetric; any other table (an old file's) is kept as it is.
    if (!table.IsSquare(table.RowCount()) || !WriteCompactBody(file, table, true, progress)) {
      file.Restart();
      WriteCompactBody(file, table, false, progress);
    }
    file.Close(durable);
  } catch (...) {
    progress.Finish();
    throw;
  }
  progress.Finish();
}

RelTableForm ReadRelTableFile(T2DRelTypeArray& table, const std::string& path, UserPort* port) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw IoError("Unable to open " + path + ": " + SystemText(errno));
  struct stat st {};
  char magic[sizeof kCompactMagic] = {};
  const bool statted = ::fstat(fd, &st) == 0;
  const bool compact = statted && ::pread(fd, magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic) &&
                       std::memcmp(magic, kCompactMagic, sizeof magic) == 0;
  if (!compact) {
    ::close(fd);
    if (!statted) throw IoError("Unable to read " + path + ": " + SystemText(errno));
    ReadDenseRelTableFile(table, path, port);
    return RelTableForm::kDense;
  }
  RowProgress progress(port, "Loading " + BaseName(path));
  try {
    // The whole file at once: it is small, and its checksum must hold before anything is used.
    // Mapped, it is read from the page cache without a copy.
    const size_t n = static_cast<size_t>(st.st_size);
    void* mapped = n > 0 ? ::mmap(nullptr, n, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0) : MAP_FAILED;
    std::unique_ptr<uint8_t[]> copy;
    size_t got = n;
    if (mapped == MAP_FAILED) {
      got = 0;
      int err = 0;
      try {
        copy.reset(new uint8_t[n]);
      } catch (...) {
        ::close(fd);
        throw;
      }
      while (got < n) {
        const ssize_t r = ::pread(fd, copy.get() + got, n - got, static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) err = errno;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
      }
      if (err != 0) {
        ::close(fd);
        throw IoError("Unable to read " + path + ": " + SystemText(err));
      }
    }
    ::close(fd);
    struct Unmap {
      void* p;
      size_t n;
      ~Unmap() {
        if (p != MAP_FAILED) ::munmap(p, n);
      }
    } unmap{mapped, n};
    const uint8_t* buf = mapped != MAP_FAILED ? static_cast<const uint8_t*>(mapped) : copy.get();
    try {
      if (got < n) throw StreamReadError(BaseName(path) + " is cut short");
      ReadCompact(table, buf, n, BaseName(path), progress);
    } catch (...) {
      table.Reset(0);
      throw;
    }
  } catch (...) {
    progress.Finish();
    throw;
  }
  progress.Finish();
  return RelTableForm::kCompact;
}

}  // namespace zibu
