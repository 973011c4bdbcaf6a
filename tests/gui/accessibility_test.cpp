// Every window as a screen reader and a dark theme meet it: the accessibility tree names every
// control a user works with, and the texts that carry meaning in colour stay readable.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyleFactory>
#include <QTableView>
#include <QTableWidget>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "feeds/feed.h"
#include "feeds/feeds_session.h"
#include "feeds/feeds_window.h"
#include "learning/engine.h"
#include "monitor/monitor_window.h"
#include "rating/learned_words_window.h"
#include "rating/multiplepagesfound_window.h"
#include "rating/pagefound_window.h"
#include "rating/reading_window.h"
#include "rating/why_window.h"
#include "spider/spider_window.h"
#include "store/article_store.h"
#include "themes.h"
#include "ui/dialogs.h"
#include "ui/link_label.h"
#include "ui/program_services.h"
#include "ui/qtext.h"
#include "ui/readable_colour.h"

namespace zibu {
namespace {

// The roles of what a user presses, types into, chooses or reads in.
bool Interactive(QAccessible::Role role) {
  switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::Slider:
    case QAccessible::SpinBox:
    case QAccessible::List:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
      return true;
    default:
      return false;
  }
}

// What the walk found: every visible interactive control without a name, by its object name
// and role; the controls it did see, with their names.
struct Walk {
  std::vector<std::string> unnamed;
  std::map<std::string, std::string> named;  // object name -> accessible name
};

void WalkTree(QAccessibleInterface* node, Walk& walk, int depth = 0) {
  if (!node || depth > 40) return;
  const QAccessible::Role role = node->role();
  if (!node->state().invisible && Interactive(role)) {
    const QString name = node->text(QAccessible::Name).trimmed();
    const std::string object = node->object() ? FromQ(node->object()->objectName()) : "";
    if (name.isEmpty())
      walk.unnamed.push_back((object.empty() ? std::string("(no object name)") : object) + " role " +
                             std::to_string(role));
    else if (!object.empty())
      walk.named[object] = FromQ(name);
  }
  // The cells of tables and lists are named by their own text.
  if (role == QAccessible::Table || role == QAccessible::List || role == QAccessible::Tree) return;
  for (int i = 0; i < node->childCount(); ++i) WalkTree(node->child(i), walk, depth + 1);
}

Walk WalkWindow(QWidget* window) {
  Walk walk;
  WalkTree(QAccessible::queryAccessibleInterface(window), walk);
  return walk;
}

RelevanceExplanation SomeExplanation() {
  RelevanceExplanation x;
  x.wordCount = 3;
  x.distinctWords = 3;
  x.words = {{"JORDAN", 2, 40, 160}, {"KATIE", 1, -30, -60}, {"SAND", 1, 10, 20}};
  x.positivePairs = {{"JORDAN", "SAND", 12, 48}};
  x.negativePairs = {{"JORDAN", "KATIE", -16, -64}};
  return x;
}

Items ThreeItems() {
  Items items;
  for (int i = 0; i < 3; ++i) {
    TItem item;
    item.Title = "Title " + std::to_string(i);
    item.Description = "Description " + std::to_string(i);
    item.Link = "http://example.test/" + std::to_string(i);
    item.Reason = "Article found, relevance=" + std::to_string(50 - i) + "%";
    items.push_back(item);
  }
  return items;
}

// Each window of the program, built and shown as a user would meet it.
class WindowsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() /
            ("zibu_accessibility_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    program.SetHomeFolder(home_.string());
    session = std::make_unique<FeedsSession>(program.HomeFolder());
    SetDialogScript({.onMessage = [](const std::string&) {},
                     .onQuestion = [](const std::string&) { return false; },
                     .onOpenUrl = [](const std::string&) {},
                     .onChooseFile = nullptr});
    for (int i = 0; i < 3; ++i) {
      engine.LearnFromRating("jordan sand abdullah", 9);
      engine.LearnFromRating("katie", -8);
    }
  }
  void TearDown() override {
    ClearDialogScript();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    session.reset();
    store.reset();
    std::filesystem::remove_all(home_);
  }

