#include "rating/reading_window.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFontMetrics>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "common/codepage.h"
#include "learning/recent_scores.h"
#include "rating/standing_label.h"
#include "rating/why_window.h"
#include "ui/accessible.h"
#include "ui/qtext.h"

namespace zibu {

QVariant TArticlePreview::loadResource(int, const QUrl&) {
  // A feed's images, style sheets and frames would be fetched from anywhere the feed names,
  // the user's own files included; the preview shows the text, and the browser shows the rest.
  return {};
}

// The listed articles, one row each: marks, title, feed, date, relevance, rating.
class TArticleListModel : public QAbstractTableModel {
 public:
  enum Column { Marks, Title, Feed, Date, Relevance, Rating, ColumnCount };

  TArticleListModel(std::function<std::string(const std::string&)> feedName, QObject* parent)
      : QAbstractTableModel(parent), feedName_(std::move(feedName)) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : static_cast<int>(rows.size()); }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : ColumnCount; }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const names[] = {"", "Title", "Feed", "Date", "Relevance", "Rating"};
    return QString::fromLatin1(names[section]);
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(rows.size())) return {};
    const StoredArticle& a = rows[static_cast<size_t>(index.row())];
    if (role == Qt::FontRole && !a.read) {
      QFont bold;
      bold.setBold(true);
      return bold;
    }
    if (role == Qt::TextAlignmentRole && (index.column() == Relevance || index.column() == Rating))
      return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::AccessibleTextRole && index.column() == Marks)
      return QString::fromUtf8((a.read ? "" : "unread ") + std::string(a.starred ? "starred" : ""));
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (index.column()) {
      case Marks:
        return QString::fromUtf8((a.read ? std::string("  ") : std::string("\u25CF ")) +
                                 (a.starred ? "\u2605" : ""));
      case Title:
        return ToQ(a.title, a.titleUtf8);
      case Feed:
        return QString::fromStdString(feedName_ ? feedName_(a.feed) : a.feed);
      case Date:
        // Time stamps count local time from 1970: read as UTC they give the local wall clock.
        return QDateTime::fromMSecsSinceEpoch(a.published, Qt::UTC).toString("yyyy-MM-dd HH:mm");
      case Relevance:
        return QString("%1 %").arg(a.relevance);
      case Rating:
        return a.rating ? QString::number(a.rating) : QString();
    }
    return {};
  }

  // The list comes a page at a time, as the view scrolls towards its end.
  bool canFetchMore(const QModelIndex& parent) const override { return !parent.isValid() && more && !exhausted; }
  void fetchMore(const QModelIndex& parent) override {
    if (parent.isValid() || !more || exhausted) return;
    std::vector<StoredArticle> page = more(static_cast<int>(rows.size()));
    exhausted = page.size() < static_cast<size_t>(kPage);
    if (page.empty()) return;
    beginInsertRows({}, static_cast<int>(rows.size()), static_cast<int>(rows.size() + page.size()) - 1);
    for (auto& a : page) rows.push_back(std::move(a));
    endInsertRows();
  }
  static constexpr int kPage = 500;
  std::function<std::vector<StoredArticle>(int offset)> more;
  bool exhausted = true;

  int RowOf(int64_t id) const {
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].id == id) return static_cast<int>(i);
    return -1;
  }
  void Set(std::vector<StoredArticle> list) {
    beginResetModel();
    exhausted = list.size() < static_cast<size_t>(kPage);
    rows = std::move(list);
    endResetModel();
  }
  void Changed(int row) { emit dataChanged(index(row, 0), index(row, ColumnCount - 1)); }

  std::vector<StoredArticle> rows;

 private:
  std::function<std::string(const std::string&)> feedName_;
};

namespace {

QString Escaped(const std::string& utf8) { return QString::fromStdString(utf8).toHtmlEscaped(); }

QString DateText(int64_t ms) {
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString("dddd d MMMM yyyy, HH:mm");
}

}  // namespace

TfrmReadingList::TfrmReadingList(ReadingListServices services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
  setObjectName("frmReadingList");
  setWindowTitle("Reading list");
  BuildControls();
  AnnounceAsWindow(this);
  FillFeedFilter();
  Reload();
}

