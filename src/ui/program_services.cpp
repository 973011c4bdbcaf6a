#include "ui/program_services.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>

#include "ui/widget_helpers.h"

namespace zibu {

MessagePacer::MessagePacer(const Clock& clock, std::function<void()> processMessages)
    : clock_(clock), processMessages_(std::move(processMessages)) {}

bool MessagePacer::Run() {
  const int64_t now = clock_.NowMs();
  if (lastPacedProcessing_ >= now - intervalMs_) return false;
  lastPacedProcessing_ = now;
  if (processMessages_) processMessages_();
  return true;
}

// Records when this program last saw keyboard or mouse input.
class AppInputIdleSource::Watcher : public QObject {
 public:
  Watcher() { sinceInput_.start(); }
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

AppInputIdleSource::AppInputIdleSource() : watcher_(new Watcher()) {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    app->installEventFilter(watcher_);
  }
}

AppInputIdleSource::~AppInputIdleSource() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(watcher_);
  delete watcher_;
}

uint32_t AppInputIdleSource::IdleMs() const {
  return watcher_->IdleMs();
}

int64_t ProgramServices::IdleClock::NowMs() const {
  return zibu::NowMs();
}

ProgramServices::ProgramServices(std::string homeFolder, std::unique_ptr<IdleSource> idle)
    : idle_(idle ? std::move(idle) : std::make_unique<AppInputIdleSource>()), pacer_(clock_, [] {
        if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
      }) {
  SetHomeFolder(homeFolder);
}

ProgramServices::~ProgramServices() = default;

void ProgramServices::SetHomeFolder(const std::string& folder) {
  home_ = folder;
  if (home_.empty() || home_.back() != '/') home_ += '/';
}

void ProgramServices::SetIdleSource(std::unique_ptr<IdleSource> idle) {
  idle_ = idle ? std::move(idle) : std::make_unique<AppInputIdleSource>();
}

void ProgramServices::ProcessMessagesPaced() {
  pacer_.Run();
}

bool ProgramServices::BringToFront(QWidget* window) {
  return ForceForeground(window);
}

}  // namespace zibu
