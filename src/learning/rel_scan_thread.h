// The relationship sum and the worker thread that sums a range of rows of it.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "learning/rel_table.h"

namespace zibu {

// What a scan needs to sum rows, prepared once by the scan and read (never written) by every
// worker: the word positions of the sorted list, and the scaled value of every possible cell.
class RelScanContext {
 public:
  // positions[i]: the position in the word weightings of list word i, or -1 for an unknown word.
  RelScanContext(const T2DRelTypeArray& table, std::vector<int> positions, int maxWordWeight);

  int WordCount() const { return static_cast<int>(positions_.size()); }
  // (cell [a][b] * 100 / maxWordWeight) * 2 for every later known word of list position i.
  int64_t RowSum(int i) const;

 private:
  const T2DRelTypeArray& table_;
  std::vector<int> positions_;
  // Known positions in list order, and for each list position the index in it of the first
  // known word after that position: unknown words add nothing, so rows skip them.
  std::vector<int> known_;
  std::vector<int> firstKnownAfter_;
  std::array<int32_t, 256> scaled_{};
};

// Wakes the waiting thread when a worker has finished.
struct ScanDoorbell {
  std::mutex mutex;
  std::condition_variable cv;
  int finished = 0;
};

// One worker of the multi-threaded scan: created suspended, started explicitly, joined by the
// scan that created it. Done is published after Total with release ordering; read it with acquire
// before reading Total.
class TRelScanThread {
 public:
  TRelScanThread(const RelScanContext& context, ScanDoorbell* doorbell)
      : context_(context), doorbell_(doorbell) {}
  ~TRelScanThread();
  TRelScanThread(const TRelScanThread&) = delete;
  TRelScanThread& operator=(const TRelScanThread&) = delete;

  std::atomic<bool> Done{false};
  int64_t Total = 0;
  int StartRow = 0;
  int EndRow = -1;  // inclusive; EndRow < StartRow is an empty range
  const std::vector<std::string>* Words = nullptr;

  void Start();
  void Join();

 private:
  void Execute();

  const RelScanContext& context_;
  ScanDoorbell* doorbell_;
  std::thread thread_;
};

}  // namespace zibu
