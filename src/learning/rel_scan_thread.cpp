#include "learning/rel_scan_thread.h"

#include <algorithm>
#include <array>
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
  int64_t sum = 0;
  for (int j = i + 1; j < WordCount(); ++j) {
    const int b = positions_[j];
    if (b >= 0) sum += scaled_[static_cast<uint8_t>(table_.Get(a, b))];
  }
  return sum;
}

namespace {

int64_t Strength(const PairCollector::Pair& p) {
  return p.contribution < 0 ? -p.contribution : p.contribution;
}

// The order in which pairs are kept: the stronger, and of equally strong ones the later in list
// order (the scan walks the list from its end, so equally strong pairs met later do not displace
// those kept, which keeps the collecting cheap).
bool Keeps(const PairCollector::Pair& x, const PairCollector::Pair& y) {
  if (Strength(x) != Strength(y)) return Strength(x) > Strength(y);
  if (x.first != y.first) return x.first > y.first;
  return x.second > y.second;
}

// The order in which they are shown: the stronger first, equally strong ones in list order.
bool Shown(const PairCollector::Pair& x, const PairCollector::Pair& y) {
  if (Strength(x) != Strength(y)) return Strength(x) > Strength(y);
  if (x.first != y.first) return x.first < y.first;
  return x.second < y.second;
}

}  // namespace

bool PairCollector::Add(int first, int second, int64_t contribution) {
  if (contribution == 0 || limit_ <= 0) return false;
  auto& heap = contribution > 0 ? positive_ : negative_;
  const Pair p{first, second, contribution};
  // A heap ordered so that its front is the weakest pair kept.
  if (static_cast<int>(heap.size()) < limit_) {
    heap.push_back(p);
    std::push_heap(heap.begin(), heap.end(), Keeps);
  } else if (Keeps(p, heap.front())) {
    std::pop_heap(heap.begin(), heap.end(), Keeps);
    heap.back() = p;
    std::push_heap(heap.begin(), heap.end(), Keeps);
  } else {
    return false;
  }
  if (static_cast<int>(heap.size()) < limit_) return false;
  const int64_t c = heap.front().contribution;
  int64_t& floor = contribution > 0 ? positiveFloor_ : negativeFloor_;
  const int64_t was = floor;
  floor = c < 0 ? -c : c;
  return floor != was;
}

void PairCollector::Merge(const PairCollector& other) {
  for (const auto& p : other.positive_) Add(p.first, p.second, p.contribution);
  for (const auto& p : other.negative_) Add(p.first, p.second, p.contribution);
}

std::vector<PairCollector::Pair> PairCollector::Positive() const {
  std::vector<Pair> v = positive_;
  std::sort(v.begin(), v.end(), Shown);
  return v;
}

std::vector<PairCollector::Pair> PairCollector::Negative() const {
  std::vector<Pair> v = negative_;
  std::sort(v.begin(), v.end(), Shown);
  return v;
}

int64_t RelScanContext::RangeSum(int first, int last) const {
  return Sum(first, last, [](int, int, uint8_t, int32_t) {});
}

int64_t RelScanContext::RangeSum(int first, int last, PairCollector& pairs) const {
  // Which list position each column belongs to.
  std::vector<int> listOf(static_cast<size_t>(columns_), -1);
  for (int j = 0; j < WordCount(); ++j)
    if (positions_[j] >= 0) listOf[static_cast<size_t>(positions_[j])] = j;
  // Which cell values could still make it into the collector, by their byte: one look-up per
  // pair, renewed only when a pair was kept.
  std::array<bool, 256> wanted{};
  auto renew = [&] {
    for (int v = 0; v < 256; ++v)
      wanted[static_cast<size_t>(v)] = pairs.Wants(scaled_[static_cast<size_t>(v)]);
  };
  renew();
  return Sum(first, last, [&](int i, int b, uint8_t byte, int32_t c) {
    if (wanted[byte] && pairs.Add(i, listOf[static_cast<size_t>(b)], c)) renew();
  });
}

template <typename Visit>
int64_t RelScanContext::Sum(int first, int last, Visit&& visit) const {
  // The columns of the words after the current row, as bits and as a list: rows are walked from
  // the last to the first, each adding its own column once it is summed. A row is read the
  // cheaper way round: a dense row in column order (the prefetcher streams it) or at the later
  // columns alone when there are few; a sparse row entry by entry against the bits, or searched
  // for each later column when it is much longer than their list.
  std::vector<uint64_t> later(static_cast<size_t>(columns_ + 63) / 64, 0);
  std::vector<int> laterList;
  laterList.reserve(static_cast<size_t>(WordCount()));
  auto addLater = [&](int b) {
    later[static_cast<size_t>(b) >> 6] |= uint64_t{1} << (b & 63);
    laterList.push_back(b);
  };
  for (int j = last + 1; j < WordCount(); ++j)
    if (positions_[j] >= 0) addLater(positions_[j]);
  int64_t sum = 0;
  for (int i = last; i >= first; --i) {
    const int a = positions_[i];
    if (a < 0) continue;
    const T2DRelTypeArray::RowView row = table_.View(a);
    const int64_t laterCount = static_cast<int64_t>(laterList.size());
    int64_t rowSum = 0;
    if (row.dense) {
      const int8_t* d = row.dense;
      if (laterCount * 64 < row.held) {
        for (int b : laterList) {
          if (b >= row.held) continue;
          const auto byte = static_cast<uint8_t>(d[b]);
          const int32_t c = scaled_[byte];
          rowSum += c;
          visit(i, b, byte, c);
        }
      } else {
        const size_t words = std::min(later.size(), static_cast<size_t>(row.held + 63) / 64);
        for (size_t w = 0; w < words; ++w) {
          for (uint64_t bits = later[w]; bits != 0; bits &= bits - 1) {
            const int b = static_cast<int>(w * 64) + std::countr_zero(bits);
            if (b >= row.held) break;
            const auto byte = static_cast<uint8_t>(d[b]);
            const int32_t c = scaled_[byte];
            rowSum += c;
            visit(i, b, byte, c);
          }
        }
      }
    } else if (row.held > 0) {
      const uint32_t* e = row.entries;
      if (row.held <= 16 * laterCount) {
        for (int k = 0; k < row.held; ++k) {
          const int b = T2DRelTypeArray::EntryColumn(e[k]);
          if (b >= columns_) break;
          if (later[static_cast<size_t>(b) >> 6] >> (b & 63) & 1) {
            const auto byte = static_cast<uint8_t>(e[k] & 0xFF);
            const int32_t c = scaled_[byte];
            rowSum += c;
            visit(i, b, byte, c);
          }
        }
      } else {
        for (int b : laterList) {
          const uint32_t key = static_cast<uint32_t>(b) << 8;
          const uint32_t* at = std::lower_bound(e, e + row.held, key);
          if (at != e + row.held && T2DRelTypeArray::EntryColumn(*at) == b) {
            const auto byte = static_cast<uint8_t>(*at & 0xFF);
            const int32_t c = scaled_[byte];
            rowSum += c;
            visit(i, b, byte, c);
          }
        }
      }
    }
    sum += rowSum;
    addLater(a);
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
  Total = Pairs ? context_.RangeSum(StartRow, EndRow, *Pairs) : context_.RangeSum(StartRow, EndRow);
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
