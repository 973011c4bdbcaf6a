#include "spider/spider_window.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>
#include <utility>
#include <vector>

#include "common/codepage.h"
#include "common/text.h"
#include "http/fetch.h"
#include "spider/links.h"
#include "learning/engine.h"
#include "rating/why_window.h"
#include "ui/background_task.h"
#include "ui/column_fit.h"
#include "ui/dialogs.h"
#include "ui/qtext.h"
#include "ui/readable_colour.h"
#include "ui/status_log.h"

namespace zibu {

std::string SpiderRelevanceHint() {
  return "You can use this slider to indicate how relevant an web page needs to be before Zibu decides to "
         "show "
         "it to you.\r\n"
         "The program uses the feedback you have provided on the news feeds articles to estimate how "
         "relevant a "
         "particular page is.\r\n"
         "\r\n"
         "If you move the slider towards LOW, you will get lots of web page that may have little "
         "relevance.\r\n"
         "However, if you move the slider towards HIGH, Zibu will only show you web page it thinks are very "
         "relevant.\r\n"
         "Do not set it to either extreme though or you will get every single web page or none at all.\r\n"
         "Try starting off by setting it somewhere in the middle and adjusting it slowly.";
}

// A read-only three-column table over rows the crawl owns; the header is the grid's row 0.
class TSpiderTableModel : public QAbstractTableModel {
 public:
  // A cell's text held twice: single-byte, and in UTF-8 where it has a form of its own.
  using Cell = std::function<std::pair<std::string, std::string>(int row, int column)>;
  TSpiderTableModel(std::vector<QString> headers, std::function<int()> count, Cell cell, QObject* parent)
      : QAbstractTableModel(parent),
        headers_(std::move(headers)),
        count_(std::move(count)),
        cell_(std::move(cell)) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : count_();
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    const auto [single, utf8] = cell_(index.row(), index.column());
    return ToQ(single, utf8);
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < static_cast<int>(headers_.size()))
      return headers_[static_cast<size_t>(section)];
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  void Refresh() {
    beginResetModel();
    endResetModel();
  }

 private:
  std::vector<QString> headers_;
  std::function<int()> count_;
  Cell cell_;
};

namespace {

// Found pages: the selected row in the palette's highlight, the text word-wrapped piece by piece
// within its own cell.
class FoundPageCellDelegate : public QStyledItemDelegate {
 public:
  explicit FoundPageCellDelegate(QTableView* table) : QStyledItemDelegate(table), table_(table) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QModelIndex current = table_->currentIndex();
    const bool selected = current.isValid() && current.row() == index.row();
    const QColor gridColour = option.palette.color(QPalette::Base);
    const QRect r = option.rect;
    painter->save();
    // A long text wraps to more lines than the row is high: what does not fit stays in the cell
    // instead of running over the rows below.
    painter->setClipRect(r, Qt::IntersectClip);
    painter->setPen(gridColour);
    painter->setBrush(selected ? option.palette.color(QPalette::Highlight) : gridColour);
    painter->drawRect(r.adjusted(0, 0, -1, -1));

    // The theme's highlighted text, unless it is hard to read on the theme's highlight.
    const QColor highlight = option.palette.color(QPalette::Highlight);
    painter->setPen(selected ? ReadableOn(option.palette.color(QPalette::HighlightedText), highlight)
                             : option.palette.color(QPalette::Text));
    painter->setFont(option.font);
    const QFontMetrics fm(option.font);
    const QString text = index.data(Qt::DisplayRole).toString();
    int x = r.left();
    int y = r.top();
    qsizetype start = 0;
    while (start < text.size() && y <= r.bottom()) {
      const qsizetype space = text.indexOf(' ', start);
      const qsizetype end = space < 0 ? text.size() : space + 1;  // each piece keeps its blank
      const QString piece = text.mid(start, end - start);
      start = end;
      const int w = fm.horizontalAdvance(piece);
      // A piece wider than the whole cell starts it all the same, rather than leaving a line empty.
      if (x > r.left() && x + w > r.right() + 1) {
        x = r.left();
        y += fm.height();
      }
      painter->drawText(x, y + fm.ascent(), piece);
      x += w;
    }
    painter->restore();
  }

