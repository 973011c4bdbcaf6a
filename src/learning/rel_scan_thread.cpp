#include "learning/rel_scan_thread.h"

namespace zibu {

RelScanContext::RelScanContext(const T2DRelTypeArray& table, std::vector<int> positions, int maxWordWeight)
    : table_(table), positions_(std::move(positions)) {
  for (int v = -128; v <= 127; ++v) scaled_[static_cast<uint8_t>(static_cast<int8_t>(v))] = (v * 100 / maxWordWeight) * 2;
  const int n = WordCount();
  firstKnownAfter_.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    if (positions_[i] >= 0) known_.push_back(positions_[i]);
  int seen = 0;
  for (int i = 0; i < n; ++i) {
    if (positions_[i] >= 0) ++seen;
    firstKnownAfter_[i] = seen;
  }
}

int64_t RelScanContext::RowSum(int i) const {
  const int a = positions_[i];
  if (a < 0) return 0;
  const int8_t* row = table_.Row(a);
  const int* b = known_.data() + firstKnownAfter_[i];
  const int* end = known_.data() + known_.size();
  int64_t sum = 0;
  for (; b < end; ++b) sum += scaled_[static_cast<uint8_t>(row[*b])];
  return sum;
}

TRelScanThread::~TRelScanThread() { Join(); }

void TRelScanThread::Start() { thread_ = std::thread([this] { Execute(); }); }

void TRelScanThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void TRelScanThread::Execute() {
  Total = 0;
  int64_t total = 0;
  for (int i = StartRow; i <= EndRow; ++i) total += context_.RowSum(i);
  Total = total;
  Done.store(true, std::memory_order_release);
  if (doorbell_) {
    {
      std::lock_guard<std::mutex> lock(doorbell_->mutex);
      ++doorbell_->finished;
    }
    doorbell_->cv.notify_one();
  }
}

}  // namespace zibu
