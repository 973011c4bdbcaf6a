#include "rating/learned_words_window.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStringListModel>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "common/errors.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "rating/why_window.h"
#include "ui/accessible.h"
#include "ui/dialogs.h"
#include "ui/qtext.h"
#include "ui/readable_colour.h"

namespace zibu {

namespace {

std::string Signed(int n) {
  return (n > 0 ? "+" : "") + std::to_string(n);
}

// How many relationships of the selected word are listed.
constexpr int kRelationshipsShown = 20;
// How often the window looks whether ratings have changed what it lists.
constexpr int kChangeCheckMs = 1000;

}  // namespace

// The shown words: a read-only two-column table over the window's filtered copy.
class TLearnedWordsModel : public QAbstractTableModel {
 public:
  explicit TLearnedWordsModel(QObject* parent) : QAbstractTableModel(parent) {}

  // The view's sorting (a click on a heading) comes here.
  std::function<void(int column, Qt::SortOrder order)> onSort;
  void sort(int column, Qt::SortOrder order) override {
    if (onSort) onSort(column, order);
  }

  void SetWords(std::vector<LearnedWord> words) {
    beginResetModel();
    words_ = std::move(words);
    endResetModel();
  }
  const std::vector<LearnedWord>& Words() const { return words_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(words_.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : 2;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(words_.size())) return {};
    const LearnedWord& w = words_[static_cast<size_t>(index.row())];
    switch (role) {
      case Qt::DisplayRole:
        return index.column() == 0 ? ToQ(w.word) : ToQ(Signed(w.weight));
      case Qt::ForegroundRole:
        if (index.column() == 1 && w.weight != 0) {
          // The application's palette now, so a change of theme shows at the next paint.
          const QPalette palette = QApplication::palette("QTableView");
          return w.weight > 0 ? RaisedColour(palette) : LoweredColour(palette);
        }
        return {};
      case Qt::TextAlignmentRole:
        if (index.column() == 1) return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
      default:
        return {};
    }
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return section == 0 ? "Word" : "Weight";
    return QAbstractTableModel::headerData(section, orientation, role);
  }

