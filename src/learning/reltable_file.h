// reltable.dat in its two forms.
//
// The dense form (the classic one, still read; written only on request): the relationship table
// as tagged integers and raw rows, no header, no checksum.
//   R (tagged), then R times: L (tagged) followed by L signed 8-bit cells, column 0 first.
// A tagged integer is a type byte and the value in little-endian order: 2 = 1 byte, 3 = 2 bytes,
// 4 = 4 bytes, all signed; the writer uses the shortest form, the reader accepts all three.
//
// The compact form (what a save writes): only the cells that are not 0, so that the file grows
// with what was learned rather than with the square of the vocabulary. Integers are little-endian;
// a varint is an unsigned LEB128 number (7 bits a byte, low bits first).
//   header, 20 bytes: the 8 letters "ZIBURELT", the version (u32, 1), flags (u32; bit 0 =
//     mirrored), R the row count (u32);
//   row lengths: runs of (varint count, varint length) whose counts add up to R;
//   R rows: varint k, then k cells, each a varint gap and the value byte (never 0). The first
//     cell's column is base + gap, each later one the previous column + 1 + gap; base is 0, or
//     a + 1 for row a of a mirrored file;
//   trailer, 16 bytes: the number of cells stored (u64) and a 64-bit checksum of every byte before
//     it (see Checksum in the source).
// A mirrored file is a square table that is symmetric with a zero diagonal, the shape learning
// keeps: each row stores only its cells right of the diagonal, and each of them also stands for
// its mirror cell [b][a]. Any other table is stored row by row in full.
// The dense form can never begin with "Z" (its first byte is a type byte, 2 to 4), so a reader
// tells the two apart by the first bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "learning/rel_table.h"

namespace zibu {

class UserPort;

// A reltable.dat that cannot be read: too short, a bad type byte, or sizes the file cannot hold.
class StreamReadError : public Error {
 public:
  explicit StreamReadError(const std::string& message) : Error(message, "EReadError") {}
};

// Appends the shortest tagged form of v.
void AppendTaggedInt(std::string& out, int32_t v);

enum class RelTableForm { kDense, kCompact };

// Writes the table to `path` in the dense form (replacing it). Progress "Saving <shownName>" on the splash
// when the table has more than 9 rows (shownName defaults to the file's name); 100 per cent and hidden at the
// end, also when writing fails. With `durable` the data is flushed to the disk before the file is closed.
// Raises IoError.
void WriteRelTableFile(const T2DRelTypeArray& table, const std::string& path, UserPort* port = nullptr,
                       std::string_view shownName = {}, bool durable = false);

// The same in the compact form. Raises IoError.
void WriteCompactRelTableFile(const T2DRelTypeArray& table, const std::string& path, UserPort* port = nullptr,
                              std::string_view shownName = {}, bool durable = false);

// Reads `path`, in either form, into the table and tells which form it was.
// Dense form: row counts and row lengths larger than the rest of the file could
// hold are rejected before anything is allocated. A short file or a bad type byte raises
// ReadError with the rows read so far in place.
// Compact form: the whole file is checked (size, checksum, every count and column) before the
// table is touched; a torn, damaged or unknown-version file raises ReadError and leaves the
// table empty (0 rows): no part of a file that fails its checksum is trusted.
// A missing file raises IoError.
RelTableForm ReadRelTableFile(T2DRelTypeArray& table, const std::string& path, UserPort* port = nullptr);

}  // namespace zibu
