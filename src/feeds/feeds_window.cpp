#include "feeds/feeds_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QSlider>
#include <QStyle>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>

#include "common/errors.h"
#include "common/file_io.h"
#include "common/settings.h"
#include "common/text.h"
#include "feeds/feed_config.h"
#include "feeds/feed_list.h"
#include "feeds/feeds_texts.h"
#include "feeds/learning_run.h"
#include "feeds/opml.h"
#include "feeds/scheduler.h"
#include "feeds/self_test.h"
#include "learning/engine.h"
#include "rating/learned_words_window.h"
#include "rating/multiplepagesfound_window.h"
#include "rating/pagefound_window.h"
#include "rules/keyword_rules.h"
#include "ui/accessible.h"
#include "ui/dialogs.h"
#include "ui/placement.h"
#include "ui/qtext.h"
#include "ui/status_log.h"
#include "ui/widget_helpers.h"
#include "ui/window_user_port.h"

namespace zibu {

namespace {

constexpr const char* kOpmlFilter = "OPML files (*.opml *.xml);;All files (*)";

// Hints are shown by the toolkit, which breaks lines at "\n" alone.
QString Hint(const std::string& text) {
  std::string s;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) s += text[i];
  return ToQ(s);
}

// Stops the feeds timer for a handler and starts it again on every way out.
class TimerHold {
 public:
  explicit TimerHold(TfrmFeeds& w) : w_(w) { w_.StopTimer(); }
  ~TimerHold() { w_.StartTimer(); }
  TimerHold(const TimerHold&) = delete;
  TimerHold& operator=(const TimerHold&) = delete;

 private:
  TfrmFeeds& w_;
};

QPushButton* Button(const char* caption, const char* hint, QWidget* parent) {
  auto* b = new QPushButton(QString::fromLatin1(caption), parent);
  if (hint) b->setToolTip(Hint(hint));
  return b;
}

}  // namespace

TfrmFeeds::TfrmFeeds(FeedsSession& session, ProgramPort& program, QWidget* parent)
    : QWidget(parent), session_(session), program_(program) {
  setObjectName("frmFeeds");
  setWindowTitle("RSS/Atom Feeds");
  AnnounceAsWindow(this);

  BuildControls();
  statusLog_ =
      std::make_unique<StatusLog>(txtResults, [this] { return forceVerbose_ || Settings().verboseOutput; });
  port_ = std::make_unique<WindowUserPort>([this](const std::string& m, bool v) { Log(m, v); }, &program_);
  port_->SetUtf8Log([this](const std::string& m, bool v) { statusLog_->LogUtf8(m, v); });

  // Creation, as the feeds window always began: nothing to cancel, the user counts as active
  // now, and the interval box holds the smallest interval.
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(60000);
  txtRefreshInterval->setText("60");
  lblRefreshInterval->setText(lblRefreshInterval->text() + "60" + ")");

  session_.AttachView(this);
  // Saves of scans and of the timer are written by a worker; its end is finished here.
  QPointer<TfrmFeeds> self(this);
  session_.SetBackgroundSaves([self] {
    if (self)
      QMetaObject::invokeMethod(
          self, [self] { if (self) self->session_.FinishSave(); }, Qt::QueuedConnection);
  });
  ShowFeedList(false);
  Touch();

  ConnectHandlers();
  session_.ShowSuggestion();
}

TfrmFeeds::~TfrmFeeds() {
  // A scan still running lends this window's controls: it ends here, its downloads abandoned.
  if (session_.View() == this) {
    session_.AbandonScan();
    // A save still on its worker is finished by the next blocking save (exit's).
    session_.SetBackgroundSaves({});
    session_.AttachView(nullptr);
  }
}

namespace {

// The room a screen leaves for the window inside its frame and title bar.
QSize RoomOn(const QScreen* screen) {
  if (!screen) return {};
  return screen->availableGeometry().size() - QSize(16, 40);
}

}  // namespace

// Holds the window's controls. Its smallest size is theirs, so no caption is ever cut; when the
// controls may scroll, it is as wide as they are (plus the scroll bar) but may be lower. The
// controls are given the height they need at the width they get: a sentence that wraps needs
// more lines in a narrow window.
class ControlsArea : public QScrollArea {
 public:
  explicit ControlsArea(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    // Sized here, not by the scroll area: it would give them their preferred height, not the
    // least they need.
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Not a stop of its own for Tab; the controls inside are.
    setFocusPolicy(Qt::NoFocus);
  }
  // The least height the controls need at a width.
  void SetHeightFor(std::function<int(int)> heightFor) { heightFor_ = std::move(heightFor); }
  int HeightFor(int width) const {
    const int least = widget() ? widget()->minimumSizeHint().height() : 0;
    return heightFor_ ? std::max(least, heightFor_(width)) : least;
  }
  void SetScrolls(bool scrolls) {
    scrolls_ = scrolls;
    setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    updateGeometry();
    FitControls();
  }
  bool Scrolls() const { return scrolls_; }
  int BarWidth() const { return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar()); }
  QSize minimumSizeHint() const override {
    if (!widget()) return {};
    const int width = widget()->minimumSizeHint().width();
    // At its narrowest the window needs the most lines.
    const int height = HeightFor(width);
    if (!scrolls_) return {width, height};
    return {width + BarWidth(), std::min(height, kLowest)};
  }
  QSize sizeHint() const override {
    const QSize controls = widget() ? widget()->sizeHint() : QSize();
    return scrolls_ ? controls + QSize(BarWidth(), 0) : controls;
  }
  // The controls as wide as the view (never narrower than they can be), as high as they need.
  void FitControls() {
    if (!widget()) return;
    const int width = std::max(viewport()->width(), widget()->minimumSizeHint().width());
    widget()->resize(width, std::max(viewport()->height(), HeightFor(width)));
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    FitControls();
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    // The controls' needs changed (a longer sentence, another arrangement).
    if (watched == widget() && event->type() == QEvent::LayoutRequest) {
      updateGeometry();
      QTimer::singleShot(0, this, [this] { FitControls(); });
    }
    return QScrollArea::eventFilter(watched, event);
  }

 private:
  // The lowest the window goes when its controls scroll: still a few lines of each part.
  static constexpr int kLowest = 200;
  std::function<int(int)> heightFor_;
  bool scrolls_ = false;
};

bool TfrmFeeds::Scrolls() const {
  return area_->Scrolls();
}