 private:
  QTableView* table_;
};

QTableView* NewGrid(QWidget* parent, const char* name) {
  auto* grid = new QTableView(parent);
  grid->setObjectName(name);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->verticalHeader()->hide();
  grid->horizontalHeader()->setHighlightSections(false);
  grid->setWordWrap(false);
  return grid;
}

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

}  // namespace

// The crawl's status lines and yields. The crawl is driven by events, so a yield handles none: it
// only notices the program's shutdown.
class TfrmSpider::Port : public UserPort {
 public:
  explicit Port(TfrmSpider& window) : window_(window) {}
  void Log(const std::string& message, bool verbose) override { window_.Log(message, verbose); }
  void ShowProgress(const std::string&, int) override {}
  void HideProgress() override {}
  void ShowMessage(const std::string& text) override { zibu::ShowMessage(text); }
  bool AskYesNo(const std::string& text) override { return zibu::AskYesNo(text); }
  void ProcessMessagesPaced() override {
    // The main frame is closing: the crawl ends at this checkpoint.
    if (window_.shutdownRequested()) window_.crawl_->stop();
  }

 private:
  TfrmSpider& window_;
};

TfrmSpider::TfrmSpider(FramePort* frame, QWidget* parent) : QWidget(parent), frame_(frame) {
  setObjectName("frmSpider");
  setWindowTitle("Spider");
  setAttribute(Qt::WA_DeleteOnClose);
  resize(760, 560);

  port_ = std::make_unique<Port>(*this);
  SpiderView& view = *this;
  crawl_ = std::make_unique<TSpiderCrawl>(
      *port_, view, [this](std::string_view text) { return engine_ ? engine_->GetRelevance(text) : 0; });
  download_ = std::make_unique<BackgroundTask>();

  // ---- top panel: address, buttons, current page, slider, check boxes ----
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(4, 4, 4, 4);
  auto* pnlTop = Named(new QWidget(this), "pnlTop");
  auto* top = new QGridLayout(pnlTop);
  top->setContentsMargins(0, 0, 0, 0);

  txtStartingAddress = Named(new QLineEdit(ToQ(kDefaultStartingAddress), pnlTop), "txtStartingAddress");
  txtStartingAddress->setToolTip(
      "This is the web page to start on - Zibu will start by scanning all the links on this page and "
      "following "
      "the ones that appear to be the most relevant.");
  btnStart = Named(new QPushButton("&Start", pnlTop), "btnStart");
  btnStart->setToolTip("Start scanning at the specified web page");
  btnStart->setDefault(true);
  btnStop = Named(new QPushButton("S&top", pnlTop), "btnStop");
  btnStop->setToolTip("Stop scanning");
  btnPause = Named(new QPushButton("Pa&use", pnlTop), "btnPause");
  btnPause->setToolTip("Pause scanning - you can then resume scanning where you left off");
  // Wide enough for a site's whole front-page address, whatever the window's width.
  txtStartingAddress->setMinimumWidth(
      txtStartingAddress->fontMetrics().horizontalAdvance(QString(kDefaultStartingAddress)) + 16);
  txtStartingAddress->setAccessibleName("Starting address");
  auto* lblStartingAddress = new QLabel("Starting address", pnlTop);
  lblStartingAddress->setBuddy(txtStartingAddress);
  top->addWidget(lblStartingAddress, 0, 0);
  top->addWidget(txtStartingAddress, 0, 1, 1, 3);
  auto* buttons = new QHBoxLayout();
  buttons->addWidget(btnStart);
  buttons->addWidget(btnStop);
  buttons->addWidget(btnPause);
  top->addLayout(buttons, 0, 4);

  top->addWidget(new QLabel("Current page:", pnlTop), 1, 0);
  pnlCurrentPage_ = Named(new QWidget(pnlTop), "pnlCurrentPage");
  lblCurrentPage = Named(new QLabel("None", pnlCurrentPage_), "lblCurrentPage");
  lblCurrentPageDescription = Named(new QLabel(pnlCurrentPage_), "lblCurrentPageDescription");
  pnlCurrentPage_->setMinimumHeight(lblCurrentPage->sizeHint().height());
  pnlCurrentPage_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  top->addWidget(pnlCurrentPage_, 1, 1, 1, 4);

  lblShowRelevance = Named(new QLabel("Show pages with relevance:  LOW", pnlTop), "lblShowRelevance");
  tbShowRelevance = Named(new QSlider(Qt::Horizontal, pnlTop), "tbShowRelevance");
  tbShowRelevance->setRange(0, 100);
  tbShowRelevance->setValue(20);
  tbShowRelevance->setPageStep(1);
  tbShowRelevance->setTickPosition(QSlider::TicksBelow);
  tbShowRelevance->setTickInterval(10);
  tbShowRelevance->setAccessibleName("Show pages with relevance");
  lblShowRelevance->setBuddy(tbShowRelevance);
  Label6 = Named(new QLabel("HIGH", pnlTop), "Label6");
  top->addWidget(lblShowRelevance, 2, 0);
  top->addWidget(tbShowRelevance, 2, 1, 1, 2);
  top->addWidget(Label6, 2, 3);

  cbSearchOffsiteLinks = Named(new QCheckBox("Search Offsite Links", pnlTop), "cbSearchOffsiteLinks");
  cbSearchOffsiteLinks->setChecked(true);
  cbSearchOffsiteLinks->setToolTip("Search links that are on other websites");
  cbSearchHigherLinks = Named(new QCheckBox("Search higher level links", pnlTop), "cbSearchHigherLinks");
  cbSearchHigherLinks->setChecked(true);
  cbSearchHigherLinks->setToolTip(
      "Search pages on this site that are higher than the current page - for example, if the current page is "
      "http://www.example.com/news/world/index.html, the news section http://www.example.com/news/ is "
      "higher");
  cbShowLinks = Named(new QCheckBox("Show links", pnlTop), "cbShowLinks");
  cbShowLinks->setToolTip("Whether to show the list of links being scanned");
  lblPagesChecked = Named(new QLabel("Pages checked:0", pnlTop), "lblPagesChecked");
  auto* boxes = new QHBoxLayout();
  boxes->addWidget(cbSearchOffsiteLinks);
  boxes->addWidget(cbSearchHigherLinks);
  boxes->addWidget(cbShowLinks);
  boxes->addStretch(1);
  boxes->addWidget(lblPagesChecked);
  top->addLayout(boxes, 3, 0, 1, 5);
  top->setColumnStretch(1, 1);
  root->addWidget(pnlTop);

  // ---- middle: link queue above found pages; then the status panel ----
  auto* Splitter1 = Named(new QSplitter(Qt::Vertical, this), "Splitter1");
  pnlHolder = Named(new QWidget(Splitter1), "pnlHolder");
  auto* holderLayout = new QVBoxLayout(pnlHolder);
  holderLayout->setContentsMargins(0, 0, 0, 0);
  Splitter2 = Named(new QSplitter(Qt::Vertical, pnlHolder), "Splitter2");
  holderLayout->addWidget(Splitter2);

  pnlFoundLinks = Named(new QWidget(Splitter2), "pnlFoundLinks");
  auto* linksLayout = new QVBoxLayout(pnlFoundLinks);
  linksLayout->setContentsMargins(0, 0, 0, 0);
  auto* linksBar = new QHBoxLayout();
  lblLinksFound = Named(new QLabel("Links found:", pnlFoundLinks), "lblLinksFound");
  btnOpenLink = Named(new QPushButton("Open &Link", pnlFoundLinks), "btnOpenLink");
  btnOpenLink->setToolTip("Open the selected link in your web browser");
  linksBar->addWidget(lblLinksFound);
  linksBar->addStretch(1);
  linksBar->addWidget(btnOpenLink);
  linksLayout->addLayout(linksBar);
  sgLinksFound = NewGrid(pnlFoundLinks, "sgLinksFound");
  sgLinksFound->setAccessibleName("Links found");
  linksLayout->addWidget(sgLinksFound);

  pnlFoundPages = Named(new QWidget(Splitter2), "pnlFoundPages");
  auto* pagesLayout = new QVBoxLayout(pnlFoundPages);
  pagesLayout->setContentsMargins(0, 0, 0, 0);
  auto* pagesBar = new QHBoxLayout();
  lblPagesFound = Named(new QLabel("Pages found:", pnlFoundPages), "lblPagesFound");
  btnOpenPage = Named(new QPushButton("Open &page", pnlFoundPages), "btnOpenPage");
  btnOpenPage->setToolTip("Open the selected page in your web browser");
  btnWhy = Named(new QPushButton("W&hy?", pnlFoundPages), "btnWhy");
  btnWhy->setToolTip("Why the selected page was found: the words that raised or lowered its relevance");
  lblPageStanding = Named(new QLabel(pnlFoundPages), "lblPageStanding");
  lblPageStanding->setTextFormat(Qt::PlainText);
  lblPageStanding->setToolTip(
      "Where the selected page's relevance stands among the articles and pages I have scored lately: a few per "
      "cent can be a high relevance");
  pagesBar->addWidget(lblPagesFound);
  pagesBar->addSpacing(12);
  pagesBar->addWidget(lblPageStanding, 1);
  pagesBar->addWidget(btnWhy);
  pagesBar->addWidget(btnOpenPage);
  pagesLayout->addLayout(pagesBar);
  sgPagesFound = NewGrid(pnlFoundPages, "sgPagesFound");
  sgPagesFound->setAccessibleName("Pages found");
  sgPagesFound->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  sgPagesFound->verticalHeader()->setDefaultSectionSize(100);
  pagesLayout->addWidget(sgPagesFound);
  Splitter2->setChildrenCollapsible(false);

  auto* pnlStatus = Named(new QWidget(Splitter1), "pnlStatus");
  auto* statusLayout = new QVBoxLayout(pnlStatus);
  statusLayout->setContentsMargins(0, 0, 0, 0);
  auto* lblStatus = new QLabel("Status", pnlStatus);
  statusLayout->addWidget(lblStatus);
  txtResults = Named(new QPlainTextEdit(pnlStatus), "txtResults");
  txtResults->setAccessibleName("Status");
  lblStatus->setBuddy(txtResults);
  statusLayout->addWidget(txtResults);
  Splitter1->setStretchFactor(0, 3);
  Splitter1->setStretchFactor(1, 1);
  root->addWidget(Splitter1, 1);

  // Tab walks the window as it reads: left to right along each row, the rows top to bottom; the
  // tables leave Tab to the window and move between rows with the arrow keys.
  sgLinksFound->setTabKeyNavigation(false);
  sgPagesFound->setTabKeyNavigation(false);
  const std::vector<QWidget*> tabOrder = {
      txtStartingAddress,  btnStart,    btnStop,     btnPause,     tbShowRelevance, cbSearchOffsiteLinks,
      cbSearchHigherLinks, cbShowLinks, btnOpenLink, sgLinksFound, btnWhy,          btnOpenPage,
      sgPagesFound,        txtResults};
  for (size_t i = 1; i < tabOrder.size(); ++i) QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

  status_ = std::make_unique<StatusLog>(txtResults, [this] {
    if (verbose_) return verbose_();
    return frame_ != nullptr && frame_->Settings().verboseOutput;
  });

  const TLinkQueue& queue = crawl_->links();
  linksModel_ = new TSpiderTableModel(
      {"URL", "Description", "Relevance (%)"}, [&queue] { return queue.Count(); },
      [&queue](int row, int column) {
        const LinkRow& r = queue.Row(row);
        if (column == 1) return std::make_pair(r.description, r.descriptionUtf8);
        if (column == 0) return std::make_pair(r.url, SpiderAddressShown(r.url));
        return std::make_pair(std::to_string(r.relevance), std::string());
      },
      this);
  sgLinksFound->setModel(linksModel_);
  const std::vector<FoundPage>& found = crawl_->foundPages();
  pagesModel_ = new TSpiderTableModel(
      {"URL", "Text", "Relevance (%)"}, [&found] { return static_cast<int>(found.size()); },
      [&found](int row, int column) {
        const FoundPage& p = found[static_cast<size_t>(row)];
        if (column == 1) return std::make_pair(p.text, p.textUtf8);
        if (column == 0) return std::make_pair(p.url, SpiderAddressShown(p.url));
        return std::make_pair(std::to_string(p.relevance), std::string());
      },
      this);
  sgPagesFound->setModel(pagesModel_);
  sgPagesFound->setItemDelegate(new FoundPageCellDelegate(sgPagesFound));
  // The highlighted row follows the current row.
  connect(sgPagesFound->selectionModel(), &QItemSelectionModel::currentChanged, sgPagesFound->viewport(),
          [this] { sgPagesFound->viewport()->update(); });
  connect(sgPagesFound->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { showPageStanding(); });

  // The column widths follow the panels, which the layouts size after this window's own resize.
  pnlFoundLinks->installEventFilter(this);
  pnlFoundPages->installEventFilter(this);
  sgLinksFound->viewport()->installEventFilter(this);
  sgPagesFound->viewport()->installEventFilter(this);

  connect(btnStart, &QPushButton::clicked, this, &TfrmSpider::btnStartClick);
  connect(btnStop, &QPushButton::clicked, this, &TfrmSpider::btnStopClick);
  connect(btnPause, &QPushButton::clicked, this, &TfrmSpider::btnPauseClick);
  connect(cbShowLinks, &QCheckBox::clicked, this, &TfrmSpider::cbShowLinksClick);
  connect(btnOpenPage, &QPushButton::clicked, this, &TfrmSpider::btnOpenPageClick);
  connect(btnOpenLink, &QPushButton::clicked, this, &TfrmSpider::btnOpenLinkClick);
  connect(btnWhy, &QPushButton::clicked, this, &TfrmSpider::btnWhyClick);

  FormCreate();
}