TfrmReadingList::~TfrmReadingList() {
  // A rating the user set just before closing is still a rating.
  try {
    CommitRating();
  } catch (const std::exception& e) {
    if (services_.log) services_.log(e.what());
  }
}

void TfrmReadingList::BuildControls() {
  auto* outer = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout();
  auto* lblSearch = new QLabel("&Search:", this);
  txtSearch = new QLineEdit(this);
  txtSearch->setObjectName("txtSearch");
  txtSearch->setAccessibleName("Search articles");
  txtSearch->setPlaceholderText("words, \"a phrase\", prefix*");
  txtSearch->setClearButtonEnabled(true);
  lblSearch->setBuddy(txtSearch);
  cbShow = new QComboBox(this);
  cbShow->setObjectName("cbShow");
  cbShow->setAccessibleName("Show");
  cbShow->addItems({"All", "Unread", "Starred", "Rated"});
  auto* lblShow = new QLabel("Sho&w:", this);
  lblShow->setBuddy(cbShow);
  cbFeed = new QComboBox(this);
  cbFeed->setObjectName("cbFeed");
  cbFeed->setAccessibleName("Feed or folder");
  cbFeed->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cbFeed->setMinimumContentsLength(16);
  auto* lblFeed = new QLabel("&Feed:", this);
  lblFeed->setBuddy(cbFeed);
  cbSort = new QComboBox(this);
  cbSort->setObjectName("cbSort");
  cbSort->setAccessibleName("Sort by");
  cbSort->addItems({"Relevance", "Date"});
  auto* lblSort = new QLabel("Sort &by:", this);
  lblSort->setBuddy(cbSort);
  btnMarkAllRead = new QPushButton("Mark &all read", this);
  btnMarkAllRead->setObjectName("btnMarkAllRead");
  bar->addWidget(lblSearch);
  bar->addWidget(txtSearch, 2);
  bar->addWidget(lblShow);
  bar->addWidget(cbShow);
  bar->addWidget(lblFeed);
  bar->addWidget(cbFeed, 1);
  bar->addWidget(lblSort);
  bar->addWidget(cbSort);
  bar->addWidget(btnMarkAllRead);
  outer->addLayout(bar);

  auto* split = new QSplitter(Qt::Vertical, this);
  split->setObjectName("splArticles");
  auto* listPane = new QWidget(split);
  auto* listColumn = new QVBoxLayout(listPane);
  listColumn->setContentsMargins(0, 0, 0, 0);
  model_ = new TArticleListModel(services_.feedName, this);
  sgArticles = new QTableView(listPane);
  sgArticles->setObjectName("sgArticles");
  sgArticles->setAccessibleName("Articles");
  sgArticles->setModel(model_);
  sgArticles->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgArticles->setSelectionMode(QAbstractItemView::SingleSelection);
  sgArticles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgArticles->setTabKeyNavigation(false);
  sgArticles->setWordWrap(false);
  sgArticles->verticalHeader()->hide();
  sgArticles->verticalHeader()->setDefaultSectionSize(sgArticles->fontMetrics().height() + 6);
  auto* header = sgArticles->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setSectionResizeMode(TArticleListModel::Title, QHeaderView::Stretch);
  header->resizeSection(TArticleListModel::Marks, sgArticles->fontMetrics().horizontalAdvance("\u25CF \u2605 "));
  header->resizeSection(TArticleListModel::Feed, 160);
  QFont bold = sgArticles->font();
  bold.setBold(true);  // unread rows are bold
  header->resizeSection(TArticleListModel::Date, QFontMetrics(bold).horizontalAdvance("2026-12-10 19:30") + 16);
  header->resizeSection(TArticleListModel::Relevance, 80);
  header->resizeSection(TArticleListModel::Rating, 60);
  lblCount = new QLabel(listPane);
  lblCount->setObjectName("lblCount");
  listColumn->addWidget(sgArticles);
  listColumn->addWidget(lblCount);

  auto* previewPane = new QWidget(split);
  auto* previewColumn = new QVBoxLayout(previewPane);
  previewColumn->setContentsMargins(0, 0, 0, 0);
  txtPreview = new TArticlePreview(previewPane);
  txtPreview->setObjectName("txtPreview");
  txtPreview->setAccessibleName("Article");
  txtPreview->setOpenLinks(false);
  txtPreview->setOpenExternalLinks(false);
  lblStanding = NewStandingLabel(previewPane);
  pnlRate = new QWidget(previewPane);
  pnlRate->setObjectName("pnlRate");
  scale_.Build(pnlRate);
  auto* buttons = new QHBoxLayout();
  btnWhy = new QPushButton("W&hy?", previewPane);
  btnWhy->setObjectName("btnWhy");
  btnOpen = new QPushButton("&Open in browser", previewPane);
  btnOpen->setObjectName("btnOpen");
  btnStar = new QPushButton("S&tar", previewPane);
  btnStar->setObjectName("btnStar");
  buttons->addWidget(btnWhy);
  buttons->addStretch(1);
  buttons->addWidget(btnStar);
  buttons->addWidget(btnOpen);
  previewColumn->addWidget(txtPreview, 1);
  previewColumn->addWidget(lblStanding);
  previewColumn->addWidget(pnlRate);
  previewColumn->addLayout(buttons);
  split->addWidget(listPane);
  split->addWidget(previewPane);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  outer->addWidget(split, 1);

  tmrMarkRead = new QTimer(this);
  tmrMarkRead->setSingleShot(true);
  tmrSearch = new QTimer(this);
  tmrSearch->setSingleShot(true);
  tmrSearch->setInterval(200);
  tmrRate = new QTimer(this);
  tmrRate->setSingleShot(true);
  tmrRate->setInterval(800);

  connect(txtSearch, &QLineEdit::textChanged, tmrSearch, qOverload<>(&QTimer::start));
  connect(tmrSearch, &QTimer::timeout, this, [this] { Reload(); });
  connect(cbShow, &QComboBox::currentIndexChanged, this, [this] { Reload(); });
  connect(cbFeed, &QComboBox::currentIndexChanged, this, [this] { Reload(); });
  connect(cbSort, &QComboBox::currentIndexChanged, this, [this] { Reload(); });
  connect(btnMarkAllRead, &QPushButton::clicked, this, [this] { btnMarkAllReadClick(); });
  connect(btnStar, &QPushButton::clicked, this, [this] { btnStarClick(); });
  connect(btnOpen, &QPushButton::clicked, this, [this] { btnOpenClick(); });
  connect(btnWhy, &QPushButton::clicked, this, [this] { btnWhyClick(); });
  connect(sgArticles->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { SelectionChanged(); });
  connect(sgArticles, &QTableView::activated, this, [this] { btnOpenClick(); });
  connect(txtPreview, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
    QUrl base = txtPreview->document()->baseUrl();
    const std::string target = (base.isValid() ? base.resolved(url) : url).toString(QUrl::FullyEncoded).toStdString();
    if (services_.open) services_.open(target);
  });
  connect(tmrMarkRead, &QTimer::timeout, this, [this] {
    const int row = model_->RowOf(shownId_);
    if (row < 0 || model_->rows[static_cast<size_t>(row)].read) return;
    services_.store->SetRead({shownId_}, true);
    UpdateRow(shownId_);
  });
  for (QRadioButton* b : scale_.buttons)
    connect(b, &QRadioButton::toggled, this, [this](bool on) {
      if (on && !fillingScale_) tmrRate->start();
    });
  connect(tmrRate, &QTimer::timeout, this, [this] { CommitRating(); });

  // Keys of the list work wherever the focus is but in the text boxes.
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
  setTabOrder(txtSearch, cbShow);
  setTabOrder(cbShow, cbFeed);
  setTabOrder(cbFeed, cbSort);
  setTabOrder(cbSort, btnMarkAllRead);
  setTabOrder(btnMarkAllRead, sgArticles);
  setTabOrder(sgArticles, txtPreview);
  resize(1000, 680);
}

