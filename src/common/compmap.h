// String -> signed 64-bit value in insertion order (the shown-article memory: link -> time shown).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/data_version.h"

namespace zibu {

class TCompMap {
 public:
  // Appends; duplicates are not checked for.
  void Add(const std::string& key, int64_t value);
  // False, and nothing changed, when the position is not below Count(); a negative position is
  // a programming error (std::out_of_range).
  bool Delete(int position);
  // Add of every entry of `other`, in its order.
  void AddAll(const TCompMap& other);
  // The position must be valid (std::out_of_range otherwise).
  const std::string& KeyAt(int position) const;
  int64_t ValueAt(int position) const;
  int Count() const { return static_cast<int>(keys_.size()); }
  void Clear();

  // "key=value" lines ending in CR LF. Values are written as plain decimal digits (which is also
  // the general number format for every value below 10^15) and read back exactly; other number
  // text (a fraction, an exponent) is read by the floating-point rule and rounded to the nearest
  // integer. A missing file leaves the map empty; a value that is not a number raises
  // ConversionError with the lines before it loaded; I/O failures raise IoError.
  void LoadFromFile(const std::string& fileName);
  // The same, but each line is offered to `accept` with its number (from 1) and its value, or
  // the conversion error's message when the value is not a number (value 0 then); only the lines
  // it accepts are added, and every other line is still read.
  using Accept =
      std::function<bool(int line, const std::string& key, int64_t value, const std::string* error)>;
  void LoadFromFile(const std::string& fileName, const Accept& accept);
  void SaveToFile(const std::string& fileName) const;

  // Changes with every change of the map (see common/data_version.h).
  uint64_t Version() const { return version_; }

 private:
  std::vector<std::string> keys_;
  std::vector<int64_t> values_;
  uint64_t version_ = NextDataVersion();
};

}  // namespace zibu
