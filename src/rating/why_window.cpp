#include "rating/why_window.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <vector>

#include "common/errors.h"
#include "ui/dialogs.h"
#include "ui/qtext.h"
#include "ui/readable_colour.h"

namespace zibu {

namespace {

std::string Signed(int64_t n) {
  return (n > 0 ? "+" : "") + std::to_string(n);
}

QTableWidget* NewTable(QWidget* parent, const char* name, const char* title,
                       const std::vector<const char*>& headers) {
  auto* table = new QTableWidget(parent);
  table->setObjectName(name);
  table->setAccessibleName(ToQ(title));
  table->setColumnCount(static_cast<int>(headers.size()));
  QStringList labels;
  for (const char* h : headers) labels << ToQ(h);
  table->setHorizontalHeaderLabels(labels);
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setWordWrap(false);
  // Read, not worked in: rows as close as a list's, and no cell taking the focus.
  table->setSelectionMode(QAbstractItemView::NoSelection);
  table->setFocusPolicy(Qt::NoFocus);
  table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  // Every column as wide as its widest entry, so no word is cut short whatever the font; the
  // last one takes what room is left.
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

void AddRow(QTableWidget* table, const std::vector<std::string>& cells, const QColor& colour) {
  const int row = table->rowCount();
  table->insertRow(row);
  for (size_t c = 0; c < cells.size(); ++c) {
    auto* item = new QTableWidgetItem(ToQ(cells[c]));
    item->setForeground(colour);
    if (c > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table->setItem(row, static_cast<int>(c), item);
  }
}

}  // namespace

std::string WhyShownText(const WhySubject& subject) {
  if (!subject.matchedRule.empty())
    return "I showed it because this keyword rule line matched: " + subject.matchedRule;
  if (subject.learning) return "I showed it for you to rate in the learning run, whatever its relevance.";
  if (subject.foundRelevance)
    return "It was found with a relevance of " + std::to_string(*subject.foundRelevance) + "%.";
  return {};
}

std::string WhyScoreText(const RelevanceExplanation& x) {
  std::string text = "What I have learned gives it a relevance of " + std::to_string(x.overall) + "% now.\n";
  if (x.wordCount == 0) return text + "It has no word I look at, so I cannot score it.";
  text += "Simple relevance " + std::to_string(x.simple) + "% = " + std::to_string(x.simpleSum) +
          " (the sum of the word contributions) / " + std::to_string(x.wordCount) +
          (x.wordCount == 1 ? " word" : " words") + ", " + std::to_string(x.words.size()) +
          " of them learned.\n";
  if (x.distinctWords < 2) {
    text += "Relationship relevance 0%: it has fewer than two different words.\n";
  } else {
    const int64_t c = x.distinctWords;
    text += "Relationship relevance " + std::to_string(x.relationship) + "% = " + std::to_string(x.pairSum) +
            " (the sum of the pair contributions) / (" + std::to_string(c) + " x " + std::to_string(c - 1) +
            ") for its " + std::to_string(c) + " different words.\n";
  }
  if (x.simple > 0)
    text += "The relevance is the mean of the two, as the simple relevance is above 0.";
  else
    text += "The relevance is the simple relevance, as that is not above 0.";
  return text;
}

std::string WhyChangedText(const WhySubject& subject, const RelevanceExplanation& x) {
  if (!subject.foundRelevance || *subject.foundRelevance == x.overall) return {};
  return "When it was found it had " + std::to_string(*subject.foundRelevance) +
         "%: what I have learned has changed since then.";
}

TfrmWhy::TfrmWhy(QWidget* owner) : QDialog(owner) {
  setObjectName("frmWhy");
  setWindowTitle(ToQ("Why?"));
  resize(700, 560);

  auto* layout = new QVBoxLayout(this);
  lblShown = new QLabel(this);
  lblShown->setObjectName("lblShown");
  lblShown->setWordWrap(true);
  lblShown->setTextFormat(Qt::PlainText);
  lblShown->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblScore = new QLabel(this);
  lblScore->setObjectName("lblScore");
  lblScore->setWordWrap(true);
  lblScore->setTextFormat(Qt::PlainText);
  lblScore->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblChanged = new QLabel(this);
  lblChanged->setObjectName("lblChanged");
  lblChanged->setWordWrap(true);
  lblChanged->setTextFormat(Qt::PlainText);
  layout->addWidget(lblShown);
  layout->addWidget(lblScore);
  layout->addWidget(lblChanged);

  const std::vector<const char*> wordHeaders = {"Word", "Times", "Weight", "Contribution"};
  auto* words = new QHBoxLayout;
  gbRaised = new QGroupBox(ToQ("Words that raised it"), this);
  gbRaised->setObjectName("gbRaised");
  sgRaised = NewTable(gbRaised, "sgRaised", "Words that raised it", wordHeaders);
  (new QVBoxLayout(gbRaised))->addWidget(sgRaised);
  gbLowered = new QGroupBox(ToQ("Words that lowered it"), this);
  gbLowered->setObjectName("gbLowered");
  sgLowered = NewTable(gbLowered, "sgLowered", "Words that lowered it", wordHeaders);
  (new QVBoxLayout(gbLowered))->addWidget(sgLowered);
  gbRaised->setStyleSheet(QString("QGroupBox { color: %1; }").arg(RaisedTextColour(palette()).name()));
  gbLowered->setStyleSheet(QString("QGroupBox { color: %1; }").arg(LoweredTextColour(palette()).name()));
  words->addWidget(gbRaised);
  words->addWidget(gbLowered);
  layout->addLayout(words, 3);

  auto* gbPairs = new QGroupBox(ToQ("Strongest pairs of words"), this);
  gbPairs->setObjectName("gbPairs");
  sgPairs = NewTable(gbPairs, "sgPairs", "Strongest pairs of words", {"Pair", "Value", "Contribution"});
  (new QVBoxLayout(gbPairs))->addWidget(sgPairs);
  layout->addWidget(gbPairs, 2);

  btnClose = new QPushButton(ToQ("&Close"), this);
  btnClose->setObjectName("btnClose");
  btnClose->setDefault(true);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(btnClose, 0, Qt::AlignRight);
}

void TfrmWhy::SetExplanation(const WhySubject& subject, const RelevanceExplanation& x) {
  setWindowTitle(ToQ(subject.reason.empty() ? std::string("Why?") : "Why? " + subject.reason));
  const std::string shown = WhyShownText(subject);
  lblShown->setText(ToQ(shown));
  lblShown->setVisible(!shown.empty());
  lblScore->setText(ToQ(WhyScoreText(x)));
  const std::string changed = WhyChangedText(subject, x);
  lblChanged->setText(ToQ(changed));
  lblChanged->setVisible(!changed.empty());

  // Strongest first each way; equally strong words in the order they first occur.
  std::vector<WordContribution> raised, lowered;
  for (const WordContribution& w : x.words) {
    if (w.contribution > 0) raised.push_back(w);
    if (w.contribution < 0) lowered.push_back(w);
  }
  std::stable_sort(raised.begin(), raised.end(),
                   [](const auto& a, const auto& b) { return a.contribution > b.contribution; });
  std::stable_sort(lowered.begin(), lowered.end(),
                   [](const auto& a, const auto& b) { return a.contribution < b.contribution; });
  for (QTableWidget* t : {sgRaised, sgLowered, sgPairs}) t->setRowCount(0);
  const QColor raisedColour = RaisedColour(sgRaised->palette());
  const QColor loweredColour = LoweredColour(sgRaised->palette());
  for (const auto& w : raised)
    AddRow(sgRaised, {w.word, std::to_string(w.count), Signed(w.weight), Signed(w.contribution)},
           raisedColour);
  for (const auto& w : lowered)
    AddRow(sgLowered, {w.word, std::to_string(w.count), Signed(w.weight), Signed(w.contribution)},
           loweredColour);
  for (const auto& p : x.positivePairs)
    AddRow(sgPairs, {p.first + " + " + p.second, Signed(p.value), Signed(p.contribution)}, raisedColour);
  for (const auto& p : x.negativePairs)
    AddRow(sgPairs, {p.first + " + " + p.second, Signed(p.value), Signed(p.contribution)}, loweredColour);
}

TfrmWhy* OpenWhyWindow(QWidget* owner, const WhySubject& subject, const Explainer& explain) {
  QPointer<QWidget> guard(owner);
  RelevanceExplanation x;
  try {
    x = explain(subject.text);
  } catch (const std::exception& e) {
    ShowMessage("I could not work out why: " + ErrorText(e));
    return nullptr;
  }
  // A long text is scanned with the events running: its window may have gone meanwhile.
  if (owner && !guard) return nullptr;
  auto* window = new TfrmWhy(owner);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->SetExplanation(subject, x);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace zibu