void TfrmReadingList::FillFeedFilter() {
  const QSignalBlocker block(cbFeed);
  cbFeed->clear();
  feedChoices_.clear();
  cbFeed->addItem("All feeds");
  feedChoices_.emplace_back();
  if (services_.feedFilters)
    for (const auto& f : services_.feedFilters()) {
      cbFeed->addItem(QString::fromStdString(f.label));
      feedChoices_.push_back(f.urls);
    }
}

ArticleQuery TfrmReadingList::CurrentQuery() const {
  ArticleQuery q;
  // The search index holds the display form: what the user typed, as UTF-8.
  q.search = txtSearch->text().toStdString();
  q.unreadOnly = cbShow->currentIndex() == 1;
  q.starredOnly = cbShow->currentIndex() == 2;
  q.ratedOnly = cbShow->currentIndex() == 3;
  const int feed = cbFeed->currentIndex();
  if (feed > 0 && static_cast<size_t>(feed) < feedChoices_.size()) {
    q.feeds = feedChoices_[static_cast<size_t>(feed)];
  }
  q.sort = cbSort->currentIndex() == 1 ? ArticleSort::Date : ArticleSort::Relevance;
  return q;
}

void TfrmReadingList::Reload() {
  if (!services_.store) return;
  const int64_t keep = SelectedId();
  // As many pages as are shown now, so the selection and the place in the list stay.
  const int pages = std::max<int>(1, (static_cast<int>(model_->rows.size()) + TArticleListModel::kPage - 1) /
                                         TArticleListModel::kPage);
  std::vector<StoredArticle> list;
  const ArticleQuery query = CurrentQuery();
  try {
    ArticleQuery first = query;
    first.limit = pages * TArticleListModel::kPage;
    list = services_.store->Query(first);
    counts_ = services_.store->CountMatching(query);
  } catch (const std::exception& e) {
    if (services_.log) services_.log(e.what());
  }
  TArticleStore* store = services_.store;
  model_->more = [store, query](int offset) {
    ArticleQuery page = query;
    page.limit = TArticleListModel::kPage;
    page.offset = offset;
    return store->Query(page);
  };
  {
    // The model's reset passes through "no row": the preview, the scale and the focus on it stay
    // as they are unless the article itself leaves the list.
    const QSignalBlocker quiet(sgArticles->selectionModel());
    model_->Set(std::move(list));
    const int row = model_->RowOf(keep);
    if (row >= 0) sgArticles->setCurrentIndex(model_->index(row, TArticleListModel::Title));
  }
  ShowCount();
  if (model_->RowOf(keep) >= 0) {
    sgArticles->scrollTo(sgArticles->currentIndex());
    if (shownId_ != keep) SelectionChanged();
    return;
  }
  if (!model_->rows.empty())
    sgArticles->setCurrentIndex(model_->index(0, TArticleListModel::Title));
  SelectionChanged();
}

