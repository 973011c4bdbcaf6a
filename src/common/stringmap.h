// An ordered list of string pairs addressed by position; duplicates allowed, no lookup by key.
// Adding at the end and deleting at either end take constant time (a repeat memory drops its
// oldest entries from the front).
#pragma once

#include <deque>
#include <string>

namespace zibu {

class TStringMap {
 public:
  void Add(const std::string& key, const std::string& value);
  // False, and nothing changed, when the position is not below Count(). A negative position
  // is a programming error (std::out_of_range).
  bool Delete(int position);
  int Count() const { return static_cast<int>(keys_.size()); }
  void Clear();
  // The position must be valid (std::out_of_range otherwise).
  const std::string& KeyAt(int position) const;
  const std::string& ValueAt(int position) const;

 private:
  std::deque<std::string> keys_;
  std::deque<std::string> values_;
};

}  // namespace zibu
