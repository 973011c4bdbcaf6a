#include "ui/column_fit.h"

#include <QHeaderView>
#include <QTableView>
#include <algorithm>
#include <numeric>

namespace zibu {

std::vector<int> FitColumnWidths(int visible, const std::vector<int>& weights,
                                 const std::vector<int>& minimums) {
  const size_t n = weights.size();
  std::vector<int> widths(n, 0);
  if (n == 0 || visible <= 0) return widths;
  std::vector<int> mins(n, 0);
  for (size_t i = 0; i < n && i < minimums.size(); ++i) mins[i] = std::max(0, minimums[i]);
  const bool minimumsFit = std::accumulate(mins.begin(), mins.end(), 0) <= visible;

  // Columns held at their minimum drop out of the sharing, until every other one is above its own.
  std::vector<bool> held(n, false);
  for (bool changed = true; changed;) {
    changed = false;
    int free = visible;
    long long shares = 0;
    for (size_t i = 0; i < n; ++i) {
      if (held[i])
        free -= mins[i];
      else
        shares += std::max(0, weights[i]);
    }
    for (size_t i = 0; i < n; ++i) {
      if (held[i]) {
        widths[i] = mins[i];
        continue;
      }
      widths[i] =
          shares > 0 ? static_cast<int>(static_cast<long long>(free) * std::max(0, weights[i]) / shares) : 0;
      if (minimumsFit && widths[i] < mins[i]) {
        held[i] = true;
        changed = true;
      }
    }
  }
  // What integer division left over goes to the heaviest column that is not held.
  size_t heaviest = n;
  for (size_t i = 0; i < n; ++i)
    if (!held[i] && (heaviest == n || weights[i] > weights[heaviest])) heaviest = i;
  if (heaviest == n) heaviest = 0;
  widths[heaviest] += visible - std::accumulate(widths.begin(), widths.end(), 0);
  return widths;
}

void FitColumnsToView(QTableView* table, const std::vector<int>& weights) {
  QHeaderView* header = table->horizontalHeader();
  std::vector<int> minimums;
  for (int i = 0; i < static_cast<int>(weights.size()); ++i) minimums.push_back(header->sectionSizeHint(i));
  const std::vector<int> widths = FitColumnWidths(table->viewport()->width(), weights, minimums);
  for (int i = 0; i < static_cast<int>(widths.size()); ++i) table->setColumnWidth(i, widths[i]);
}

}  // namespace zibu