 private:
  std::vector<LearnedWord> words_;
};

CommonWordEntry ReadCommonWordEntry(const LearningEngine& engine, const std::string& typed) {
  // The word as a text would give it, whether or not it is common already.
  const std::vector<std::string> words =
      GetWordList(typed, engine.minWordLength(), engine.maxWordLength(), std::vector<std::string>());
  if (words.empty()) {
    return {"", "I read only words of " + std::to_string(engine.minWordLength()) + " to " +
                    std::to_string(engine.maxWordLength()) + " letters A to Z, so I ignore \"" + Trim(typed) +
                    "\" anyway."};
  }
  if (words.size() > 1) return {"", "Please type one word at a time."};
  if (InSortedList(words[0], engine.CommonWords()))
    return {words[0], words[0] + " is a common word already."};
  return {words[0], ""};
}

TfrmLearnedWords::TfrmLearnedWords(LearningEngine& engine, std::function<void(const std::string&)> log,
                                   QWidget* parent)
    : QWidget(parent, Qt::Window), engine_(engine), log_(std::move(log)) {
  setObjectName("frmLearnedWords");
  setWindowTitle("Learned words");
  resize(840, 600);
  AnnounceAsWindow(this);

  // Left: the search box, the count and the words.
  auto* left = new QWidget(this);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  auto* searchRow = new QHBoxLayout;
  auto* lblSearch = new QLabel("&Search:", left);
  txtSearch = new QLineEdit(left);
  txtSearch->setObjectName("txtSearch");
  txtSearch->setToolTip("Shows only the words that contain what you type");
  txtSearch->setClearButtonEnabled(true);
  lblSearch->setBuddy(txtSearch);
  searchRow->addWidget(lblSearch);
  searchRow->addWidget(txtSearch, 1);
  lblWordCount = new QLabel(left);
  lblWordCount->setObjectName("lblWordCount");
  model_ = new TLearnedWordsModel(this);
  sgWords = new QTableView(left);
  sgWords->setObjectName("sgWords");
  sgWords->setModel(model_);
  sgWords->setAccessibleName("Learned words");
  sgWords->setTabKeyNavigation(false);
  sgWords->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgWords->setSelectionMode(QAbstractItemView::SingleSelection);
  sgWords->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgWords->verticalHeader()->hide();
  sgWords->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  sgWords->verticalHeader()->setDefaultSectionSize(sgWords->fontMetrics().height() + 6);
  sgWords->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  sgWords->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  sgWords->horizontalHeader()->setSortIndicator(sortColumn_, sortOrder_);
  sgWords->setSortingEnabled(true);
  sgWords->setToolTip("Click a column's heading to sort by it");
  sgWords->setWordWrap(false);
  leftLayout->addLayout(searchRow);
  leftLayout->addWidget(lblWordCount);
  leftLayout->addWidget(sgWords, 1);

  // Right: the selected word, then the common words.
  auto* right = new QWidget(this);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  auto* gbSelected = new QGroupBox("Selected word", right);
  gbSelected->setObjectName("gbSelected");
  auto* selectedLayout = new QGridLayout(gbSelected);
  lblSelected = new QLabel(gbSelected);
  lblSelected->setObjectName("lblSelected");
  QFont bold = lblSelected->font();
  bold.setBold(true);
  lblSelected->setFont(bold);
  auto* lblWeight = new QLabel("&Weight:", gbSelected);
  txtWeight = new QSpinBox(gbSelected);
  txtWeight->setObjectName("txtWeight");
  txtWeight->setRange(-engine_.maxWordWeight(), engine_.maxWordWeight());
  txtWeight->setToolTip(ToQ("From -" + std::to_string(engine_.maxWordWeight()) + " (I never want this) to +" +
                            std::to_string(engine_.maxWordWeight()) + " (I always want this)"));
  lblWeight->setBuddy(txtWeight);
  btnSetWeight = new QPushButton("Set wei&ght", gbSelected);
  btnSetWeight->setObjectName("btnSetWeight");
  btnForget = new QPushButton("&Forget the word", gbSelected);
  btnForget->setObjectName("btnForget");
  btnForget->setToolTip("Forget its weight and every relationship it has with another word");
  btnMakeCommon = new QPushButton("Make it a co&mmon word", gbSelected);
  btnMakeCommon->setObjectName("btnMakeCommon");
  btnMakeCommon->setToolTip("Ignore this word in every text from now on");
  lblRelationships = new QLabel(gbSelected);
  lblRelationships->setObjectName("lblRelationships");
  sgRelationships = new QTableWidget(gbSelected);
  sgRelationships->setObjectName("sgRelationships");
  sgRelationships->setColumnCount(2);
  sgRelationships->setAccessibleName("Strongest relationships");
  sgRelationships->setHorizontalHeaderLabels({"With", "Value"});
  sgRelationships->verticalHeader()->hide();
  sgRelationships->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgRelationships->setSelectionMode(QAbstractItemView::NoSelection);
  sgRelationships->setFocusPolicy(Qt::NoFocus);
  sgRelationships->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  sgRelationships->verticalHeader()->setDefaultSectionSize(sgRelationships->fontMetrics().height() + 6);
  sgRelationships->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  sgRelationships->setMinimumHeight(sgRelationships->horizontalHeader()->sizeHint().height() +
                                    8 * sgRelationships->verticalHeader()->defaultSectionSize() + 4);
  sgRelationships->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  selectedLayout->addWidget(lblSelected, 0, 0, 1, 3);
  selectedLayout->addWidget(lblWeight, 1, 0);
  selectedLayout->addWidget(txtWeight, 1, 1);
  selectedLayout->addWidget(btnSetWeight, 1, 2);
  selectedLayout->addWidget(btnForget, 2, 0, 1, 2);
  selectedLayout->addWidget(btnMakeCommon, 2, 2);
  selectedLayout->addWidget(lblRelationships, 3, 0, 1, 3);
  selectedLayout->addWidget(sgRelationships, 4, 0, 1, 3);
  selectedLayout->setRowStretch(4, 1);
  selectedLayout->setColumnStretch(1, 1);

  auto* gbCommon = new QGroupBox("Common words", right);
  gbCommon->setObjectName("gbCommon");
  auto* commonLayout = new QVBoxLayout(gbCommon);
  lblCommonWords = new QLabel(gbCommon);
  lblCommonWords->setObjectName("lblCommonWords");
  commonModel_ = new QStringListModel(this);
  lbCommonWords = new QListView(gbCommon);
  lbCommonWords->setObjectName("lbCommonWords");
  lbCommonWords->setModel(commonModel_);
  lbCommonWords->setAccessibleName("Common words");
  lbCommonWords->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lbCommonWords->setUniformItemSizes(true);
  auto* addRow = new QHBoxLayout;
  txtCommonWord = new QLineEdit(gbCommon);
  txtCommonWord->setObjectName("txtCommonWord");
  txtCommonWord->setToolTip("A word to ignore in every text from now on");
  txtCommonWord->setAccessibleName("New common word");
  btnAddCommonWord = new QPushButton("&Add", gbCommon);
  btnAddCommonWord->setObjectName("btnAddCommonWord");
  addRow->addWidget(txtCommonWord, 1);
  addRow->addWidget(btnAddCommonWord);
  commonLayout->addWidget(lblCommonWords);
  commonLayout->addWidget(lbCommonWords, 1);
  commonLayout->addLayout(addRow);

  rightLayout->addWidget(gbSelected, 3);
  rightLayout->addWidget(gbCommon, 2);

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(left);
  splitter->addWidget(right);
  splitter->setChildrenCollapsible(false);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 1);
  btnClose = new QPushButton("&Close", this);
  btnClose->setObjectName("btnClose");
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(splitter, 1);
  outer->addWidget(btnClose, 0, Qt::AlignRight);