TfrmSpider::~TfrmSpider() {
  if (busy_) QApplication::restoreOverrideCursor();
}

void TfrmSpider::FormCreate() {
  crawl_->SetRandomSource(ClockSeededRandom());
  setGui(true);
  setColWidths();
  lblCurrentPageDescription->clear();
  const QString hint = ToQ(SpiderRelevanceHint());
  lblShowRelevance->setToolTip(hint);
  tbShowRelevance->setToolTip(hint);
  Label6->setToolTip(hint);
  cbShowLinksClick();
}

void TfrmSpider::setGui(bool idle) {
  const bool paused = crawl_->paused();
  btnStart->setEnabled(idle && !paused);
  btnStop->setEnabled(!idle && !paused);
  btnPause->setEnabled(!idle);
}

void TfrmSpider::setColWidths() {
  // 30, 60 and 10 per cent of what the table shows, the relevance column at least as wide as its
  // header: columns as wide as the panel spilled past the table's frame and scroll bar.
  for (QTableView* grid : {sgLinksFound, sgPagesFound}) FitColumnsToView(grid, {30, 60, 10});
}

void TfrmSpider::btnStartClick() {
  if (crawl_->running()) return;
  // The crawl goes on from the events of its downloads; this handler returns at once.
  try {
    crawl_->start(FromQ(txtStartingAddress->text()), *this);
  } catch (const std::exception& e) {
    Log("Error: " + ErrorClassName(e) + ": " + e.what());
  }
}

