#!/usr/bin/env python3
"""The relationship table of a heavy user's home: the dense reltable.dat beside the compact one.

Builds, through zibu-cli's own learning, the home of a user who has rated about a year of
full-text news articles (default: 1,925 generated articles of about 135 distinct words each, drawn
from a 22,000-word vocabulary with the skewed frequencies of real text: about 20,000 words learned
and 7.4 million pairs of words set), saved in the compact form. An old home with the same learned data in the dense
form is made from it with `zibu-cli learned --export-dense`. Then, in the same run, for both:
  - the data folder after two saves (compact: two ratings, each saved; dense: the dense pair in
    the data folder and the same pair in the backup folder, which is what two saves of the dense
    form leave);
  - a load with one score: `zibu-cli relevance TEXT` as a whole process;
  - a rating with its save: `zibu-cli rate --rating 5 TEXT` as a whole process (for the old home
    this is its first save, which reads the dense file and writes the compact one);
  - the peak memory of that rating with its save (/usr/bin/time -v, maximum resident set);
  - the scores of every article of the benchmark (`zibu-cli relevance --lines`), which must be
    identical.
Times are the median of --repeat runs (each rating run on a fresh copy of the home), wall time
and the processor time of the process. Goals:
folder <= 48 MB, rating with save <= 0.3 s, load with one score <= 0.2 s, peak <= 150 MB.

Not part of the test suite: building the home takes a minute or two.

usage: bench/reltable_bench.py [--cli build/bin/zibu-cli] [--articles 1925] [--vocabulary 22000]
                               [--distinct 135] [--exponent 1.05] [--repeat 3] [--seed 1]
                               [--keep DIR] [--build-only]
"""

import argparse
import os
import random
import resource
import shutil
import statistics
import string
import struct
import subprocess
import sys
import tempfile
import time


def words(count, rnd):
    # Letters only, 5 to 10 long, never ending in S (the word list would cut it), all different.
    seen = set()
    out = []
    letters = string.ascii_lowercase
    while len(out) < count:
        w = "".join(rnd.choice(letters) for _ in range(rnd.randint(5, 10)))
        if w[-1] == "s" or w in seen:
            continue
        seen.add(w)
        out.append(w)
    return out


def articles(vocabulary, count, distinct, exponent, rnd):
    # Zipf-like frequencies: the k-th word is drawn with weight 1 / (k + 1) ** exponent.
    weights = [1.0 / (k + 1) ** exponent for k in range(len(vocabulary))]
    cumulative = []
    total = 0.0
    for w in weights:
        total += w
        cumulative.append(total)
    texts = []
    for _ in range(count):
        chosen = set()
        target = max(10, int(rnd.gauss(distinct, distinct / 5)))
        drawn = []
        while len(chosen) < target:
            i = rnd.choices(range(len(vocabulary)), cum_weights=cumulative, k=1)[0]
            chosen.add(i)
            drawn.append(vocabulary[i])
        texts.append(" ".join(drawn))
    return texts


def run(cmd, **kw):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
    if r.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), r.stderr.decode(errors="replace")))
    return r.stdout


def timed(cmd):
    # Wall time and the processor time (user + system) of the whole process: on a busy machine the
    # wall time includes waiting for a processor.
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = p.communicate()
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    if p.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), err.decode(errors="replace")))
    return wall, out, cpu


def peak_kb(cmd):
    r = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), r.stderr.decode(errors="replace")))
    for line in r.stderr.decode().splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1])
    return 0


def folder_bytes(path):
    total = 0
    for root, _, files in os.walk(path):
        for f in files:
            total += os.path.getsize(os.path.join(root, f))
    return total


