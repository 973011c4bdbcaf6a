// Placeholder entry until the application shell lands: a main window that opens and closes.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow w;
  w.setWindowTitle("Zibu 1.13");
  w.resize(800, 600);
  w.show();
  return app.exec();
}