  struct Shown {
    std::string name;
    std::unique_ptr<QWidget> window;
  };
  // Built fresh for every call, so each takes the palette of the moment.
  std::vector<Shown> Windows() {
    std::vector<Shown> out;
    auto pageFound = std::make_unique<TfrmPageFound>();
    pageFound->SetArticle("Article found, relevance=40%", "http://example.test/a", "A title", "A text", true);
    out.push_back({"page found", std::move(pageFound)});
    auto table = std::make_unique<TfrmMultiplePagesFound>();
    table->SetItems(items);
    out.push_back({"items as a table", std::move(table)});
    auto why = std::make_unique<TfrmWhy>();
    why->SetExplanation(WhySubject{}, SomeExplanation());
    out.push_back({"why", std::move(why)});
    auto learned = std::make_unique<TfrmLearnedWords>(engine, std::function<void(const std::string&)>{});
    out.push_back({"learned words", std::move(learned)});
    auto spider = std::make_unique<TfrmSpider>(nullptr);
    spider->SetEngine(&engine);
    out.push_back({"spider", std::move(spider)});
    auto monitor = std::make_unique<TfrmPageMonitor>(nullptr);
    out.push_back({"page monitor", std::move(monitor)});
    out.push_back({"feeds", std::make_unique<TfrmFeeds>(*session, program)});
    if (!store) {
      store = TArticleStore::Open((home_ / "articles.db").string(), 1);
      std::vector<StoredArticle> kept(1);
      kept[0].title = "A kept article";
      kept[0].link = "http://example.test/kept";
      store->StoreFeedArticles("http://example.test/feed", kept, 1);
    }
    ReadingListServices services;
    services.store = store.get();
    out.push_back({"reading list", std::make_unique<TfrmReadingList>(services)});
    for (Shown& s : out) {
      s.window->resize(900, 640);
      s.window->show();
    }
    QApplication::processEvents();
    return out;
  }

  std::filesystem::path home_;
  ProgramServices program{"/"};
  std::unique_ptr<FeedsSession> session;
  std::unique_ptr<TArticleStore> store;
  SilentUserPort port;
  LearningEngine engine{port};
  Items items = ThreeItems();
};

using AccessibilityTest = WindowsFixture;

TEST_F(AccessibilityTest, EveryControlAUserWorksWithHasAName) {
  for (Shown& s : Windows()) {
    const Walk walk = WalkWindow(s.window.get());
    EXPECT_TRUE(walk.unnamed.empty()) << s.name << ": " << ::testing::PrintToString(walk.unnamed);
    EXPECT_GE(walk.named.size(), 3u) << s.name << ": the walk saw too few controls";
  }
}

// The names a screen reader reads out, for the controls whose text does not say it by itself.
TEST_F(AccessibilityTest, TheScaleStepsSliderTablesAndTextsSayWhatTheyAre) {
  std::map<std::string, std::map<std::string, std::string>> seen;
  for (Shown& s : Windows()) seen[s.name] = WalkWindow(s.window.get()).named;
  struct Expected {
    std::string window, object, name;
  };
  for (const Expected& e : std::vector<Expected>{
           {"page found", "RadioButton1", "-10 Totally irrelevant"},
           {"page found", "RadioButton4", "-6"},
           {"page found", "RadioButton11", "0"},
           {"page found", "RadioButton14", "+3"},
           {"page found", "RadioButton21", "+10 Very relevant"},
           {"page found", "Memo1", "Article text"},
           {"items as a table", "RadioButton1", "-10 Totally irrelevant"},
           {"items as a table", "RadioButton21", "+10 Very relevant"},
           {"items as a table", "sgArticles", "Items found"},
           {"items as a table", "txtContents", "Article text"},
           {"why", "sgRaised", "Words that raised it"},
           {"why", "sgLowered", "Words that lowered it"},
           {"why", "sgPairs", "Strongest pairs of words"},
           {"learned words", "sgWords", "Learned words"},
           {"learned words", "lbCommonWords", "Common words"},
           {"spider", "tbShowRelevance", "Show pages with relevance"},
           {"spider", "sgPagesFound", "Pages found"},
           {"spider", "txtResults", "Status"},
           {"page monitor", "txtAlerts", "Keywords"},
           {"page monitor", "txtResults", "Status"},
           {"feeds", "tbShowRelevance", "Show articles with relevance"},
           {"feeds", "lbFeeds", "Feeds"},
           {"feeds", "txtKeywords", "Keywords"},
           {"feeds", "txtResults", "Status"},
           {"feeds", "txtAddFeedURL", "Feed URL"},
           {"feeds", "txtRefreshInterval", "Refresh Interval (seconds, min 60)"},
       })
    EXPECT_EQ(seen[e.window][e.object], e.name) << e.window << " " << e.object;
  // The learned words and feeds windows are windows of their own, not panels.
  TfrmLearnedWords learned(engine, {});
  learned.show();
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&learned)->role(), QAccessible::Window);
  TfrmFeeds feeds(*session, program);
  feeds.show();
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&feeds)->role(), QAccessible::Window);
  // The common intervals show only beside the interval box, named all the same.
  auto* intervals = feeds.findChild<QWidget*>("cbCommonIntervals");
  ASSERT_NE(intervals, nullptr);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(intervals)->text(QAccessible::Name), "Common intervals");
}

// The letter after "&" in a caption, upper-cased; 0 when there is none.
QChar Mnemonic(const QString& caption) {
  for (int i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] != '&') return caption[i + 1].toUpper();
    ++i;
  }
  return QChar();
}

