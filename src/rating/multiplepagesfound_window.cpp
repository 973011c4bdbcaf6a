#include "rating/multiplepagesfound_window.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "feeds/presentation.h"
#include "learning/recent_scores.h"
#include "rating/standing_label.h"
#include "ui/column_fit.h"
#include "ui/link_label.h"
#include "ui/qtext.h"

namespace zibu {

TfrmMultiplePagesFound::TfrmMultiplePagesFound(QWidget* owner) : QDialog(owner) {
  setObjectName("frmMultiplePagesFound");
  setWindowTitle(ToQ("Items of interest found"));
  resize(784, 564);
  askYesNo = [this](const std::string& question) {
    return QMessageBox::question(this, windowTitle(), ToQ(question), QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  splitter = new QSplitter(Qt::Vertical, this);
  splitter->setChildrenCollapsible(false);
  layout->addWidget(splitter);

  pnlTop = new QWidget(splitter);
  pnlTop->setObjectName("pnlTop");
  auto* topLayout = new QVBoxLayout(pnlTop);
  topLayout->setContentsMargins(4, 4, 4, 0);
  lblHeading = new QLabel(ToQ("Items found, in order of relevance"), pnlTop);
  lblHeading->setObjectName("lblHeading");
  sgArticles = new QTableWidget(pnlTop);
  sgArticles->setObjectName("sgArticles");
  sgArticles->setColumnCount(5);
  sgArticles->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgArticles->setSelectionMode(QAbstractItemView::SingleSelection);
  sgArticles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgArticles->verticalHeader()->hide();
  // One line of text a row: a screen shows as many articles as it can.
  sgArticles->verticalHeader()->setDefaultSectionSize(sgArticles->fontMetrics().height() + 6);
  // The frame takes the highlight colour while the list has the focus, so the keyboard user sees
  // where the arrow keys go.
  sgArticles->setStyleSheet(QStringLiteral("QTableWidget#sgArticles { border: 2px solid palette(mid); }"
                                           "QTableWidget#sgArticles:focus { border: 2px solid palette(highlight); }"));
  sgArticles->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  sgArticles->horizontalHeader()->setDefaultSectionSize(300);
  sgArticles->viewport()->installEventFilter(this);
  sgArticles->setAccessibleName(ToQ("Items found"));
  // Tab goes on to the article and the scale; the arrow keys move from row to row.
  sgArticles->setTabKeyNavigation(false);
  btnWhy = new QPushButton(ToQ("&Why?"), pnlTop);
  btnWhy->setObjectName("btnWhy");
  btnWhy->setToolTip(ToQ(
      "Why the selected article? The words that raised or lowered its relevance, and the rule that matched"));
  btnWhy->setAutoDefault(false);
  btnWhy->setVisible(false);
  connect(btnWhy, &QPushButton::clicked, this, &TfrmMultiplePagesFound::btnWhyClick);
  auto* headingRow = new QHBoxLayout;
  headingRow->addWidget(lblHeading, 1);
  headingRow->addWidget(btnWhy);
  topLayout->addLayout(headingRow);
  topLayout->addWidget(sgArticles, 1);
  splitter->addWidget(pnlTop);

  pnlContent = new QWidget(splitter);
  pnlContent->setObjectName("pnlContent");
  auto* contentLayout = new QVBoxLayout(pnlContent);
  contentLayout->setContentsMargins(4, 0, 4, 0);
  lblStanding = NewStandingLabel(pnlContent);
  contentLayout->addWidget(lblStanding);
  txtContents = new QPlainTextEdit(pnlContent);
  txtContents->setObjectName("txtContents");
  txtContents->setReadOnly(true);
  txtContents->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtContents->setAccessibleName(ToQ("Article text"));
  pnlHyperlink = new QWidget(pnlContent);
  pnlHyperlink->setObjectName("pnlHyperlink");
  pnlHyperlink->setFixedHeight(36);
  contentLayout->addWidget(txtContents, 1);
  contentLayout->addWidget(pnlHyperlink);
  splitter->addWidget(pnlContent);

  pnlBottom = new QWidget(splitter);
  pnlBottom->setObjectName("pnlBottom");
  auto* bottomLayout = new QVBoxLayout(pnlBottom);
  bottomLayout->setContentsMargins(0, 0, 0, 4);
  auto* scaleHost = new QWidget(pnlBottom);
  QFont scaleFont("Tahoma");
  scaleFont.setPixelSize(16);
  scaleHost->setFont(scaleFont);
  scale_.Build(scaleHost);
  btnClose = new QPushButton(ToQ("&Close"), pnlBottom);
  btnClose->setObjectName("btnClose");
  btnClose->setDefault(true);
  btnClose->setAutoDefault(true);
  bottomLayout->addWidget(scaleHost);
  bottomLayout->addWidget(btnClose, 0, Qt::AlignHCenter);
  splitter->addWidget(pnlBottom);
  splitter->setSizes({230, 170, 164});
  // A taller window goes to the list.
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 0);
  splitter->setStretchFactor(2, 0);
  // Enter (the default button), Escape and Alt+C close the window; Tab walks the list, the article
  // and the scale, and from the scale comes back to the list.
  btnClose->setFocusPolicy(Qt::ClickFocus);

  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
  connect(sgArticles, &QTableWidget::currentCellChanged, this,
          [this](int row, int, int, int) { sgArticlesSelectCell(row); });
  for (QRadioButton* button : scale_.buttons)
    connect(button, &QRadioButton::toggled, this, [this](bool checked) {
      if (checked) RadioButton1Click();
    });

  // FormCreate: the header cells.
  sgArticles->setHorizontalHeaderLabels({ToQ("Title"), ToQ("Feed"), ToQ("Date"), ToQ("Reason"), ToQ("Your rating")});
}

void TfrmMultiplePagesFound::SetItems(Items& items) {
  items_ = &items;
  lblHeading->setText(
      ToQ("Found " + std::to_string(items.size()) + " articles, displaying in order of relevance"));
  if (!LinkLabel) {
    LinkLabel = new TLinkLabel(pnlHyperlink);
    LinkLabel->move(10, 10);
    LinkLabel->SetVisitedColor(LinkLabel->LinkColor());
    LinkLabel->show();
    QWidget::setTabOrder(sgArticles, btnWhy);
    QWidget::setTabOrder(btnWhy, txtContents);
    QWidget::setTabOrder(txtContents, LinkLabel);
    QWidget::setTabOrder(LinkLabel, scale_.buttons.front());
    QWidget::setTabOrder(scale_.buttons.back(), sgArticles);
  }
  updating_ = true;  // filling the grid moves the current cell; that is no rating
  sgArticles->setRowCount(static_cast<int>(items.size()));
  for (size_t i = 0; i < items.size(); ++i) {
    const int row = static_cast<int>(i);
    sgArticles->setItem(row, kTitleColumn, new QTableWidgetItem(ToQ(items[i].Title, items[i].TitleUtf8)));
    sgArticles->setItem(row, kFeedColumn, new QTableWidgetItem(QString::fromStdString(items[i].FeedName)));
    // As the reading list shows it: the article's own local time, none when the feed gave none.
    const QString date = items[i].Published == 0 ? QString()
                                                   : QDateTime::fromMSecsSinceEpoch(items[i].Published, Qt::UTC)
                                                         .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    sgArticles->setItem(row, kDateColumn, new QTableWidgetItem(date));
    auto* reason = new QTableWidgetItem(ToQ(items[i].Reason));
    reason->setToolTip(ToQ(items[i].Standing));
    sgArticles->setItem(row, kReasonColumn, reason);
    items[i].Rating = 0;
    sgArticles->setItem(row, kRatingColumn, new QTableWidgetItem(QStringLiteral("0")));
  }
  updating_ = false;
  if (!items.empty()) {
    sgArticles->setCurrentCell(0, 0);
    ShowItem(0);
  }
}

void TfrmMultiplePagesFound::ShowItem(int index) {
  if (!items_ || index < 0 || index >= static_cast<int>(items_->size())) return;
  const TItem& item = (*items_)[index];
  txtContents->setPlainText(ToQ(item.Description, item.DescriptionUtf8));
  lblStanding->setText(ToQ(RelevanceStandingLine(item.Relevance, item.Standing)));
  lblStanding->setVisible(!item.Standing.empty());
  LinkLabel->Url = item.Link;
  shownLink_ = ToQ(item.Link, item.LinkUtf8);
  FitLink();
  updating_ = true;
  SetRating(item.Rating);
  updating_ = false;
}

void TfrmMultiplePagesFound::SetRating(int rating) {
  scale_.SetRating(rating);
}

void TfrmMultiplePagesFound::sgArticlesSelectCell(int row) {
  if (row >= 0) ShowItem(row);
}

void TfrmMultiplePagesFound::RadioButton1Click() {
  const int row = sgArticles->currentRow();
  if (updating_ || !items_ || row < 0 || row >= static_cast<int>(items_->size())) return;
  const int rating = GetRating();
  (*items_)[row].Rating = rating;
  sgArticles->item(row, kRatingColumn)->setText(QString::number(rating));
}

void TfrmMultiplePagesFound::FormResize() {
  FitColumnsToView(sgArticles, {6, 3, 3, 3, 1});
}

void TfrmMultiplePagesFound::FitInto(QSize room) {
  if (!room.isValid()) return;
  constexpr int kWideWidth = 1100;
  resize(std::min(room.width(), kWideWidth), room.height());
  // The scale and the Close button at their own height, the article at a fixed few lines, the
  // list the rest.
  const int bottom = pnlBottom->sizeHint().height();
  const int content = std::max(pnlContent->minimumSizeHint().height(), 150);
  splitter->setSizes({std::max(room.height() - bottom - content, 1), content, bottom});
}

// A link wider than the window ends in "..." in the middle and shows whole in its tool tip.
void TfrmMultiplePagesFound::FitLink() {
  if (!LinkLabel) return;
  const QString whole = shownLink_;
  const QString shown = LinkLabel->fontMetrics().elidedText(whole, Qt::ElideMiddle,
                                                            std::max(40, width() - LinkLabel->x() - 20));
  LinkLabel->setText(shown);
  LinkLabel->setToolTip(shown == whole ? QString() : whole);
  LinkLabel->adjustSize();
}

void TfrmMultiplePagesFound::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FormResize();
  FitLink();
}

bool TfrmMultiplePagesFound::eventFilter(QObject* watched, QEvent* event) {
  // The visible width changes with the window and when the vertical scroll bar comes or goes.
  if (watched == sgArticles->viewport() && event->type() == QEvent::Resize) FormResize();
  return QDialog::eventFilter(watched, event);
}

bool TfrmMultiplePagesFound::FormCloseQuery() {
  if (!items_) return true;
  int rated = 0;
  for (const TItem& item : *items_)
    if (item.Rating != 0) ++rated;
  const int count = static_cast<int>(items_->size());
  if (showNagScreens && RatingReminderDue(count, rated)) {
    const std::string question = "You have only rated " + std::to_string(rated) + "/" +
                                 std::to_string(count) +
                                 " articles.\r\nIf you do not rate articles, I cannot learn about your "
                                 "interests.\r\n\r\nDo you wish to close the page anyway and leave the other "
                                 "articles unrated?";
    return askYesNo(question);
  }
  return true;
}

void TfrmMultiplePagesFound::SetWhy(Explainer explain, bool learning) {
  explain_ = std::move(explain);
  learning_ = learning;
  btnWhy->setVisible(static_cast<bool>(explain_));
}

void TfrmMultiplePagesFound::btnWhyClick() {
  const int row = sgArticles->currentRow();
  if (!explain_ || !items_ || row < 0 || row >= static_cast<int>(items_->size())) return;
  const TItem& item = (*items_)[static_cast<size_t>(row)];
  WhySubject why;
  why.reason = item.Reason;
  // The text its relevance was computed on.
  why.text = item.Title + " " + item.Description;
  why.matchedRule = item.MatchedRule;
  why.learning = learning_;
  if (item.MatchedRule.empty() && !learning_) why.foundRelevance = item.Relevance;
  // One explanation at a time: a long one lets events run while it is worked out.
  btnWhy->setEnabled(false);
  OpenWhyWindow(this, why, explain_);
  btnWhy->setEnabled(true);
}

void TfrmMultiplePagesFound::done(int) {
  if (!FormCloseQuery()) return;
  QDialog::done(QDialog::Accepted);
}

void ShowItemsTableWindow(QWidget* owner, Items& items, bool showNagScreens, const Explainer& explain,
                          bool learning) {
  TfrmMultiplePagesFound window(owner);
  window.showNagScreens = showNagScreens;
  if (explain) window.SetWhy(explain, learning);
  window.SetItems(items);
  const QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen) window.FitInto(screen->availableGeometry().size() - QSize(16, 40));
  window.exec();
}

}  // namespace zibu