void TfrmSpider::btnStopClick() {
  crawl_->stop();
  // The download out now is abandoned; its failure brings the crawl to its end.
  download_->Cancel();
}

void TfrmSpider::btnPauseClick() {
  crawl_->togglePause();
}

void TfrmSpider::cbShowLinksClick() {
  const bool show = cbShowLinks->isChecked();
  pnlFoundLinks->setVisible(show);
  if (show) {
    // Each panel gets half of the holder; the found pages start one pixel below the middle.
    const int h = pnlHolder->height();
    const int handle = Splitter2->handleWidth();
    Splitter2->setSizes({h / 2 + 1 - handle, h - (h / 2 + 1)});
  }
  setColWidths();
}

namespace {

// The browser gets the address the spider downloaded: bytes beyond ASCII, which the page gave in
// its own encoding, would otherwise be read as Windows-1252 characters and make another address.
void OpenAddress(StatusLog& log, const std::string& url) {
  const std::string shown = SpiderAddressShown(url);
  if (shown.empty())
    log.Log("Opening " + url);
  else
    log.LogUtf8("Opening " + shown);
  OpenUrl(IsAscii(url) ? url : SpiderRequestAddress(url));
}

}  // namespace

void TfrmSpider::btnOpenPageClick() {
  const QModelIndex current = sgPagesFound->currentIndex();
  if (!current.isValid()) {
    ShowMessage("Please select a page!");
    return;
  }
  const std::string url = crawl_->foundPages()[static_cast<size_t>(current.row())].url;
  OpenAddress(*status_, url);
}

