// The two rating windows, driven offscreen as a user would: the scale, closing, the table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStringListModel>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <utility>

#include "common/errors.h"
#include "common/shortintmap.h"
#include "common/text.h"
#include "learning/engine.h"
#include "rating/learned_words_window.h"
#include "rating/multiplepagesfound_window.h"
#include "rating/pagefound_window.h"
#include "rating/reading_window.h"
#include "feeds/reading_list.h"
#include "feeds/shown_memory.h"
#include "store/article_store.h"
#include "rating/why_window.h"
#include "ui/dialogs.h"
#include "ui/link_label.h"
#include "ui/qtext.h"
#include "ui/readable_colour.h"

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

QWidget* Focused() {
  return QApplication::focusWidget();
}

// The rating of the step that has the focus; none when the focus is elsewhere.
std::optional<int> FocusedStep() {
  auto* step = qobject_cast<QRadioButton*>(QApplication::focusWidget());
  if (!step) return std::nullopt;
  return step->property("tag").toInt();
}

void ShowActive(QWidget& window) {
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(Focused(), static_cast<Qt::Key>(key), modifiers);
}

// Tab (or Shift+Tab) until a step of the scale has the focus, at most `limit` presses.
void TabToScale(Qt::KeyboardModifiers modifiers, int limit = 12) {
  for (int i = 0; i < limit && !FocusedStep(); ++i) Press(Qt::Key_Tab, modifiers);
}

// Pixels of the highlight colour just outside the focused step's left edge.
int RingPixels(const RatingScale& scale) {
  auto* step = qobject_cast<QRadioButton*>(QApplication::focusWidget());
  if (!step) return 0;
  const QImage image = scale.gbRelevance->grab().toImage();
  const QColor ring = scale.gbRelevance->palette().color(QPalette::Highlight);
  int n = 0;
  for (int y = step->geometry().top(); y <= step->geometry().bottom(); ++y)
    for (int x = step->geometry().left() - 3; x < step->geometry().left(); ++x)
      if (image.pixelColor(x, y) == ring) ++n;
  return n;
}

