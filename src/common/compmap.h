// String -> signed 64-bit value in insertion order (the shown-article memory: link -> time shown).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

  // "key=value" lines ending in CR LF, the value in the general number format (plain digits
  // below 10^15). A missing file leaves the map empty; a value that is not a number raises
  // ConversionError with the lines before it loaded; I/O failures raise IoError.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

 private:
  std::vector<std::string> keys_;
  std::vector<int64_t> values_;
};

}  // namespace zibu