void TfrmSpider::btnWhyClick() {
  const QModelIndex current = sgPagesFound->currentIndex();
  if (!current.isValid()) {
    ShowMessage("Please select a page!");
    return;
  }
  if (!engine_) return;
  const FoundPage& page = crawl_->foundPages()[static_cast<size_t>(current.row())];
  WhySubject why;
  why.reason = "Page relevance=" + std::to_string(page.relevance) + "%";
  why.text = page.scoredText;
  why.foundRelevance = page.relevance;
  // One explanation at a time: a long page lets events run while it is worked out, and the crawl
  // may sort the found pages meanwhile (the subject is a copy).
  btnWhy->setEnabled(false);
  OpenWhyWindow(this, why,
                [engine = engine_](const std::string& text) { return engine->ExplainRelevance(text); });
  btnWhy->setEnabled(true);
}

void TfrmSpider::btnOpenLinkClick() {
  const QModelIndex current = sgLinksFound->currentIndex();
  if (!current.isValid()) {
    ShowMessage("Please select a link!");
    return;
  }
  const std::string url = crawl_->links().Row(current.row()).url;
  OpenAddress(*status_, url);
}

void TfrmSpider::Log(const std::string& message, bool verbose) {
  status_->Log(message, verbose);
}

void TfrmSpider::closeEvent(QCloseEvent* event) {
  // A running crawl is stopped first (its download abandoned); the window closes once it has
  // ended with its usual last line.
  if (crawl_->running()) {
    closeRequested_ = true;
    btnStopClick();
    event->ignore();
    return;
  }
  event->accept();
}

