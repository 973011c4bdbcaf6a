#include "common/map_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/errors.h"

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
  std::FILE* f = std::fopen(fileName.c_str(), "rb");
  if (!f) throw IoError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
  std::string data;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, got);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) throw IoError("Cannot read file \"" + fileName + "\". " + std::strerror(err));
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

void WriteFileAtomic(const std::string& fileName, const std::string& bytes) {
  const std::string temp = fileName + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) throw IoError("Cannot create file \"" + temp + "\". " + std::strerror(errno));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      std::remove(temp.c_str());
      throw IoError("Cannot write file \"" + temp + "\"");
    }
  }
  if (std::rename(temp.c_str(), fileName.c_str()) != 0) {
    const int err = errno;
    std::remove(temp.c_str());
    throw IoError("Cannot rename \"" + temp + "\" to \"" + fileName + "\". " + std::strerror(err));
  }
}

}  // namespace zibu::mapfile