// Alt+letter reaches one control only: no two buttons or labels of a window share a letter, and
// every push and radio button (but the scale's numbered steps) has one.
TEST_F(AccessibilityTest, EveryButtonHasAMnemonicOfItsOwnWithinItsWindow) {
  for (Shown& s : Windows()) {
    std::map<QChar, std::vector<std::string>> byLetter;
    std::vector<std::string> without;
    for (QAbstractButton* b : s.window->findChildren<QAbstractButton*>()) {
      if (!b->isVisible() || b->text().isEmpty()) continue;
      const QChar letter = Mnemonic(b->text());
      if (!letter.isNull())
        byLetter[letter].push_back(FromQ(b->text()));
      else if (!b->objectName().startsWith("RadioButton") && !b->inherits("QCheckBox"))
        without.push_back(FromQ(b->text()));
    }
    for (QLabel* l : s.window->findChildren<QLabel*>()) {
      const QChar letter = Mnemonic(l->text());
      if (l->isVisible() && !letter.isNull()) byLetter[letter].push_back(FromQ(l->text()));
    }
    for (const auto& [letter, captions] : byLetter)
      EXPECT_EQ(captions.size(), 1u) << s.name << ": " << ::testing::PrintToString(captions);
    EXPECT_TRUE(without.empty()) << s.name << ": " << ::testing::PrintToString(without);
  }
}

class ThemeTest : public WindowsFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    WindowsFixture::SetUp();
    previousStyle_ = QApplication::style()->name();
    previousPalette_ = QApplication::palette();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication::setPalette(GetParam() ? DarkPalette() : QApplication::style()->standardPalette());
  }
  void TearDown() override {
    QApplication::setStyle(QStyleFactory::create(previousStyle_));
    QApplication::setPalette(previousPalette_);
    WindowsFixture::TearDown();
  }

 private:
  QString previousStyle_;
  QPalette previousPalette_;
};

// The ends of the rating scale, the article link, the raised and lowered words and headings, and
// the Learned words' weights, each measured as drawn.
TEST_P(ThemeTest, EveryColouredTextReachesFourAndAHalfToOne) {
  std::vector<Shown> windows = Windows();
  std::map<std::string, QWidget*> byName;
  for (Shown& s : windows) byName[s.name] = s.window.get();
  struct Text {
    std::string what;
    std::function<std::pair<QWidget*, QRect>()> where;
  };
  auto* pageFound = static_cast<TfrmPageFound*>(byName["page found"]);
  auto* table = static_cast<TfrmMultiplePagesFound*>(byName["items as a table"]);
  auto* why = static_cast<TfrmWhy*>(byName["why"]);
  TfrmLearnedWords learned(engine, {});
  learned.resize(900, 640);
  learned.show();
  QApplication::processEvents();
  // The first rows of a table: the cells of the column given.
  auto cells = [](QAbstractItemView* view, int column) {
    QRect r;
    for (int row = 0; row < view->model()->rowCount(); ++row)
      r |= view->visualRect(view->model()->index(row, column));
    return std::pair<QWidget*, QRect>{view->viewport(), r};
  };
  auto titleOf = [](QGroupBox* box) {
    return std::pair<QWidget*, QRect>{box, QRect(0, 0, box->width(), box->fontMetrics().height() + 4)};
  };
  auto row = [](QTableView* view, int r, int column) {
    return std::pair<QWidget*, QRect>{view->viewport(), view->visualRect(view->model()->index(r, column))};
  };
  ASSERT_GE(learned.sgWords->model()->rowCount(), 2);
  for (const Text& t : std::vector<Text>{
           {"Totally irrelevant",
            [&] {
              return std::pair<QWidget*, QRect>{pageFound->Scale().lblIrrelevant, {}};
            }},
           {"Very relevant",
            [&] {
              return std::pair<QWidget*, QRect>{pageFound->Scale().lblTotallyRelevant, {}};
            }},
           // The link label lets its panel's background through.
           {"the link",
            [&] {
              return std::pair{pageFound->pnlButtons, pageFound->LinkLabel->geometry()};
            }},
           {"the table's link",
            [&] {
              return std::pair{table->pnlHyperlink, table->LinkLabel->geometry()};
            }},
           {"Words that raised it", [&] { return titleOf(why->gbRaised); }},
           {"Words that lowered it", [&] { return titleOf(why->gbLowered); }},
           {"a raising word", [&] { return row(why->sgRaised, 0, 0); }},
           {"a lowering word", [&] { return row(why->sgLowered, 0, 0); }},
           {"the pairs", [&] { return cells(why->sgPairs, 0); }},
           {"a liked word's weight", [&] { return row(learned.sgWords, 0, 1); }},
           {"a disliked word's weight",
            [&] { return row(learned.sgWords, learned.sgWords->model()->rowCount() - 1, 1); }},
       }) {
    const auto [widget, area] = t.where();
    ASSERT_NE(widget, nullptr) << t.what;
    EXPECT_GE(DrawnContrast(widget, area), kReadableContrast)
        << t.what << (GetParam() ? " (dark)" : " (light)");
  }
}

INSTANTIATE_TEST_SUITE_P(LightAndDark, ThemeTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Dark" : "Light"; });

}  // namespace
}  // namespace zibu
