#!/usr/bin/env python3
"""A simulated reader trains Zibu with `zibu-cli rate`, and the threshold that `zibu-cli threshold`
suggests from those ratings is measured on articles the reader never rated, beside the delivered 30 %.

The articles are generated here, deterministically: five topics, each with its own vocabulary, over a
large shared vocabulary with a long tail of rare words, as news text is once its common words are left
out. An article is a title and a first paragraph. By default 40 % of an article's words come from its
topic and 5 % from another topic; the rest are shared. The shape can be changed (see --help): the
share of topic words decides how far above 0 the liked articles score at all. The reader likes one topic and rates its articles +7..+10, the others -4..-10, in
batches of ten (one scan's worth) through `zibu-cli rate --lines`, so each rating is scored just
before it is learned, as in the windows. Every reader starts from a new home (the delivered zibu.conf
and commonwords.dat).

    bench/threshold_reader.py --cli build/bin/zibu-cli [--ratings 50 200] [--unseen 500] [--json]

Prints, per number of ratings, the precision, recall and F1 on the unseen articles of the suggested
threshold and of 30 %, averaged over the five readers (one per liked topic) and several seeds.
"""
import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOPICS = 5
SYLLABLES = ["ba", "ca", "da", "fe", "ge", "hi", "jo", "ka", "lu", "me", "no", "pa", "qui", "ro", "sa",
             "te", "vi", "wo", "xe", "ya", "zu", "bri", "cla", "dro", "fle", "gra", "kno", "pli", "str",
             "tra", "ven", "mor", "lin", "tor", "nel", "sar", "dun", "pel", "rik", "mas"]


def make_words(rng, count, taken):
    words = []
    while len(words) < count:
        w = "".join(rng.choice(SYLLABLES) for _ in range(rng.randint(2, 4)))
        # Words of 4 to 11 letters not ending in s (the word list takes a final S off).
        if 4 <= len(w) <= 11 and not w.endswith("s") and w not in taken:
            taken.add(w)
            words.append(w)
    return words


def zipf_weights(n, s=1.05):
    return [1.0 / (k + 1) ** s for k in range(n)]


class Corpus:
    """Labelled articles: (topic, text)."""

    def __init__(self, seed, shape):
        rng = random.Random(seed)
        taken = set()
        self.general = make_words(rng, shape.general_words, taken)
        self.topic_words = [make_words(rng, shape.topic_words, taken) for _ in range(TOPICS)]
        self.gw = zipf_weights(len(self.general), shape.general_exponent)
        self.tw = zipf_weights(shape.topic_words, 0.9)
        self.topic_share = shape.topic_share
        self.overlap = shape.overlap
        self.rng = rng

    def article(self, topic):
        rng = self.rng

        def word():
            p = rng.random()
            if p < self.topic_share:
                return rng.choices(self.topic_words[topic], self.tw)[0]
            if p < self.topic_share + self.overlap:  # a word of another topic: stories overlap
                other = rng.choice([t for t in range(TOPICS) if t != topic])
                return rng.choices(self.topic_words[other], self.tw)[0]
            return rng.choices(self.general, self.gw)[0]

        title = " ".join(word() for _ in range(rng.randint(5, 9))).capitalize()
        para = " ".join(word() for _ in range(rng.randint(25, 45))).capitalize() + "."
        return title + " " + para

    def stream(self, count):
        return [(t, self.article(t)) for t in (self.rng.randrange(TOPICS) for _ in range(count))]


def run(cli, args, stdin=""):
    r = subprocess.run([cli] + args, input=stdin.encode(), capture_output=True)
    if r.returncode != 0:
        sys.exit("zibu-cli %s failed: %s" % (args[0], r.stderr.decode(errors="replace")))
    return r.stdout.decode()


def new_home():
    home = tempfile.mkdtemp(prefix="zibu-reader-")
    shutil.copy(os.path.join(REPO, "data", "zibu.conf"), home)
    os.makedirs(os.path.join(home, "data"))
    shutil.copy(os.path.join(REPO, "data", "commonwords.dat"), os.path.join(home, "data"))
    return home


