// The small record files of the learned data: one entry per line, two whole decimal numbers
// separated by a blank, written to a temporary name and renamed like the other learned files.
#pragma once

#include <charconv>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zibu {

// A whole decimal number (optional minus sign), nothing else around it.
template <typename T>
std::optional<T> Decimal(std::string_view text) {
  T v = 0;
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || at != end || text.empty() || text.front() == '+') return std::nullopt;
  return v;
}

// Hands every non-empty line of `fileName` to `take`, which keeps its entry and gives "" or says
// what is wrong with it; a wrong line costs only itself and is reported to `damaged` with its
// number. Gives the number of lines dropped (0 for a missing file).
int ReadRecordLines(const std::string& fileName, const std::function<std::string(std::string_view line)>& take,
                    const std::function<void(int line, const std::string& problem)>& damaged);

}  // namespace zibu
