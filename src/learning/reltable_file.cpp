#include "learning/reltable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
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

void ReadRelTableFile(T2DRelTypeArray& table, const std::string& path, UserPort* port) {
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

}  // namespace zibu