def stored_pairs(compact_file):
    # The compact file ends with the number of cells it stores (one per pair when mirrored) and
    # its checksum.
    with open(compact_file, "rb") as f:
        head = f.read(16)
        f.seek(-16, os.SEEK_END)
        cells = struct.unpack("<Q", f.read(8))[0]
    return cells if head[12] & 1 else cells // 2


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--cli", default=os.path.join(os.path.dirname(__file__), "..", "build", "bin", "zibu-cli"))
    ap.add_argument("--articles", type=int, default=1925)
    ap.add_argument("--vocabulary", type=int, default=22000)
    ap.add_argument("--distinct", type=int, default=135)
    ap.add_argument("--exponent", type=float, default=1.05)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--build-only", action="store_true", help="build the home, report its size and stop")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--keep", help="build the homes in DIR and keep them")
    args = ap.parse_args()
    cli = os.path.abspath(args.cli)
    rnd = random.Random(args.seed)

    work = args.keep or tempfile.mkdtemp(prefix="zibu-reltable-bench-")
    os.makedirs(work, exist_ok=True)
    try:
        vocabulary = words(args.vocabulary, rnd)
        texts = articles(vocabulary, args.articles, args.distinct, args.exponent, rnd)
        lines_file = os.path.join(work, "articles.txt")
        with open(lines_file, "w") as f:
            for t in texts:
                f.write("%d\t%s\n" % (rnd.choice([r for r in range(-10, 11) if r != 0]), t))
        texts_file = os.path.join(work, "texts.txt")
        with open(texts_file, "w") as f:
            f.write("\n".join(texts) + "\n")

        compact = os.path.join(work, "compact")
        dense = os.path.join(work, "dense")
        for h in (compact, dense):
            shutil.rmtree(h, ignore_errors=True)
            os.makedirs(h)
            with open(os.path.join(h, "zibu.conf"), "w") as f:
                f.write("[main]\nmaxWordWeight=50\n")
        start = time.perf_counter()
        run([cli, "rate", "--home", compact, "--lines", lines_file])
        built = time.perf_counter() - start
        shutil.rmtree(os.path.join(compact, "data", "backup"), ignore_errors=True)
        shutil.copytree(os.path.join(compact, "data"), os.path.join(dense, "data"))
        os.remove(os.path.join(dense, "data", "reltable.dat"))
        run([cli, "learned", "--home", compact, "--export-dense", os.path.join(dense, "data", "reltable.dat")])
        word_count = sum(1 for line in open(os.path.join(compact, "data", "wordweightings.dat"), "rb") if b"=" in line)
        pairs = stored_pairs(os.path.join(compact, "data", "reltable.dat"))
        print("home: %d articles learned in %.1f s, %d words, %d pairs set" % (len(texts), built, word_count, pairs))
        if args.build_only:
            return 0

        one_text = texts[len(texts) // 2]
        rating_text = " ".join(rnd.sample(vocabulary, 200))
        results = {}
        for kind, home in (("dense", dense), ("compact", compact)):
            r = {}
            r["file"] = os.path.getsize(os.path.join(home, "data", "reltable.dat"))
            timed([cli, "relevance", "--home", home, one_text])  # the file into the page cache
            loads = [timed([cli, "relevance", "--home", home, one_text]) for _ in range(args.repeat)]
            r["load"] = statistics.median(x[0] for x in loads)
            r["load_cpu"] = statistics.median(x[2] for x in loads)
            r["scores"] = run([cli, "relevance", "--home", home, "--lines", texts_file])
            ratings, rating_cpu, peaks = [], [], []
            for _ in range(args.repeat):
                copy = home + "-copy"
                shutil.rmtree(copy, ignore_errors=True)
                shutil.copytree(home, copy)
                run(["sync"])
                wall, _, cpu = timed([cli, "rate", "--home", copy, "--rating", "5", rating_text])
                ratings.append(wall)
                rating_cpu.append(cpu)
                shutil.rmtree(copy)
                shutil.copytree(home, copy)
                run(["sync"])
                peaks.append(peak_kb([cli, "rate", "--home", copy, "--rating", "5", rating_text]))
                if kind == "compact":
                    # The second save: the folder as two saves leave it.
                    run([cli, "rate", "--home", copy, "--rating", "-3", one_text])
                    r["folder"] = folder_bytes(os.path.join(copy, "data"))
                else:
                    # Its first save writes the compact form; the dense pair goes to the backup.
                    r["after_first_save"] = folder_bytes(os.path.join(copy, "data"))
                shutil.rmtree(copy)
            r["rate"] = statistics.median(ratings)
            r["rate_cpu"] = statistics.median(rating_cpu)
            r["peak"] = max(peaks)
            if kind == "dense":
                # Two saves of the dense form leave the dense pair in both folders.
                data = os.path.join(home, "data")
                r["folder"] = 2 * (os.path.getsize(os.path.join(data, "reltable.dat")) +
                                   os.path.getsize(os.path.join(data, "wordweightings.dat")))
                for extra in ("shownfeedurls.dat", "ratedarticles.dat", "recentscores.dat"):
                    p = os.path.join(data, extra)
                    if os.path.exists(p):
                        r["folder"] += 2 * os.path.getsize(p)
            results[kind] = r

        mb = 1e6
        print("%-46s %12s %12s %8s" % ("", "dense", "compact", "goal"))
        print("%-46s %10.1f MB %9.1f MB" % ("reltable.dat", results["dense"]["file"] / mb, results["compact"]["file"] / mb))
        print("%-46s %10.1f MB %9.1f MB %8s" % ("data folder after two saves", results["dense"]["folder"] / mb,
                                                 results["compact"]["folder"] / mb, "48 MB"))
        print("%-46s %12s %9.1f MB" % ("old home's folder after its first save", "",
                                        results["dense"]["after_first_save"] / mb))
        print("%-46s %10.3f s %10.3f s %8s" % ("load with one score (zibu-cli relevance)", results["dense"]["load"],
                                                results["compact"]["load"], "0.2 s"))
        print("%-46s %10.3f s %10.3f s" % ("  its processor time (user + system)", results["dense"]["load_cpu"],
                                            results["compact"]["load_cpu"]))
        print("%-46s %10.3f s %10.3f s %8s" % ("rating with its save (zibu-cli rate)", results["dense"]["rate"],
                                                results["compact"]["rate"], "0.3 s"))
        print("%-46s %10.3f s %10.3f s" % ("  its processor time (user + system)", results["dense"]["rate_cpu"],
                                            results["compact"]["rate_cpu"]))
        print("%-46s %10.1f MB %9.1f MB %8s" % ("peak memory of a rating with its save", results["dense"]["peak"] / 1024,
                                                 results["compact"]["peak"] / 1024, "150 MB"))
        print("load average during the run: %.1f (%d processors)" % (os.getloadavg()[0], os.cpu_count()))
        same = results["dense"]["scores"] == results["compact"]["scores"]
        print("scores of all %d articles identical: %s" % (len(texts), "yes" if same else "NO"))
        if not same:
            return 1
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
