#include "app/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "ui/qtext.h"

namespace zibu {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 10000;

}  // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), bus_(bus) {
  if (!bus_.isConnected()) return;
  // Any sender: a service started on demand gets its bus name only after the first request.
  bus_.connect(QString(), kPath, kInterface, "ActionInvoked", this, SLOT(OnActionInvoked(uint, QString)));
  bus_.connect(QString(), kPath, kInterface, "NotificationClosed", this, SLOT(OnClosed(uint, uint)));
}

bool DesktopNotifier::Notify(const std::string& reason, const QString& title) {
  if (!enabled_ || !bus_.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QVariantMap hints;
  hints.insert("desktop-entry", QString(kDesktopAppId));
  hints.insert("urgency", QVariant::fromValue<uchar>(1));
  // The body may be read as markup.
  call << QString("Zibu") << shownId_ << QString(kDesktopAppId) << ToQ(reason) << title.toHtmlEscaped()
       << QStringList{"default", "Show Zibu"} << hints << -1;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<uint> reply = *w;
    if (!reply.isError()) {
      shownId_ = reply.value();
      // Closings may go unreported; the ids of long-gone notifications need not be kept.
      if (ours_.size() > 64) ours_.clear();
      ours_.insert(shownId_);
    }
    w->deleteLater();
  });
  return true;
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& action) {
  if (ours_.contains(id) && action == "default") emit activated();
}

void DesktopNotifier::OnClosed(uint id, uint) {
  ours_.remove(id);
  if (id == shownId_) shownId_ = 0;
}

}  // namespace zibu
