// The feeds window with its session, as the program entry builds them, and its controls found
// by their object names (the window keeps them private).
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <memory>
#include <stdexcept>
#include <string>

#include "feeds/feeds_session.h"
#include "feeds/feeds_window.h"
#include "ui/program_services.h"

namespace zibu::test {

struct FeedsControls {
  explicit FeedsControls(const QWidget& w)
      : lblAddFeedURL(Find<QLabel>(w, "lblAddFeedURL")),
        txtAddFeedURL(Find<QLineEdit>(w, "txtAddFeedURL")),
        btnAddFeed(Find<QPushButton>(w, "btnAddFeed")),
        btnDelete(Find<QPushButton>(w, "btnDelete")),
        btnOpenFeedInBrowser(Find<QPushButton>(w, "btnOpenFeedInBrowser")),
        lbFeeds(Find<QListWidget>(w, "lbFeeds")),
        btnAllActive(Find<QPushButton>(w, "btnAllActive")),
        btnAllInactive(Find<QPushButton>(w, "btnAllInactive")),
        btnImportOpml(Find<QPushButton>(w, "btnImportOpml")),
        btnExportOpml(Find<QPushButton>(w, "btnExportOpml")),
        cbActive(Find<QCheckBox>(w, "cbActive")),
        lblRefreshInterval(Find<QLabel>(w, "lblRefreshInterval")),
        txtRefreshInterval(Find<QLineEdit>(w, "txtRefreshInterval")),
        cbCommonIntervals(Find<QComboBox>(w, "cbCommonIntervals")),
        lblKeywords(Find<QLabel>(w, "lblKeywords")),
        txtKeywords(Find<QPlainTextEdit>(w, "txtKeywords")),
        btnUpdate(Find<QPushButton>(w, "btnUpdate")),
        btnSearchAllFeeds(Find<QPushButton>(w, "btnSearchAllFeeds")),
        btnSearchSelectedFeed(Find<QPushButton>(w, "btnSearchSelectedFeed")),
        btnCancel(Find<QPushButton>(w, "btnCancel")),
        btnLearn(Find<QPushButton>(w, "btnLearn")),
        btnReset(Find<QPushButton>(w, "btnReset")),
        btnLearnedWords(Find<QPushButton>(w, "btnLearnedWords")),
        btnUnitTests(Find<QPushButton>(w, "btnUnitTests")),
        btnCheckRel(Find<QPushButton>(w, "btnCheckRel")),
        lblShowRelevance(Find<QLabel>(w, "lblShowRelevance")),
        tbShowRelevance(Find<QSlider>(w, "tbShowRelevance")),
        lblShowRelevanceHigh(Find<QLabel>(w, "lblShowRelevanceHigh")),
        lblShowRelevanceValue(Find<QLabel>(w, "lblShowRelevanceValue")),
        lblSuggestedThreshold(Find<QLabel>(w, "lblSuggestedThreshold")),
        btnUseSuggestedThreshold(Find<QPushButton>(w, "btnUseSuggestedThreshold")),
        rgResultsFormat(Find<QGroupBox>(w, "rgResultsFormat")),
        rgResultsFormatButtons(Find<QButtonGroup>(w, "rgResultsFormatButtons")),
        lblStatus(Find<QLabel>(w, "lblStatus")),
        txtResults(Find<QPlainTextEdit>(w, "txtResults")),
        Timer1(Find<QTimer>(w, "Timer1")) {}

  template <typename T>
  static T* Find(const QWidget& w, const char* name) {
    T* found = w.findChild<T*>(name);
    if (!found) throw std::logic_error(std::string("the feeds window has no control ") + name);
    return found;
  }

  QLabel* lblAddFeedURL;
  QLineEdit* txtAddFeedURL;
  QPushButton* btnAddFeed;
  QPushButton* btnDelete;
  QPushButton* btnOpenFeedInBrowser;
  QListWidget* lbFeeds;
  QPushButton* btnAllActive;
  QPushButton* btnAllInactive;
  QPushButton* btnImportOpml;
  QPushButton* btnExportOpml;
  QCheckBox* cbActive;
  QLabel* lblRefreshInterval;
  QLineEdit* txtRefreshInterval;
  QComboBox* cbCommonIntervals;
  QLabel* lblKeywords;
  QPlainTextEdit* txtKeywords;
  QPushButton* btnUpdate;
  QPushButton* btnSearchAllFeeds;
  QPushButton* btnSearchSelectedFeed;
  QPushButton* btnCancel;
  QPushButton* btnLearn;
  QPushButton* btnReset;
  QPushButton* btnLearnedWords;
  QPushButton* btnUnitTests;
  QPushButton* btnCheckRel;
  QLabel* lblShowRelevance;
  QSlider* tbShowRelevance;
  QLabel* lblShowRelevanceHigh;
  QLabel* lblShowRelevanceValue;
  QLabel* lblSuggestedThreshold;
  QPushButton* btnUseSuggestedThreshold;
  QGroupBox* rgResultsFormat;
  QButtonGroup* rgResultsFormatButtons;
  QLabel* lblStatus;
  QPlainTextEdit* txtResults;
  QTimer* Timer1;
};

inline FeedsControls Ui(const QWidget& w) {
  return FeedsControls(w);
}
inline FeedsControls Ui(const QWidget* w) {
  return FeedsControls(*w);
}
template <typename T>
FeedsControls Ui(const std::unique_ptr<T>& w) {
  return FeedsControls(*w);
}

// A session of the program's home with its window; the window goes first, as in the program.
// Use -> for the window.
struct FeedsPair {
  explicit FeedsPair(ProgramServices& program)
      : session(std::make_unique<FeedsSession>(program.HomeFolder())) {
    session->SetClock(&program.ProgramClock());
    window = std::make_unique<TfrmFeeds>(*session, program);
  }
  FeedsPair(FeedsPair&&) = delete;
  FeedsPair& operator=(FeedsPair&&) = delete;
  ~FeedsPair() { window.reset(); }

  TfrmFeeds* operator->() const { return window.get(); }
  TfrmFeeds& operator*() const { return *window; }

  std::unique_ptr<FeedsSession> session;
  std::unique_ptr<TfrmFeeds> window;
};

inline FeedsControls Ui(const std::unique_ptr<FeedsPair>& p) {
  return FeedsControls(*p->window);
}
inline FeedsControls Ui(const FeedsPair& p) {
  return FeedsControls(*p.window);
}

}  // namespace zibu::test