  tmrChanges = new QTimer(this);
  tmrChanges->setObjectName("tmrChanges");
  tmrChanges->setInterval(kChangeCheckMs);

  connect(txtSearch, &QLineEdit::textChanged, this, [this] { txtSearchChange(); });
  connect(sgWords->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { ShowSelected(); });
  connect(btnSetWeight, &QPushButton::clicked, this, &TfrmLearnedWords::btnSetWeightClick);
  connect(txtWeight, &QSpinBox::editingFinished, this, [this] {
    // Enter in the box sets the weight; leaving it does not.
    if (txtWeight->hasFocus()) btnSetWeightClick();
  });
  connect(btnForget, &QPushButton::clicked, this, &TfrmLearnedWords::btnForgetClick);
  connect(btnMakeCommon, &QPushButton::clicked, this, &TfrmLearnedWords::btnMakeCommonClick);
  connect(btnAddCommonWord, &QPushButton::clicked, this, &TfrmLearnedWords::btnAddCommonWordClick);
  connect(txtCommonWord, &QLineEdit::returnPressed, this, &TfrmLearnedWords::btnAddCommonWordClick);
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
  connect(tmrChanges, &QTimer::timeout, this, [this] {
    if (isVisible()) RefreshIfChanged();
  });
  tmrChanges->start();

  model_->onSort = [this](int column, Qt::SortOrder order) { SortBy(column, order); };
  Refresh();
}

TfrmLearnedWords::~TfrmLearnedWords() = default;

void TfrmLearnedWords::Log(const std::string& line) {
  if (log_) log_(line);
}

const std::vector<LearnedWord>& TfrmLearnedWords::ShownWords() const {
  return model_->Words();
}

void TfrmLearnedWords::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshIfChanged();
}

