// TfrmLearnedWords: what Zibu has learned, to see and correct. Every learned word with its weight,
// sortable and searchable, the strongest relationships of the selected word, setting its weight
// or forgetting it, and the common words, which the user may extend. A view over a copy of the
// engine's words (tens of thousands of them), taken again whenever the learned data has changed.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "learning/engine.h"

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSpinBox;
class QStringListModel;
class QTableView;
class QTableWidget;
class QTimer;

namespace zibu {

class TLearnedWordsModel;

// The words an entry of the common-word box stands for, and what to tell the user when it is
// not exactly one new common word.
struct CommonWordEntry {
  std::string word;     // the word as texts are read (upper case, a plural "S" folded); "" if none
  std::string problem;  // "" when `word` may be added
};
CommonWordEntry ReadCommonWordEntry(const LearningEngine& engine, const std::string& typed);

class TfrmLearnedWords : public QWidget {
  Q_OBJECT

 public:
  // `log` writes a line to the status log of the window that opened this one.
  TfrmLearnedWords(LearningEngine& engine, std::function<void(const std::string&)> log,
                   QWidget* parent = nullptr);
  ~TfrmLearnedWords() override;

  // A new copy of the learned words and the common words; the search, the order and the
  // selected word stay.
  void Refresh();
  // Takes a new copy only when the learned data or the common words changed since the last.
  void RefreshIfChanged();
  void SortBy(int column, Qt::SortOrder order);
  void txtSearchChange();
  // The word of the selected row, "" when none is.
  std::string SelectedWord() const;
  // Selects the word's row when the list shows it; false otherwise.
  bool SelectWord(const std::string& word);
  // The words the list shows, in its order.
  const std::vector<LearnedWord>& ShownWords() const;

  void btnSetWeightClick();
  void btnForgetClick();
  void btnMakeCommonClick();
  void btnAddCommonWordClick();

  QLineEdit* txtSearch = nullptr;
  QLabel* lblWordCount = nullptr;
  QTableView* sgWords = nullptr;
  QLabel* lblSelected = nullptr;
  QSpinBox* txtWeight = nullptr;
  QPushButton* btnSetWeight = nullptr;
  QPushButton* btnForget = nullptr;
  QPushButton* btnMakeCommon = nullptr;
  QLabel* lblRelationships = nullptr;
  QTableWidget* sgRelationships = nullptr;
  QLabel* lblCommonWords = nullptr;
  QListView* lbCommonWords = nullptr;
  QLineEdit* txtCommonWord = nullptr;
  QPushButton* btnAddCommonWord = nullptr;
  QPushButton* btnClose = nullptr;
  QTimer* tmrChanges = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Sorts the copy in the order of the heading last clicked.
  void ApplyOrder();
  // Shows the words of the copy that contain the search text, in its order.
  void ApplySearch();
  void ShowSelected();
  void ShowCount();
  // False (after telling the user) while a relevance scan keeps the learned data still.
  bool EngineFree();
  // Adds a word to the common words after the user's confirmation.
  void AddCommonWord(const std::string& typed);
  void Log(const std::string& line);

  LearningEngine& engine_;
  std::function<void(const std::string&)> log_;
  TLearnedWordsModel* model_ = nullptr;
  QStringListModel* commonModel_ = nullptr;
  std::vector<LearnedWord> all_;  // the copy, in the current order
  int sortColumn_ = 1;
  Qt::SortOrder sortOrder_ = Qt::DescendingOrder;
  uint64_t wordsVersion_ = 0;
  uint64_t tableVersion_ = 0;
  size_t commonCount_ = 0;
};

// Said when a correction is asked for while a relevance is being worked out.
inline constexpr const char* kLearnedDataBusyMessage =
    "I am working out a relevance right now and cannot change what I have learned meanwhile. Please try "
    "again "
    "in a moment.";

}  // namespace zibu
