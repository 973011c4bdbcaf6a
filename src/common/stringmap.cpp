#include "common/stringmap.h"

#include <stdexcept>

#include "common/errors.h"

namespace zibu {

void TStringMap::Add(const std::string& key, const std::string& value) {
  keys_.push_back(key);
  values_.push_back(value);
}

bool TStringMap::Delete(int position) {
  if (position < 0) throw std::out_of_range("TStringMap::Delete: negative position");
  if (position >= Count()) return false;
  keys_.erase(keys_.begin() + position);
  values_.erase(values_.begin() + position);
  ZIBU_CHECK(keys_.size() == values_.size(), "common/stringmap", 82);
  return true;
}

void TStringMap::Clear() {
  keys_.clear();
  values_.clear();
}

const std::string& TStringMap::KeyAt(int position) const {
  return keys_.at(static_cast<size_t>(position));
}

const std::string& TStringMap::ValueAt(int position) const {
  return values_.at(static_cast<size_t>(position));
}

}  // namespace zibu