void TfrmFeeds::ArrangeControls(bool narrow) {
  for (QLayout* row : {static_cast<QLayout*>(urlRow_), static_cast<QLayout*>(searchRow_),
                       static_cast<QLayout*>(sliderRow_), static_cast<QLayout*>(suggestionRow_)}) {
    top_->removeItem(row);
    row->setParent(nullptr);
  }
  top_->removeWidget(rgResultsFormat);
  top_->addLayout(urlRow_, 0, 0);
  top_->addLayout(searchRow_, 1, 0);
  if (narrow) {
    top_->addLayout(sliderRow_, 2, 0);
    top_->addWidget(rgResultsFormat, 3, 0);
    top_->addLayout(suggestionRow_, 4, 0);
  } else {
    top_->addLayout(sliderRow_, 0, 1);
    top_->addWidget(rgResultsFormat, 1, 1);
    // The suggestion is a sentence: it gets the whole width under both columns.
    top_->addLayout(suggestionRow_, 2, 0, 1, 2);
  }
  intervalRow_->setDirection(narrow ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
  narrow_ = narrow;
}

void TfrmFeeds::FitInto(QSize room) {
  if (!room.isValid()) return;
  fittedRoom_ = room;
  QWidget* controls = area_->widget();
  // The sizes the controls need are known once the cached sizes of the panes and splitters they
  // are nested in have been dropped (the panes' layouts set no sizes of their own that could lag
  // behind).
  const auto settle = [controls] {
    for (QWidget* w : controls->findChildren<QWidget*>()) {
      if (w->layout()) w->layout()->invalidate();
      w->updateGeometry();
    }
    controls->layout()->invalidate();
  };
  ArrangeControls(false);
  settle();
  // Side by side, scrolling up and down takes the scroll bar's width too.
  const QSize sideBySide = controls->minimumSizeHint();
  const int bar = room.height() < area_->HeightFor(room.width()) ? area_->BarWidth() : 0;
  const bool narrow = room.width() < sideBySide.width() + bar;
  if (narrow) {
    ArrangeControls(true);
    settle();
  }
  area_->SetScrolls(room.height() < area_->HeightFor(room.width()));
  layout()->invalidate();
  layout()->activate();
  resize(size().boundedTo(room).expandedTo(minimumSizeHint()));
}

void TfrmFeeds::showEvent(QShowEvent* event) {
  // Moved to a screen of another size since the controls were arranged (or the screen changed).
  const QSize room = RoomOn(screen());
  if (room.isValid() && room != fittedRoom_) FitInto(room);
  QWidget::showEvent(event);
}

void TfrmFeeds::BuildControls() {
  resize(1000, 680);

  // Top: the address of a feed with the list commands, and the threshold on the right.
  lblAddFeedURL = new QLabel("&Feed URL", this);
  txtAddFeedURL = new QLineEdit(this);
  txtAddFeedURL->setObjectName("txtAddFeedURL");
  txtAddFeedURL->setToolTip(
      "Add a new feed to the list - enter the URL of the feed and click the Add button");
  txtAddFeedURL->setMinimumWidth(160);
  lblAddFeedURL->setBuddy(txtAddFeedURL);
  btnAddFeed = Button("&Add Feed", nullptr, this);
  btnDelete = Button("&Delete Feed", nullptr, this);
  btnOpenFeedInBrowser = Button("&Open Feed", "Opens the feed URL in the default browser", this);

  btnSearchAllFeeds = Button("&Search Act.", "Scan every active feed that is due now", this);
  btnSearchSelectedFeed = Button("Searc&h Sel.", "Scan the selected feed now", this);
  btnCancel = Button("&Cancel", "Cancel the current scan", this);
  btnCancel->setEnabled(false);
  btnLearn =
      Button("&Learn",
             "Shows all articles from the selected feed for you to rate by relevance, this allows Zibu to "
             "learn about the kind of articles you are interested in",
             this);
  btnReset = Button("&Reset", "Reset list of shown alerts, last refresh times etc.", this);
  btnLearnedWords = Button("Learned &words...",
                           "See the words Zibu has learned with their weights, and correct them", this);
  btnUnitTests = Button("Unit Tests", nullptr, this);
  btnCheckRel = Button("Check Rel", nullptr, this);
  btnUnitTests->setVisible(false);
  btnCheckRel->setVisible(false);

  lblShowRelevance = new QLabel("Show articles with relevance:  LOW", this);
  tbShowRelevance = new QSlider(Qt::Horizontal, this);
  tbShowRelevance->setObjectName("tbShowRelevance");
  tbShowRelevance->setRange(0, 100);
  tbShowRelevance->setValue(30);
  tbShowRelevance->setTickPosition(QSlider::TicksBelow);
  tbShowRelevance->setTickInterval(10);
  tbShowRelevance->setSingleStep(1);
  tbShowRelevance->setPageStep(10);
  tbShowRelevance->setMinimumWidth(120);
  tbShowRelevance->setAccessibleName("Show articles with relevance");
  lblShowRelevance->setBuddy(tbShowRelevance);
  lblShowRelevanceHigh = new QLabel("HIGH", this);
  // The threshold as a number: the slider alone cannot tell 30 from 35.
  lblShowRelevanceValue = new QLabel(this);
  lblShowRelevanceValue->setObjectName("lblShowRelevanceValue");
  lblShowRelevanceValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // As wide as the widest value, so that the row does not shift while the slider moves.
  lblShowRelevanceValue->setMinimumWidth(lblShowRelevanceValue->fontMetrics().horizontalAdvance("100%"));
  ShowThresholdValue();
  lblSuggestedThreshold = new QLabel(this);
  lblSuggestedThreshold->setWordWrap(true);
  lblSuggestedThreshold->setToolTip(
      "Read from how the articles you rated had scored just before you rated them; it changes as you rate more");
  // The caption the empty-scan advice names, with Alt+G.
  btnUseSuggestedThreshold =
      Button("Use su&ggestion", "Move the slider to the threshold your ratings suggest", this);
  btnUseSuggestedThreshold->setAccessibleName(kUseSuggestionCaption);
  btnUseSuggestedThreshold->setEnabled(false);
  for (QWidget* w : {static_cast<QWidget*>(lblShowRelevance), static_cast<QWidget*>(tbShowRelevance),
                     static_cast<QWidget*>(lblShowRelevanceHigh), static_cast<QWidget*>(lblShowRelevanceValue)})
    w->setToolTip(Hint(kThresholdHint));

  rgResultsFormat = new QGroupBox("Results format", this);
  rgResultsFormatButtons = new QButtonGroup(rgResultsFormat);
  auto* rbOneByOne = new QRadioButton("One-&by-one", rgResultsFormat);
  auto* rbTable = new QRadioButton("As a &table", rgResultsFormat);
  rgResultsFormatButtons->addButton(rbOneByOne, 0);
  rgResultsFormatButtons->addButton(rbTable, 1);
  rbOneByOne->setChecked(true);
  auto* rgLayout = new QHBoxLayout(rgResultsFormat);
  rgLayout->addWidget(rbOneByOne);
  rgLayout->addWidget(rbTable);
  rgLayout->addStretch(1);

  auto* top = new QGridLayout;
  top->setHorizontalSpacing(6);
  auto* urlRow = new QHBoxLayout;
  top_ = top;
  urlRow_ = urlRow;
  urlRow->addWidget(lblAddFeedURL);
  urlRow->addWidget(txtAddFeedURL, 1);
  urlRow->addWidget(btnAddFeed);
  urlRow->addWidget(btnDelete);
  urlRow->addWidget(btnOpenFeedInBrowser);
  auto* searchRow = new QHBoxLayout;
  searchRow_ = searchRow;
  searchRow->addWidget(btnSearchAllFeeds);
  searchRow->addWidget(btnSearchSelectedFeed);
  searchRow->addWidget(btnCancel);
  searchRow->addSpacing(12);
  searchRow->addWidget(btnLearn);
  searchRow->addWidget(btnReset);
  searchRow->addWidget(btnLearnedWords);
  searchRow->addWidget(btnUnitTests);
  searchRow->addWidget(btnCheckRel);
  searchRow->addStretch(1);
  auto* sliderRow = new QHBoxLayout;
  sliderRow_ = sliderRow;
  sliderRow->addWidget(lblShowRelevance);
  sliderRow->addWidget(tbShowRelevance, 1);
  sliderRow->addWidget(lblShowRelevanceHigh);
  sliderRow->addWidget(lblShowRelevanceValue);
  top->addLayout(urlRow, 0, 0);
  top->addLayout(searchRow, 1, 0);
  top->addLayout(sliderRow, 0, 1);
  top->addWidget(rgResultsFormat, 1, 1);
  // The suggestion is a sentence: it gets the whole width under both columns.
  auto* suggestionRow = new QHBoxLayout;
  suggestionRow_ = suggestionRow;
  suggestionRow->addWidget(lblSuggestedThreshold, 1);
  suggestionRow->addWidget(btnUseSuggestedThreshold, 0, Qt::AlignTop);
  top->addLayout(suggestionRow, 2, 0, 1, 2);
  // Extra width goes to the address box; the threshold column keeps its natural width.
  top->setColumnStretch(0, 1);
  top->setColumnStretch(1, 0);

  // Middle: the list on the left, the selected feed's details on the right.
  auto* listPane = new QWidget(this);
  lbFeeds = new QListWidget(listPane);
  lbFeeds->setObjectName("lbFeeds");
  // Ctrl and Shift pick several feeds at once, to delete them with one question.
  lbFeeds->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lbFeeds->setAccessibleName("Feeds");
  btnAllActive = Button("All Acti&ve", nullptr, listPane);
  btnAllInactive = Button("All i&nactive", nullptr, listPane);
  btnImportOpml =
      Button("Im&port...", "Add the feeds of an OPML file, as other feed readers export them", listPane);
  btnExportOpml =
      Button("E&xport...", "Save every feed in an OPML file, for another feed reader or a backup", listPane);
  auto* listLayout = new QVBoxLayout(listPane);
  listLayout->setSizeConstraint(QLayout::SetNoConstraint);
  listLayout->setContentsMargins(0, 0, 0, 0);
  auto* lblFeeds = new QLabel("F&eeds", listPane);
  lblFeeds->setBuddy(lbFeeds);
  listLayout->addWidget(lblFeeds);
  listLayout->addWidget(lbFeeds, 1);
  auto* allRow = new QHBoxLayout;
  allRow->addWidget(btnAllActive);
  allRow->addWidget(btnAllInactive);
  allRow->addStretch(1);
  allRow->addWidget(btnImportOpml);
  allRow->addWidget(btnExportOpml);
  listLayout->addLayout(allRow);

  auto* detailPane = new QWidget(this);
  cbActive = new QCheckBox("Act&ive", detailPane);
  cbActive->setToolTip("Toggle the active state of this feed - inactive feeds are not scanned");
  cbActive->setChecked(true);
  lblRefreshInterval = new QLabel("Refresh Interval (seconds, min ", detailPane);
  txtRefreshInterval = new QLineEdit(detailPane);
  txtRefreshInterval->setObjectName("txtRefreshInterval");
  txtRefreshInterval->setToolTip("How often to scan this feed");
  txtRefreshInterval->setMaximumWidth(110);
  lblRefreshInterval->setBuddy(txtRefreshInterval);
  cbCommonIntervals = new QComboBox(detailPane);
  cbCommonIntervals->setObjectName("cbCommonIntervals");
  cbCommonIntervals->setAccessibleName("Common intervals");
  cbCommonIntervals->setToolTip("This dropdown provides a list of useful common values");
  for (const auto& item : CommonIntervals()) cbCommonIntervals->addItem(ToQ(item));
  cbCommonIntervals->setMaxVisibleItems(static_cast<int>(CommonIntervals().size()));
  cbCommonIntervals->setCurrentIndex(-1);
  cbCommonIntervals->setVisible(false);
  // Keeps the row's height when the drop-down comes and goes.
  QSizePolicy keep = cbCommonIntervals->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  cbCommonIntervals->setSizePolicy(keep);
  lblKeywords = new QLabel("&Keywords", detailPane);
  txtKeywords = new QPlainTextEdit(detailPane);
  txtKeywords->setObjectName("txtKeywords");
  txtKeywords->setLineWrapMode(QPlainTextEdit::NoWrap);
  // Tab and Shift+Tab move on to the next control; a rule has no use for a tab character.
  txtKeywords->setTabChangesFocus(true);
  txtKeywords->setAccessibleName("Keywords");
  lblKeywords->setBuddy(txtKeywords);
  btnUpdate = Button("&Update", "Updates the details for the selected feed", detailPane);
  btnUpdate->setEnabled(false);

  auto* detailLayout = new QVBoxLayout(detailPane);
  detailLayout->setSizeConstraint(QLayout::SetNoConstraint);
  detailLayout->setContentsMargins(0, 0, 0, 0);
  detailLayout->addWidget(cbActive);
  // The label, and the box with its drop-down: beside it, or under it in a narrow window.
  intervalRow_ = new QBoxLayout(QBoxLayout::LeftToRight);
  intervalRow_->addWidget(lblRefreshInterval);
  auto* intervalBoxes = new QHBoxLayout;
  intervalBoxes->addWidget(txtRefreshInterval);
  intervalBoxes->addWidget(cbCommonIntervals);
  intervalBoxes->addStretch(1);
  intervalRow_->addLayout(intervalBoxes, 1);
  detailLayout->addLayout(intervalRow_);
  detailLayout->addWidget(lblKeywords);
  detailLayout->addWidget(txtKeywords, 1);
  auto* updateRow = new QHBoxLayout;
  updateRow->addStretch(1);
  updateRow->addWidget(btnUpdate);
  detailLayout->addLayout(updateRow);

  auto* middle = new QSplitter(Qt::Horizontal, this);
  middle->addWidget(listPane);
  middle->addWidget(detailPane);
  middle->setStretchFactor(0, 3);
  middle->setStretchFactor(1, 2);
  middle->setChildrenCollapsible(false);

  // Bottom: the status log.
  auto* statusPane = new QWidget(this);
  lblStatus = new QLabel("Status", statusPane);
  txtResults = new QPlainTextEdit(statusPane);
  txtResults->setObjectName("txtResults");
  txtResults->setAccessibleName("Status");
  lblStatus->setBuddy(txtResults);
  auto* statusLayout = new QVBoxLayout(statusPane);
  statusLayout->setSizeConstraint(QLayout::SetNoConstraint);
  statusLayout->setContentsMargins(0, 0, 0, 0);
  statusLayout->addWidget(lblStatus);
  statusLayout->addWidget(txtResults, 1);

  auto* vertical = new QSplitter(Qt::Vertical, this);
  vertical->addWidget(middle);
  vertical->addWidget(statusPane);
  vertical->setStretchFactor(0, 3);
  vertical->setStretchFactor(1, 2);
  vertical->setChildrenCollapsible(false);

  auto* controls = new QWidget(this);
  auto* outer = new QVBoxLayout(controls);
  outer->setSizeConstraint(QLayout::SetNoConstraint);
  // The margins of a window, as the controls had when they stood in it directly.
  outer->setContentsMargins(style()->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, this),
                            style()->pixelMetric(QStyle::PM_LayoutTopMargin, nullptr, this),
                            style()->pixelMetric(QStyle::PM_LayoutRightMargin, nullptr, this),
                            style()->pixelMetric(QStyle::PM_LayoutBottomMargin, nullptr, this));
  outer->addLayout(top);
  outer->addWidget(vertical, 1);
  area_ = new ControlsArea(this);
  area_->setWidget(controls);
  // Only the top rows hold a sentence that wraps; the rest needs the same height at any width.
  area_->SetHeightFor([this, controls, outer](int width) {
    const QMargins m = outer->contentsMargins();
    const int topLeast = top_->minimumSize().height();
    const int topNeeds = top_->hasHeightForWidth() ? top_->minimumHeightForWidth(width - m.left() - m.right()) : 0;
    return controls->minimumSizeHint().height() + std::max(0, topNeeds - topLeast);
  });
  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(0, 0, 0, 0);
  window->addWidget(area_);
  // Never larger than the screen, which a strong scaling makes small.
  FitInto(RoomOn(QGuiApplication::primaryScreen()));

  // Object names for every control, as the window has always called them.
  for (auto [w, name] : std::initializer_list<std::pair<QObject*, const char*>>{
           {btnAddFeed, "btnAddFeed"},
           {btnDelete, "btnDelete"},
           {btnOpenFeedInBrowser, "btnOpenFeedInBrowser"},
           {btnAllActive, "btnAllActive"},
           {btnAllInactive, "btnAllInactive"},
           {btnImportOpml, "btnImportOpml"},
           {btnExportOpml, "btnExportOpml"},
           {cbActive, "cbActive"},
           {lblRefreshInterval, "lblRefreshInterval"},
           {lblKeywords, "lblKeywords"},
           {btnUpdate, "btnUpdate"},
           {btnSearchAllFeeds, "btnSearchAllFeeds"},
           {btnSearchSelectedFeed, "btnSearchSelectedFeed"},
           {btnCancel, "btnCancel"},
           {btnLearn, "btnLearn"},
           {btnReset, "btnReset"},
           {btnLearnedWords, "btnLearnedWords"},
           {btnUnitTests, "btnUnitTests"},
           {btnCheckRel, "btnCheckRel"},
           {rgResultsFormat, "rgResultsFormat"},
           {rgResultsFormatButtons, "rgResultsFormatButtons"},
           {lblAddFeedURL, "lblAddFeedURL"},
           {lblShowRelevance, "lblShowRelevance"},
           {lblShowRelevanceHigh, "lblShowRelevanceHigh"},
           {lblSuggestedThreshold, "lblSuggestedThreshold"},
           {btnUseSuggestedThreshold, "btnUseSuggestedThreshold"},
           {lblStatus, "lblStatus"}})
    w->setObjectName(name);

  setTabOrder(txtAddFeedURL, btnAddFeed);
  setTabOrder(btnAddFeed, btnDelete);
  setTabOrder(btnDelete, btnOpenFeedInBrowser);
  setTabOrder(btnOpenFeedInBrowser, lbFeeds);
  setTabOrder(lbFeeds, cbActive);
  setTabOrder(cbActive, txtRefreshInterval);
  setTabOrder(txtRefreshInterval, cbCommonIntervals);
  setTabOrder(cbCommonIntervals, txtKeywords);
  setTabOrder(txtKeywords, btnUpdate);
}