// With the keyboard alone: Tab enters the scale at the checked step (not at -10), the arrow keys
// and Home/End move the rating along the scale, Tab leaves it, Alt+R comes back to it, and the
// focused step is ringed.
TEST(PageFoundWindowTest, TheScaleIsRatedWithTheKeyboardAlone) {
  TfrmPageFound window;
  window.SetArticle("Article found", "http://x/", "Title", "Text", true);
  ShowActive(window);
  window.cbEnough->setFocus();
  TabToScale(Qt::NoModifier);
  EXPECT_EQ(FocusedStep(), 0);
  EXPECT_GT(RingPixels(window.Scale()), 10) << "the focused step is not ringed";
  struct Step {
    int key;
    int rating;
  };
  for (const Step& step : {Step{Qt::Key_Right, 1}, Step{Qt::Key_Right, 2}, Step{Qt::Key_Up, 3},
                           Step{Qt::Key_Left, 2}, Step{Qt::Key_Down, 1}, Step{Qt::Key_Home, -10},
                           Step{Qt::Key_Left, -10}, Step{Qt::Key_End, 10}, Step{Qt::Key_Right, 10},
                           Step{Qt::Key_Left, 9}}) {
    Press(step.key);
    EXPECT_EQ(window.GetRating(), step.rating) << "after key " << step.key;
    EXPECT_EQ(FocusedStep(), step.rating) << "after key " << step.key;
  }
  EXPECT_GT(RingPixels(window.Scale()), 10);

  Press(Qt::Key_Tab);
  EXPECT_FALSE(FocusedStep()) << "Tab stays on the scale";
  EXPECT_EQ(window.GetRating(), 9);
  TabToScale(Qt::ShiftModifier);
  EXPECT_EQ(FocusedStep(), 9) << "Shift+Tab comes back to the checked step";

  window.cbEnough->setFocus();
  Press(Qt::Key_R, Qt::AltModifier);
  EXPECT_EQ(FocusedStep(), 9) << "Alt+R goes to the checked step";
  EXPECT_EQ(window.Scale().lblRateHeading->text(), ToQ("&Rate this page's relevance"));
  EXPECT_EQ(window.Scale().lblRateHeading->buddy(), Focused());
  EXPECT_EQ(window.GetRating(), 9);
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

// Beside the relevance, where it stands among the recent scores; nothing for an article without.
TEST(PageFoundWindowTest, ShowsWhereTheRelevanceStandsAmongTheRecentScores) {
  const std::string standing = "higher than 96 % of the 2,300 articles of the last 7 days";
  struct Case {
    std::string standing;
    int relevance;
    bool shown;
    const char* line;
  };
  const Case cases[] = {
      {standing, 4, true, "Relevance 4 %: higher than 96 % of the 2,300 articles of the last 7 days"},
      {"", 4, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    bool visible = !c.shown;
    std::string text = "unset";
    WhenModal([&](QWidget* w) {
      auto* page = static_cast<TfrmPageFound*>(w);
      visible = page->lblStanding->isVisible();
      text = FromQ(page->lblStanding->text());
      page->Button1->click();
    });
    FoundArticle article;
    article.reason = "Article found, relevance=4%";
    article.title = "Jordan and Katie";
    article.link = "http://x/1";
    article.relevance = c.relevance;
    article.standing = c.standing;
    ShowPageFoundWindow(nullptr, article, {});
    EXPECT_EQ(visible, c.shown);
    EXPECT_EQ(text, c.line);
  }
  ClearDialogScript();
}

// A title in any script shows as the feed wrote it, in both rating windows; the link shows its
// characters and opens in its URI form. Texts without UTF-8 of their own show as before.
TEST(PageFoundWindowTest, TitlesInAnyScriptShowAsWrittenInBothRatingWindows) {
  struct Case {
    const char* what;
    TItem item;  // as triage leaves it
    QString title, description, link;
  };
  auto item = [](std::string title, std::string titleUtf8, std::string description, std::string descriptionUtf8,
                 std::string link, std::string linkUtf8) {
    TItem i;
    i.Title = std::move(title);
    i.TitleUtf8 = std::move(titleUtf8);
    i.Description = std::move(description);
    i.DescriptionUtf8 = std::move(descriptionUtf8);
    i.Link = std::move(link);
    i.LinkUtf8 = std::move(linkUtf8);
    i.Reason = "Keyword match on X";
    return i;
  };
  const Case cases[] = {
      {"Cyrillic and an emoji",
       item("\xBF\xBF\xBF\xBF\xBF\xBF \xBF", "\u041F\u0440\u0438\u0432\u0435\u0442 \U0001F605", "\xBF\xBF", "\u03A3\u03B1",
            "http://h/%D1%84", "http://h/\u0444"),
       QString::fromUtf8("\u041F\u0440\u0438\u0432\u0435\u0442 \U0001F605"), QString::fromUtf8("\u03A3\u03B1"),
       QString::fromUtf8("http://h/\u0444")},
      {"curly quotes Windows-1252 has", item("\x93Quoted\x94", "", "Caf\xE9", "", "http://h/q", ""),
       QString::fromUtf8("\u201CQuoted\u201D"), QString::fromUtf8("Caf\u00E9"), QStringLiteral("http://h/q")},
      {"Chinese title, plain description", item("\xBF\xBF", "\u4E2D\u6587", "Plain", "", "http://h/c", ""),
       QString::fromUtf8("\u4E2D\u6587"), QStringLiteral("Plain"), QStringLiteral("http://h/c")},
  };
  for (const Case& c : cases) {
    QString title, description, link;
    std::string opens;
    WhenModal([&](QWidget* w) {
      auto* page = static_cast<TfrmPageFound*>(w);
      title = page->Label1->text();
      description = page->Memo1->toPlainText();
      link = page->LinkLabel->text();
      opens = page->LinkLabel->Url;
      page->Button1->click();
    });
    const TItem& i = c.item;
    ShowPageFoundWindow(nullptr,
                        FoundArticle{i.Reason, i.Title, i.Description, i.Link, 100, "", false, "", i.TitleUtf8,
                                     i.DescriptionUtf8, i.LinkUtf8},
                        {});
    EXPECT_EQ(title, c.title) << c.what;
    EXPECT_EQ(description, c.description) << c.what;
    EXPECT_EQ(link, c.link) << c.what;
    EXPECT_EQ(opens, i.Link) << c.what;

    Items items{c.item, c.item};
    TfrmMultiplePagesFound table;
    table.SetItems(items);
    EXPECT_EQ(table.sgArticles->item(1, 0)->text(), c.title) << c.what;
    EXPECT_EQ(table.txtContents->toPlainText(), c.description) << c.what;
    EXPECT_EQ(table.LinkLabel->text(), c.link) << c.what;
    EXPECT_EQ(table.LinkLabel->Url, i.Link) << c.what;
  }
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
    item.FeedName = i % 2 ? "Caf\u00e9 news" : "http://feed/" + std::to_string(i);
    item.Published = i == 3 ? 0 : 1796806500000 + i * 3600000LL;  // 2026-12-09 08:55 and on; one with none
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
  const std::vector<std::string> headers{"Title", "Feed", "Date", "Reason", "Your rating"};
  ASSERT_EQ(window.sgArticles->columnCount(), static_cast<int>(headers.size()));
  for (int c = 0; c < window.sgArticles->columnCount(); ++c)
    EXPECT_EQ(FromQ(window.sgArticles->horizontalHeaderItem(c)->text()), headers[c]);
  using W = TfrmMultiplePagesFound;
  const struct {
    int row;
    std::string title, feed, date, reason;
  } rows[] = {
      {0, "Title 0", "http://feed/0", "2026-12-09 08:55", "Article found, relevance=90%"},
      {1, "Title 1", "Caf\u00e9 news", "2026-12-09 09:55", "Article found, relevance=89%"},
      {3, "Title 3", "Caf\u00e9 news", "", "Article found, relevance=87%"},  // no date
      {4, "Title 4", "http://feed/4", "2026-12-09 12:55", "Article found, relevance=86%"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.row);
    EXPECT_EQ(FromQ(window.sgArticles->item(r.row, W::kTitleColumn)->text()), r.title);
    EXPECT_EQ(window.sgArticles->item(r.row, W::kFeedColumn)->text().toStdString(), r.feed);
    EXPECT_EQ(FromQ(window.sgArticles->item(r.row, W::kDateColumn)->text()), r.date);
    EXPECT_EQ(FromQ(window.sgArticles->item(r.row, W::kReasonColumn)->text()), r.reason);
  }
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(items[i].Rating, 0);
    EXPECT_EQ(window.sgArticles->item(i, W::kRatingColumn)->text(), "0");
  }
  EXPECT_EQ(FromQ(window.txtContents->toPlainText()), "Description 0");
  EXPECT_EQ(window.LinkLabel->Url, "http://x/0");
}

TEST(MultiplePagesFoundWindowTest, TheSelectedArticleShowsWhereItsRelevanceStands) {
  Items items = TenItems();
  for (size_t i = 0; i < items.size(); ++i) items[i].Relevance = 90 - static_cast<int>(i);
  items[0].Standing = "higher than 99 % of the 40 articles of the last 7 days";
  items[2].Standing = "higher than 50 % of the 40 articles of the last 7 days";
  TfrmMultiplePagesFound window;
  window.SetItems(items);
  struct Case {
    int row;
    bool shown;
    std::string line;
  };
  const Case cases[] = {
      {0, true, "Relevance 90 %: higher than 99 % of the 40 articles of the last 7 days"},
      {1, false, ""},
      {2, true, "Relevance 88 %: higher than 50 % of the 40 articles of the last 7 days"},
      {1, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    window.sgArticles->setCurrentCell(c.row, 0);
    EXPECT_EQ(window.lblStanding->isVisibleTo(&window), c.shown);
    EXPECT_EQ(FromQ(window.lblStanding->text()), c.line);
    EXPECT_EQ(FromQ(window.sgArticles->item(c.row, TfrmMultiplePagesFound::kReasonColumn)->toolTip()),
              items[c.row].Standing);
  }
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
  EXPECT_EQ(window.sgArticles->item(1, TfrmMultiplePagesFound::kRatingColumn)->text(), "7");

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

// Pixels of the highlight colour on the list's frame, just inside its left edge.
int ListFramePixels(QTableWidget* list) {
  const QImage image = list->grab().toImage();
  const QColor ring = list->palette().color(QPalette::Highlight);
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    if (image.pixelColor(0, y) == ring) ++n;
  return n;
}

// With the keyboard alone: the arrows choose a row, Tab leaves the table (instead of walking its
// cells), Alt+R goes to the scale and the arrows there rate the selected row; Tab from the scale
// comes straight back to the list, and the list's frame shows where the focus is.
TEST(MultiplePagesFoundWindowTest, RowsAreRatedWithTheKeyboardAlone) {
  Items items = TenItems();
  TfrmMultiplePagesFound window;
  window.showNagScreens = false;
  window.SetItems(items);
  ShowActive(window);
  window.sgArticles->setFocus();
  EXPECT_GT(ListFramePixels(window.sgArticles), 20) << "the focused list shows no focus";
  Press(Qt::Key_Down);
  EXPECT_EQ(window.sgArticles->currentRow(), 1);
  Press(Qt::Key_Tab);
  EXPECT_NE(Focused(), window.sgArticles) << "Tab stays in the table";
  EXPECT_EQ(window.sgArticles->currentRow(), 1);

  const int col = TfrmMultiplePagesFound::kRatingColumn;
  struct Round {
    int row;      // chosen with Down from the row before
    int presses;  // Right (positive) or Left (negative) on the scale
    int rating;
  };
  for (const Round& r : {Round{1, 3, 3}, Round{2, -1, -1}, Round{3, 10, 10}}) {
    SCOPED_TRACE(r.row);
    if (r.row != 1) {
      Press(Qt::Key_Down);
      EXPECT_EQ(window.sgArticles->currentRow(), r.row);
    }
    Press(Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(FocusedStep(), 0);
    EXPECT_EQ(ListFramePixels(window.sgArticles), 0) << "the list shows a focus it does not have";
    for (int i = 0; i < std::abs(r.presses); ++i) Press(r.presses > 0 ? Qt::Key_Right : Qt::Key_Left);
    EXPECT_EQ(items[r.row].Rating, r.rating);
    EXPECT_EQ(window.sgArticles->item(r.row, col)->text(), QString::number(r.rating));
    Press(Qt::Key_Tab);
    ASSERT_EQ(Focused(), window.sgArticles) << "Tab from the scale does not go back to the list";
    EXPECT_GT(ListFramePixels(window.sgArticles), 20);
  }
  EXPECT_EQ(items[1].Rating, 3);
  EXPECT_EQ(items[2].Rating, -1);

  // Backwards the scale comes before the list, and Enter still closes from there.
  Press(Qt::Key_Tab, Qt::ShiftModifier);
  EXPECT_EQ(FocusedStep(), 10);
  Press(Qt::Key_Return);
  EXPECT_FALSE(window.isVisible());
}

// The list takes the height the article text and the scale leave: on a 1366x768 screen at least
// 15 articles in view, more on a taller one, and the window fits the room it was given.
TEST(MultiplePagesFoundWindowTest, TheListFillsTheScreensHeight) {
  Items items;
  for (int i = 0; i < 4; ++i)
    for (const TItem& item : TenItems()) items.push_back(item);
  const struct {
    const char* screen;
    QSize room;  // the screen's size less a frame and title bar
    int rows;    // at least in view
  } cases[] = {
      {"1366x768", {1350, 728}, 15},
      {"1920x1080", {1904, 1040}, 25},
      {"1366x768 less a taller panel", {1350, 690}, 14},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.screen);
    TfrmMultiplePagesFound window;
    window.SetItems(items);
    window.FitInto(c.room);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    EXPECT_LE(window.width(), c.room.width());
    EXPECT_EQ(window.height(), c.room.height());
    QTableWidget* list = window.sgArticles;
    const int inView = list->viewport()->height() / list->rowHeight(0);
    EXPECT_GE(inView, c.rows);
    // Nothing below the list is squeezed under its own size.
    EXPECT_GE(window.pnlBottom->height(), window.pnlBottom->minimumSizeHint().height());
    EXPECT_GE(window.txtContents->height(), 3 * window.txtContents->fontMetrics().height());
  }
}

// The columns share what the grid shows in proportion, whatever the window's width: columns
// sized from the window's outer width always spilled past the grid into a horizontal scroll bar.
TEST(MultiplePagesFoundWindowTest, ColumnsShareTheVisibleWidth) {
  Items items = TenItems();
  TfrmMultiplePagesFound window;
  window.SetItems(items);
  window.show();
  for (int width : {803, 640, 1200}) {
    window.resize(width, 600);
    QApplication::processEvents();
    QTableWidget* grid = window.sgArticles;
    const int visible = grid->viewport()->width();
    int sum = 0;
    for (int c = 0; c < grid->columnCount(); ++c) sum += grid->columnWidth(c);
    EXPECT_EQ(sum, visible) << width;
    EXPECT_GT(grid->columnWidth(TfrmMultiplePagesFound::kTitleColumn), visible / 4) << width;
    EXPECT_GT(grid->columnWidth(TfrmMultiplePagesFound::kFeedColumn), visible / 10) << width;
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
      if (table->item(r, c)->foreground().color() !=
          (raised ? RaisedColour(table->palette()) : LoweredColour(table->palette())))
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

// A word column as wide as its longest word, whatever the font: a wide font cut the words short.
TEST(WhyWindowTest, TheWordColumnsAreAsWideAsTheirLongestWord) {
  RelevanceExplanation x;
  x.wordCount = 3;
  x.distinctWords = 3;
  x.words = {{"TELECOMMUNICATIONS", 2, 40, 160}, {"SAND", 1, 10, 20}, {"COUNTERREVOLUTIONARIES", 1, -30, -60}};
  for (int pixels : {12, 20, 28}) {
    TfrmWhy window;
    QFont wide = window.font();
    wide.setPixelSize(pixels);
    wide.setStretch(QFont::Expanded);
    window.setFont(wide);
    window.SetExplanation(WhySubject{}, x);
    window.show();
    QApplication::processEvents();
    for (auto [table, word] : {std::pair{window.sgRaised, "TELECOMMUNICATIONS"},
                               std::pair{window.sgLowered, "COUNTERREVOLUTIONARIES"}}) {
      ASSERT_GE(table->rowCount(), 1);
      const int needed = table->fontMetrics().horizontalAdvance(ToQ(word));
      EXPECT_GT(table->columnWidth(0), needed) << word << " at " << pixels << " px";
    }
  }
}

// "Why?" opens over the single-article window without blocking it and goes when it closes; an
// explanation that fails says so in a box and opens nothing. Without an explainer (the page
// monitor's alerts) there is no button.
TEST(WhyWindowTest, OpensOverTheSingleArticleWindowAndClosesWithIt) {
  ExampleLearning example;
  std::vector<std::string> messages;
  DialogScript script;
  script.onMessage = [&](const std::string& m) { messages.push_back(m); };
  SetDialogScript(script);
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
    FoundArticle article;
    article.reason = "Article found, relevance=10%";
    article.title = "Jordan and Katie";
    article.description = "sand abdullah";
    article.link = "http://x/1";
    article.relevance = 10;
    ShowPageFoundWindow(nullptr, article, c.explain);
    EXPECT_EQ(buttonShown, c.buttonShown);
    EXPECT_EQ(opened, c.opened);
    EXPECT_TRUE(stillModal);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(seen.isNull());  // gone with the rating window
    EXPECT_EQ(messages.size(), c.explain && !c.opened ? 1u : 0u);
    if (!messages.empty()) {
      EXPECT_EQ(messages[0], "I could not work out why: I cannot scan while the table is being changed");
    }
  }
  ClearDialogScript();
}

// ---- the learned-words window ----

std::vector<std::string> WordsOf(const TfrmLearnedWords& window) {
  std::vector<std::string> out;
  for (const LearnedWord& w : window.ShownWords()) out.push_back(w.word + " " + std::to_string(w.weight));
  return out;
}

std::vector<std::string> RelationshipRows(const TfrmLearnedWords& window) {
  std::vector<std::string> out;
  for (int r = 0; r < window.sgRelationships->rowCount(); ++r)
    out.push_back(FromQ(window.sgRelationships->item(r, 0)->text()) + " " +
                  FromQ(window.sgRelationships->item(r, 1)->text()));
  return out;
}

TEST(LearnedWordsWindowTest, SortsSearchesAndShowsTheSelectedWordsRelationships) {
  ExampleLearning example;
  TfrmLearnedWords window(example.engine, {});
  window.show();
  QApplication::processEvents();
  // Nothing drawn over anything: each group gets at least the room its controls need.
  for (QGroupBox* group : window.findChildren<QGroupBox*>())
    EXPECT_GE(group->height(), group->minimumSizeHint().height()) << FromQ(group->objectName());
  using Lines = std::vector<std::string>;
  // Strongest liking first when it opens.
  EXPECT_EQ(WordsOf(window), (Lines{"ABDULLAH 26", "SAND 20", "JORDAN 18", "KATIE -32"}));
  EXPECT_EQ(FromQ(window.lblWordCount->text()), "4 learned words");
  struct Step {
    int column;  // -1: no new order
    Qt::SortOrder order;
    std::string search;
    Lines shown;
    std::string count;
  };
  const Step steps[] = {
      {0, Qt::AscendingOrder, "", {"ABDULLAH 26", "JORDAN 18", "KATIE -32", "SAND 20"}, "4 learned words"},
      {0, Qt::DescendingOrder, "", {"SAND 20", "KATIE -32", "JORDAN 18", "ABDULLAH 26"}, "4 learned words"},
      {1, Qt::AscendingOrder, "", {"KATIE -32", "JORDAN 18", "SAND 20", "ABDULLAH 26"}, "4 learned words"},
      {-1, Qt::AscendingOrder, "an", {"JORDAN 18", "SAND 20"}, "2 of 4 learned words"},
      {1, Qt::DescendingOrder, "an", {"SAND 20", "JORDAN 18"}, "2 of 4 learned words"},
      {-1, Qt::AscendingOrder, "DUL", {"ABDULLAH 26"}, "1 of 4 learned words"},
      {-1, Qt::AscendingOrder, "zz", {}, "0 of 4 learned words"},
      {-1, Qt::AscendingOrder, "", {"ABDULLAH 26", "SAND 20", "JORDAN 18", "KATIE -32"}, "4 learned words"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.column) + " '" + s.search + "'");
    if (s.column >= 0) window.SortBy(s.column, s.order);
    window.txtSearch->setText(ToQ(s.search));
    EXPECT_EQ(WordsOf(window), s.shown);
    EXPECT_EQ(FromQ(window.lblWordCount->text()), s.count);
    EXPECT_EQ(window.sgWords->horizontalHeader()->sortIndicatorSection(), s.column >= 0 ? s.column : 1);
  }
  // A click on the word heading sorts by word, a second one the other way round.
  QHeaderView* header = window.sgWords->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(0) + 5, 5));
  EXPECT_EQ(WordsOf(window), (Lines{"ABDULLAH 26", "JORDAN 18", "KATIE -32", "SAND 20"}));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(0) + 5, 5));
  EXPECT_EQ(WordsOf(window).front(), "SAND 20");

  // The selected word, its weight and its relationships, strongest first (ties by position).
  ASSERT_TRUE(window.SelectWord("JORDAN"));
  EXPECT_EQ(FromQ(window.lblSelected->text()), "JORDAN");
  EXPECT_EQ(window.txtWeight->value(), 18);
  EXPECT_EQ(window.txtWeight->maximum(), 50);
  EXPECT_EQ(window.txtWeight->minimum(), -50);
  EXPECT_EQ(RelationshipRows(window), (Lines{"ABDULLAH +18", "SAND +16", "KATIE -16"}));
  // The selection stays with the word when the order changes.
  window.SortBy(1, Qt::AscendingOrder);
  EXPECT_EQ(window.SelectedWord(), "JORDAN");
  window.txtSearch->setText("zz");
  EXPECT_EQ(window.SelectedWord(), "");
  EXPECT_FALSE(window.btnForget->isEnabled());
}

