#!/usr/bin/env python3
"""A full feed scan as a user with many feeds sees it: zibu-cli scan beside Newsboat.

Serves N feeds (default 300) from one loopback server, spread over 100 loopback addresses
(127.0.0.1 to 127.0.0.100, so no reader is held back by a per-server limit more than real feeds
would hold it), each answering after a random 100-800 ms; 5 % of them fail: 404, 500, a
connection reset, or 30 s of silence before the server hangs up. Then it times
  zibu-cli scan --home H --parallel P       (default P = 8)
  newsboat -x reload with reload-threads 8  (the same feeds, its own cache)
in the same run, and prints both times, their ratio, and the slowest single feed's own time as
the server measured it (what no scan can beat), with the ratio to it. With --store it also times
the same scan of a home that keeps no articles (its data/articles.db is a folder, so no store can
be opened) and prints what keeping every article costs: the time ratio and the bytes per article.

Not part of the test suite: a run takes about a minute. Newsboat is not a dependency of the
project; for this benchmark it was installed by hand with `apt-get install newsboat`. Without it
(or with --no-newsboat) only Zibu is timed.

usage: bench/feed_scan_bench.py [--cli build/bin/zibu-cli] [--feeds 300] [--parallel 8]
                                [--seed 1] [--silence 30] [--no-newsboat] [--serial] [--store]
"""

import argparse
import http.server
import os
import random
import shutil
import socket
import socketserver
import struct
import subprocess
import sys
import tempfile
import threading
import time

HOSTS = 100


