// File handling shared by the keyed containers: "key=value" lines ending in CR LF, with "="
// inside a key written as "&equals;".
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zibu::mapfile {

std::string EscapeKey(std::string_view key);
// "&equals;" in any letter case becomes "=".
std::string UnescapeKey(std::string_view key);

// The lines of a file (LF or CR LF endings). Returns false when the file does not exist;
// raises IoError when it exists but cannot be read.
bool ReadLines(const std::string& fileName, std::vector<std::string>& lines);

// Calls `entry` with the unescaped key and the value text of every line holding "=", in file
// order; lines without one are skipped. A missing file calls nothing.
void ForEachEntry(const std::string& fileName,
                  const std::function<void(std::string key, std::string_view valueText)>& entry);
// The same with the line's number in the file (from 1); `skipped`, when given, is told each line
// that is not empty but holds no "=".
void ForEachEntry(const std::string& fileName,
                  const std::function<void(int line, std::string key, std::string_view valueText)>& entry,
                  const std::function<void(int line, std::string_view text)>& skipped = {});

}  // namespace zibu::mapfile
