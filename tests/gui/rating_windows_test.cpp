// The two rating windows, driven offscreen as a user would: the scale, closing, the table.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "common/errors.h"
#include "learning/engine.h"
#include "rating/multiplepagesfound_window.h"
#include "rating/pagefound_window.h"
#include "rating/why_window.h"
#include "ui/dialogs.h"
#include "ui/link_label.h"
#include "ui/qtext.h"

namespace zibu {
namespace {

// The scale's buttons as they stand on the screen, left to right.
std::vector<QRadioButton*> LeftToRight(const RatingScale& scale) {
  std::vector<QRadioButton*> buttons(scale.buttons.begin(), scale.buttons.end());
  std::sort(buttons.begin(), buttons.end(),
            [](QRadioButton* a, QRadioButton* b) { return a->geometry().x() < b->geometry().x(); });
  return buttons;
}

// Runs `act` on the modal window once it is up.
void WhenModal(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal) act(modal);
  });
}

TEST(PageFoundWindowTest, ScaleButtonsStandInRatingOrderWhateverTheirNames) {
  TfrmPageFound window;
  const auto buttons = LeftToRight(window.Scale());
  ASSERT_EQ(buttons.size(), 21u);
  for (int place = 0; place < 21; ++place) {
    EXPECT_EQ(buttons[place]->property("tag").toInt(), place - 10) << "place " << place + 1;
    EXPECT_EQ(buttons[place]->size(), QSize(22, 22));
    EXPECT_EQ(buttons[place]->geometry().y(), buttons[0]->geometry().y());
  }
  EXPECT_EQ(buttons[3]->objectName(), "RadioButton6");
  EXPECT_EQ(buttons[4]->objectName(), "RadioButton4");
  EXPECT_EQ(buttons[5]->objectName(), "RadioButton5");
  EXPECT_EQ(buttons[0]->geometry().x(), 19);
  EXPECT_EQ(buttons[20]->geometry().x(), 587);

  EXPECT_EQ(window.GetRating(), 0);
  EXPECT_TRUE(window.Scale().buttons[10]->isChecked());
  buttons[5]->click();  // sixth from the left
  EXPECT_EQ(window.GetRating(), -5);
  buttons[3]->click();  // fourth from the left
  EXPECT_EQ(window.GetRating(), -7);
  buttons[20]->click();
  EXPECT_EQ(window.GetRating(), 10);
  int checked = 0;
  for (QRadioButton* b : buttons) checked += b->isChecked() ? 1 : 0;
  EXPECT_EQ(checked, 1);
}

TEST(PageFoundWindowTest, TabOrderFollowsTheButtonNumbers) {
  TfrmPageFound window;
  const auto& b = window.Scale().buttons;
  for (int n = 0; n < 20; ++n) {
    // The focus chain may pass through non-focusable children; find the next button in it.
    QWidget* next = b[n]->nextInFocusChain();
    while (next && !qobject_cast<QRadioButton*>(next)) next = next->nextInFocusChain();
    EXPECT_EQ(next, b[n + 1]) << "after RadioButton" << n + 1;
  }
}

TEST(PageFoundWindowTest, ShowsTheArticleAsPlainTextWithItsReasonAndLink) {
  TfrmPageFound window;
  window.SetArticle("Keyword match on FILM", "http://x/a?b=1", "<b>Fish</b> &amp; chips",
                    "<p>Hot&nbsp;and <i>salty</i></p>", true);
  EXPECT_EQ(FromQ(window.windowTitle()), "Keyword match on FILM");
  EXPECT_EQ(FromQ(window.Label1->text()), "Fish & chips");
  EXPECT_EQ(FromQ(window.Memo1->toPlainText()).find('<'), std::string::npos);
  EXPECT_NE(FromQ(window.Memo1->toPlainText()).find("salty"), std::string::npos);
  EXPECT_EQ(window.LinkLabel->Url, "http://x/a?b=1");
  EXPECT_EQ(FromQ(window.LinkLabel->text()), "http://x/a?b=1");
  EXPECT_EQ(window.LinkLabel->VisitedColor(), QColor(0, 0, 255));
  EXPECT_EQ(window.LinkLabel->pos(), QPoint(10, 10));
  EXPECT_EQ(window.LinkLabel->parentWidget(), window.pnlButtons);
  EXPECT_TRUE(window.Memo1->isReadOnly());
  EXPECT_FALSE(window.cbEnough->isChecked());
  EXPECT_EQ(FromQ(window.cbEnough->text()), "Enough for now, &don't show any more articles for a while");
  std::string hint = kRatingScaleHint;
  std::erase(hint, '\r');
  EXPECT_EQ(FromQ(window.Scale().gbRelevance->toolTip()), hint);
  EXPECT_EQ(window.Scale().lblRateHeading->toolTip(), window.Scale().gbRelevance->toolTip());
}

