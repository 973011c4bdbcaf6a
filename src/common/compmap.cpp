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
  version_ = NextDataVersion();
}

bool TCompMap::Delete(int position) {
  if (position < 0) throw std::out_of_range("TCompMap::Delete: negative position");
  if (position >= Count()) return false;
  keys_.erase(keys_.begin() + position);
  values_.erase(values_.begin() + position);
  version_ = NextDataVersion();
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
  version_ = NextDataVersion();
}

namespace {

bool PlainDigits(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

int64_t ReadValue(std::string_view text) {
  // Plain digits are read exactly (a double would round values beyond 2^53).
  if (PlainDigits(text)) {
    if (auto v = TryStrToInt64(text)) return *v;
  }
  // Rounds half to even, like the general number reading it mirrors.
  const double v = std::nearbyint(StrToFloat(text));
  if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0))
    throw ConversionError("'" + Excerpt(text) + "' is out of the 64-bit integer range");
  return static_cast<int64_t>(v);
}

}  // namespace

void TCompMap::LoadFromFile(const std::string& fileName) {
  Clear();
  mapfile::ForEachEntry(fileName,
                        [this](std::string key, std::string_view text) { Add(key, ReadValue(text)); });
}

void TCompMap::LoadFromFile(const std::string& fileName, const Accept& accept) {
  Clear();
  mapfile::ForEachEntry(fileName, [&](int line, std::string key, std::string_view text) {
    int64_t value = 0;
    std::string error;
    try {
      value = ReadValue(text);
    } catch (const ConversionError& e) {
      error = e.what();
    }
    if (accept(line, key, value, error.empty() ? nullptr : &error)) Add(key, value);
  });
}

void TCompMap::SaveToFile(const std::string& fileName) const {
  ZIBU_CHECK(keys_.size() == values_.size(), "common/compmap", 183);
  std::string bytes;
  for (size_t i = 0; i < keys_.size(); ++i) {
    bytes += mapfile::EscapeKey(keys_[i]);
    bytes += '=';
    bytes += std::to_string(values_[i]);
    bytes += "\r\n";
  }
  WriteFileAtomic(fileName, bytes);
}

}  // namespace zibu
