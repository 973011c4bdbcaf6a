#!/usr/bin/env python3
"""An old home with a large dense reltable.dat, tried in the real program as a user would.

Starts Zibu under Xvfb (the helpers of tests/e2e/feeds_end_to_end.py) on a copy of HOME, whose
data folder holds the dense form of the relationship table (bench/reltable_bench.py --keep DIR
leaves one in DIR/dense, about 400 MB), runs "&Learn" on a one-article feed, gives the article a
rating in the single-article window and exits; then starts once more, rates another article and
exits. It prints the times (start until the main window, the rating's learning run with its save,
the exit) and the data folder's files after each round, and checks that the program then scores
every text of TEXTS as zibu-cli does after the same first rating given to the untouched old home.

usage: bench/old_home_gui_try.py HOME TEXTS [--zibu build/bin/zibu] [--cli build/bin/zibu-cli]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
import feeds_end_to_end as e2e  # noqa: E402

ARTICLES = [("Volcano erupts near the coast", "Lava flows reached the coastal villages overnight", "/news/1"),
            ("Harbour reopens after storm", "Ships returned to the harbour this morning", "/news/2")]


def folder_bytes(path):
    return sum(os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(path) for f in fs)


def one_round(zibu, home, article, rating):
    run = e2e.Run(argparse.Namespace(zibu=zibu, out=None, keep=False))
    shutil.rmtree(run.home)
    run.home = home
    data = os.path.join(home, "data")
    try:
        run.start_display()
        run.start_server()
        run.publish("news.xml", [article])
        with open(os.path.join(home, "zibu.conf"), "w") as f:
            f.write("[main]\ncheckForNewVersion=false\nfirstTime=false\nrunAfterIdleFor=0\nmaxWordWeight=50\n"
                    "repeatInterval=60\nprocessMessagesInterval=1\nsaveConfigInterval=600\nfeedCount=1\n"
                    "[rss]\nfeed.0.url=%s/news.xml\nfeed.0.active=1\nfeed.0.keywords=\n"
                    "feed.0.refreshInterval=6000\nfeed.0.lastRefresh=0\n" % run.base)
        start = time.time()
        run.start_zibu()  # returns 2 s after the main window appeared
        started = time.time() - start - 2
        run.keys(run.main, "alt+f", "r")
        feeds = run.wait_window("^RSS/Atom Feeds$", 60)
        run.keys(feeds, "alt+l")
        w = run.wait_window("^Learning$", 120)
        time.sleep(0.5)
        run.rate(w, rating)
        start = time.time()
        run.close_rating(w)
        done = run.wait_window("Learning finished|^Zibu$", 300)
        learned = time.time() - start
        run.keys(done, "Return")
        start = time.time()
        run.keys(run.main, "alt+f", "x")
        run.proc.wait(300)
        exited = time.time() - start
    finally:
        run.stop()
    print("  start until the main window %.2f s; rating's learning run with its save %.2f s; exit %.2f s"
          % (started, learned, exited))
    for root, _, fs in os.walk(data):
        for f in sorted(fs):
            p = os.path.join(root, f)
            print("    %-32s %12d" % (os.path.relpath(p, data), os.path.getsize(p)))
    print("  data folder %.1f MB" % (folder_bytes(data) / 1e6))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("home")
    ap.add_argument("texts")
    ap.add_argument("--zibu", default=os.path.join(REPO, "build", "bin", "zibu"))
    ap.add_argument("--cli", default=os.path.join(REPO, "build", "bin", "zibu-cli"))
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="zibu-old-home-")
    try:
        home, twin = os.path.join(work, "home"), os.path.join(work, "twin")
        shutil.copytree(args.home, home)
        shutil.copytree(args.home, twin)
        print("old home: data folder %.1f MB" % (folder_bytes(os.path.join(home, "data")) / 1e6))
        print("first start, one rating:")
        one_round(os.path.abspath(args.zibu), home, ARTICLES[0], 7)
        # The same rating through zibu-cli on the untouched old home: the program must now score alike.
        text = ARTICLES[0][0] + " " + ARTICLES[0][1]
        subprocess.run([args.cli, "rate", "--home", twin, "--rating", "7", text], check=True, capture_output=True)
        scores = [subprocess.run([args.cli, "relevance", "--home", h, "--lines", args.texts], check=True,
                                 capture_output=True).stdout for h in (home, twin)]
        print("every text scored as after the same rating on the old home: %s (%d texts)"
              % ("yes" if scores[0] == scores[1] else "NO", scores[0].count(b"\n")))
        print("second start, one more rating:")
        one_round(os.path.abspath(args.zibu), home, ARTICLES[1], -4)
        return 0 if scores[0] == scores[1] else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
