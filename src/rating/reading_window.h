// TfrmReadingList: every article the feeds brought, ranked by what the user likes, searchable,
// and rateable where it is read. A list (filters, search, sort) over the article store and a
// preview of the selected article with the rating scale under it; everything reachable by keys.
#pragma once

#include <QTextBrowser>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "learning/explanation.h"
#include "rating/rating_scale.h"
#include "store/article_store.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace zibu {

// A choice of the feed filter: one feed, or the feeds of an OPML folder.
struct FeedFilter {
  std::string label;  // UTF-8, as the list shows it
  std::vector<std::string> urls;
};

// What the reading list needs of the program.
struct ReadingListServices {
  TArticleStore* store = nullptr;
  std::function<std::vector<FeedFilter>()> feedFilters;
  // The name the feed list shows for a feed's address (UTF-8).
  std::function<std::string(const std::string& url)> feedName;
  // Teaches the engine from a rating of a kept article, as the rating windows do.
  std::function<void(int64_t id, int rating)> rate;
  std::function<RelevanceExplanation(const std::string& text)> explain;
  // Where a relevance stands among the recent scores ("" when there are too few).
  std::function<std::string(int relevance)> standing;
  std::function<void(const std::string& url)> open;
  std::function<void(const std::string& line)> log;
  int markReadDelayMs = 1500;  // selecting an article marks it read after this; < 0: never
};

// The preview: the feed's HTML shown with nothing fetched, from the network or the disk.
class TArticlePreview : public QTextBrowser {
  Q_OBJECT
 public:
  using QTextBrowser::QTextBrowser;
  QVariant loadResource(int type, const QUrl& name) override;
};

class TArticleListModel;

class TfrmReadingList : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmReadingList(ReadingListServices services, QWidget* parent = nullptr);
  ~TfrmReadingList() override;

  // Runs the query of the filters again, keeping the selected article where it is still listed.
  void Reload();
  // The relevances changed (learning moved): the list follows without losing the selection.
  void RelevancesChanged() { Reload(); }
  // Selects the article when the list shows it.
  bool SelectArticle(int64_t id);
  int64_t SelectedId() const;
  const std::vector<StoredArticle>& Listed() const;

  void btnMarkAllReadClick();
  void btnStarClick();
  void btnOpenClick();
  void btnWhyClick();
  void ToggleRead();
  // Applies the scale's rating to the selected article now, if it changed.
  void CommitRating();

  QLineEdit* txtSearch = nullptr;
  QComboBox* cbShow = nullptr;  // All, Unread, Starred, Rated
  QComboBox* cbFeed = nullptr;
  QComboBox* cbSort = nullptr;  // Relevance, Date
  QPushButton* btnMarkAllRead = nullptr;
  QLabel* lblCount = nullptr;
  QTableView* sgArticles = nullptr;
  TArticlePreview* txtPreview = nullptr;
  QLabel* lblStanding = nullptr;
  QWidget* pnlRate = nullptr;
  QPushButton* btnWhy = nullptr;
  QPushButton* btnOpen = nullptr;
  QPushButton* btnStar = nullptr;
  QTimer* tmrMarkRead = nullptr;
  QTimer* tmrSearch = nullptr;
  QTimer* tmrRate = nullptr;
  const RatingScale& Scale() const { return scale_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void SelectionChanged();
  void ShowPreview(const StoredArticle* article);
  void MoveBy(int rows);
  void PageOrNext();
  void FillFeedFilter();
  void ShowCount();
  ArticleQuery CurrentQuery() const;
  void UpdateRow(int64_t id);
  bool ScaleHasFocus() const;
  bool HandleListKey(QKeyEvent* key);
  bool HandleScaleKey(QKeyEvent* key);

  ReadingListServices services_;
  TArticleListModel* model_ = nullptr;
  RatingScale scale_;
  int64_t shownId_ = 0;     // the article the preview and the scale belong to
  int shownRating_ = 0;     // its rating as the store has it
  bool fillingScale_ = false;
  bool negativeDigit_ = false;  // "-" was typed in the scale: the next digit is a negative rating
  std::vector<std::vector<std::string>> feedChoices_;  // the urls of each cbFeed entry
  std::pair<size_t, size_t> counts_;                    // articles the filters match, and unread
};

}  // namespace zibu
