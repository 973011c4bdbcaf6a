#include "learning/rel_scan_thread.h"

#include <algorithm>
#include <bit>

namespace zibu {

RelScanContext::RelScanContext(const T2DRelTypeArray& table, std::vector<int> positions, int maxWordWeight)
    : table_(table), positions_(std::move(positions)) {
  for (int v = -128; v <= 127; ++v)
    scaled_[static_cast<uint8_t>(static_cast<int8_t>(v))] = (v * 100 / maxWordWeight) * 2;
  for (int p : positions_) columns_ = std::max(columns_, p + 1);
}

int64_t RelScanContext::RowSum(int i) const {
  const int a = positions_[i];
  if (a < 0) return 0;
  const int8_t* row = table_.Row(a);
  int64_t sum = 0;
  for (int j = i + 1; j < WordCount(); ++j) {
    const int b = positions_[j];
    if (b >= 0) sum += scaled_[static_cast<uint8_t>(row[b])];
  }
  return sum;
}

int64_t RelScanContext::RangeSum(int first, int last) const {
  // The columns of the words after the current row, as bits: rows are walked from the last to
  // the first, each adding its own column once it is summed. Reading a row in column order lets
  // the prefetcher stream it instead of jumping about in it.
  std::vector<uint64_t> later(static_cast<size_t>(columns_ + 63) / 64, 0);
  for (int j = last + 1; j < WordCount(); ++j)
    if (positions_[j] >= 0) later[positions_[j] >> 6] |= uint64_t{1} << (positions_[j] & 63);
  int64_t sum = 0;
  for (int i = last; i >= first; --i) {
    const int a = positions_[i];
    if (a < 0) continue;
    const int8_t* row = table_.Row(a);
    int64_t rowSum = 0;
    for (size_t w = 0; w < later.size(); ++w) {
      for (uint64_t bits = later[w]; bits != 0; bits &= bits - 1) {
        const int b = static_cast<int>(w * 64) + std::countr_zero(bits);
        rowSum += scaled_[static_cast<uint8_t>(row[b])];
      }
    }
    sum += rowSum;
    later[a >> 6] |= uint64_t{1} << (a & 63);
  }
  return sum;
}

RelScanPool::RelScanPool(int threads) {
  for (int t = 0; t < threads; ++t) threads_.emplace_back([this] { Work(); });
}

RelScanPool::~RelScanPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  for (auto& t : threads_) t.join();
}

void RelScanPool::Submit(TRelScanThread* job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (next_ == queue_.size()) {
      queue_.clear();
      next_ = 0;
    }
    queue_.push_back(job);
  }
  cv_.notify_one();
}

void RelScanPool::Work() {
  for (;;) {
    TRelScanThread* job = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [&] { return stop_ || next_ < queue_.size(); });
      if (next_ < queue_.size()) {
        job = queue_[next_++];
      } else {
        return;
      }
    }
    job->Execute();
  }
}

TRelScanThread::~TRelScanThread() {
  Join();
  // A body handed to the pool must not outlive this object (an error may end the scan early).
  while (pooled_ && !Done.load(std::memory_order_acquire)) std::this_thread::yield();
}

void TRelScanThread::Start(RelScanPool* pool) {
  if (pool) {
    pooled_ = true;
    pool->Submit(this);
  } else {
    thread_ = std::thread([this] { Execute(); });
  }
}

void TRelScanThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void TRelScanThread::Execute() {
  Total = 0;
  Total = context_.RangeSum(StartRow, EndRow);
  if (doorbell_) {
    {
      std::lock_guard<std::mutex> lock(doorbell_->mutex);
      ++doorbell_->finished;
    }
    doorbell_->cv.notify_one();
  }
  // Last: once the waiting thread sees Done it may destroy this object and the doorbell.
  Done.store(true, std::memory_order_release);
}

}  // namespace zibu
