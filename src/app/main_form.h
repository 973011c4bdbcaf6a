// TMainForm: the multiple-document main frame. It owns the global settings, the proxy
// settings and its child windows (page monitors and spiders), starts the program up, alerts
// the user, keeps the tray icon while minimised, and saves all configuration.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/global_settings.h"
#include "common/ports.h"
#include "rating/reading_window.h"
#include "ui/window_ports.h"

class QAction;
class QDBusConnection;
class QMdiArea;
class QMdiSubWindow;

namespace zibu {

class DesktopNotifier;
class FeedsSession;
class ProgramServices;
class SettingsFile;
class TfrmFeeds;
class VersionCheck;

// The first-run welcome text.
std::string WelcomeMessage();

// Where the program's site lives (none is published yet; checkForNewVersion is off by default).
inline constexpr const char* kHomePageAddress = "http://www.zibu-news.example/";
inline constexpr const char* kVersionDocumentAddress = "http://www.zibu-news.example/zibu.xml";
inline constexpr const char* kSupportAddress = "support@zibu-news.example";

// The composition root: it creates the windows and hands each the small interfaces it needs
// (FramePort from itself, ScanControl and the learning engine from the feeds session).
class TMainForm : public QMainWindow, public FramePort {
  Q_OBJECT

 public:
  // The frame requests the program's shutdown when it closes.
  explicit TMainForm(ProgramServices& program, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Stores the feeds session and its window, and hands the window this frame's services. Both
  // must outlive the frame or be detached with (nullptr, nullptr).
  void AttachFeeds(FeedsSession* session, TfrmFeeds* feeds);
  TfrmFeeds* Feeds() const;
  FeedsSession* Session() const { return session_; }

  // Reads the settings and loads every window's data; the version check, when asked for, runs
  // with the event loop going, and start-up ends from its answer. `startUpFinished` tells when
  // the whole start-up is over (at once when there is no check).
  void StartUp();
  // False, writing nothing, when start-up stopped early (the reason goes to the status log).
  bool SaveAllConfig();
  // Why saves are held in this run; empty when start-up read everything.
  const std::string& SavesHeld() const { return savesHeld_; }
  QWidget* NewPageMonitorWindow();
  // The spider command with its gate on the number of learned words.
  void NewSpiderWindow();
  void AlertUser(const std::string& reason, const std::string& title,
                 const std::string& titleUtf8 = std::string()) override;
  PageFoundResult ShowPageFound(const std::string& reason, const std::string& title,
                                const std::string& description, const std::string& link,
                                bool ratingPanelVisible) override;
  // A feed article: its "Why?" is explained with the feeds window's learning.
  PageFoundResult ShowArticle(const FoundArticle& article) override;

  ProgramPort& Program() override;
  const GlobalSettings& Settings() const override { return settings_; }
  const ProxySettings& Proxy() const { return settings_.proxy; }
  std::string ProgramFolder() const;
  std::string ConfigPath() const { return ProgramFolder() + "zibu.conf"; }
  bool StartupDone() const { return startupDone_; }
  bool FeedsInFront() const { return feedsInFront_; }
  void SetFeedsInFront(bool inFront) { feedsInFront_ = inFront; }
  QMdiArea* MdiArea() const { return mdiArea_; }

  // Commands of the tool bar and menus.
  void ShowFeeds();
  // Opens the reading list (a child window of the frame), or brings it forward; selects
  // `article` when it is listed (0: keeps the selection).
  void ShowReadingList(int64_t article = 0);
  TfrmReadingList* ReadingList() const { return readingList_.data(); }
  void NewWebPage();
  void SaveConfigCommand();
  void VisitHomePage();
  void Cascade();
  void TileHorizontally();
  void TileVertically();
  void ArrangeAll();

  void AppMinimize();
  void TrayIconMessage(QSystemTrayIcon::ActivationReason reason);
  bool TrayIconVisible() const;

  // The number of words the learning engine has weightings for.
  int LearnedWordCount() const;
  // Where the spider gate gets the learned word count; the feeds session by default.
  void SetWordCountSource(std::function<int()> source) { wordCountSource_ = std::move(source); }
  // Whether the desktop offers a notification area; asks the desktop by default.
  void SetTrayAvailable(std::function<bool()> available) { trayAvailable_ = std::move(available); }
  // Child windows in the toolkit's child order, front-most first (closed ones left out).
  std::vector<QMdiSubWindow*> ChildWindows() const;
  // Where start-up looks for the published version.
  void SetVersionDocumentAddress(std::string address) { versionDocumentAddress_ = std::move(address); }
  // How many times the configuration has been saved in this run.
  int SaveCount() const { return saveCount_; }
  // Where alerts post their desktop notifications; the session bus by default.
  void SetNotificationBus(const QDBusConnection& bus);
  DesktopNotifier* Notifier() const { return notifier_; }

 signals:
  // The frame was closed and everything is saved; the program may end.
  void shutdownComplete();
  // Start-up is over: the children are tiled, the splash is hidden, and StartupDone() is true.
  void startUpFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateActions();
  void ShowWelcomeOnce();
  void RunVersionCheck();
  // What start-up does after the version check.
  void FinishStartUp();
  QMdiSubWindow* AddChild(QWidget* child);
  void RestoreFromTray();
  // The reading window's services, from the session.
  ReadingListServices ReadingServices();
  void Tile(bool sideBySide);
  // A status line in the feeds session's log (the frame has none of its own).
  void Log(const std::string& message);
  // A frame shown while FeedsInFront is set brings the feeds window forward.
  void BringFeedsForwardIfInFront();
  bool TrayAvailable() const;

  ProgramServices& program_;
  GlobalSettings settings_;
  FeedsSession* session_ = nullptr;
  QPointer<TfrmFeeds> feeds_;
  QMdiArea* mdiArea_ = nullptr;
  QSystemTrayIcon* trayIcon_ = nullptr;
  DesktopNotifier* notifier_ = nullptr;
  std::function<int()> wordCountSource_;
  std::function<bool()> trayAvailable_;
  std::string versionDocumentAddress_ = kVersionDocumentAddress;
  bool startupDone_ = false;
  bool welcomeShown_ = false;
  bool feedsInFront_ = false;
  bool closing_ = false;
  bool tileOnShow_ = false;
  std::unique_ptr<VersionCheck> versionCheck_;
  int saveCount_ = 0;
  std::string savesHeld_;
  QPointer<TfrmReadingList> readingList_;
  QTimer* tmrRescore_ = nullptr;  // drives the rescoring of the reading list, a slice a tick

 public:
  // Controls, named as the user interface names them.
  QAction* sbRSS = nullptr;
  QAction* btnNewWebPage = nullptr;
  QAction* btnSpider = nullptr;
  QAction* sbSaveConfig = nullptr;
  QAction* SpeedButton1 = nullptr;
  QAction* FileLearnedWords1 = nullptr;
  QAction* ViewReadingList1 = nullptr;
  QAction* FileExit1 = nullptr;
  QAction* WindowCascade1 = nullptr;
  QAction* WindowTileHorizontal1 = nullptr;
  QAction* WindowTileVertical1 = nullptr;
  QAction* WindowMinimizeAll1 = nullptr;
  QAction* WindowArrangeAll1 = nullptr;
  QAction* WindowClose1 = nullptr;
};

}  // namespace zibu
