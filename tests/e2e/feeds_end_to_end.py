#!/usr/bin/env python3
"""Zibu's feed half, end to end, as a user would meet it.

Starts the real program under Xvfb with a scratch home and two feeds served from 127.0.0.1, then:
  1. runs "&Learn" on the sport feed and rates its four articles in the single-article window;
  2. changes the feeds and waits for the scheduled scan (the feeds timer ticks every 60 s), which
     must bring a keyword match of the news feed and a relevant sport article learned from 1;
  3. exits, checks the learned data and the shown-article memory on disk;
  4. starts again, lets a scheduled scan run (nothing may be shown again), exits, and checks that
     the learned data and the memory are as they were.
Screenshots go to the output folder (default: a temporary folder, printed at the end).

usage: feeds_end_to_end.py [--zibu build/bin/zibu] [--out DIR] [--keep]
"""
import argparse
import functools
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

SPORT_FOR_LEARNING = [
    ("Football cup final tonight", "Both football teams are ready for the cup final", "/sport/1"),
    ("Football transfer rumours", "The football club denies transfer rumours", "/sport/2"),
    ("Stock market report", "Shares fell sharply on the stock market today", "/sport/3"),
    ("Weather forecast rainy", "Heavy rain forecast for the weekend weather", "/sport/4"),
]
RATINGS = {"Football cup final tonight": 10, "Football transfer rumours": 8,
           "Stock market report": -8, "Weather forecast rainy": -5}
SPORT_LATER = [
    ("Football cup semi final tonight", "The football cup semi final drew a record crowd", "/sport/5"),
    ("Stock market falls again", "Shares on the stock market fell again", "/sport/6"),
]
NEWS = [
    ("Volcano erupts near village", "Villagers watched the volcano erupt", "/news/1"),
    ("Council meeting postponed", "The council meeting moved to next month", "/news/2"),
]


def rss(base, items):
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<rss version="2.0"><channel><title>t</title>']
    for title, description, path in items:
        parts.append("<item><title>%s</title><description>%s</description><link>%s%s</link></item>"
                     % (title, description, base, path))
    parts.append("</channel></rss>\n")
    return "".join(parts)