bool TfrmReadingList::SelectArticle(int64_t id) {
  const int row = model_->RowOf(id);
  if (row < 0) return false;
  sgArticles->setCurrentIndex(model_->index(row, TArticleListModel::Title));
  sgArticles->scrollTo(model_->index(row, TArticleListModel::Title));
  if (shownId_ != id) SelectionChanged();
  return true;
}

int64_t TfrmReadingList::SelectedId() const {
  const QModelIndex current = sgArticles->currentIndex();
  if (!current.isValid() || current.row() >= static_cast<int>(model_->rows.size())) return 0;
  return model_->rows[static_cast<size_t>(current.row())].id;
}

const std::vector<StoredArticle>& TfrmReadingList::Listed() const { return model_->rows; }

void TfrmReadingList::SelectionChanged() {
  const int64_t id = SelectedId();
  if (id == shownId_) return;
  CommitRating();
  tmrMarkRead->stop();
  std::optional<StoredArticle> article;
  if (id) {
    try {
      article = services_.store->Get(id);
    } catch (const std::exception& e) {
      if (services_.log) services_.log(e.what());
    }
  }
  ShowPreview(article ? &*article : nullptr);
  if (article && !article->read && services_.markReadDelayMs >= 0) tmrMarkRead->start(services_.markReadDelayMs);
}