def measure(shown_liked, shown, liked):
    precision = shown_liked / shown if shown else 0.0
    recall = shown_liked / liked if liked else 0.0
    f1 = 2 * precision * recall / (precision + recall) if precision + recall else 0.0
    return precision, recall, f1


def reader(cli, seed, liked, checkpoints, unseen_count, shape):
    corpus = Corpus(seed, shape)
    rng = random.Random(seed * 31 + liked)
    training = corpus.stream(max(checkpoints))
    unseen = corpus.stream(unseen_count)
    home = new_home()
    results = {}
    try:
        done = 0
        for n in sorted(checkpoints):
            while done < n:
                batch = training[done:min(done + 10, n)]
                lines = ""
                for topic, text in batch:
                    r = rng.randint(7, 10) if topic == liked else -rng.randint(4, 10)
                    lines += "%d\t%s\n" % (r, text)
                run(cli, ["rate", "--home", home, "--lines", "-"], lines)
                done += len(batch)
            suggestion = json.loads(run(cli, ["threshold", "--home", home]))
            scores = [json.loads(l)["overall"] for l in
                      run(cli, ["relevance", "--home", home, "--lines", "-"],
                          "\n".join(text for _, text in unseen) + "\n").splitlines()]
            labels = [topic == liked for topic, _ in unseen]
            liked_count = sum(labels)

            def at(t):
                shown = [l for s, l in zip(scores, labels) if s >= t]
                return measure(sum(shown), len(shown), liked_count)

            t = suggestion["suggested"]
            results[n] = {"suggested": t, "at_suggested": at(t) if t is not None else (0.0, 0.0, 0.0),
                          "at_30": at(30), "best_unseen": max(at(k)[2] for k in range(101)),
                          "max_score": max(scores)}
    finally:
        shutil.rmtree(home, ignore_errors=True)
    return results


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cli", default=os.path.join(REPO, "build", "bin", "zibu-cli"))
    ap.add_argument("--ratings", type=int, nargs="+", default=[50, 200])
    ap.add_argument("--unseen", type=int, default=500)
    ap.add_argument("--seeds", type=int, default=2)
    ap.add_argument("--json", action="store_true")
    ap.add_argument("--readers", type=int, nargs="+", default=list(range(TOPICS)), help="liked topics")
    ap.add_argument("--topic-share", type=float, default=0.40)
    ap.add_argument("--overlap", type=float, default=0.05)
    ap.add_argument("--general-words", type=int, default=20000)
    ap.add_argument("--general-exponent", type=float, default=0.9)
    ap.add_argument("--topic-words", type=int, default=400)
    a = ap.parse_args()
    runs = []
    for seed in range(1, a.seeds + 1):
        for liked in a.readers:
            runs.append(reader(a.cli, seed, liked, a.ratings, a.unseen, a))
    summary = {}
    for n in a.ratings:
        rows = [r[n] for r in runs]
        mean = lambda key, i: statistics.mean(r[key][i] for r in rows)
        summary[n] = {
            "readers": len(rows),
            "suggested": [r["suggested"] for r in rows],
            "suggested_precision": mean("at_suggested", 0), "suggested_recall": mean("at_suggested", 1),
            "suggested_f1": mean("at_suggested", 2),
            "at30_precision": mean("at_30", 0), "at30_recall": mean("at_30", 1), "at30_f1": mean("at_30", 2),
            "best_possible_f1": statistics.mean(r["best_unseen"] for r in rows),
            "highest_unseen_score": statistics.mean(r["max_score"] for r in rows),
        }
    if a.json:
        print(json.dumps(summary))
        return
    print("ratings  threshold        precision  recall  F1     (unseen: %d articles, %d readers)"
          % (a.unseen, len(runs)))
    for n, s in summary.items():
        print("%7d  suggested        %9.2f  %6.2f  %5.2f   suggestions %s" % (
            n, s["suggested_precision"], s["suggested_recall"], s["suggested_f1"], s["suggested"]))
        print("%7d  30 %% (delivered) %9.2f  %6.2f  %5.2f" % (n, s["at30_precision"], s["at30_recall"],
                                                            s["at30_f1"]))
        print("%7d  best on unseen                     %5.2f   highest unseen score %.1f" % (
            n, s["best_possible_f1"], s["highest_unseen_score"]))


if __name__ == "__main__":
    main()