// A user port whose message processing runs one action, as a click during a scan's wait would.
class ActingPort : public SilentUserPort {
 public:
  std::function<void()> action;
  void ProcessMessagesPaced() override {
    if (auto a = std::exchange(action, nullptr)) a();
  }
};

// Corrections go into the learning at once, after the user's confirmation where something is
// lost; none is made while a relevance scan keeps the learned data still.
TEST(LearnedWordsWindowTest, SetWeightForgetAndCommonWordsChangeTheLearning) {
  const std::filesystem::path data =
      std::filesystem::temp_directory_path() / ("zibu_learned_words_" + std::to_string(::getpid()));
  std::filesystem::remove_all(data);
  std::filesystem::create_directories(data);
  std::ofstream(data / "commonwords.dat", std::ios::binary) << "ABOUT\r\nTHAT\r\n";
  ActingPort port;
  LearningEngine engine(port);
  engine.SetDataFolder(data.string() + "/");
  engine.LoadCommonWords();
  ExampleLearning example;  // the same learning, kept apart from the window's
  for (const LearnedWord& w : example.engine.LearnedWords())
    engine.WordWeights().Add(w.word, static_cast<int8_t>(w.weight));
  engine.RelTable().Reset(engine.WordCount());
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b) engine.RelTable().Set(a, b, example.engine.RelTable().Get(a, b));
  ASSERT_EQ(engine.GetRelevance("jordan abdullah"), 40);

  std::vector<std::string> messages, questions, logged;
  bool answer = true;
  DialogScript script;
  script.onMessage = [&](const std::string& m) { messages.push_back(m); };
  script.onQuestion = [&](const std::string& q) {
    questions.push_back(q);
    return answer;
  };
  SetDialogScript(script);
  TfrmLearnedWords window(engine, [&](const std::string& line) { logged.push_back(line); });
  window.show();
  using Lines = std::vector<std::string>;

  // A weight: within the scale, at once, not during a scan.
  ASSERT_TRUE(window.SelectWord("JORDAN"));
  window.txtWeight->setValue(80);
  EXPECT_EQ(window.txtWeight->value(), 50);
  window.txtWeight->setValue(5);
  port.action = [&] { window.btnSetWeight->click(); };
  std::vector<std::string> many;
  for (int i = 0; i < 60; ++i)
    many.push_back("WORD" + std::string(1, char('A' + i % 26)) + char('A' + i / 26));
  SortUnique(many);
  engine.GetRelationshipRelevance(many);  // more than 50 words: scanned on workers, waited for
  EXPECT_EQ(messages, Lines{kLearnedDataBusyMessage});
  EXPECT_EQ(engine.WordWeights().Get("JORDAN"), 18);
  window.btnSetWeight->click();
  EXPECT_EQ(engine.WordWeights().Get("JORDAN"), 5);
  EXPECT_EQ(WordsOf(window), (Lines{"ABDULLAH 26", "SAND 20", "JORDAN 5", "KATIE -32"}));
  EXPECT_EQ(logged, Lines{"Set the weight of JORDAN to 5"});

  // Forgetting asks first; No keeps everything, Yes forgets the word and its pairs, and the
  // next score of a text with it changes: (0 + 52) / 2 = 26 and no pair left, (26 + 0) / 2.
  struct Forget {
    bool answer;
    int wordCount;
    int relevance;
  };
  for (const Forget& f : {Forget{false, 4, 33}, Forget{true, 3, 13}}) {
    answer = f.answer;
    questions.clear();
    ASSERT_TRUE(window.SelectWord("JORDAN"));
    window.btnForget->click();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].rfind("Forget JORDAN? I will lose its weight (+5) and every relationship", 0), 0u);
    EXPECT_EQ(engine.WordCount(), f.wordCount);
    EXPECT_EQ(engine.GetRelevance("jordan abdullah"), f.relevance);
  }
  EXPECT_EQ(WordsOf(window), (Lines{"ABDULLAH 26", "SAND 20", "KATIE -32"}));
  EXPECT_EQ(window.SelectedWord(), "KATIE");  // its place went to the next word
  EXPECT_EQ(logged.back(), "Forgot the word JORDAN");
  EXPECT_EQ(
      engine.RelTable().Get(engine.WordWeights().IndexOf("SAND"), engine.WordWeights().IndexOf("KATIE")),
      -10);

  // Common words: typed as a text would read them; a learned one is forgotten too, after a Yes.
  struct Common {
    std::string typed;
    bool answer;
    std::string message, question;
    Lines common;
  };
  const Common commons[] = {
      {"the",
       true,
       "I read only words of 4 to 12 letters A to Z, so I ignore \"the\" anyway.",
       "",
       {"ABOUT", "THAT"}},
      {"storm warnings", true, "Please type one word at a time.", "", {"ABOUT", "THAT"}},
      {"That", true, "THAT is a common word already.", "", {"ABOUT", "THAT"}},
      {"Sands",
       false,
       "",
       "Add SAND to the common words? I will ignore it in every text from now on, and forget what I have "
       "learned about it: its weight (+20) and every relationship it has with another word.",
       {"ABOUT", "THAT"}},
      {"Sands", true, "", "", {"ABOUT", "SAND", "THAT"}},
      {"weather",
       true,
       "",
       "Add WEATHER to the common words? I will ignore it in every text from now on.",
       {"ABOUT", "SAND", "THAT", "WEATHER"}},
  };
  for (const Common& c : commons) {
    SCOPED_TRACE(c.typed);
    messages.clear();
    questions.clear();
    answer = c.answer;
    window.txtCommonWord->setText(ToQ(c.typed));
    window.btnAddCommonWord->click();
    EXPECT_EQ(messages, c.message.empty() ? Lines{} : Lines{c.message});
    if (!c.question.empty()) {
      EXPECT_EQ(questions, Lines{c.question});
    }
    EXPECT_EQ(engine.CommonWords(), c.common);
    QStringList shown = static_cast<QStringListModel*>(window.lbCommonWords->model())->stringList();
    EXPECT_EQ(static_cast<size_t>(shown.size()), c.common.size());
  }
  EXPECT_LT(engine.WordWeights().IndexOf("SAND"), 0);
  EXPECT_EQ(WordsOf(window), (Lines{"ABDULLAH 26", "KATIE -32"}));
  EXPECT_EQ(FromQ(window.lblCommonWords->text()), "I ignore these 4 words in every text.");
  std::ifstream file(data / "commonwords.dat", std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, "ABOUT\r\nSAND\r\nTHAT\r\nWEATHER\r\n");
  // The selected word made common, the same way.
  answer = true;
  ASSERT_TRUE(window.SelectWord("KATIE"));
  window.btnMakeCommon->click();
  EXPECT_EQ(WordsOf(window), (Lines{"ABDULLAH 26"}));
  EXPECT_EQ(logged.back(), "Added KATIE to the common words and forgot what I had learned of it");

  // Ratings given elsewhere show up without a click.
  engine.LearnFromRating("storm warning", 4);
  window.RefreshIfChanged();
  EXPECT_EQ(FromQ(window.lblWordCount->text()), "3 learned words");
  ClearDialogScript();
  std::filesystem::remove_all(data);
}

