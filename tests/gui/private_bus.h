// A D-Bus session bus of a test's own, so no desktop's service is disturbed or consulted.
#pragma once

#include <signal.h>

#include <QProcess>
#include <QString>

namespace zibu {

// dbus-run-session holds the bus while the shell it runs sleeps; the shell names its process and
// the bus's address on its first line.
class PrivateBus {
 public:
  PrivateBus() {
    proc_.start("dbus-run-session",
                {"--", "sh", "-c", "echo \"$$ $DBUS_SESSION_BUS_ADDRESS\"; exec sleep 120"});
    if (!proc_.waitForReadyRead(10000)) return;
    const QString line = QString::fromUtf8(proc_.readLine()).trimmed();
    holder_ = line.section(' ', 0, 0).toInt();
    address = line.section(' ', 1);
  }
  ~PrivateBus() {
    // The session ends, and its bus with it, when the program it runs ends.
    if (holder_ > 0) ::kill(holder_, SIGTERM);
    proc_.waitForFinished(5000);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  QString address;

 private:
  QProcess proc_;
  int holder_ = 0;
};

}  // namespace zibu
