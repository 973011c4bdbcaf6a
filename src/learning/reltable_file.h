// reltable.dat: the relationship table as tagged integers and raw rows, no header, no checksum.
//   R (tagged), then R times: L (tagged) followed by L signed 8-bit cells, column 0 first.
// A tagged integer is a type byte and the value in little-endian order: 2 = 1 byte, 3 = 2 bytes,
// 4 = 4 bytes, all signed; the writer uses the shortest form, the reader accepts all three.
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

// Writes the table to `path` (replacing it). Progress "Saving <shownName>" on the splash when the
// table has more than 9 rows (shownName defaults to the file's name); 100 per cent and hidden at
// the end, also when writing fails. With `durable` the data is flushed to the disk before the
// file is closed. Raises IoError.
void WriteRelTableFile(const T2DRelTypeArray& table, const std::string& path, UserPort* port = nullptr,
                       std::string_view shownName = {}, bool durable = false);

// Reads `path` into the table. Row counts and row lengths larger than the rest of the file could
// hold are rejected before anything is allocated. A short file or a bad type byte raises
// ReadError with the rows read so far in place; a missing file raises IoError.
void ReadRelTableFile(T2DRelTypeArray& table, const std::string& path, UserPort* port = nullptr);

}  // namespace zibu