// 20,000 words with a few relationships each: the window opens and answers a sort or a key in the
// search box at once (a model over one copy of the words, not a widget item per cell).
// Escape closes the window from any of its controls, as Close does.
TEST(LearnedWordsWindowTest, EscapeClosesTheWindow) {
  ExampleLearning example;
  TfrmLearnedWords window(example.engine, {});
  for (int start = 0; start < 3; ++start) {
    ShowActive(window);
    QWidget* focus[] = {window.txtSearch, window.sgWords, window.txtCommonWord};
    focus[start]->setFocus();
    Press(Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible()) << FromQ(focus[start]->objectName());
  }
}

TEST(LearnedWordsWindowTest, TwentyThousandWordsOpenSortAndSearchQuickly) {
  SilentUserPort port;
  LearningEngine engine(port);
  std::mt19937 random(17);
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    std::string word = "W";
    for (int k = i; word.size() < 5; k /= 26) word += char('A' + k % 26);
    engine.WordWeights().Add(word, static_cast<int8_t>(static_cast<int>(random() % 101) - 50));
  }
  engine.RelTable().Reset(n);
  for (int i = 0; i < 20 * n; ++i) {
    const int a = static_cast<int>(random() % n), b = static_cast<int>(random() % n);
    const auto v = static_cast<int8_t>(static_cast<int>(random() % 101) - 50);
    engine.RelTable().Set(a, b, v);
    engine.RelTable().Set(b, a, v);
  }
  // Best of three, so that a busy machine's stall is not counted.
  auto best = [](const std::function<void()>& act) {
    int64_t fastest = INT64_MAX;
    for (int round = 0; round < 3; ++round) {
      QElapsedTimer t;
      t.start();
      act();
      fastest = std::min<int64_t>(fastest, t.elapsed());
    }
    return fastest;
  };
  const int64_t open = best([&] {
    TfrmLearnedWords window(engine, {});
    window.show();
    QApplication::processEvents();  // painted
  });
  TfrmLearnedWords window(engine, {});
  window.show();
  QApplication::processEvents();
  ASSERT_EQ(window.ShownWords().size(), static_cast<size_t>(n));
  window.SelectWord(window.ShownWords()[n / 2].word);
  EXPECT_EQ(window.sgRelationships->rowCount(), 20);
  int column = 0;
  const int64_t sort = best([&] {
    window.SortBy(column, Qt::AscendingOrder);
    column = 1 - column;
    QApplication::processEvents();
  });
  const int64_t search = best([&] {
    for (const char* typed : {"W", "WA", "WAB", "WA", "W", ""}) {
      window.txtSearch->setText(typed);
      QApplication::processEvents();
    }
  });
  std::printf("20000 words: open %lld ms, sort %lld ms, 6 keys in the search box %lld ms\n",
              static_cast<long long>(open), static_cast<long long>(sort), static_cast<long long>(search));
  EXPECT_LT(open, 200);
  EXPECT_LT(sort, 100);
  EXPECT_LT(search, 6 * 50);
}