class Feeds:
    def __init__(self, count, seed, silence):
        rnd = random.Random(seed)
        self.silence = silence
        self.kinds = {}
        self.delays = {}
        failing = rnd.sample(range(count), max(1, count * 5 // 100))
        fail_kinds = ["404", "500", "reset", "silent"]
        for n, i in enumerate(failing):
            self.kinds[i] = fail_kinds[n % len(fail_kinds)]
        for i in range(count):
            self.delays[i] = rnd.uniform(0.1, 0.8)
        self.served = {}  # feed -> seconds the server spent on its longest request
        self.lock = threading.Lock()

    def note(self, i, seconds):
        with self.lock:
            self.served[i] = max(self.served.get(i, 0.0), seconds)


def rss(i):
    items = "".join(
        "<item><title>Story %d of feed %d</title><description>Words about story %d, feed %d, and"
        " some more words to read</description><link>http://example.org/%d/%d</link></item>" % (k, i, k, i, i, k)
        for k in range(10))
    return ('<?xml version="1.0"?><rss version="2.0"><channel><title>Feed %d</title>%s</channel></rss>'
            % (i, items)).encode()


def make_handler(feeds):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            started = time.monotonic()
            try:
                i = int(self.path.strip("/").split(".")[0][4:])
            except ValueError:
                self.send_error(404)
                return
            kind = feeds.kinds.get(i, "ok")
            time.sleep(feeds.delays[i])
            if kind == "404" or kind == "500":
                body = b"no feed here"
                self.send_response(int(kind))
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
            elif kind == "reset":
                self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.request.close()
                self.close_connection = True
            elif kind == "silent":
                time.sleep(feeds.silence - feeds.delays[i])
                self.close_connection = True
            else:
                body = rss(i)
                self.send_response(200)
                self.send_header("Content-Type", "application/rss+xml")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
            feeds.note(i, time.monotonic() - started)

    return Handler


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 512


def url(port, i):
    return "http://127.0.0.%d:%d/feed%d.xml" % (1 + i % HOSTS, port, i)


def zibu_home(folder, port, count):
    os.makedirs(folder)
    with open(os.path.join(folder, "zibu.conf"), "w") as conf:
        conf.write("[main]\nfeedCount=%d\nshowRelevance=100\n[rss]\n" % count)
        for i in range(count):
            conf.write("feed.%d.url=%s\nfeed.%d.keywords=1:story 3\n" % (i, url(port, i), i))


def timed(command, **kwargs):
    started = time.monotonic()
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    return time.monotonic() - started, done


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--cli", default=os.path.join(os.path.dirname(__file__), "..", "build", "bin", "zibu-cli"))
    ap.add_argument("--feeds", type=int, default=300)
    ap.add_argument("--parallel", type=int, default=8)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--silence", type=float, default=30.0)
    ap.add_argument("--no-newsboat", action="store_true")
    ap.add_argument("--serial", action="store_true", help="also time zibu-cli scan --parallel 1")
    ap.add_argument("--store", action="store_true", help="also time the scan of a home that keeps no articles")
    args = ap.parse_args()

    feeds = Feeds(args.feeds, args.seed, args.silence)
    server = Server(("0.0.0.0", 0), make_handler(feeds))
    port = server.server_address[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()
    work = tempfile.mkdtemp(prefix="zibu-scan-bench-")
    kinds = {}
    for k in feeds.kinds.values():
        kinds[k] = kinds.get(k, 0) + 1
    print("%d feeds on %d loopback addresses, 100-800 ms each; failing: %s" %
          (args.feeds, HOSTS, ", ".join("%d %s" % (n, k) for k, n in sorted(kinds.items()))))
    try:
        runs = [("zibu-cli scan --parallel %d" % args.parallel, args.parallel, True)]
        if args.serial:
            runs.append(("zibu-cli scan --parallel 1", 1, True))
        if args.store:
            runs.append(("  the same, keeping no articles", args.parallel, False))
        results = {}
        for n, (name, parallel, keep) in enumerate(runs):
            home = os.path.join(work, "home-%d" % n)
            zibu_home(home, port, args.feeds)
            if not keep:
                os.makedirs(os.path.join(home, "data", "articles.db"))
            feeds.served.clear()
            seconds, done = timed([args.cli, "scan", "--home", home, "--parallel", str(parallel)])
            taken = done.stdout.count("\n")
            summary = done.stderr.strip().splitlines()[-1] if done.stderr.strip() else ""
            slowest = max(feeds.served.values()) if feeds.served else 0.0
            results[name] = seconds
            print("%-34s %7.1f s  (exit %d, %d articles; %s)" % (name, seconds, done.returncode, taken, summary))
            print("%-34s %7.1f s" % ("  slowest single feed (server)", slowest))
            print("%-34s %7.2f" % ("  ratio to the slowest feed", seconds / slowest if slowest else 0))
            store = os.path.join(home, "data", "articles.db")
            if keep and os.path.isfile(store):
                kept = subprocess.run([args.cli, "articles", "--home", home], capture_output=True, text=True)
                count = kept.stdout.count("\n")
                size = sum(os.path.getsize(os.path.join(home, "data", f)) for f in os.listdir(os.path.join(home, "data"))
                           if f.startswith("articles.db"))
                print("%-34s %7d articles, %.0f bytes each (index included)" % ("  kept in the store", count,
                                                                                 size / count if count else 0))
        if args.store:
            print("%-34s %7.2f" % ("ratio keeping / keeping none", results[runs[0][0]] / results[runs[-1][0]]))
        if not args.no_newsboat and shutil.which("newsboat"):
            nb = os.path.join(work, "newsboat")
            os.makedirs(nb)
            with open(os.path.join(nb, "urls"), "w") as f:
                for i in range(args.feeds):
                    f.write(url(port, i) + "\n")
            with open(os.path.join(nb, "config"), "w") as f:
                f.write("reload-threads 8\n")
            feeds.served.clear()
            seconds, done = timed(["newsboat", "-x", "reload", "-u", os.path.join(nb, "urls"), "-c",
                                   os.path.join(nb, "cache.db"), "-C", os.path.join(nb, "config")],
                                  env=dict(os.environ, HOME=nb))
            print("%-34s %7.1f s  (exit %d)" % ("newsboat -x reload, 8 threads", seconds, done.returncode))
            first = results[runs[0][0]]
            print("%-34s %7.2f" % ("ratio zibu / newsboat", first / seconds))
        elif not args.no_newsboat:
            print("newsboat not found: install it with apt-get install newsboat to compare")
    finally:
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