// A title longer than the label's lines or a link wider than the window is cut with "..." and
// shown whole in a tool tip; the link still opens the whole address.
TEST(PageFoundWindowTest, ALongTitleOrLinkShowsItWasCutAndKeepsTheWholeInItsToolTip) {
  const std::string longTitle = [] {
    std::string t;
    for (int i = 0; i < 60; ++i) t += "headline" + std::to_string(i) + " ";
    return t + "END";
  }();
  const std::string longLink = "http://example.test/" + std::string(400, 'a') + "/last-part.html";
  struct Case {
    std::string title, link;
    bool titleCut, linkCut;
  };
  for (const Case& c : std::vector<Case>{{"Short title", "http://x/", false, false},
                                         {longTitle, "http://x/", true, false},
                                         {"Short title", longLink, false, true}}) {
    TfrmPageFound window;
    window.show();
    window.SetArticle("Learning", c.link, c.title, "d", true);
    QApplication::processEvents();
    const std::string shownTitle = FromQ(window.Label1->text());
    EXPECT_EQ(shownTitle == c.title, !c.titleCut);
    EXPECT_EQ(FromQ(window.Label1->toolTip()), c.titleCut ? c.title : "");
    if (c.titleCut) {
      EXPECT_TRUE(window.Label1->text().endsWith(QChar(0x2026))) << shownTitle;
      EXPECT_LE(window.Label1->heightForWidth(window.Label1->width()), window.Label1->height());
    }
    EXPECT_EQ(FromQ(window.LinkLabel->toolTip()), c.linkCut ? c.link : "");
    EXPECT_LE(window.LinkLabel->geometry().right(), window.pnlButtons->width());
    EXPECT_EQ(window.LinkLabel->Url, c.link);
    // Wider, the whole link fits again.
    if (c.linkCut) {
      window.resize(4000, window.height());
      QApplication::processEvents();
      EXPECT_EQ(FromQ(window.LinkLabel->text()), c.link);
    }
  }
}

TEST(PageFoundWindowTest, ClosingUntouchedGivesZeroAndNotEnough) {
  WhenModal([](QWidget* w) { w->close(); });
  PageFoundResult r = ShowPageFoundWindow(nullptr, "Learning", "t", "d", "http://x", true);
  EXPECT_EQ(r.rating, 0);
  EXPECT_FALSE(r.enough);
}

TEST(PageFoundWindowTest, RatingAndEnoughComeBackAndEscapeClosesWithOk) {
  int result = -1;
  WhenModal([&](QWidget* w) {
    auto* window = static_cast<TfrmPageFound*>(w);
    LeftToRight(window->Scale())[17]->click();  // +7
    window->cbEnough->click();
    QObject::connect(window, &QDialog::finished, [&](int code) { result = code; });
    QTest::keyClick(window, Qt::Key_Escape);
  });
  PageFoundResult r = ShowPageFoundWindow(nullptr, "Learning", "t", "d", "http://x", true);
  EXPECT_EQ(r.rating, 7);
  EXPECT_TRUE(r.enough);
  EXPECT_EQ(result, QDialog::Accepted);
}

// A page monitor shows its lines without the scale, but "Enough for now" stays in the button
// panel and its tick comes back: that is how the monitor stops after the first of many alerts.
TEST(PageFoundWindowTest, WithTheRatingPanelHiddenTheRatingIsZeroAndEnoughStillWorks) {
  for (bool tick : {false, true}) {
    bool panelHidden = false, boxShown = false;
    WhenModal([&](QWidget* w) {
      auto* window = static_cast<TfrmPageFound*>(w);
      panelHidden = !window->pnlRateRelevance->isVisible();
      boxShown = window->cbEnough->isVisible();
      if (tick)
        QTest::mouseClick(window->cbEnough, Qt::LeftButton, {}, QPoint(5, window->cbEnough->height() / 2));
      QTest::mouseClick(window->Button1, Qt::LeftButton);
    });
    PageFoundResult r = ShowPageFoundWindow(nullptr, "Website match", "a line", "", "http://x", false);
    EXPECT_TRUE(panelHidden);
    EXPECT_TRUE(boxShown);
    EXPECT_EQ(r.rating, 0);
    EXPECT_EQ(r.enough, tick);
  }
}