// The reading list driven by keys only, over a real store and a real engine.
class ReadingListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zibu-reading-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    store_ = TArticleStore::Open(dir_ + "/articles.db", 1);
    engine_.SetMaxWordWeight(50);
    auto add = [](const char* title, const char* link, int relevance, int64_t published, const char* content) {
      StoredArticle a;
      a.title = title;
      a.link = link;
      a.text = std::string(title) + " " + content;
      a.content = std::string("<p>") + content + "</p>";
      a.relevance = relevance;
      a.published = published;
      return a;
    };
    std::vector<StoredArticle> garden = {
        add("Apple pruning in winter", "http://garden/1", 70, 300, "Cut the <a href=\"/tips\">old wood</a>."),
        add("Pear trees", "http://garden/2", 40, 200, "Pears like sun. <img src=\"file:///etc/hostname\">"),
        add("Compost", "http://garden/3", 10, 100, "Leaves and grass.")};
    std::vector<StoredArticle> sport = {add("Football results", "http://sport/1", -30, 400, "Scores.")};
    store_->StoreFeedArticles("http://feed/garden", garden, 1);
    store_->StoreFeedArticles("http://feed/sport", sport, 1);
    ids_ = {garden[0].id, garden[1].id, garden[2].id, sport[0].id};

    services_.store = store_.get();
    services_.feedFilters = [] {
      return std::vector<FeedFilter>{{"Garden", {"http://feed/garden"}}, {"Sport", {"http://feed/sport"}}};
    };
    services_.feedName = [](const std::string& url) { return url == "http://feed/sport" ? "Sport" : "Garden"; };
    services_.rate = [this](int64_t id, int rating) {
      rated_.emplace_back(id, rating);
      RateStoredArticle(engine_, *store_, shown_, 1000, id, rating);
    };
    services_.explain = [this](const std::string& text) { return engine_.ExplainRelevance(text); };
    services_.open = [this](const std::string& url) { opened_.push_back(url); };
    services_.markReadDelayMs = -1;
  }
  void TearDown() override {
    window_.reset();
    store_.reset();
    std::filesystem::remove_all(dir_);
  }
  TfrmReadingList& Open() {
    window_ = std::make_unique<TfrmReadingList>(services_);
    ShowActive(*window_);
    window_->sgArticles->setFocus();
    return *window_;
  }
  std::vector<std::string> ListedTitles() const {
    std::vector<std::string> out;
    for (const auto& a : window_->Listed()) out.push_back(a.title);
    return out;
  }
  static void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { Press(key, mods); }

  std::string dir_;
  std::unique_ptr<TArticleStore> store_;
  SilentUserPort port_;
  LearningEngine engine_{port_};
  TCompMap shown_;
  ReadingListServices services_;
  std::vector<int64_t> ids_;
  std::vector<std::pair<int64_t, int>> rated_;
  std::vector<std::string> opened_;
  std::unique_ptr<TfrmReadingList> window_;
};

