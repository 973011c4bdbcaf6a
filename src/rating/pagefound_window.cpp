#include "rating/pagefound_window.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTextLayout>
#include <QVBoxLayout>

#include "common/text.h"
#include "learning/recent_scores.h"
#include "rating/standing_label.h"
#include "ui/link_label.h"
#include "ui/placement.h"
#include "ui/qtext.h"

namespace zibu {

TfrmPageFound::TfrmPageFound(QWidget* owner) : QDialog(owner) {
  setObjectName("frmPageFound");
  setWindowTitle(ToQ("Page found!"));
  resize(676, 521);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  // Upper panel: the title over the description.
  auto* upper = new QWidget(this);
  auto* upperLayout = new QVBoxLayout(upper);
  upperLayout->setContentsMargins(4, 4, 4, 4);
  Label1 = new QLabel(upper);
  Label1->setObjectName("Label1");
  QFont titleFont("Arial");
  titleFont.setPixelSize(13);
  Label1->setFont(titleFont);
  Label1->setWordWrap(true);
  Label1->setFixedHeight(58);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1->setTextFormat(Qt::PlainText);
  lblStanding = NewStandingLabel(upper);
  Memo1 = new QPlainTextEdit(upper);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setAccessibleName(ToQ("Article text"));
  upperLayout->addWidget(Label1);
  upperLayout->addWidget(lblStanding);
  upperLayout->addWidget(Memo1, 1);
  layout->addWidget(upper, 1);

  // Button panel: the link at 10,10, the enough-for-now box and Close.
  pnlButtons = new QWidget(this);
  pnlButtons->setObjectName("pnlButtons");
  pnlButtons->setFixedHeight(69);
  LinkLabel = new TLinkLabel(pnlButtons);
  LinkLabel->move(10, 10);
  LinkLabel->SetVisitedColor(LinkLabel->LinkColor());
  cbEnough = new QCheckBox(ToQ("Enough for now, &don't show any more articles for a while"), pnlButtons);
  cbEnough->setObjectName("cbEnough");
  cbEnough->setToolTip(
      ToQ("If you check this, Zibu won't show you any more articles for a while...this allows you to change "
          "the settings instead of being bombarded with messages."));
  cbEnough->move(10, 38);
  Button1 = new QPushButton(ToQ("&Close"), pnlButtons);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button1->resize(90, 27);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  btnWhy = new QPushButton(ToQ("&Why?"), pnlButtons);
  btnWhy->setObjectName("btnWhy");
  btnWhy->setToolTip(
      ToQ("Why this article? The words that raised or lowered its relevance, and the rule that matched"));
  btnWhy->setAutoDefault(false);
  btnWhy->resize(90, 27);
  btnWhy->setVisible(false);
  connect(btnWhy, &QPushButton::clicked, this, &TfrmPageFound::btnWhyClick);
  layout->addWidget(pnlButtons);

  pnlRateRelevance = new QWidget(this);
  pnlRateRelevance->setObjectName("pnlRateRelevance");
  pnlRateRelevance->setFixedHeight(124);
  QFont scaleFont("Tahoma");
  scaleFont.setPixelSize(16);
  pnlRateRelevance->setFont(scaleFont);
  scale_.Build(pnlRateRelevance);
  layout->addWidget(pnlRateRelevance);
}

void TfrmPageFound::SetArticle(const std::string& caption, const std::string& link, const std::string& title,
                               const std::string& description, bool ratingPanelVisible) {
  pnlRateRelevance->setVisible(ratingPanelVisible);
  setWindowTitle(ToQ(caption));
  title_ = ToQ(HtmlToText(title));
  Memo1->setPlainText(ToQ(HtmlToText(description)));
  link_ = ToQ(link);
  LinkLabel->Url = link;
  FitTitleAndLink();
  // The box stands in the button panel, not on the scale: a page monitor showing several
  // matching lines without the scale stops early when it is ticked.
  cbEnough->setVisible(true);
}

void TfrmPageFound::SetShownTexts(const std::string& titleUtf8, const std::string& descriptionUtf8,
                                  const std::string& linkUtf8) {
  // The same conversion to plain text as the single-byte texts had.
  if (!titleUtf8.empty()) title_ = ToQ(std::string(), HtmlToTextUtf8(titleUtf8));
  if (!descriptionUtf8.empty()) Memo1->setPlainText(ToQ(std::string(), HtmlToTextUtf8(descriptionUtf8)));
  if (!linkUtf8.empty()) link_ = ToQ(std::string(), linkUtf8);  // opened in its URI form, Url
  FitTitleAndLink();
}

QString ElideToLines(const QString& text, const QFont& font, int width, int lines) {
  if (width <= 0 || lines <= 0) return text;
  QTextLayout layout(text, font);
  layout.beginLayout();
  int shown = 0;
  int lastStart = 0;
  for (int n = 0; n < lines; ++n) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) break;
    line.setLineWidth(width);
    lastStart = line.textStart();
    shown = line.textStart() + line.textLength();
  }
  const bool more = layout.createLine().isValid();
  layout.endLayout();
  if (!more && shown >= text.size()) return text;
  // The last line that fits ends in an ellipsis, the rest of the text with it.
  const QFontMetrics metrics(font);
  return text.left(lastStart) + metrics.elidedText(text.mid(lastStart).simplified(), Qt::ElideRight, width);
}

