#include "app/platform.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTableWidget>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <atomic>
#include <mutex>

#include "app/x11_idle.h"

namespace zibu {

namespace {

std::string& FolderStore() {
  static std::string folder;
  return folder;
}

std::atomic<bool> gShutdownRequested{false};

// Records when this program last saw keyboard or mouse input.
class InputWatcher : public QObject {
 public:
  InputWatcher() { sinceInput_.start(); }

  uint32_t IdleMs() const { return static_cast<uint32_t>(sinceInput_.elapsed()); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
      case QEvent::TouchBegin:
      case QEvent::TabletPress:
        sinceInput_.restart();
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QElapsedTimer sinceInput_;
};

InputWatcher* gInputWatcher = nullptr;

}  // namespace

const std::string& ProgramFolder() {
  return FolderStore();
}

void SetProgramFolder(const std::string& folder) {
  std::string f = folder;
  if (f.empty() || f.back() != '/') f += '/';
  FolderStore() = f;
}

MessagePacer::MessagePacer(const Clock& clock, std::function<void()> processMessages)
    : clock_(clock), processMessages_(std::move(processMessages)) {}

bool MessagePacer::Run() {
  const int64_t now = clock_.NowMs();
  if (lastPacedProcessing_ >= now - intervalMs_) return false;
  lastPacedProcessing_ = now;
  if (processMessages_) processMessages_();
  return true;
}

namespace {

MessagePacer& ProgramPacer() {
  static GuiClock clock;
  static MessagePacer pacer(clock, [] {
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
  });
  return pacer;
}

}  // namespace

void SetProcessMessagesInterval(int64_t ms) {
  ProgramPacer().SetInterval(ms);
}

void ProcessMessagesPaced() {
  ProgramPacer().Run();
}

void InstallInputWatcher() {
  if (gInputWatcher || !QCoreApplication::instance()) return;
  gInputWatcher = new InputWatcher();
  gInputWatcher->setParent(QCoreApplication::instance());
  QCoreApplication::instance()->installEventFilter(gInputWatcher);
}

uint32_t IdleMs() {
  if (auto x = X11IdleMs()) return *x;
  InstallInputWatcher();
  return gInputWatcher ? gInputWatcher->IdleMs() : 0;
}

bool ShutdownRequested() {
  return gShutdownRequested.load();
}
void SetShutdownRequested(bool requested) {
  gShutdownRequested.store(requested);
}

void WaitForIdle(int64_t ms) {
  while (!ShutdownRequested() && ms > static_cast<int64_t>(IdleMs())) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (int i = 0; i < 5 && !ShutdownRequested(); ++i) {
      QThread::msleep(500);
      QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    QApplication::restoreOverrideCursor();
  }
}

bool ForceForeground(QWidget* window) {
  if (!window) return false;
  if (window->isMinimized()) window->showNormal();
  if (window->isActiveWindow()) return true;
  window->show();
  window->raise();
  window->activateWindow();
  if (QWindow* handle = window->windowHandle()) handle->requestActivate();
  return window->isActiveWindow();
}

void DeleteGridRow(QTableWidget* grid, int row) {
  if (!grid || row < 0 || row >= grid->rowCount()) return;
  const int rows = grid->rowCount();
  const int cols = grid->columnCount();
  for (int r = row; r < rows - 1; ++r) {
    for (int c = 0; c < cols; ++c) {
      delete grid->takeItem(r, c);
      grid->setItem(r, c, grid->takeItem(r + 1, c));
    }
  }
  grid->setRowCount(rows - 1);
}

int64_t GuiClock::NowMs() const {
  return zibu::NowMs();
}
uint32_t GuiClock::IdleMs() const {
  return zibu::IdleMs();
}

}  // namespace zibu
