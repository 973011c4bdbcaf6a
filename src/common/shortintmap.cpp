#include "common/shortintmap.h"

#include <stdexcept>

#include "common/errors.h"
#include "common/file_io.h"
#include "common/map_file.h"
#include "common/numbers.h"
#include "common/text.h"

namespace zibu {

void TShortIntMap::Add(const std::string& key, int8_t value) {
  index_.emplace(AnsiUpperCase(key), static_cast<int>(keys_.size()));
  keys_.push_back(key);
  values_.push_back(value);
  version_ = NextDataVersion();
}

int TShortIntMap::IndexOf(std::string_view key) const {
  auto it = index_.find(AnsiUpperCase(key));
  return it == index_.end() ? -1 : it->second;
}

int8_t TShortIntMap::Get(std::string_view key) const {
  const int i = IndexOf(key);
  if (i < 0) throw Error("No such key:" + Excerpt(key), "Exception");
  return values_[static_cast<size_t>(i)];
}

int8_t TShortIntMap::ValueAt(int position) const {
  return values_.at(static_cast<size_t>(position));
}

const std::string& TShortIntMap::KeyAt(int position) const {
  return keys_.at(static_cast<size_t>(position));
}

bool TShortIntMap::SetValueAt(int position, int8_t value) {
  if (position < 0) throw std::out_of_range("TShortIntMap::SetValueAt: negative position");
  if (position >= Count()) return false;
  if (values_[static_cast<size_t>(position)] != value) version_ = NextDataVersion();
  values_[static_cast<size_t>(position)] = value;
  return true;
}

bool TShortIntMap::Delete(int position) {
  if (position < 0) throw std::out_of_range("TShortIntMap::Delete: negative position");
  if (position >= Count()) return false;
  keys_.erase(keys_.begin() + position);
  values_.erase(values_.begin() + position);
  index_.clear();
  for (size_t i = 0; i < keys_.size(); ++i) index_.emplace(AnsiUpperCase(keys_[i]), static_cast<int>(i));
  version_ = NextDataVersion();
  return true;
}

void TShortIntMap::Clear() {
  keys_.clear();
  values_.clear();
  index_.clear();
  version_ = NextDataVersion();
}

void TShortIntMap::LoadFromFile(const std::string& fileName) {
  LoadFromFile(fileName, nullptr);
}

void TShortIntMap::LoadFromFile(const std::string& fileName, const BadValue& badValue, const BadLine& badLine) {
  Clear();
  mapfile::ForEachEntry(fileName, [&](int line, std::string key, std::string_view text) {
    // Only the lowest 8 bits are kept, read as a signed value: "200" becomes -56.
    int8_t value = 0;
    try {
      value = static_cast<int8_t>(StrToInt(text) & 0xFF);
    } catch (const ConversionError& e) {
      if (!badValue) throw;
      badValue(line, key, e.what());
    }
    Add(key, value);
  }, badLine);
}

void TShortIntMap::SaveToFile(const std::string& fileName) const {
  ZIBU_CHECK(keys_.size() == values_.size(), "common/shortintmap", 182);
  std::string bytes;
  for (size_t i = 0; i < keys_.size(); ++i) {
    bytes += mapfile::EscapeKey(keys_[i]);
    bytes += '=';
    bytes += std::to_string(static_cast<int>(values_[i]));
    bytes += "\r\n";
  }
  WriteFileAtomic(fileName, bytes);
}

}  // namespace zibu