Items TenItems() {
  Items items;
  for (int i = 0; i < 10; ++i) {
    TItem item;
    item.Title = "Title " + std::to_string(i);
    item.Description = "Description " + std::to_string(i);
    item.Link = "http://x/" + std::to_string(i);
    item.Reason = "Article found, relevance=" + std::to_string(90 - i) + "%";
    item.Rating = 3;  // left from an earlier showing: discarded
    items.push_back(item);
  }
  return items;
}

TEST(MultiplePagesFoundWindowTest, FillsTheGridAndStartsEveryRatingAtZero) {
  Items items = TenItems();
  TfrmMultiplePagesFound window;
  window.SetItems(items);
  EXPECT_EQ(FromQ(window.lblHeading->text()), "Found 10 articles, displaying in order of relevance");
  ASSERT_EQ(window.sgArticles->rowCount(), 10);
  EXPECT_EQ(window.sgArticles->columnCount(), 3);
  EXPECT_EQ(FromQ(window.sgArticles->horizontalHeaderItem(0)->text()), "Title");
  EXPECT_EQ(FromQ(window.sgArticles->horizontalHeaderItem(1)->text()), "Reason");
  EXPECT_EQ(FromQ(window.sgArticles->horizontalHeaderItem(2)->text()), "Your rating");
  EXPECT_EQ(FromQ(window.sgArticles->item(4, 0)->text()), "Title 4");
  EXPECT_EQ(FromQ(window.sgArticles->item(4, 1)->text()), "Article found, relevance=86%");
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(items[i].Rating, 0);
    EXPECT_EQ(window.sgArticles->item(i, 2)->text(), "0");
  }
  EXPECT_EQ(FromQ(window.txtContents->toPlainText()), "Description 0");
  EXPECT_EQ(window.LinkLabel->Url, "http://x/0");
}

TEST(MultiplePagesFoundWindowTest, RatingARowWritesItIntoTheCallersItemAndTheGrid) {
  Items items = TenItems();
  TfrmMultiplePagesFound window;
  window.SetItems(items);
  window.show();
  const auto buttons = LeftToRight(window.Scale());

  window.sgArticles->setCurrentCell(1, 0);  // the second row
  EXPECT_EQ(FromQ(window.txtContents->toPlainText()), "Description 1");
  EXPECT_EQ(window.LinkLabel->Url, "http://x/1");
  buttons[17]->click();  // +7
  EXPECT_EQ(items[1].Rating, 7);
  EXPECT_EQ(window.sgArticles->item(1, 2)->text(), "7");

  // Selecting another row shows its own rating without rating anything.
  window.sgArticles->setCurrentCell(2, 0);
  EXPECT_EQ(window.GetRating(), 0);
  EXPECT_EQ(items[2].Rating, 0);
  EXPECT_EQ(items[1].Rating, 7);
  window.sgArticles->setCurrentCell(1, 1);
  EXPECT_EQ(window.GetRating(), 7);
  EXPECT_EQ(items[1].Rating, 7);
  for (size_t i = 0; i < items.size(); ++i) {
    if (i != 1) {
      EXPECT_EQ(items[i].Rating, 0) << i;
    }
  }
}

// Half and two quarters of what the grid shows, whatever the window's width: columns sized from
// the window's outer width always spilled past the grid into a horizontal scroll bar.
TEST(MultiplePagesFoundWindowTest, ColumnsTakeHalfAndQuartersOfTheVisibleWidth) {
  Items items = TenItems();
  TfrmMultiplePagesFound window;
  window.SetItems(items);
  window.show();
  for (int width : {803, 640, 1200}) {
    window.resize(width, 600);
    QApplication::processEvents();
    QTableWidget* grid = window.sgArticles;
    const int visible = grid->viewport()->width();
    EXPECT_EQ(grid->columnWidth(0) + grid->columnWidth(1) + grid->columnWidth(2), visible) << width;
    EXPECT_NEAR(grid->columnWidth(0), visible / 2, 2) << width;
    EXPECT_NEAR(grid->columnWidth(1), visible / 4, 2) << width;
    EXPECT_EQ(grid->horizontalScrollBar()->maximum(), 0) << width;
  }
}

