#include "spider/link_queue.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "common/text.h"

namespace zibu {

// Why this gives the exchange procedure's order without its n * n comparisons:
// - Pass i = 1 swaps into row 1 every later row with a smaller key, so row 1 ends holding the
//   minimum, and every row it gives up lands where its replacement came from.
// - From then on, before pass i the rows 1..i-1 are in decreasing order and row i-1 holds the
//   minimum. The half j < i of pass i walks that prefix carrying row i's content: it passes over
//   rows with a key at least as large, and from the first smaller one on it swaps with every
//   row whose key is strictly below the one carried. Within each run of equal keys below the
//   new key, that moves the run's first row to the run's end; the new row ends at the end of
//   the run of its own key. Row i then holds the minimum, so the half j > i swaps nothing.
// So, after pass 1, each further row is appended to its key's group and every group with a
// smaller key is rotated by one.
std::vector<size_t> ExchangeSortOrder(const std::vector<int>& keys) {
  const size_t n = keys.size();
  std::vector<size_t> rows(n);
  for (size_t k = 0; k < n; ++k) rows[k] = k;
  if (n == 0) return rows;
  for (size_t j = 1; j < n; ++j)
    if (keys[rows[0]] > keys[rows[j]]) std::swap(rows[0], rows[j]);

  // Groups in increasing key order; relevances give at most 201 of them, so a flat list
  // walked from the front beats a tree.
  std::vector<std::pair<int, std::deque<size_t>>> groups;
  auto groupOf = [&groups](int key) -> std::deque<size_t>& {
    auto at = std::lower_bound(groups.begin(), groups.end(), key,
                               [](const auto& g, int k) { return g.first < k; });
    if (at == groups.end() || at->first != key) at = groups.insert(at, {key, {}});
    return at->second;
  };
  groupOf(keys[rows[0]]).push_back(rows[0]);
  for (size_t i = 1; i < n; ++i) {
    const int key = keys[rows[i]];
    for (auto& [groupKey, g] : groups) {
      if (groupKey >= key) break;
      if (g.size() > 1) {
        g.push_back(g.front());
        g.pop_front();
      }
    }
    groupOf(key).push_back(rows[i]);
  }

  std::vector<size_t> order;
  order.reserve(n);
  for (auto it = groups.rbegin(); it != groups.rend(); ++it)
    order.insert(order.end(), it->second.begin(), it->second.end());
  return order;
}

void TLinkQueue::Append(LinkRow row) {
  ++descriptions_[row.description];
  rows_.push_back(std::move(row));
}

void TLinkQueue::Remove(int index) {
  auto it = rows_.begin() + index;
  auto d = descriptions_.find(it->description);
  if (d != descriptions_.end() && --d->second <= 0) descriptions_.erase(d);
  rows_.erase(it);
}

void TLinkQueue::Clear() {
  rows_.clear();
  descriptions_.clear();
}

void TLinkQueue::Sort() {
  std::vector<int> keys;
  keys.reserve(rows_.size());
  for (const auto& r : rows_) keys.push_back(r.relevance);
  ApplyOrder(rows_, ExchangeSortOrder(keys));
}

bool TLinkQueue::DescriptionKnown(std::string_view description) const {
  return descriptions_.find(std::string(description)) != descriptions_.end();
}

void TKnownUrls::Add(std::string_view url) { keys_.insert(AnsiUpperCase(url)); }

bool TKnownUrls::Contains(std::string_view url) const { return keys_.count(AnsiUpperCase(url)) > 0; }

}  // namespace zibu