void TfrmSpider::closeNow() {
  closeRequested_ = false;
  // Both close with deferred deletion, so nothing is freed under the caller's feet.
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
    sub->close();
  else
    close();
}

void TfrmSpider::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  setColWidths();
  placeCurrentPageLabels();
}

bool TfrmSpider::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize &&
      (watched == pnlFoundLinks || watched == pnlFoundPages || watched == sgLinksFound->viewport() ||
       watched == sgPagesFound->viewport()))
    setColWidths();
  return QWidget::eventFilter(watched, event);
}

void TfrmSpider::keyPressEvent(QKeyEvent* event) {
  // Start is the default button and Stop the cancel button.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && btnStart->isEnabled()) {
    btnStart->click();
    return;
  }
  if (event->key() == Qt::Key_Escape && btnStop->isEnabled()) {
    btnStop->click();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TfrmSpider::placeCurrentPageLabels() {
  lblCurrentPage->adjustSize();
  lblCurrentPage->move(0, 0);
  lblCurrentPageDescription->adjustSize();
  lblCurrentPageDescription->move(lblCurrentPage->x() + lblCurrentPage->width() + 20, 0);
}

void TfrmSpider::setBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

int TfrmSpider::ShowRelevance() const {
  return tbShowRelevance->value();
}

bool TfrmSpider::SearchOffsiteLinks() const {
  return cbSearchOffsiteLinks->isChecked();
}

bool TfrmSpider::SearchHigherLinks() const {
  return cbSearchHigherLinks->isChecked();
}

void TfrmSpider::SetPauseCaption(const std::string& caption) {
  // Alt+U pauses and resumes alike: the letter stays where the caption changes.
  const size_t u = caption.find('u');
  btnPause->setText(ToQ(u == std::string::npos ? caption : caption.substr(0, u) + "&" + caption.substr(u)));
}

void TfrmSpider::HoldFeeds() {
  if (scans_) scans_->HoldScans();
}

void TfrmSpider::ReleaseFeeds() {
  // After the frame has begun to close, the feeds timer stays off.
  if (scans_ && !shutdownRequested()) scans_->ReleaseScans();
}

void TfrmSpider::CurrentPageChanged() {
  lblCurrentPage->setText(ToQ(crawl_->currentAddress(), SpiderAddressShown(crawl_->currentAddress())));
  lblCurrentPageDescription->setText(ToQ(crawl_->currentDescription(), crawl_->currentDescriptionUtf8()));
  placeCurrentPageLabels();
}

void TfrmSpider::PagesCheckedChanged(int count) {
  lblPagesChecked->setText(QString("Pages checked:%1").arg(count));
}

void TfrmSpider::LinkQueueChanged() {
  linksModel_->Refresh();
}

void TfrmSpider::FoundPagesChanged() {
  pagesModel_->Refresh();
  showPageStanding();
}

void TfrmSpider::showPageStanding() {
  const QModelIndex current = sgPagesFound->currentIndex();
  const std::vector<FoundPage>& found = crawl_->foundPages();
  if (!current.isValid() || current.row() >= static_cast<int>(found.size())) {
    lblPageStanding->clear();
    return;
  }
  const FoundPage& page = found[static_cast<size_t>(current.row())];
  lblPageStanding->setText(ToQ(RelevanceStandingLine(page.relevance, page.standing)));
}

void TfrmSpider::SetEngine(LearningEngine* engine, const Clock* clock) {
  engine_ = engine;
  crawl_->SetRecentScores(engine ? &engine->RecentScores() : nullptr, clock ? clock : &systemClock_);
}

void TfrmSpider::CountsChanged(int links, int pages) {
  lblLinksFound->setText(QString("Links found (%1)").arg(links));
  lblPagesFound->setText(QString("Pages found (%1)").arg(pages));
}

void TfrmSpider::CrawlEnded() {
  // Closed during the crawl: now it may close, from the event loop rather than from under the
  // crawl's last call.
  if (closeRequested_) QTimer::singleShot(0, this, [this] { closeNow(); });
}

void TfrmSpider::BeginDownload(const std::string& address) {
  // The response's charset, written by the worker before its outcome comes back as an event.
  auto charset = std::make_shared<std::string>();
  auto deliver = [this, charset](std::string page, std::exception_ptr error) {
    if (!error) {
      crawl_->downloadFinished(std::move(page), *charset);
      return;
    }
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      crawl_->downloadFailed(e);
    }
  };
  if (fetch_) {
    // The stand-in downloads on this thread, from the event loop, and its outcome comes back as
    // one more event, after whatever the user did meanwhile.
    QTimer::singleShot(0, this, [this, address, deliver] {
      std::string page;
      std::exception_ptr error;
      try {
        page = fetch_(address);
      } catch (...) {
        error = std::current_exception();
      }
      QTimer::singleShot(
          0, this, [page = std::move(page), error, deliver]() mutable { deliver(std::move(page), error); });
    });
    return;
  }
  HttpOptions options;
  options.proxy = frame_ ? frame_->Settings().proxy : ProxySettings{};
  if (frame_) options.extraCaFile = frame_->Settings().caFile;
  download_->Start(
      [address, options, charset](const std::atomic<bool>& cancel) {
        HttpOptions cancellable = options;
        cancellable.cancel = &cancel;
        HttpResponse response = HttpGetResponse(SpiderRequestAddress(address), cancellable);
        *charset = CharsetOf(response.contentType);
        return std::move(response.body);
      },
      deliver);
}

}  // namespace zibu