class Run:
    def __init__(self, args):
        self.zibu = os.path.abspath(args.zibu)
        self.out = args.out or tempfile.mkdtemp(prefix="zibu-e2e-shots-")
        os.makedirs(self.out, exist_ok=True)
        self.home = tempfile.mkdtemp(prefix="zibu-e2e-home-")
        self.www = tempfile.mkdtemp(prefix="zibu-e2e-www-")
        self.keep = args.keep
        self.display = ":%d" % (90 + os.getpid() % 50)
        self.env = dict(os.environ, DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        self.shots = []
        self.proc = None

    # ---- processes ---------------------------------------------------------------------------
    def start_display(self):
        self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.5)

    def start_server(self):
        handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=self.www)
        handler.log_message = lambda *a: None
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        self.base = "http://127.0.0.1:%d" % self.httpd.server_address[1]

    def publish(self, name, items):
        with open(os.path.join(self.www, name), "w") as f:
            f.write(rss(self.base, items))

    def start_zibu(self):
        log = open(os.path.join(self.out, "zibu-stderr.txt"), "a")
        self.proc = subprocess.Popen([self.zibu, "--home", self.home], env=self.env, stdout=log, stderr=log)
        self.main = self.wait_window("^Zibu 1.13$", 60)
        time.sleep(2)

    def stop(self):
        for p in (self.proc, getattr(self, "xvfb", None)):
            if p and p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        if hasattr(self, "httpd"):
            self.httpd.shutdown()
        if not self.keep:
            shutil.rmtree(self.www, ignore_errors=True)

    # ---- X helpers ---------------------------------------------------------------------------
    def xdo(self, *args):
        r = subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True, text=True)
        return r.stdout.strip()

    def find(self, pattern):
        ids = self.xdo("search", "--onlyvisible", "--name", pattern)
        return ids.split("\n")[0] if ids else None

    def wait_window(self, pattern, timeout):
        end = time.time() + timeout
        while time.time() < end:
            w = self.find(pattern)
            if w:
                return w
            if self.proc and self.proc.poll() is not None:
                raise SystemExit("zibu ended while waiting for a window named %r" % pattern)
            time.sleep(0.5)
        raise SystemExit("no window named %r within %d s" % (pattern, timeout))

    def title(self, w):
        return self.xdo("getwindowname", w)

    def keys(self, w, *keys):
        # Real key events (XTEST) to the focused window: keys sent to a window directly as synthetic
        # events leave the program's later modal windows closing at once.
        self.xdo("windowfocus", "--sync", w)
        for k in keys:
            self.xdo("key", k)
            time.sleep(0.3)

    def geometry(self, w):
        out = self.xdo("getwindowgeometry", "--shell", w)
        g = dict(line.split("=") for line in out.splitlines() if "=" in line)
        return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])

    def click(self, x, y):
        self.xdo("mousemove", "--sync", str(x), str(y))
        self.xdo("click", "1")
        time.sleep(0.3)

    def shot(self, name):
        path = os.path.join(self.out, name + ".png")
        subprocess.run(["import", "-window", "root", path], env=self.env, check=False)
        self.shots.append(path)
        return path

    # ---- the rating window -------------------------------------------------------------------
    def rate(self, w, rating):
        # The scale's indicators, measured on the window at its design size (676 x 521): their centres
        # stand 29 px right of the buttons' left edges (19 for -10 ... 587 for +10) and 45 px above
        # the window's bottom edge.
        lefts = [19, 47, 75, 103, 132, 161, 189, 217, 246, 274, 303, 331, 359, 388, 416, 445, 473, 501, 530, 558, 587]
        x, y, width, height = self.geometry(w)
        self.xdo("windowfocus", "--sync", w)
        self.click(x + lefts[rating + 10] + 29, y + height - 45)

    def close_rating(self, w):
        self.keys(w, "Escape")


