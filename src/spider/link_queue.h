// The spider's tables as plain data: the queue of links still to visit, the addresses already
// queued in this crawl, the pages found, and the exchange ordering both tables are sorted by.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zibu {

// The order the classic exchange procedure leaves rows in:
//   for i in 1..n: for j in 1..n: if key[i] > key[j] swap rows i and j
// Result[k] is the original index of the row that ends at position k; keys end in decreasing
// order, and rows of equal key end in exactly the order that procedure gives them (which is not
// stable). Computed in O(n * distinct keys) rather than the procedure's n * n comparisons.
std::vector<size_t> ExchangeSortOrder(const std::vector<int>& keys);

// Applies an order from ExchangeSortOrder to a vector of rows.
template <typename Row>
void ApplyOrder(std::vector<Row>& rows, const std::vector<size_t>& order) {
  std::vector<Row> sorted;
  sorted.reserve(rows.size());
  for (size_t k : order) sorted.push_back(std::move(rows[k]));
  rows = std::move(sorted);
}

// One queued link. The relevance is that of its description, computed once when it is queued.
struct LinkRow {
  std::string url;
  std::string description;
  int relevance = 0;
  // The description in UTF-8 with the characters of the page's own charset, for showing; empty
  // where it is the single-byte description itself.
  std::string descriptionUtf8 = {};
};

// One page listed as found: its address, the "description- excerpt" text and its relevance.
struct FoundPage {
  std::string url;
  std::string text;
  int relevance = 0;
  std::string scoredText;  // the page's plain text its relevance was computed on, for "Why?"
  // Where its relevance stood among the recent scores when it was found ("" for none).
  std::string standing;
  // The text in UTF-8 with the characters of the pages' own charsets, for showing; empty where
  // it is the single-byte text itself.
  std::string textUtf8 = {};
};

// The link queue. Rows are numbered from 0 here (the grid shows row k as its data row k + 1).
// Descriptions are indexed so that a page with thousands of links is not checked against the
// whole queue for each one.
class TLinkQueue {
 public:
  int Count() const { return static_cast<int>(rows_.size()); }
  const LinkRow& Row(int index) const { return rows_[static_cast<size_t>(index)]; }
  const std::vector<LinkRow>& Rows() const { return rows_; }

  void Append(LinkRow row);
  // Removes one row; the rows below move up by one.
  void Remove(int index);
  void Clear();
  // Highest relevance first, by the exchange procedure.
  void Sort();
  // Whether a queued row has exactly this description (case-sensitive, whole text).
  bool DescriptionKnown(std::string_view description) const;

 private:
  std::vector<LinkRow> rows_;
  std::unordered_map<std::string, int> descriptions_;  // description -> rows holding it
};

// Addresses queued in this crawl, compared without regard to letter case; duplicates are ignored.
class TKnownUrls {
 public:
  void Add(std::string_view url);
  bool Contains(std::string_view url) const;
  int Count() const { return static_cast<int>(keys_.size()); }
  void Clear() { keys_.clear(); }

 private:
  std::unordered_set<std::string> keys_;  // upper-cased
};

}  // namespace zibu
