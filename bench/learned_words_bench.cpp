// The learned-words window on a 20,000-word vocabulary (20 relationships a word), on the offscreen
// platform, beside its peer: a plain table of widget items, one per cell, filled with the same
// words, sorted by the table itself and searched by hiding rows.
//  - open: build the window with its copy of the words, show it, paint it;
//  - sort: by word, then by weight (two sorts a round);
//  - search: six keys typed into the search box ("W", "WA", "WAB", back to "").
// Run: build/bin/bench/learned_words_bench [--benchmark_filter=...].
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableWidget>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "common/ports.h"
#include "common/shortintmap.h"
#include "learning/engine.h"
#include "rating/learned_words_window.h"
#include "ui/qtext.h"

namespace {

using namespace zibu;

constexpr int kWords = 20000;
const char* const kKeys[] = {"W", "WA", "WAB", "WA", "W", ""};

LearningEngine& Vocabulary() {
  static SilentUserPort port;
  static LearningEngine* engine = [] {
    auto* e = new LearningEngine(port);
    std::mt19937 random(17);
    for (int i = 0; i < kWords; ++i) {
      std::string word = "W";
      for (int k = i; word.size() < 5; k /= 26) word += static_cast<char>('A' + k % 26);
      e->WordWeights().Add(word, static_cast<int8_t>(static_cast<int>(random() % 101) - 50));
    }
    e->RelTable().Reset(kWords);
    for (int i = 0; i < 20 * kWords; ++i) {
      const int a = static_cast<int>(random() % kWords), b = static_cast<int>(random() % kWords);
      const auto v = static_cast<int8_t>(static_cast<int>(random() % 101) - 50);
      e->RelTable().Set(a, b, v);
      e->RelTable().Set(b, a, v);
    }
    return e;
  }();
  return *engine;
}

// The peer: every cell a widget item.
std::unique_ptr<QTableWidget> ItemTable() {
  auto table = std::make_unique<QTableWidget>();
  const std::vector<LearnedWord> words = Vocabulary().LearnedWords();
  table->setColumnCount(2);
  table->setRowCount(static_cast<int>(words.size()));
  table->verticalHeader()->hide();
  for (size_t i = 0; i < words.size(); ++i) {
    table->setItem(static_cast<int>(i), 0, new QTableWidgetItem(ToQ(words[i].word)));
    auto* weight = new QTableWidgetItem;
    weight->setData(Qt::DisplayRole, words[i].weight);
    table->setItem(static_cast<int>(i), 1, weight);
  }
  table->resize(400, 500);
  return table;
}

void BM_Open_Window(benchmark::State& state) {
  Vocabulary();
  for (auto _ : state) {
    TfrmLearnedWords window(Vocabulary(), {});
    window.show();
    QApplication::processEvents();
  }
}
BENCHMARK(BM_Open_Window)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Open_ItemTable(benchmark::State& state) {
  Vocabulary();
  for (auto _ : state) {
    auto table = ItemTable();
    table->show();
    QApplication::processEvents();
  }
}
BENCHMARK(BM_Open_ItemTable)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Sort_Window(benchmark::State& state) {
  TfrmLearnedWords window(Vocabulary(), {});
  window.show();
  QApplication::processEvents();
  for (auto _ : state) {
    window.SortBy(0, Qt::AscendingOrder);
    QApplication::processEvents();
    window.SortBy(1, Qt::DescendingOrder);
    QApplication::processEvents();
  }
}
BENCHMARK(BM_Sort_Window)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Sort_ItemTable(benchmark::State& state) {
  auto table = ItemTable();
  table->show();
  QApplication::processEvents();
  for (auto _ : state) {
    table->sortItems(0, Qt::AscendingOrder);
    QApplication::processEvents();
    table->sortItems(1, Qt::DescendingOrder);
    QApplication::processEvents();
  }
}
BENCHMARK(BM_Sort_ItemTable)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Search_Window(benchmark::State& state) {
  TfrmLearnedWords window(Vocabulary(), {});
  window.show();
  QApplication::processEvents();
  for (auto _ : state) {
    for (const char* key : kKeys) {
      window.txtSearch->setText(key);
      QApplication::processEvents();
    }
  }
}
BENCHMARK(BM_Search_Window)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Search_ItemTable(benchmark::State& state) {
  auto table = ItemTable();
  table->show();
  QApplication::processEvents();
  for (auto _ : state) {
    for (const char* key : kKeys) {
      const QString needle(key);
      for (int r = 0; r < table->rowCount(); ++r)
        table->setRowHidden(r, !table->item(r, 0)->text().contains(needle, Qt::CaseInsensitive));
      QApplication::processEvents();
    }
  }
}
BENCHMARK(BM_Search_ItemTable)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