void TfrmFeeds::ConnectHandlers() {
  connect(lbFeeds, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row < 0) return;
    if (FeedOfRow(row) < 0) {
      // A folder heading: the keys step on to the feed after it, or back to the one before.
      const int previous = RowOfFeed(lastSelectedFeed_);
      const int step = previous < 0 || row > previous ? 1 : -1;
      for (int r = row + step; r >= 0 && r < lbFeeds->count(); r += step)
        if (FeedOfRow(r) >= 0) {
          lbFeeds->setCurrentRow(r);
          return;
        }
      SelectRowQuietly(previous);
      return;
    }
    lastSelectedFeed_ = FeedOfRow(row);
    lbFeedsClick();
  });
  // A click on the empty part of the list must not leave the feed shown in the controls
  // unselected: only the handlers deselect.
  connect(lbFeeds, &QListWidget::itemSelectionChanged, this, [this] {
    if (lbFeeds->selectedItems().isEmpty() && lbFeeds->currentItem()) {
      const bool was = lbFeeds->blockSignals(true);
      lbFeeds->currentItem()->setSelected(true);
      lbFeeds->blockSignals(was);
    }
  });
  connect(txtAddFeedURL, &QLineEdit::textChanged, this, [this] { txtAddFeedURLChange(); });
  connect(txtAddFeedURL, &QLineEdit::returnPressed, this, [this] { btnAddFeedClick(); });
  connect(btnAddFeed, &QPushButton::clicked, this, [this] { btnAddFeedClick(); });
  connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(); });
  connect(btnAllActive, &QPushButton::clicked, this, [this] { SetAllActive(true); });
  connect(btnAllInactive, &QPushButton::clicked, this, [this] { SetAllActive(false); });
  connect(btnImportOpml, &QPushButton::clicked, this, [this] { btnImportOpmlClick(); });
  connect(btnExportOpml, &QPushButton::clicked, this, [this] { btnExportOpmlClick(); });
  connect(btnUpdate, &QPushButton::clicked, this, [this] { btnUpdateClick(); });
  connect(btnOpenFeedInBrowser, &QPushButton::clicked, this, [this] { btnOpenFeedInBrowserClick(); });
  // Toggled, not clicked: a programmatic change of state reacts too, as "All Active" relies on.
  connect(cbActive, &QCheckBox::toggled, this, [this] { cbActiveClick(); });
  connect(txtKeywords, &QPlainTextEdit::textChanged, this, [this] { txtKeywordsChange(); });
  connect(txtRefreshInterval, &QLineEdit::textChanged, this, [this] { txtRefreshIntervalChange(); });
  connect(cbCommonIntervals, qOverload<int>(&QComboBox::activated), this,
          [this](int index) { cbCommonIntervalsChange(index); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
  connect(btnSearchAllFeeds, &QPushButton::clicked, this, [this] { btnSearchAllFeedsClick(); });
  connect(btnSearchSelectedFeed, &QPushButton::clicked, this, [this] { btnSearchSelectedFeedClick(); });
  connect(btnReset, &QPushButton::clicked, this, [this] { btnResetClick(); });
  connect(btnLearn, &QPushButton::clicked, this, [this] { btnLearnClick(); });
  connect(btnLearnedWords, &QPushButton::clicked, this, [this] {
    Touch();
    ShowLearnedWords();
  });
  connect(btnCheckRel, &QPushButton::clicked, this, [this] { btnCheckRelClick(); });
  connect(btnUnitTests, &QPushButton::clicked, this, [this] { btnUnitTestsClick(); });
  connect(tbShowRelevance, &QSlider::valueChanged, this, [this] {
    ShowThresholdValue();
    Touch();
    session_.ShowSuggestion();
  });
  connect(btnUseSuggestedThreshold, &QPushButton::clicked, this, [this] { btnUseSuggestedThresholdClick(); });
  connect(rgResultsFormatButtons, &QButtonGroup::idClicked, this, [this] { Touch(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

  txtAddFeedURL->installEventFilter(this);
  txtRefreshInterval->installEventFilter(this);
  txtKeywords->installEventFilter(this);
  txtKeywords->viewport()->installEventFilter(this);
  cbCommonIntervals->installEventFilter(this);
  // Every key press of the window passes here first, whichever control has the focus.
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
}

// ---------------------------------------------------------------------------------------------
// What the main frame calls

const GlobalSettings& TfrmFeeds::Settings() const {
  return frame_ ? frame_->Settings() : ownSettings_;
}

UserPort& TfrmFeeds::Port() {
  return *port_;
}

void TfrmFeeds::Log(const std::string& message, bool verbose) {
  statusLog_->Log(message, verbose);
}

void TfrmFeeds::ShowFeedList(bool selectFirst) {
  FillFeedList();
  if (selectFirst && !session_.Feeds().empty()) {
    SelectFeedQuietly(0);
    lbFeedsClick();
  }
}

void TfrmFeeds::FillFeedList() {
  const bool was = lbFeeds->blockSignals(true);
  lbFeeds->clear();
  rowFeed_.clear();
  for (const FeedListRow& row : FeedListRows(session_.Feeds())) {
    ShowFeedRow(new QListWidgetItem(lbFeeds), row);
    rowFeed_.push_back(row.feed);
  }
  lbFeeds->blockSignals(was);
}

void TfrmFeeds::RefreshFeedRows() {
  const std::vector<FeedListRow> rows = FeedListRows(session_.Feeds());
  if (rows.size() != static_cast<size_t>(lbFeeds->count())) {
    FillFeedList();
    return;
  }
  const bool was = lbFeeds->blockSignals(true);
  for (size_t r = 0; r < rows.size(); ++r) ShowFeedRow(lbFeeds->item(static_cast<int>(r)), rows[r]);
  lbFeeds->blockSignals(was);
}

void TfrmFeeds::ShowFeedRow(QListWidgetItem* item, const FeedListRow& row) {
  QFont font = lbFeeds->font();
  if (row.feed < 0) {
    // A heading is neither selected nor edited; it is drawn in the list's own text colour, not
    // greyed out as a disabled entry would be.
    item->setText(ToQ(row.text));
    item->setFlags(Qt::NoItemFlags);
    font.setBold(true);
    item->setFont(font);
    item->setForeground(lbFeeds->palette().brush(QPalette::Active, QPalette::Text));
  } else {
    // Under a heading the feeds stand indented, so that the groups read as groups. An inactive
    // feed says so in words (what a screen reader reads) and in italics, in the list's own
    // colours, which keep their contrast.
    const bool inFolder = !session_.Feeds()[static_cast<size_t>(row.feed)].folder.empty();
    const std::string indent = inFolder ? "    " : "";
    const std::string mark = row.inactive ? kInactiveMark : "";
    item->setText(
        ToQ(indent + row.text + mark, row.textUtf8.empty() ? std::string() : indent + row.textUtf8 + mark));
    font.setItalic(row.inactive);
    item->setFont(font);
  }
  item->setToolTip(ToQ(row.toolTip));
}

int TfrmFeeds::FeedOfRow(int row) const {
  if (row < 0 || row >= static_cast<int>(rowFeed_.size())) return -1;
  const int feed = rowFeed_[static_cast<size_t>(row)];
  return feed < static_cast<int>(session_.Feeds().size()) ? feed : -1;
}

int TfrmFeeds::RowOfFeed(int feed) const {
  if (feed < 0) return -1;
  const auto found = std::find(rowFeed_.begin(), rowFeed_.end(), feed);
  return found == rowFeed_.end() ? -1 : static_cast<int>(found - rowFeed_.begin());
}

void TfrmFeeds::ShowThresholdValue() {
  lblShowRelevanceValue->setText(ToQ(std::to_string(tbShowRelevance->value()) + "%"));
}

void TfrmFeeds::ShowDisplaySettings(int showRelevance, int resultsFormat) {
  tbShowRelevance->setValue(showRelevance);
  if (QAbstractButton* b = rgResultsFormatButtons->button(resultsFormat)) b->setChecked(true);
}

void TfrmFeeds::StopTimer() {
  Timer1->stop();
}
void TfrmFeeds::StartTimer() {
  Timer1->start();
}
bool TfrmFeeds::TimerActive() const {
  return Timer1->isActive();
}

void TfrmFeeds::ShowLearnedWords() {
  if (!learnedWords_) {
    learnedWords_ =
        std::make_unique<TfrmLearnedWords>(session_.Engine(), [this](const std::string& line) { Log(line); });
    PlaceInsideScreen(learnedWords_.get());
  } else {
    learnedWords_->RefreshIfChanged();
  }
  learnedWords_->setWindowState(learnedWords_->windowState() & ~Qt::WindowMinimized);
  learnedWords_->show();
  learnedWords_->raise();
  learnedWords_->activateWindow();
}

// ---------------------------------------------------------------------------------------------
// Shared state

int TfrmFeeds::SelectedFeed() const {
  return FeedOfRow(lbFeeds->currentRow());
}

int TfrmFeeds::Threshold() const {
  return tbShowRelevance->value();
}

int TfrmFeeds::ResultsFormat() const {
  return std::max(0, rgResultsFormatButtons->checkedId());
}

void TfrmFeeds::Touch() {
  session_.Scanner().Touch();
}

void TfrmFeeds::HideCommonIntervals() {
  cbCommonIntervals->setVisible(false);
}

void TfrmFeeds::EnableControls(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{
           lbFeeds, btnSearchAllFeeds, btnSearchSelectedFeed, btnAddFeed, btnDelete, btnReset,
           btnOpenFeedInBrowser, btnLearn, txtKeywords, txtRefreshInterval, btnAllActive, btnAllInactive,
           btnImportOpml, btnExportOpml, cbActive, tbShowRelevance, rgResultsFormat})
    w->setEnabled(enabled);
  btnCancel->setEnabled(!enabled);
  controlsEnabled_ = enabled;
  btnUseSuggestedThreshold->setEnabled(enabled && suggestionUsable_);
}

void TfrmFeeds::SetThreshold(int threshold) {
  tbShowRelevance->setValue(threshold);
}

void TfrmFeeds::ShowThresholdSuggestion(const std::string& text, bool usable) {
  lblSuggestedThreshold->setText(ToQ(text));
  suggestionUsable_ = usable;
  btnUseSuggestedThreshold->setEnabled(controlsEnabled_ && usable);
}

void TfrmFeeds::btnUseSuggestedThresholdClick() {
  Touch();
  session_.UseSuggestedThreshold();
}

std::vector<std::string> TfrmFeeds::KeywordEditorLines() const {
  return SplitString(FromQ(txtKeywords->toPlainText()), "\n");
}

void TfrmFeeds::SetKeywordEditorLines(const std::vector<std::string>& lines) {
  txtKeywords->setPlainText(ToQ(JoinStrings(lines, "\n")));
}

void TfrmFeeds::SelectRowQuietly(int row) {
  lastSelectedFeed_ = FeedOfRow(row);
  const bool was = lbFeeds->blockSignals(true);
  lbFeeds->setCurrentRow(row);
  if (row < 0) lbFeeds->clearSelection();
  lbFeeds->blockSignals(was);
}

void TfrmFeeds::SelectFeedQuietly(int feed) {
  SelectRowQuietly(RowOfFeed(feed));
}

// ---------------------------------------------------------------------------------------------
// Handlers

void TfrmFeeds::lbFeedsClick() {
  Touch();
  HideCommonIntervals();
  const int i = SelectedFeed();
  if (i < 0) return;
  selectingFeed_ = true;
  try {
    const TFeed& feed = session_.Feeds()[static_cast<size_t>(i)];
    txtAddFeedURL->setText(ToQ(feed.url));
    txtRefreshInterval->setText(QString::number(feed.refreshInterval));
    SetKeywordEditorLines(feed.keywords);
    cbActive->setChecked(feed.active);
    btnUpdate->setEnabled(false);
  } catch (...) {
    selectingFeed_ = false;
    throw;
  }
  selectingFeed_ = false;
}

void TfrmFeeds::txtAddFeedURLChange() {
  Touch();
  btnUpdate->setEnabled(false);
  if (selectingFeed_) return;
  // Typing an address starts a new feed: the controls show a new feed's defaults.
  SelectRowQuietly(-1);
  cbActive->setChecked(true);
  txtKeywords->clear();
  txtRefreshInterval->setText("300");
  btnUpdate->setEnabled(false);
}

void TfrmFeeds::btnAddFeedClick() {
  const std::string url = FromQ(txtAddFeedURL->text());
  if (!IsAcceptableFeedUrl(url)) {
    port_->ShowMessage(kFeedUrlMessage);
    txtAddFeedURL->setFocus();
    return;
  }
  Touch();
  session_.Feeds().push_back(
      MakeNewFeed(url, cbActive->isChecked(), KeywordEditorLines(), FromQ(txtRefreshInterval->text())));
  FillFeedList();
  SelectFeedQuietly(static_cast<int>(session_.Feeds().size()) - 1);
  Log("Added new feed");
  try {
    session_.SaveFeedConfig();
  } catch (const std::exception& e) {
    Log(ErrorText(e));
  }
}

void TfrmFeeds::btnImportOpmlClick() {
  Touch();
  const std::string path = ChooseFileToOpen("Import feeds from an OPML file", kOpmlFilter);
  if (path.empty()) return;
  std::vector<OpmlFeed> found;
  try {
    // The whole file is read and checked before the list changes: a bad file adds nothing.
    found = ReadOpml(ReadFileBytes(path));
  } catch (const std::exception& e) {
    Log("OPML import of " + path + " failed: " + ErrorText(e));
    port_->ShowMessage("I could not import " + path + ".\r\n\r\n" + ErrorText(e) +
                       "\r\n\r\nNo feed was added.");
    return;
  }
  const int selected = SelectedFeed();
  const OpmlImportSummary summary = MergeOpmlFeeds(session_.Feeds(), found, *port_);
  FillFeedList();
  SelectFeedQuietly(selected);
  Log(OpmlSummaryText(summary));
  if (summary.added > 0) {
    try {
      session_.SaveFeedConfig();
    } catch (const std::exception& e) {
      Log(ErrorText(e));
    }
  }
  port_->ShowMessage(OpmlSummaryText(summary));
}

void TfrmFeeds::btnExportOpmlClick() {
  Touch();
  const std::string path =
      ChooseFileToSave("Export the feeds to an OPML file", kOpmlFilter, "zibu-feeds.opml");
  if (path.empty()) return;
  try {
    WriteFileAtomic(path, WriteOpml(session_.Feeds()));
  } catch (const std::exception& e) {
    port_->ShowMessage("I could not export the feeds to " + path + ".\r\n\r\n" + ErrorText(e));
    return;
  }
  const std::string done = "I wrote " + std::to_string(session_.Feeds().size()) +
                           (session_.Feeds().size() == 1 ? " feed" : " feeds") + " to " + path + ".";
  Log(done);
  port_->ShowMessage(done);
}

std::vector<size_t> TfrmFeeds::SelectedFeeds() const {
  std::vector<size_t> chosen;
  for (int row = 0; row < lbFeeds->count(); ++row)
    if (lbFeeds->item(row)->isSelected() && FeedOfRow(row) >= 0) chosen.push_back(static_cast<size_t>(FeedOfRow(row)));
  // The current feed is the selected one even where the list shows no selection.
  const int current = SelectedFeed();
  if (chosen.empty() && current >= 0) chosen.push_back(static_cast<size_t>(current));
  return chosen;
}

void TfrmFeeds::btnDeleteClick() {
  TimerHold hold(*this);
  const std::vector<size_t> chosen = SelectedFeeds();
  if (chosen.empty()) {
    port_->ShowMessage(kSelectFeedToDeleteMessage);
    return;
  }
  if (!port_->AskYesNo(DeleteFeedsQuestion(chosen.size()))) return;
  for (const auto& [index, deleted] : DeleteFeedsAt(session_.Feeds(), chosen)) {
    DropKeptCopyUnlessUsed(session_.TempDir(), deleted.url, session_.Feeds());
    port_->LogQuoting(DeletedFeedLine(index, deleted), DeletedFeedLineUtf8(index, deleted));
  }
  FillFeedList();
  SelectRowQuietly(-1);
  // No feed is selected now: the boxes must not go on showing the one just deleted.
  selectingFeed_ = true;
  txtAddFeedURL->clear();
  txtKeywords->clear();
  txtRefreshInterval->clear();
  cbActive->setChecked(true);
  btnUpdate->setEnabled(false);
  selectingFeed_ = false;
  try {
    session_.SaveFeedConfig();
  } catch (const std::exception& e) {
    Log(ErrorText(e));
  }
}

void TfrmFeeds::SetAllActive(bool active) {
  Touch();
  zibu::SetAllActive(session_.Feeds(), active);
  cbActive->setChecked(active);
  RefreshFeedRows();
  try {
    session_.SaveFeedConfig();
  } catch (const std::exception& e) {
    Log(ErrorText(e));
  }
}

void TfrmFeeds::UpdateFeedDetails() {
  const int i = SelectedFeed();
  if (selectingFeed_ || i < 0) return;
  Touch();
  ApplyFeedDetails(session_.Feeds()[static_cast<size_t>(i)], cbActive->isChecked(), KeywordEditorLines(),
                   FromQ(txtRefreshInterval->text()), *port_);
  RefreshFeedRows();
}

void TfrmFeeds::btnUpdateClick() {
  Touch();
  UpdateFeedDetails();
  btnUpdate->setEnabled(false);
  try {
    session_.SaveFeedConfig();
  } catch (const std::exception& e) {
    Log(ErrorText(e));
  }
}

void TfrmFeeds::btnOpenFeedInBrowserClick() {
  Touch();
  const int i = SelectedFeed();
  if (i < 0) {
    port_->ShowMessage(kSelectFeedToOpenMessage);
    return;
  }
  OpenUrl(session_.Feeds()[static_cast<size_t>(i)].url);
}

void TfrmFeeds::cbActiveClick() {
  Touch();
  if (SelectedFeed() >= 0) UpdateFeedDetails();
}

void TfrmFeeds::txtKeywordsChange() {
  if (SelectedFeed() >= 0 && !selectingFeed_) btnUpdate->setEnabled(true);
  Touch();
}

void TfrmFeeds::txtKeywordsExit() {
  std::vector<std::string> lines = KeywordEditorLines();
  const std::vector<std::string> untabbed = RemoveTabs(lines);
  const std::vector<std::string> removed = RemoveCrlfLines(lines);
  const bool fixed = FixKeywordLines(lines);
  const size_t leftOut = BoundKeywordLines(lines);
  if (fixed || !removed.empty() || !untabbed.empty() || leftOut > 0) {
    // Keep the editor's own trailing line break, if the user left one.
    const bool trailing = txtKeywords->toPlainText().endsWith('\n');
    std::string text = JoinStrings(lines, "\n");
    if (!trailing && !text.empty()) text.pop_back();
    txtKeywords->setPlainText(ToQ(text));
    if (!untabbed.empty()) port_->ShowMessage(TabLinesMessage(untabbed));
    if (!removed.empty()) port_->ShowMessage(CrlfLinesMessage(removed));
    if (fixed) port_->ShowMessage(kKeywordLinesFixedMessage);
    if (leftOut > 0) port_->ShowMessage(KeywordsTooLongMessage(leftOut));
  }
  UpdateFeedDetails();
}

void TfrmFeeds::txtRefreshIntervalChange() {
  Touch();
  if (SelectedFeed() >= 0 && !selectingFeed_) btnUpdate->setEnabled(true);
}

void TfrmFeeds::txtRefreshIntervalEnter() {
  cbCommonIntervals->setVisible(true);
  const int index = CommonIntervalIndexFor(FromQ(txtRefreshInterval->text()));
  if (index >= 0) cbCommonIntervals->setCurrentIndex(index);
}

void TfrmFeeds::txtRefreshIntervalExit() {
  UpdateFeedDetails();
}

void TfrmFeeds::cbCommonIntervalsChange(int index) {
  if (index < 0 || index >= cbCommonIntervals->count()) return;
  txtRefreshInterval->setText(ToQ(CommonIntervalValue(FromQ(cbCommonIntervals->itemText(index)))));
  Touch();
  UpdateFeedDetails();
}

void TfrmFeeds::btnCancelClick() {
  session_.RequestCancel();
  // The job sees the cancel at its next step, whatever it was waiting for.
  if (session_.RunningScan()) QTimer::singleShot(0, this, [this] { AdvanceScan(); });
}

void TfrmFeeds::FormKeyDown(Qt::KeyboardModifiers modifiers) {
  const bool both = (modifiers & Qt::ShiftModifier) && (modifiers & Qt::AltModifier);
  btnUnitTests->setVisible(both);
  btnCheckRel->setVisible(both);
}

// ---------------------------------------------------------------------------------------------
// Scanning, presenting and learning: the scanner does the work, the window lends it its controls.

void TfrmFeeds::Timer1Timer() {
  StartScan(ScanKind::Scheduled);
}

void TfrmFeeds::StartScan(ScanKind kind) {
  // Called on a download's worker: the step itself runs on this thread, from its event loop.
  QPointer<TfrmFeeds> self(this);
  auto wake = [self] {
    if (self)
      QMetaObject::invokeMethod(
          self,
          [self] {
            if (self) self->AdvanceScan();
          },
          Qt::QueuedConnection);
  };
  if (!session_.StartScan(kind, std::move(wake))) return;
  setCursor(Qt::BusyCursor);
  AdvanceScan();
}

bool TfrmFeeds::ScanRunning() const {
  return session_.RunningScan() != nullptr;
}

void TfrmFeeds::AdvanceScan() {
  if (!session_.RunningScan()) return;
  const bool learning = session_.RunningScan()->Kind() == ScanKind::Learning;
  switch (session_.AdvanceScan()) {
    case ScanStep::Ready:
      QTimer::singleShot(0, this, [this] { AdvanceScan(); });
      break;
    case ScanStep::Idle:
      if (TScanJob* job = session_.RunningScan())
        QTimer::singleShot(static_cast<int>(job->IdleRecheckMs()), this, [this] { AdvanceScan(); });
      break;
    case ScanStep::Download:  // the download's end wakes the job
      break;
    case ScanStep::Done: {
      unsetCursor();
      // The rating windows of a learning run leave the frame in front; the user goes on here.
      if (learning) BringToFront();
      // A feed scanned for the first time may have brought its own title.
      const int selected = SelectedFeed();
      FillFeedList();
      SelectFeedQuietly(selected);
      break;
    }
  }
}

void TfrmFeeds::BringToFront() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TfrmFeeds::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    Log(ErrorText(e));
  }
}

void TfrmFeeds::btnSearchAllFeedsClick() {
  StartScan(ScanKind::ActiveFeeds);
}

void TfrmFeeds::btnSearchSelectedFeedClick() {
  StartScan(ScanKind::SelectedFeed);
}

void TfrmFeeds::btnResetClick() {
  Guarded([this] { session_.Scanner().ResetClick(); });
}

void TfrmFeeds::btnLearnClick() {
  StartScan(ScanKind::Learning);
}

void TfrmFeeds::btnCheckRelClick() {
  TimerHold hold(*this);
  Guarded([this] {
    bool ok = false;
    const QString text = QInputDialog::getText(
        this, windowTitle(), "Enter word(s) to check separated by spaces", QLineEdit::Normal, QString(), &ok);
    port_->ShowMessage(CheckRelMessage(session_.Engine(), ok ? FromQ(text) : std::string()));
  });
}

void TfrmFeeds::btnUnitTestsClick() {
  StopTimer();
  forceVerbose_ = true;
  try {
    const SelfTestOutcome outcome = RunSelfTests(session_.Engine(), *port_, Settings().proxy,
                                                 session_.TempDir() + "selftest/", selfTestNewsPage_);
    port_->ShowMessage(SelfTestMessage(outcome));
  } catch (const std::exception& e) {
    Log(ErrorText(e));
    port_->ShowMessage(ErrorText(e));
  }
  // The learned data in memory is now the checks' own: the program ends without saving it.
  if (endProgram_)
    endProgram_();
  else
    QCoreApplication::exit(0);
}

void TfrmFeeds::ShowItemsInTable(Items& items) {
  if (frame_) {
    frame_->AlertUser(
        std::to_string(items.size()) + (items.size() == 1 ? " article" : " articles") + " to rate",
        items.empty() ? std::string() : items.front().Title, items.empty() ? std::string() : items.front().TitleUtf8);
  }
  ShowItemsTableWindow(
      this, items, Settings().showNagScreens,
      [this](const std::string& text) { return session_.Explain(text); }, session_.Learning());
}

PageFoundResult TfrmFeeds::ShowPageFound(const std::string& reason, const std::string& title,
                                         const std::string& description, const std::string& link,
                                         bool ratingPanelVisible) {
  if (frame_) return frame_->ShowPageFound(reason, title, description, link, ratingPanelVisible);
  return ShowPageFoundWindow(this, reason, title, description, link, ratingPanelVisible);
}

PageFoundResult TfrmFeeds::ShowArticle(const FoundArticle& article) {
  if (frame_) return frame_->ShowArticle(article);
  return ShowPageFoundWindow(this, article,
                             [this](const std::string& text) { return session_.Explain(text); });
}

// ---------------------------------------------------------------------------------------------
// Events

bool TfrmFeeds::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      FormKeyDown(static_cast<QKeyEvent*>(event)->modifiers());
      break;
    case QEvent::MouseButtonPress:
      if (watched == txtAddFeedURL || watched == txtKeywords->viewport()) Touch();
      break;
    case QEvent::FocusIn: {
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      if (watched == txtRefreshInterval && reason != Qt::PopupFocusReason &&
          reason != Qt::ActiveWindowFocusReason)
        txtRefreshIntervalEnter();
      break;
    }
    case QEvent::FocusOut: {
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      // A popup or a switch to another window is not leaving the box.
      if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) break;
      // Nor, for the drop-down, the focus the window manager takes when its list first opens
      // (it arrives with no reason the user gave): hiding it then lost the user's first click.
      if (watched == cbCommonIntervals && reason == Qt::OtherFocusReason) break;
      if (watched == txtKeywords) {
        txtKeywordsExit();
      } else if (watched == txtRefreshInterval) {
        txtRefreshIntervalExit();
        // The drop-down belongs to the interval box: it stays only when the focus goes to it.
        if (QApplication::focusWidget() != cbCommonIntervals) HideCommonIntervals();
      } else if (watched == cbCommonIntervals) {
        HideCommonIntervals();
      }
      break;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

bool TfrmFeeds::event(QEvent* event) {
  if (event->type() == QEvent::KeyPress) FormKeyDown(static_cast<QKeyEvent*>(event)->modifiers());
  if (event->type() == QEvent::WindowActivate && Settings().firstTime && !introShown_) {
    // Queued, so the window is painted before the message covers it.
    QTimer::singleShot(0, this, [this] { ShowIntroOnce(); });
  }
  return QWidget::event(event);
}

void TfrmFeeds::ShowIntroOnce() {
  if (introShown_) return;
  introShown_ = true;
  TimerHold hold(*this);
  port_->ShowMessage(kFeedsIntroMessage);
}

void TfrmFeeds::keyPressEvent(QKeyEvent* event) {
  // Escape does what the close box does: the window hides.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TfrmFeeds::closeEvent(QCloseEvent* event) {
  // The window lives for the whole run; its close box only hides it (the frame watches for that).
  hide();
  event->ignore();
}

}  // namespace zibu