TEST(MultiplePagesFoundWindowTest, CloseQuestionWhenAtMostAThirdIsRated) {
  Items items = TenItems();
  TfrmMultiplePagesFound window;
  std::vector<std::string> asked;
  bool answer = false;
  window.askYesNo = [&](const std::string& q) {
    asked.push_back(q);
    return answer;
  };
  window.SetItems(items);
  window.show();
  for (int i = 0; i < 3; ++i) items[i].Rating = 5;
  window.btnClose->click();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0],
            "You have only rated 3/10 articles.\r\nIf you do not rate articles, I cannot learn about your "
            "interests.\r\n\r\nDo you wish to close the page anyway and leave the other articles unrated?");
  EXPECT_TRUE(window.isVisible());  // No keeps it open

  items[3].Rating = -2;
  window.btnClose->click();
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST(MultiplePagesFoundWindowTest, CloseQuestionCountsAndSwitches) {
  auto questionsFor = [](int count, bool nag, bool escape) {
    Items items = TenItems();
    items.resize(count);
    TfrmMultiplePagesFound window;
    window.showNagScreens = nag;
    int asked = 0;
    window.askYesNo = [&](const std::string&) {
      ++asked;
      return true;
    };
    window.SetItems(items);
    window.show();
    if (escape)
      QTest::keyClick(&window, Qt::Key_Escape);
    else
      window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);  // Yes closes, with OK
    return asked;
  };
  EXPECT_EQ(questionsFor(2, true, false), 1);
  EXPECT_EQ(questionsFor(1, true, false), 0);
  EXPECT_EQ(questionsFor(2, false, false), 0);
  EXPECT_EQ(questionsFor(10, true, true), 1);
}

// The learned data of the rating example: the six ratings applied twice leave JORDAN 18,
// ABDULLAH 26, SAND 20, KATIE -32 and the pairs JORDAN-ABDULLAH 18, JORDAN-SAND 16,
// JORDAN-KATIE -16, SAND-KATIE -10, ABDULLAH-KATIE -6, ABDULLAH-SAND 14 (maxWordWeight 50).
class ExampleLearning {
 public:
  ExampleLearning() {
    for (int round = 0; round < 2; ++round)
      for (const auto& [rating, text] : std::vector<std::pair<int, const char*>>{{9, "jordan abdullah"},
                                                                                 {8, "jordan sand"},
                                                                                 {-8, "jordan's katie"},
                                                                                 {-5, "katie sands"},
                                                                                 {-3, "katie abdullah"},
                                                                                 {7, "sand abdullah's"}})
        engine.LearnFromRating(text, rating);
  }
  SilentUserPort port;
  LearningEngine engine{port};
};

std::vector<std::string> Rows(QTableWidget* table) {
  std::vector<std::string> rows;
  for (int r = 0; r < table->rowCount(); ++r) {
    std::string row;
    for (int c = 0; c < table->columnCount(); ++c) row += (c ? "|" : "") + FromQ(table->item(r, c)->text());
    rows.push_back(row);
  }
  return rows;
}

// Rows that raised the relevance are green, those that lowered it red.
bool ColouredBySign(QTableWidget* table) {
  for (int r = 0; r < table->rowCount(); ++r) {
    const bool raised = !FromQ(table->item(r, table->columnCount() - 1)->text()).starts_with("-");
    for (int c = 0; c < table->columnCount(); ++c)
      if (table->item(r, c)->foreground().color() != (raised ? RaisedColour() : LoweredColour()))
        return false;
  }
  return true;
}