void TfrmReadingList::ShowPreview(const StoredArticle* a) {
  shownId_ = a ? a->id : 0;
  shownRating_ = a ? a->rating : 0;
  negativeDigit_ = false;
  for (QWidget* w : std::initializer_list<QWidget*>{pnlRate, btnWhy, btnOpen, btnStar}) w->setEnabled(a != nullptr);
  fillingScale_ = true;
  scale_.SetRating(shownRating_);
  fillingScale_ = false;
  if (!a) {
    txtPreview->setHtml(QString());
    lblStanding->hide();
    return;
  }
  btnStar->setText(a->starred ? "Uns&tar" : "S&tar");
  const std::string feed = services_.feedName ? services_.feedName(a->feed) : a->feed;
  QString html = QString("<h2><a href=\"%1\">%2</a></h2><p><i>%3 &middot; %4</i></p><hr>")
                     .arg(QString::fromStdString(a->link).toHtmlEscaped(),
                          Escaped(DisplayUtf8(a->title, a->titleUtf8)), Escaped(feed), DateText(a->published));
  // The content as the feed gave it; the preview fetches nothing it names.
  html += QString::fromUtf8(a->content.data(), static_cast<qsizetype>(a->content.size()));
  txtPreview->document()->setBaseUrl(QUrl(QString::fromStdString(a->base.empty() ? a->link : a->base)));
  txtPreview->setHtml(html);
  const std::string standing = services_.standing ? services_.standing(a->relevance) : std::string();
  lblStanding->setText(ToQ(RelevanceStandingLine(a->relevance, standing)));
  lblStanding->setVisible(!standing.empty());
}

void TfrmReadingList::UpdateRow(int64_t id) {
  const int row = model_->RowOf(id);
  if (row < 0) return;
  auto fresh = services_.store->Get(id);
  if (!fresh) return;
  StoredArticle& kept = model_->rows[static_cast<size_t>(row)];
  const bool wasRead = kept.read;
  kept.read = fresh->read;
  kept.starred = fresh->starred;
  kept.rating = fresh->rating;
  kept.relevance = fresh->relevance;
  if (kept.read != wasRead) counts_.second += kept.read ? -1 : 1;
  model_->Changed(row);
  ShowCount();
  if (id == shownId_) btnStar->setText(fresh->starred ? "Uns&tar" : "S&tar");
}

void TfrmReadingList::CommitRating() {
  tmrRate->stop();
  if (!shownId_) return;
  const int rating = scale_.GetRating();
  if (rating == shownRating_) return;
  if (services_.rate) services_.rate(shownId_, rating);
  shownRating_ = rating;
  UpdateRow(shownId_);
}

void TfrmReadingList::btnMarkAllReadClick() {
  // Every article the filters and the search list, loaded into the view or not.
  try {
    const std::vector<int64_t> ids = services_.store->UnreadIdsMatching(CurrentQuery());
    if (ids.empty()) return;
    services_.store->SetRead(ids, true);
  } catch (const std::exception& e) {
    if (services_.log) services_.log(e.what());
    return;
  }
  for (auto& a : model_->rows) a.read = true;
  if (!model_->rows.empty())
    emit model_->dataChanged(model_->index(0, 0), model_->index(static_cast<int>(model_->rows.size()) - 1,
                                                                TArticleListModel::ColumnCount - 1));
  counts_.second = 0;
  ShowCount();
}

void TfrmReadingList::ShowCount() {
  lblCount->setText(QString("%1 articles, %2 unread").arg(counts_.first).arg(counts_.second));
}

void TfrmReadingList::ToggleRead() {
  const int row = model_->RowOf(shownId_);
  if (row < 0) return;
  tmrMarkRead->stop();
  services_.store->SetRead({shownId_}, !model_->rows[static_cast<size_t>(row)].read);
  UpdateRow(shownId_);
}

void TfrmReadingList::btnStarClick() {
  const int row = model_->RowOf(shownId_);
  if (row < 0) return;
  services_.store->SetStarred(shownId_, !model_->rows[static_cast<size_t>(row)].starred);
  UpdateRow(shownId_);
}

void TfrmReadingList::btnOpenClick() {
  const int row = model_->RowOf(shownId_);
  if (row < 0 || !services_.open) return;
  services_.open(model_->rows[static_cast<size_t>(row)].link);
}

