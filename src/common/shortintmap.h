// Word -> signed 8-bit weight, in insertion order. The position of a word is also its row and
// column in the relationship table, so entries are only appended or cleared all together.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/data_version.h"

namespace zibu {

class TShortIntMap {
 public:
  // Appends; an existing equal key is not checked for (IndexOf finds the first).
  void Add(const std::string& key, int8_t value);
  // Position of the first key equal to `key` without regard to case, or -1. Constant time.
  int IndexOf(std::string_view key) const;
  // Raises zibu::Error "No such key:<key>" when absent.
  int8_t Get(std::string_view key) const;
  // The position must be valid (std::out_of_range otherwise).
  int8_t ValueAt(int position) const;
  const std::string& KeyAt(int position) const;
  // False, and nothing changed, when the position is not below Count(); a negative position is
  // a programming error (std::out_of_range).
  bool SetValueAt(int position, int8_t value);
  int Count() const { return static_cast<int>(keys_.size()); }
  void Clear();
  // Removes the entry at the position; every later entry moves down by one. False, and nothing
  // changed, when the position is not below Count(). For forgetting a word, which the
  // relationship table must follow (its row and column go too).
  bool Delete(int position);

  // "key=value" lines ending in CR LF. A missing file leaves the map empty. A value that is not
  // an integer raises ConversionError with the lines before it loaded; only the value's lowest
  // 8 bits are kept (200 reads as -56). I/O failures raise IoError.
  void LoadFromFile(const std::string& fileName);
  // The same, but a value that is not an integer costs only that value: the key is added with
  // the value 0 (so that later keys keep their positions) and `badValue` is told the line number
  // (from 1), the key and the conversion error's message.
  using BadValue = std::function<void(int line, const std::string& key, const std::string& error)>;
  // `badLine`, when given, is told each line that is not empty but holds no "=" (skipped).
  using BadLine = std::function<void(int line, std::string_view text)>;
  void LoadFromFile(const std::string& fileName, const BadValue& badValue, const BadLine& badLine = {});
  void SaveToFile(const std::string& fileName) const;

  // Changes with every change of the map (see common/data_version.h).
  uint64_t Version() const { return version_; }

 private:
  std::vector<std::string> keys_;
  std::vector<int8_t> values_;
  // Upper-cased key -> first position holding it. Positions never change, so it never goes stale.
  std::unordered_map<std::string, int> index_;
  uint64_t version_ = NextDataVersion();
};

}  // namespace zibu
