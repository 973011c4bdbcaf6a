// Column widths that keep a table's proportions and fill exactly its visible width, so no
// horizontal scroll bar appears and no header is cut.
#pragma once

#include <vector>

class QTableView;

namespace zibu {

// Widths for `visible` pixels shared by `weights`; a column never gets less than its entry in
// `minimums` (missing entries: 0) while the minimums fit, the others keep their proportions, and
// the widths add up to `visible` exactly. When even the minimums do not fit, the weights alone.
std::vector<int> FitColumnWidths(int visible, const std::vector<int>& weights,
                                 const std::vector<int>& minimums = {});

// Applies FitColumnWidths to a table's viewport, each column at least as wide as its header.
void FitColumnsToView(QTableView* table, const std::vector<int>& weights);

}  // namespace zibu