def read_map(path):
    entries = []
    if os.path.exists(path):
        with open(path, "rb") as f:
            for line in f.read().decode("latin-1").splitlines():
                if "=" in line:
                    k, v = line.rsplit("=", 1)
                    entries.append((k, v))
    return entries


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--zibu", default=os.path.join(REPO, "build", "bin", "zibu"))
    ap.add_argument("--out")
    ap.add_argument("--keep", action="store_true")
    run = Run(ap.parse_args())
    failures = []

    def check(cond, what):
        print(("ok   " if cond else "FAIL ") + what)
        if not cond:
            failures.append(what)

    try:
        run.start_display()
        run.start_server()
        run.publish("sport.xml", SPORT_FOR_LEARNING)
        run.publish("news.xml", NEWS)
        with open(os.path.join(run.home, "zibu.conf"), "w") as f:
            f.write("[main]\ncheckForNewVersion=false\nfirstTime=false\nverboseOutput=true\nrunAfterIdleFor=0\n"
                    "repeatInterval=60\nprocessMessagesInterval=1\nshowNagScreens=true\nsaveConfigInterval=10\n"
                    "feedCount=2\nshowRelevance=10\nresultsFormat=0\n"
                    "[rss]\nfeed.0.url=%s/sport.xml\nfeed.0.active=1\nfeed.0.keywords=\nfeed.0.refreshInterval=60\n"
                    "feed.0.lastRefresh=0\nfeed.1.url=%s/news.xml\nfeed.1.active=1\nfeed.1.keywords=1:volcanoCRLF\n"
                    "feed.1.refreshInterval=60\nfeed.1.lastRefresh=0\n" % (run.base, run.base))

        # ---- 1. learning run on the sport feed (selected at load) ----
        run.start_zibu()
        run.keys(run.main, "alt+f", "r")
        feeds = run.wait_window("^RSS/Atom Feeds$", 20)
        run.shot("01-feeds-window")
        run.keys(feeds, "alt+l")
        seen = []
        while True:
            w = run.wait_window("^Learning$|^Zibu$|Learning finished", 60)
            name = run.title(w)
            if name != "Learning":
                break
            time.sleep(0.5)
            if not seen:
                run.shot("02-learning-first-article")
            seen.append(w)
            # The article's title is not in the window name; rate in the order the feed gives.
            title = SPORT_FOR_LEARNING[len(seen) - 1][0]
            run.rate(w, RATINGS[title])
            if len(seen) == 1:
                run.shot("03-learning-rated")
            run.close_rating(w)
            time.sleep(0.8)
        check(len(seen) == 4, "the learning run showed all four sport articles (%d)" % len(seen))
        run.shot("04-learning-finished-message")
        run.keys(w, "Return")
        data = os.path.join(run.home, "data")
        weights = dict(read_map(os.path.join(data, "wordweightings.dat")))
        check(int(weights.get("FOOTBALL", "0")) > 0, "FOOTBALL learned as liked (%s)" % weights.get("FOOTBALL"))
        check(int(weights.get("STOCK", "0")) < 0, "STOCK learned as disliked (%s)" % weights.get("STOCK"))
        check(read_map(os.path.join(data, "shownfeedurls.dat")) == [],
              "the learning run left the shown-article memory empty")

        # ---- 2. the scheduled scan ----
        run.publish("sport.xml", SPORT_LATER)
        found = {}
        end = time.time() + 150
        while time.time() < end and len(found) < 2:
            w = run.find("^Keyword match on|^Article found, relevance=")
            if not w:
                time.sleep(1)
                continue
            name = run.title(w)
            time.sleep(0.5)
            run.shot("05-scheduled-%d" % (len(found) + 1))
            found[name] = w
            if name.startswith("Article found"):
                run.rate(w, 5)
            run.close_rating(w)
            time.sleep(1)
        print("rating windows of the scheduled scan:", list(found))
        check(any(n == "Keyword match on VOLCANO" for n in found), "keyword match on the news feed shown")
        check(any(n.startswith("Article found, relevance=") for n in found), "relevant sport article shown")
        time.sleep(3)
        run.shot("06-feeds-after-scan")
        run.keys(run.main, "alt+f", "x")
        run.proc.wait(30)
        shown = read_map(os.path.join(data, "shownfeedurls.dat"))
        links = [k for k, _ in shown]
        check(run.base + "/news/1" in links and run.base + "/sport/5" in links,
              "both presented links remembered: %s" % links)
        check(run.base + "/news/2" not in links and run.base + "/sport/6" not in links,
              "articles not presented are not remembered")
        files = {}
        for name in ("wordweightings.dat", "reltable.dat", "shownfeedurls.dat"):
            with open(os.path.join(data, name), "rb") as f:
                files[name] = f.read()

        # ---- 3. restart: a scheduled scan shows nothing again, and the data stays ----
        run.start_zibu()
        end = time.time() + 100
        again = None
        while time.time() < end and not again:
            again = run.find("^Keyword match on|^Article found, relevance=")
            time.sleep(1)
        check(again is None, "after the restart no article is shown again")
        run.keys(run.main, "alt+f", "r")
        feeds = run.wait_window("^RSS/Atom Feeds$", 20)
        run.shot("07-after-restart")
        run.keys(run.main, "alt+f", "x")
        run.proc.wait(30)
        for name, before in files.items():
            with open(os.path.join(data, name), "rb") as f:
                after = f.read()
            if name == "shownfeedurls.dat":
                check(read_map(os.path.join(data, name))[:len(shown)] == shown,
                      "shown memory kept across the restart")
            else:
                check(after == before, name + " unchanged across the restart")
    finally:
        run.stop()
    print("screenshots:", run.out)
    print("home:", run.home)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
