// Stamps for learned data that changes: every change of a map or table takes a fresh stamp from
// one counter for the whole process, so two equal stamps always mean the same content, also
// across objects (a copy keeps its original's stamp). A save compares them to skip what did not
// change since the file was last read or written.
#pragma once

#include <atomic>
#include <cstdint>

namespace zibu {

inline uint64_t NextDataVersion() {
  static std::atomic<uint64_t> counter{0};
  return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace zibu
