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
// The pairs of a scan with the largest positive and the largest negative contributions, at most
// `limit` of each. Of equally strong pairs at the cut the later ones in list order are kept; the
// order is total, so the pairs kept are the same whatever order the scan visits them in.
class PairCollector {
 public:
  struct Pair {
    int first;   // list position of the earlier word
    int second;  // list position of the later word
    int64_t contribution;
  };
  explicit PairCollector(int limit) : limit_(limit) {}
  // False when a pair of this contribution cannot be kept (0, or weaker than every pair kept of
  // its sign once the limit is reached): most pairs of a long text are turned away here.
  bool Wants(int64_t contribution) const {
    if (contribution > 0)
      return static_cast<int>(positive_.size()) < limit_ || contribution >= positiveFloor_;
    if (contribution < 0)
      return static_cast<int>(negative_.size()) < limit_ || -contribution >= negativeFloor_;
    return false;
  }
  // True when the weakest strength kept of the pair's sign changed (Wants may answer otherwise).
  bool Add(int first, int second, int64_t contribution);
  // Adds every pair another collector kept.
  void Merge(const PairCollector& other);
  // Strongest first.
  std::vector<Pair> Positive() const;
  std::vector<Pair> Negative() const;

 private:
  int limit_;
  std::vector<Pair> positive_, negative_;          // heaps, the weakest kept pair on top
  int64_t positiveFloor_ = 0, negativeFloor_ = 0;  // the weakest kept strength once full
};

class RelScanContext {
 public:
  // positions[i]: the position in the word weightings of list word i, or -1 for an unknown word.
  RelScanContext(const T2DRelTypeArray& table, std::vector<int> positions, int maxWordWeight);

  int WordCount() const { return static_cast<int>(positions_.size()); }
  // (cell [a][b] * 100 / maxWordWeight) * 2 for every later known word of list position i.
  int64_t RowSum(int i) const;
  // The row sums of list positions first to last (inclusive), computed together: each row is
  // read front to back over the columns of the later words only.
  int64_t RangeSum(int first, int last) const;
  // The same sum, offering every pair with a contribution other than 0 to `pairs`.
  int64_t RangeSum(int first, int last, PairCollector& pairs) const;

 private:
  const T2DRelTypeArray& table_;
  template <typename Visit>
  int64_t Sum(int first, int last, Visit&& visit) const;
  std::vector<int> positions_;
  int columns_ = 0;  // the table's width: one past the highest position
  std::array<int32_t, 256> scaled_{};
};

class TRelScanThread;

// Worker threads kept for the scans of one engine: starting threads for every scan costs more
// than a whole scan of a long page on a busy machine.
class RelScanPool {
 public:
  explicit RelScanPool(int threads);
  ~RelScanPool();
  RelScanPool(const RelScanPool&) = delete;
  RelScanPool& operator=(const RelScanPool&) = delete;
  int Size() const { return static_cast<int>(threads_.size()); }
  void Submit(TRelScanThread* job);

 private:
  void Work();
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<TRelScanThread*> queue_;
  size_t next_ = 0;
  bool stop_ = false;
  std::vector<std::thread> threads_;
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
  // When set, the body also keeps the range's strongest pairs here.
  PairCollector* Pairs = nullptr;
  int StartRow = 0;
  int EndRow = -1;  // inclusive; EndRow < StartRow is an empty range
  const std::vector<std::string>* Words = nullptr;

  // Runs the body on a pool worker, or on a thread of its own when there is no pool.
  void Start(RelScanPool* pool = nullptr);
  // Waits for an own thread; a pooled body is waited for through Done.
  void Join();
  // The thread body.
  void Execute();

 private:
  const RelScanContext& context_;
  ScanDoorbell* doorbell_;
  std::thread thread_;
  bool pooled_ = false;
};

}  // namespace zibu
