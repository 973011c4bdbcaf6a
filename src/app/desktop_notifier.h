// Desktop notifications (the freedesktop.org notification service on the session bus). Window
// managers often refuse to raise a window that asks for the focus, so every alert also posts a
// notification; clicking it brings the program to the front. Without a bus or a notification
// service nothing happens: the request goes out without waiting, and its failure is ignored.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QSet>
#include <QString>
#include <string>

namespace zibu {

inline constexpr const char* kDesktopAppId = "example.zibu_news.Zibu";

class DesktopNotifier : public QObject {
  Q_OBJECT

 public:
  explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

  void SetEnabled(bool enabled) { enabled_ = enabled; }
  bool Enabled() const { return enabled_; }
  // Shows `reason` over `title` (Windows-1252 texts), in place of the previous notification while
  // that one is still shown. False when nothing was sent (switched off, or no bus).
  bool Notify(const std::string& reason, const QString& title);

 signals:
  // The user clicked one of this program's notifications.
  void activated();

 private slots:
  void OnActionInvoked(uint id, const QString& action);
  void OnClosed(uint id, uint why);

 private:
  QDBusConnection bus_;
  bool enabled_ = true;
  uint shownId_ = 0;  // the notification still on screen, 0 when none
  QSet<uint> ours_;
};

}  // namespace zibu
