// The reading window over a heavy reader's store: the time from the command to the first screen
// of the list with its preview painted, and the longest the event loop stands still while the
// unread articles are scored again after a rating.
//
//   article_store_bench 100000 1 /tmp/home     (makes the store)
//   QT_QPA_PLATFORM=offscreen reading_window_bench /tmp/home/data/articles.db [RUNS]
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/ports.h"
#include "feeds/reading_list.h"
#include "learning/engine.h"
#include "rating/reading_window.h"
#include "store/article_store.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: reading_window_bench STORE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  auto store = zibu::TArticleStore::Open(argv[1], zibu::NowMs());
  std::printf("%zu articles\n", store->Count());
  std::vector<double> firstScreen;
  for (int r = 0; r < runs; ++r) {
    zibu::ReadingListServices services;
    services.store = store.get();
    services.markReadDelayMs = -1;
    QElapsedTimer clock;
    clock.start();
    zibu::TfrmReadingList window(services);
    window.show();
    window.repaint();  // the first screen, painted
    QApplication::processEvents();
    firstScreen.push_back(clock.nsecsElapsed() / 1e6);
  }
  std::sort(firstScreen.begin(), firstScreen.end());
  std::printf("first screen from the command: median %.1f ms, max %.1f ms (%d runs)\n",
              firstScreen[firstScreen.size() / 2], firstScreen.back(), runs);

  // Rescoring every unread article in 30 ms slices, as the frame drives it, with a 5 ms timer
  // standing for the window's events: the longest gap between two of its ticks.
  zibu::SilentUserPort port;
  zibu::LearningEngine engine(port);
  engine.SetMaxWordWeight(50);
  for (const auto& a : store->Query({.limit = 200, .withBodies = true})) engine.LearnFromRating(a.text, a.id % 2 ? 7 : -5);
  zibu::SystemClock systemClock;
  zibu::TRescoring rescoring;
  QElapsedTimer total;
  total.start();
  rescoring.Start(*store);
  const size_t count = rescoring.Remaining();
  QElapsedTimer sinceTick;
  sinceTick.start();
  qint64 longest = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    longest = std::max(longest, sinceTick.elapsed());
    sinceTick.restart();
  });
  tick.start(5);
  QTimer step;
  step.setSingleShot(true);
  QObject::connect(&step, &QTimer::timeout, [&] {
    rescoring.Step(engine, *store, systemClock, 30);
    if (rescoring.Running())
      step.start(0);
    else
      app.quit();
  });
  step.start(0);
  app.exec();
  std::printf("rescoring %zu unread: %.1f s, longest stand-still of the event loop %lld ms\n", count,
              total.elapsed() / 1000.0, static_cast<long long>(longest));
  return 0;
}
