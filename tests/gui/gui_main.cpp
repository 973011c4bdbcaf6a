// Window tests share one QApplication on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The embedded browser refuses to start as root with its sandbox on.
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