TEST(WhyWindowTest, ExplainsTheExampleTextsWordByWordAndPairByPair) {
  ExampleLearning example;
  using Lines = std::vector<std::string>;
  struct Case {
    WhySubject subject;
    Lines raised, lowered, pairs;
    std::string shown, score, changed;
  };
  const std::vector<Case> cases = {
      {{"Keyword match on JORDAN", "jordan katie sand abdullah", "1:jordan", false, std::nullopt},
       {"ABDULLAH|1|+26|+52", "SAND|1|+20|+40", "JORDAN|1|+18|+36"},
       {"KATIE|1|-32|-64"},
       {"ABDULLAH + JORDAN|+18|+72", "JORDAN + SAND|+16|+64", "ABDULLAH + SAND|+14|+56",
        "JORDAN + KATIE|-16|-64", "KATIE + SAND|-10|-40", "ABDULLAH + KATIE|-6|-24"},
       "I showed it because this keyword rule line matched: 1:jordan",
       "What I have learned gives it a relevance of 10% now.\n"
       "Simple relevance 16% = 64 (the sum of the word contributions) / 4 words, 4 of them learned.\n"
       "Relationship relevance 5% = 64 (the sum of the pair contributions) / (4 x 3) for its 4 different "
       "words.\n"
       "The relevance is the mean of the two, as the simple relevance is above 0.",
       ""},
      {{"Article found, relevance=40%", "katies jordan", "", false, 40},
       {"JORDAN|1|+18|+36"},
       {"KATIE|1|-32|-64"},
       {"JORDAN + KATIE|-16|-64"},
       "It was found with a relevance of 40%.",
       "What I have learned gives it a relevance of -14% now.\n"
       "Simple relevance -14% = -28 (the sum of the word contributions) / 2 words, 2 of them learned.\n"
       "Relationship relevance -32% = -64 (the sum of the pair contributions) / (2 x 1) for its 2 different "
       "words.\n"
       "The relevance is the simple relevance, as that is not above 0.",
       "When it was found it had 40%: what I have learned has changed since then."},
      {{"Learning", "jordan AND THE jordan", "", true, std::nullopt},
       {"JORDAN|2|+18|+72"},
       {},
       {},
       "I showed it for you to rate in the learning run, whatever its relevance.",
       "What I have learned gives it a relevance of 18% now.\n"
       "Simple relevance 36% = 72 (the sum of the word contributions) / 2 words, 1 of them learned.\n"
       "Relationship relevance 0%: it has fewer than two different words.\n"
       "The relevance is the mean of the two, as the simple relevance is above 0.",
       ""},
      {{"Page relevance=0%", "AND THE", "", false, 0},
       {},
       {},
       {},
       "It was found with a relevance of 0%.",
       "What I have learned gives it a relevance of 0% now.\nIt has no word I look at, so I cannot score it.",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subject.text);
    TfrmWhy window;
    window.SetExplanation(c.subject, example.engine.ExplainRelevance(c.subject.text));
    EXPECT_EQ(FromQ(window.windowTitle()), "Why? " + c.subject.reason);
    EXPECT_EQ(Rows(window.sgRaised), c.raised);
    EXPECT_EQ(Rows(window.sgLowered), c.lowered);
    EXPECT_EQ(Rows(window.sgPairs), c.pairs);
    for (QTableWidget* t : {window.sgRaised, window.sgLowered, window.sgPairs})
      EXPECT_TRUE(ColouredBySign(t));
    EXPECT_EQ(FromQ(window.lblShown->text()), c.shown);
    EXPECT_EQ(FromQ(window.lblScore->text()), c.score);
    EXPECT_EQ(FromQ(window.lblChanged->text()), c.changed);
    EXPECT_EQ(window.lblChanged->isVisibleTo(&window), !c.changed.empty());
  }
}

// "Why?" opens over the single-article window without blocking it and goes when it closes; an
// explanation that fails says so in a box and opens nothing. Without an explainer (the page
// monitor's alerts) there is no button.
TEST(WhyWindowTest, OpensOverTheSingleArticleWindowAndClosesWithIt) {
  ExampleLearning example;
  std::vector<std::string> messages;
  SetDialogScript({.onMessage = [&](const std::string& m) { messages.push_back(m); }});
  struct Case {
    Explainer explain;
    bool buttonShown, opened;
  };
  const Explainer fine = [&](const std::string& text) { return example.engine.ExplainRelevance(text); };
  const Explainer failing = [](const std::string&) -> RelevanceExplanation {
    throw Error("I cannot scan while the table is being changed", "EInvalidOperation");
  };
  for (const Case& c : {Case{fine, true, true}, Case{failing, true, false}, Case{{}, false, false}}) {
    messages.clear();
    QPointer<TfrmWhy> seen;
    bool buttonShown = false, opened = false, stillModal = false;
    WhenModal([&](QWidget* w) {
      auto* page = static_cast<TfrmPageFound*>(w);
      buttonShown = page->btnWhy->isVisible();
      if (buttonShown) page->btnWhy->click();
      seen = page->findChild<TfrmWhy*>();
      opened = !seen.isNull() && seen->isVisible();
      stillModal = QApplication::activeModalWidget() == page && (!seen || seen->isVisible());
      page->Button1->click();
    });
    FoundArticle article{"Article found, relevance=10%", "Jordan and Katie", "sand abdullah", "http://x/1",
                         10};
    ShowPageFoundWindow(nullptr, article, c.explain);
    EXPECT_EQ(buttonShown, c.buttonShown);
    EXPECT_EQ(opened, c.opened);
    EXPECT_TRUE(stillModal);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(seen.isNull());  // gone with the rating window
    EXPECT_EQ(messages.size(), c.explain && !c.opened ? 1u : 0u);
    if (!messages.empty())
      EXPECT_EQ(messages[0], "I could not work out why: I cannot scan while the table is being changed");
  }
  ClearDialogScript();
}

}  // namespace
}  // namespace zibu