void TfrmReadingList::btnWhyClick() {
  auto a = shownId_ ? services_.store->Get(shownId_) : std::nullopt;
  if (!a || !services_.explain) return;
  WhySubject subject;
  subject.reason = "Relevance " + std::to_string(a->relevance) + "%";
  subject.text = a->text;
  subject.foundRelevance = a->relevance;
  OpenWhyWindow(this, subject, services_.explain);
}

void TfrmReadingList::MoveBy(int rows) {
  if (model_->rows.empty()) return;
  const int current = std::max(0, sgArticles->currentIndex().row());
  const int target = std::clamp(current + rows, 0, static_cast<int>(model_->rows.size()) - 1);
  sgArticles->setCurrentIndex(model_->index(target, TArticleListModel::Title));
}

void TfrmReadingList::PageOrNext() {
  QScrollBar* bar = txtPreview->verticalScrollBar();
  if (bar->value() < bar->maximum())
    bar->setValue(bar->value() + bar->pageStep());
  else
    MoveBy(1);
}

bool TfrmReadingList::ScaleHasFocus() const {
  QWidget* f = QApplication::focusWidget();
  return f && scale_.gbRelevance && (f == scale_.gbRelevance || scale_.gbRelevance->isAncestorOf(f));
}

bool TfrmReadingList::HandleScaleKey(QKeyEvent* key) {
  const int k = key->key();
  if (k == Qt::Key_Tab || k == Qt::Key_Backtab || k == Qt::Key_Escape) {
    // The scale is no trap: Tab, Shift+Tab and Escape all go back to the list.
    CommitRating();
    sgArticles->setFocus(Qt::TabFocusReason);
    return true;
  }
  if (k == Qt::Key_Minus) {
    negativeDigit_ = true;
    return true;
  }
  if (k >= Qt::Key_0 && k <= Qt::Key_9) {
    // 1..9 rate 1..9, 0 rates 10; after "-" the same, negative.
    const int value = k == Qt::Key_0 ? 10 : k - Qt::Key_0;
    scale_.SetRating(negativeDigit_ ? -value : value);
    negativeDigit_ = false;
    CommitRating();
    return true;
  }
  if (k == Qt::Key_Return || k == Qt::Key_Enter) {
    CommitRating();
    sgArticles->setFocus(Qt::OtherFocusReason);
    return true;
  }
  return false;
}

bool TfrmReadingList::HandleListKey(QKeyEvent* key) {
  const int k = key->key();
  const auto mods = key->modifiers() & ~Qt::KeypadModifier;
  if (k == Qt::Key_F && mods == Qt::ControlModifier) {
    txtSearch->setFocus(Qt::ShortcutFocusReason);
    txtSearch->selectAll();
    return true;
  }
  if (mods != Qt::NoModifier && mods != Qt::ShiftModifier) return false;
  switch (k) {
    case Qt::Key_J:
      MoveBy(1);
      return true;
    case Qt::Key_K:
      MoveBy(-1);
      return true;
    case Qt::Key_Space:
      PageOrNext();
      return true;
    case Qt::Key_O:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      btnOpenClick();
      return true;
    case Qt::Key_M:
      ToggleRead();
      return true;
    case Qt::Key_S:
      btnStarClick();
      return true;
    case Qt::Key_Slash:
      txtSearch->setFocus(Qt::ShortcutFocusReason);
      txtSearch->selectAll();
      return true;
    case Qt::Key_R:
      // One key to the scale; its checked button takes the focus, arrows and digits set it.
      if (shownId_) {
        for (QRadioButton* b : scale_.buttons)
          if (b->isChecked()) b->setFocus(Qt::ShortcutFocusReason);
      }
      return true;
    default:
      return false;
  }
}

bool TfrmReadingList::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (ScaleHasFocus()) {
      if (HandleScaleKey(key)) return true;
    } else if (watched == txtSearch) {
      if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
          key->key() == Qt::Key_Down) {
        tmrSearch->stop();
        Reload();
        sgArticles->setFocus(Qt::OtherFocusReason);
        return true;
      }
    } else if ((watched == sgArticles || watched == txtPreview || watched == txtPreview->viewport()) &&
               HandleListKey(key)) {
      // Buttons, boxes and lists of choices keep their own keys.
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace zibu
