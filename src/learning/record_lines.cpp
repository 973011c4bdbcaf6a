#include "learning/record_lines.h"

#include <vector>

#include "common/map_file.h"

namespace zibu {

int ReadRecordLines(const std::string& fileName, const std::function<std::string(std::string_view line)>& take,
                    const std::function<void(int line, const std::string& problem)>& damaged) {
  std::vector<std::string> lines;
  if (!mapfile::ReadLines(fileName, lines)) return 0;
  int dropped = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    const std::string problem = take(lines[i]);
    if (problem.empty()) continue;
    ++dropped;
    if (damaged) damaged(static_cast<int>(i) + 1, problem);
  }
  return dropped;
}

}  // namespace zibu