TEST_F(ReadingListTest, KeysMoveSearchRateStarAndOpen) {
  auto& w = Open();
  EXPECT_EQ(ListedTitles(), (std::vector<std::string>{"Apple pruning in winter", "Pear trees", "Compost",
                                                       "Football results"}));
  EXPECT_EQ(w.SelectedId(), ids_[0]);
  EXPECT_TRUE(w.txtPreview->toHtml().contains("Apple pruning in winter"));

  struct Move {
    Qt::Key key;
    int64_t selected;
  } moves[] = {{Qt::Key_J, ids_[1]}, {Qt::Key_J, ids_[2]}, {Qt::Key_K, ids_[1]}, {Qt::Key_Down, ids_[2]},
               {Qt::Key_Up, ids_[1]}};
  for (const auto& m : moves) {
    Key(m.key);
    EXPECT_EQ(w.SelectedId(), m.selected) << m.key;
  }

  // Space pages the preview, then moves on: a short article moves on at once.
  Key(Qt::Key_Space);
  EXPECT_EQ(w.SelectedId(), ids_[2]);

  // s stars, m marks read and back, o and Enter open the link.
  Key(Qt::Key_S);
  EXPECT_TRUE(store_->Get(ids_[2])->starred);
  Key(Qt::Key_M);
  EXPECT_TRUE(store_->Get(ids_[2])->read);
  Key(Qt::Key_M);
  EXPECT_FALSE(store_->Get(ids_[2])->read);
  Key(Qt::Key_O);
  Key(Qt::Key_Return);
  EXPECT_EQ(opened_, (std::vector<std::string>{"http://garden/3", "http://garden/3"}));

  // / searches; Enter takes the list back with the focus.
  Key(Qt::Key_Slash);
  ASSERT_EQ(QApplication::focusWidget(), w.txtSearch);
  QTest::keyClicks(w.txtSearch, "\"apple pruning\"");
  Key(Qt::Key_Return);
  EXPECT_EQ(ListedTitles(), std::vector<std::string>{"Apple pruning in winter"});
  EXPECT_EQ(QApplication::focusWidget(), w.sgArticles);
  Key(Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), w.txtSearch);
  w.txtSearch->clear();
  Key(Qt::Key_Escape);
  EXPECT_EQ(ListedTitles().size(), 4u);

  // r reaches the scale; a digit rates, "-" and a digit rate below zero; Tab goes back to the list.
  ASSERT_TRUE(w.SelectArticle(ids_[0]));
  w.sgArticles->setFocus();
  Key(Qt::Key_R);
  ASSERT_TRUE(w.Scale().gbRelevance->isAncestorOf(QApplication::focusWidget()));
  Key(Qt::Key_7);
  EXPECT_EQ(rated_, (std::vector<std::pair<int64_t, int>>{{ids_[0], 7}}));
  Key(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), w.sgArticles);
  EXPECT_EQ(store_->Get(ids_[0])->rating, 7);
  EXPECT_TRUE(store_->Get(ids_[0])->read);
  EXPECT_EQ(engine_.RatedArticles().Entries().size(), 1u);
  EXPECT_GT(engine_.GetRelevance("apple pruning"), 0);
  EXPECT_TRUE(WasShownRecently(shown_, "http://garden/1", 1001, 60000));

  ASSERT_TRUE(w.SelectArticle(ids_[3]));
  w.sgArticles->setFocus();
  Key(Qt::Key_R);
  Key(Qt::Key_Minus);
  Key(Qt::Key_0);
  Key(Qt::Key_Backtab);
  EXPECT_EQ(rated_.back(), (std::pair<int64_t, int>{ids_[3], -10}));
  EXPECT_EQ(QApplication::focusWidget(), w.sgArticles);

  // Arrows move the scale; the rating is taken once the user leaves it, not at every step.
  ASSERT_TRUE(w.SelectArticle(ids_[1]));
  w.sgArticles->setFocus();
  Key(Qt::Key_R);
  const size_t before = rated_.size();
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  EXPECT_EQ(rated_.size(), before);
  Key(Qt::Key_Tab);
  ASSERT_EQ(rated_.size(), before + 1);
  EXPECT_EQ(rated_.back(), (std::pair<int64_t, int>{ids_[1], 2}));

  // The list following new relevances while the user is on the scale keeps the article, the
  // scale and the focus where they are.
  ASSERT_TRUE(w.SelectArticle(ids_[2]));
  w.sgArticles->setFocus();
  Key(Qt::Key_R);
  store_->SetRelevances({{ids_[2], 99}});
  w.RelevancesChanged();
  EXPECT_EQ(w.SelectedId(), ids_[2]);
  ASSERT_TRUE(w.Scale().gbRelevance->isAncestorOf(QApplication::focusWidget()));
  Key(Qt::Key_4);
  EXPECT_EQ(rated_.back(), (std::pair<int64_t, int>{ids_[2], 4}));
  Key(Qt::Key_Tab);
  EXPECT_EQ(w.Listed().front().id, ids_[2]) << "ranked first by its new relevance";

  // The filters: rated, starred, a feed, by date.
  struct Filter {
    QComboBox* box;
    int index;
    std::vector<std::string> titles;
  } filters[] = {
      {w.cbShow, 3, {"Compost", "Apple pruning in winter", "Pear trees", "Football results"}},
      {w.cbShow, 2, {"Compost"}},
      {w.cbShow, 1, {}},
      {w.cbShow, 0, {"Compost", "Apple pruning in winter", "Pear trees", "Football results"}},
      {w.cbFeed, 2, {"Football results"}},
      {w.cbFeed, 1, {"Compost", "Apple pruning in winter", "Pear trees"}},
      {w.cbSort, 1, {"Apple pruning in winter", "Pear trees", "Compost"}},
  };
  for (const auto& f : filters) {
    f.box->setCurrentIndex(f.index);
    EXPECT_EQ(ListedTitles(), f.titles) << f.box->objectName().toStdString() << " " << f.index;
  }

  // Mark all read does the visible list only.
  store_->SetRead({ids_[2], ids_[3]}, false);
  w.Reload();
  w.btnMarkAllRead->click();
  EXPECT_TRUE(store_->Get(ids_[2])->read);
  EXPECT_FALSE(store_->Get(ids_[3])->read) << "not listed, so not marked";
  EXPECT_EQ(w.lblCount->text().toStdString(), "3 articles, 0 unread");
}

TEST_F(ReadingListTest, ThePreviewFetchesNothingAndResolvesLinksAgainstTheArticle) {
  services_.markReadDelayMs = 0;
  auto& w = Open();
  // Selecting marks read after the delay.
  QTRY_VERIFY(store_->Get(ids_[0])->read);
  for (const char* url : {"file:///etc/hostname", "http://127.0.0.1:1/x.png", "/etc/hostname", "x.css"})
    EXPECT_FALSE(w.txtPreview->loadResource(QTextDocument::ImageResource, QUrl(url)).isValid()) << url;
  emit w.txtPreview->anchorClicked(QUrl("/tips"));
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], "http://garden/tips");
  // Every control a user works with is named for a screen reader.
  for (QWidget* c : std::initializer_list<QWidget*>{w.txtSearch, w.cbShow, w.cbFeed, w.cbSort, w.sgArticles,
                                                    w.txtPreview})
    EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
}

}  // namespace
}  // namespace zibu
