#include "common/map_file.h"

#include <filesystem>

#include "common/file_io.h"

namespace zibu::mapfile {

std::string EscapeKey(std::string_view key) {
  std::string out;
  out.reserve(key.size());
  for (char c : key) {
    if (c == '=')
      out += "&equals;";
    else
      out.push_back(c);
  }
  return out;
}

std::string UnescapeKey(std::string_view key) {
  static constexpr std::string_view kEquals = "&equals;";
  std::string out;
  out.reserve(key.size());
  size_t i = 0;
  while (i < key.size()) {
    bool match = key[i] == '&' && key.size() - i >= kEquals.size();
    for (size_t k = 1; match && k < kEquals.size(); ++k) {
      char c = key[i + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      match = c == kEquals[k];
    }
    if (match) {
      out.push_back('=');
      i += kEquals.size();
    } else {
      out.push_back(key[i++]);
    }
  }
  return out;
}

bool ReadLines(const std::string& fileName, std::vector<std::string>& lines) {
  lines.clear();
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) return false;
  const std::string data = ReadFileBytes(fileName);
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    size_t stop = end;
    if (stop > start && data[stop - 1] == '\r') --stop;
    lines.emplace_back(data, start, stop - start);
    start = end + 1;
  }
  return true;
}

void ForEachEntry(const std::string& fileName,
                  const std::function<void(int line, std::string key, std::string_view valueText)>& entry,
                  const std::function<void(int line, std::string_view text)>& skipped) {
  std::vector<std::string> lines;
  if (!ReadLines(fileName, lines)) return;
  int number = 0;
  for (const std::string& line : lines) {
    ++number;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      if (skipped && !line.empty()) skipped(number, line);
      continue;
    }
    entry(number, UnescapeKey(std::string_view(line).substr(0, eq)), std::string_view(line).substr(eq + 1));
  }
}

void ForEachEntry(const std::string& fileName,
                  const std::function<void(std::string key, std::string_view valueText)>& entry) {
  ForEachEntry(fileName, [&](int, std::string key, std::string_view text) { entry(std::move(key), text); });
}

}  // namespace zibu::mapfile
