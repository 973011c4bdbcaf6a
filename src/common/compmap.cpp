#include "common/compmap.h"

#include <cmath>
#include <stdexcept>

#include "common/errors.h"
#include "common/file_io.h"
#include "common/map_file.h"
#include "common/numbers.h"

namespace zibu {

void TCompMap::Add(const std::string& key, int64_t value) {
  keys_.push_back(key);
  values_.push_back(value);
}

bool TCompMap::Delete(int position) {
  if (position < 0) throw std::out_of_range("TCompMap::Delete: negative position");
  if (position >= Count()) return false;
  keys_.erase(keys_.begin() + position);
  values_.erase(values_.begin() + position);
  ZIBU_CHECK(keys_.size() == values_.size(), "common/compmap", 91);
  return true;
}

void TCompMap::AddAll(const TCompMap& other) {
  // Copy first: `other` may be this map.
  const std::vector<std::string> keys = other.keys_;
  const std::vector<int64_t> values = other.values_;
  for (size_t i = 0; i < keys.size(); ++i) Add(keys[i], values[i]);
}

const std::string& TCompMap::KeyAt(int position) const {
  return keys_.at(static_cast<size_t>(position));
}

int64_t TCompMap::ValueAt(int position) const {
  return values_.at(static_cast<size_t>(position));
}

void TCompMap::Clear() {
  keys_.clear();
  values_.clear();
}

void TCompMap::LoadFromFile(const std::string& fileName) {
  Clear();
  mapfile::ForEachEntry(fileName, [this](std::string key, std::string_view text) {
    // Rounds half to even, like the general number reading it mirrors.
    const double v = std::nearbyint(StrToFloat(text));
    if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0))
      throw ConversionError("'" + Excerpt(text) + "' is out of the 64-bit integer range");
    Add(key, static_cast<int64_t>(v));
  });
}

void TCompMap::SaveToFile(const std::string& fileName) const {
  ZIBU_CHECK(keys_.size() == values_.size(), "common/compmap", 183);
  std::string bytes;
  for (size_t i = 0; i < keys_.size(); ++i) {
    bytes += mapfile::EscapeKey(keys_[i]);
    bytes += '=';
    bytes += FloatToStr(static_cast<double>(values_[i]));
    bytes += "\r\n";
  }
  WriteFileAtomic(fileName, bytes);
}

}  // namespace zibu