void TfrmLearnedWords::Refresh() {
  all_ = engine_.LearnedWords();
  wordsVersion_ = engine_.WordWeights().Version();
  tableVersion_ = engine_.RelTable().Version();
  ApplyOrder();
  ApplySearch();

  QStringList common;
  common.reserve(static_cast<qsizetype>(engine_.CommonWords().size()));
  for (const auto& w : engine_.CommonWords()) common << ToQ(w);
  commonModel_->setStringList(common);
  commonCount_ = engine_.CommonWords().size();
  lblCommonWords->setText(ToQ("I ignore these " + std::to_string(commonCount_) + " words in every text."));
}

void TfrmLearnedWords::RefreshIfChanged() {
  if (engine_.WordWeights().Version() != wordsVersion_ || engine_.CommonWords().size() != commonCount_) {
    Refresh();
  } else if (engine_.RelTable().Version() != tableVersion_) {
    tableVersion_ = engine_.RelTable().Version();
    ShowSelected();
  }
}

void TfrmLearnedWords::SortBy(int column, Qt::SortOrder order) {
  QHeaderView* header = sgWords->horizontalHeader();
  if (header->sortIndicatorSection() != column || header->sortIndicatorOrder() != order) {
    header->setSortIndicator(column, order);  // the view's sorting brings it back here
    return;
  }
  sortColumn_ = column;
  sortOrder_ = order;
  ApplyOrder();
  ApplySearch();
}

void TfrmLearnedWords::txtSearchChange() {
  ApplySearch();
}

void TfrmLearnedWords::ApplyOrder() {
  if (sortColumn_ == 0) {
    SortLearnedWords(all_, LearnedWordOrder::kByWord);
    if (sortOrder_ == Qt::DescendingOrder) std::reverse(all_.begin(), all_.end());
  } else {
    SortLearnedWords(all_, sortOrder_ == Qt::DescendingOrder ? LearnedWordOrder::kByWeightDescending
                                                             : LearnedWordOrder::kByWeightAscending);
  }
}

void TfrmLearnedWords::ApplySearch() {
  const std::string selected = SelectedWord();
  const int selectedRow = sgWords->currentIndex().row();
  model_->SetWords(FilterLearnedWords(all_, FromQ(txtSearch->text())));
  // The same word stays selected; a word that went leaves its place to the next one.
  if (!SelectWord(selected) && selectedRow >= 0 && model_->rowCount() > 0)
    sgWords->setCurrentIndex(model_->index(std::min(selectedRow, model_->rowCount() - 1), 0));
  ShowCount();
  ShowSelected();
}

void TfrmLearnedWords::ShowCount() {
  const size_t shown = model_->Words().size();
  const std::string total =
      std::to_string(all_.size()) + (all_.size() == 1 ? " learned word" : " learned words");
  lblWordCount->setText(ToQ(shown == all_.size() ? total : std::to_string(shown) + " of " + total));
}

std::string TfrmLearnedWords::SelectedWord() const {
  const QModelIndex current = sgWords->currentIndex();
  if (!current.isValid() || current.row() >= static_cast<int>(model_->Words().size())) return {};
  return model_->Words()[static_cast<size_t>(current.row())].word;
}

bool TfrmLearnedWords::SelectWord(const std::string& word) {
  if (word.empty()) return false;
  const auto& words = model_->Words();
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i].word == word) {
      const QModelIndex index = model_->index(static_cast<int>(i), 0);
      sgWords->setCurrentIndex(index);
      sgWords->scrollTo(index);
      return true;
    }
  }
  return false;
}

void TfrmLearnedWords::ShowSelected() {
  const std::string word = SelectedWord();
  for (QWidget* w : std::initializer_list<QWidget*>{txtWeight, btnSetWeight, btnForget, btnMakeCommon})
    w->setEnabled(!word.empty());
  sgRelationships->setRowCount(0);
  if (word.empty()) {
    lblSelected->setText("No word selected");
    txtWeight->clear();
    lblRelationships->clear();
    return;
  }
  lblSelected->setText(ToQ(word));
  txtWeight->setValue(model_->Words()[static_cast<size_t>(sgWords->currentIndex().row())].weight);
  const auto strongest = engine_.StrongestRelationships(word, kRelationshipsShown);
  lblRelationships->setText(ToQ(strongest.empty() ? "It has no relationship with another word yet."
                                                  : "Its strongest relationships:"));
  for (const auto& [other, value] : strongest) {
    const int row = sgRelationships->rowCount();
    sgRelationships->insertRow(row);
    auto* name = new QTableWidgetItem(ToQ(other));
    auto* cell = new QTableWidgetItem(ToQ(Signed(value)));
    cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QTableWidgetItem* item : {name, cell})
      item->setForeground(value > 0 ? RaisedColour(sgRelationships->palette()) : LoweredColour(sgRelationships->palette()));
    sgRelationships->setItem(row, 0, name);
    sgRelationships->setItem(row, 1, cell);
  }
}