void TfrmPageFound::FitTitleAndLink() {
  // A title longer than the label's three lines, or a link wider than the window, ends in "..."
  // and shows whole in its tool tip, instead of stopping short with no sign or running off.
  const int titleLines = std::max(1, Label1->height() / std::max(1, Label1->fontMetrics().lineSpacing()));
  // From the window's own width, which is right before the layout has run too (4 px margins).
  const QString title = ElideToLines(title_, Label1->font(), width() - 8, titleLines);
  Label1->setText(title);
  Label1->setToolTip(title == title_ ? QString() : title_);
  const int linkRoom = std::max(40, width() - LinkLabel->x() - 10);
  const QString link = LinkLabel->fontMetrics().elidedText(link_, Qt::ElideMiddle, linkRoom);
  LinkLabel->setText(link);
  LinkLabel->setToolTip(link == link_ ? QString() : link_);
  LinkLabel->adjustSize();
}

void TfrmPageFound::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FitTitleAndLink();
  // Close stays at the right edge of its panel whatever the window's width, "Why?" beside it.
  Button1->move(width() - Button1->width() - 12, 30);
  btnWhy->move(Button1->x() - btnWhy->width() - 8, 30);
}

void TfrmPageFound::SetWhy(const WhySubject& subject, Explainer explain) {
  why_ = subject;
  explain_ = std::move(explain);
  btnWhy->setVisible(static_cast<bool>(explain_));
}

void TfrmPageFound::btnWhyClick() {
  if (!explain_) return;
  // One explanation at a time: a long one lets events run while it is worked out.
  btnWhy->setEnabled(false);
  OpenWhyWindow(this, why_, explain_);
  btnWhy->setEnabled(true);
}

bool TfrmPageFound::Enough() const {
  return cbEnough->isChecked();
}

void TfrmPageFound::keyPressEvent(QKeyEvent* event) {
  // Escape is Close: the window ends with OK, like every other way of closing it.
  if (event->key() == Qt::Key_Escape) {
    Button1->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

namespace {

bool gEnding = false;

PageFoundResult ShowModally(TfrmPageFound& window) {
  PageFoundResult result;
  // Once the program is ending every new event loop returns at once: an article put up then
  // would count as seen without the user ever having had it before them.
  if (gEnding) {
    result.ending = true;
    return result;
  }
  window.exec();
  if (gEnding) {
    result.ending = true;
    return result;
  }
  result.rating = window.GetRating();
  result.enough = window.Enough();
  return result;
}

}  // namespace

void EndRatingWindows() { gEnding = true; }

void TfrmPageFound::SetStanding(int relevance, const std::string& standing) {
  lblStanding->setText(ToQ(RelevanceStandingLine(relevance, standing)));
  lblStanding->setVisible(!standing.empty());
}

PageFoundResult ShowPageFoundWindow(QWidget* owner, const std::string& reason, const std::string& title,
                                    const std::string& description, const std::string& link,
                                    bool ratingPanelVisible) {
  TfrmPageFound window(owner);
  window.setWindowState(Qt::WindowNoState);
  PlaceInsideScreen(&window);
  window.SetArticle(reason, link, title, description, ratingPanelVisible);
  return ShowModally(window);
}

PageFoundResult ShowPageFoundWindow(QWidget* owner, const FoundArticle& article, const Explainer& explain) {
  TfrmPageFound window(owner);
  window.setWindowState(Qt::WindowNoState);
  PlaceInsideScreen(&window);
  window.SetArticle(article.reason, article.link, article.title, article.description, true);
  window.SetStanding(article.relevance, article.standing);
  window.SetShownTexts(article.titleUtf8, article.descriptionUtf8, article.linkUtf8);
  WhySubject why;
  why.reason = article.reason;
  // The text its relevance was computed on.
  why.text = article.title + " " + article.description;
  why.matchedRule = article.matchedRule;
  why.learning = article.learning;
  if (article.matchedRule.empty() && !article.learning) why.foundRelevance = article.relevance;
  if (explain) window.SetWhy(why, explain);
  return ShowModally(window);
}

}  // namespace zibu
