#include "ui/accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace zibu {

namespace {

constexpr const char* kWindowRole = "zibuAnnouncedAsWindow";

QAccessibleInterface* WindowRoleFactory(const QString&, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (!widget || !widget->property(kWindowRole).toBool()) return nullptr;
  return new QAccessibleWidget(widget, QAccessible::Window);
}

}  // namespace

void AnnounceAsWindow(QWidget* window) {
  static const bool installed = [] {
    QAccessible::installFactory(WindowRoleFactory);
    return true;
  }();
  (void)installed;
  window->setProperty(kWindowRole, true);
}

}  // namespace zibu