void TfrmLearnedWords::keyPressEvent(QKeyEvent* event) {
  // Escape closes the window, as its Close button does.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool TfrmLearnedWords::EngineFree() {
  if (!engine_.ScanRunning()) return true;
  ShowMessage(kLearnedDataBusyMessage);
  return false;
}

void TfrmLearnedWords::btnSetWeightClick() {
  const std::string word = SelectedWord();
  if (word.empty()) {
    ShowMessage("Please select a word!");
    return;
  }
  if (!EngineFree()) return;
  const int weight = txtWeight->value();
  try {
    if (!engine_.SetWordWeight(word, weight)) {
      ShowMessage("I do not know the word " + word + " any more.");
    } else {
      Log("Set the weight of " + word + " to " + std::to_string(weight));
    }
  } catch (const std::exception& e) {
    ShowMessage(ErrorText(e));
  }
  Refresh();
}

void TfrmLearnedWords::btnForgetClick() {
  const std::string word = SelectedWord();
  if (word.empty()) {
    ShowMessage("Please select a word!");
    return;
  }
  if (!EngineFree()) return;
  const int at = engine_.WordWeights().IndexOf(word);
  if (at < 0) {
    Refresh();
    return;
  }
  if (!AskYesNo("Forget " + word + "? I will lose its weight (" + Signed(engine_.WordWeights().ValueAt(at)) +
                ") and every relationship it has with another word.\r\n\r\nIf it comes up again in an "
                "article you rate, I will learn it afresh."))
    return;
  // The question let events run: a scan may have begun meanwhile.
  if (!EngineFree()) return;
  try {
    if (engine_.ForgetWord(word)) Log("Forgot the word " + word);
  } catch (const std::exception& e) {
    ShowMessage(ErrorText(e));
  }
  Refresh();
}

void TfrmLearnedWords::btnMakeCommonClick() {
  const std::string word = SelectedWord();
  if (word.empty()) {
    ShowMessage("Please select a word!");
    return;
  }
  AddCommonWord(word);
}

void TfrmLearnedWords::btnAddCommonWordClick() {
  AddCommonWord(FromQ(txtCommonWord->text()));
}

void TfrmLearnedWords::AddCommonWord(const std::string& typed) {
  const CommonWordEntry entry = ReadCommonWordEntry(engine_, typed);
  if (!entry.problem.empty()) {
    ShowMessage(entry.problem);
    return;
  }
  if (!EngineFree()) return;
  const int at = engine_.WordWeights().IndexOf(entry.word);
  std::string question =
      "Add " + entry.word + " to the common words? I will ignore it in every text from now on";
  if (at >= 0)
    question += ", and forget what I have learned about it: its weight (" +
                Signed(engine_.WordWeights().ValueAt(at)) +
                ") and every relationship it has with another word.";
  else
    question += ".";
  if (!AskYesNo(question)) return;
  if (!EngineFree()) return;
  try {
    if (engine_.AddCommonWord(entry.word)) {
      Log("Added " + entry.word + " to the common words" +
          (at >= 0 ? " and forgot what I had learned of it" : ""));
      txtCommonWord->clear();
    }
  } catch (const std::exception& e) {
    ShowMessage("I could not add " + entry.word + " to the common words: " + ErrorText(e));
  }
  Refresh();
}

}  // namespace zibu
