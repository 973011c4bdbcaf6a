#!/usr/bin/env bash
# The real program on damaged homes, under Xvfb: each case starts Zibu with a scratch --home,
# answers its message boxes, ends it with SIGTERM (which closes the frame and runs the exit save)
# and compares the home's files byte for byte with what was there before; then it does the same a
# second time, so that a second start and exit cannot empty backup/ either.
#  - counts: feedCount and browserWindowCount of 2147483647 and a NUL byte between two feeds.
#    Start-up goes on (no box), every feed and the window are kept in zibu.conf, and the learned
#    data and its backups keep their bytes.
#  - an allocation that fails: reading zibu.conf needs more memory than the process may take (a
#    preloaded allocator refuses large blocks). One box names zibu.conf and the problem, the same
#    on stderr, and no file of the home changes, zibu.conf included.
#  - a data file that does not load: shownfeedurls.dat needs more memory than allowed. One box
#    names it and the problem, start-up goes on, and the learned data and every backup keep their
#    bytes (zibu.conf, which was read whole, is saved as usual).
# Screenshots go to $OUT (default: a temporary folder, printed at the end).
#
# usage: tests/e2e/damaged_home.sh [path/to/zibu]     (needs xvfb-run, xdotool, imagemagick, cc)
set -euo pipefail

ZIBU="$(realpath "${1:-build/bin/zibu}")"
OUT="${OUT:-$(mktemp -d /tmp/zibu-damaged-home.XXXXXX)}"
mkdir -p "$OUT"
trap 'rm -f "$OUT/alloc/zibu.conf" "$OUT/data/data/shownfeedurls.dat"' EXIT  # 100 MB each
fail() { echo "FAIL: $*" >&2; exit 1; }

# Allocations above FAIL_ALLOC_ABOVE bytes fail, as on a machine without that much memory.
cat >"$OUT/fail_alloc.c" <<'C'
#include <errno.h>
#include <stdlib.h>
extern void* __libc_malloc(size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_calloc(size_t, size_t);
static size_t Limit(void) {
  static size_t limit;
  if (!limit) {
    const char* s = getenv("FAIL_ALLOC_ABOVE");
    limit = s ? strtoull(s, 0, 10) : (size_t)-1;
  }
  return limit;
}
void* malloc(size_t n) {
  if (n > Limit()) { errno = ENOMEM; return 0; }
  return __libc_malloc(n);
}
void* realloc(void* p, size_t n) {
  if (n > Limit()) { errno = ENOMEM; return 0; }
  return __libc_realloc(p, n);
}
void* calloc(size_t k, size_t n) {
  if (n && k > Limit() / n) { errno = ENOMEM; return 0; }
  return __libc_calloc(k, n);
}
C
cc -shared -fPIC -O2 -o "$OUT/fail_alloc.so" "$OUT/fail_alloc.c"

# Learned data of three words and a backup of an older save of two; the files are written as the
# program writes them (words and weights, CR LF; the table in the compact form: header, row
# lengths, the cells right of the diagonal, count and checksum). The older backup table is in the
# dense form of earlier versions (tagged integers and signed cells), which is still read.
make_data() {
  local data="$1/data"
  mkdir -p "$data/backup"
  printf 'COAST=4\r\nSTORM=9\r\nWARNING=-3\r\n' >"$data/wordweightings.dat"
  printf 'ZIBURELT\x01\x00\x00\x00\x01\x00\x00\x00\x03\x00\x00\x00\x03\x03\x02\x00\x05\x00\xfe\x01\x00\x07\x00' \
    >"$data/reltable.dat"
  printf '\x03\x00\x00\x00\x00\x00\x00\x00\xcf\x24\xce\x43\x79\xa1\x01\xaf' >>"$data/reltable.dat"
  printf 'http://news.example/1=1796806800000\r\nhttp://news.example/2=1796806860000\r\n' \
    >"$data/shownfeedurls.dat"
  printf 'THAT\r\nWILL\r\n' >"$data/commonwords.dat"
  if [ "$2" = same ]; then
    cp "$data"/wordweightings.dat "$data"/reltable.dat "$data"/shownfeedurls.dat "$data/backup/"
  else
    printf 'STORM=8\r\nWARNING=-2\r\n' >"$data/backup/wordweightings.dat"
    printf '\x02\x02\x02\x02\x00\x04\x02\x02\x04\x00' >"$data/backup/reltable.dat"
    printf 'http://news.example/1=1796806800000\r\n' >"$data/backup/shownfeedurls.dat"
  fi
}

# Case "counts": its learned data equals its backup, so the exit save (which may write what it
# loaded) leaves the same bytes either way.
COUNTS="$OUT/counts"
make_data "$COUNTS" same
{
  printf '[main]\r\ncheckForNewVersion=false\r\nfirstTime=false\r\nloadPagesOnStartup=false\r\n'
  printf 'feedCount=2147483647\r\nbrowserWindowCount=2147483647\r\n'
  printf '[rss]\r\nfeed.0.url=http://a.example/rss\r\nfeed.0.keywords=1:stormCRLF\r\n\0\r\n'
  printf 'feed.1.url=http://b.example/rss\r\nfeed.1.refreshInterval=900\r\n'
  printf '[window_0]\r\nurl=http://c.example/\r\n'
} >"$COUNTS/zibu.conf"

# Case "alloc": a zibu.conf of 100 MB (a long value at its end) with allocations above 64 MB
# refused, so the whole-file read fails.
ALLOC="$OUT/alloc"
make_data "$ALLOC" older
{
  printf '[main]\r\ncheckForNewVersion=false\r\nfirstTime=false\r\nfeedCount=1\r\n'
  printf '[rss]\r\nfeed.0.url=http://a.example/rss\r\n[notes]\r\nlong='
  head -c 100000000 /dev/zero | tr '\0' 'n'
  printf '\r\n'
} >"$ALLOC/zibu.conf"

# Case "data": a shown-article memory of 100 MB (one long line), with the same allocator.
DATA="$OUT/data"
make_data "$DATA" older
{
  printf 'http://news.example/1='
  head -c 100000000 /dev/zero | tr '\0' '1'
  printf '\r\n'
} >"$DATA/data/shownfeedurls.dat"
printf '[main]\r\ncheckForNewVersion=false\r\nfirstTime=false\r\nfeedCount=1\r\n[rss]\r\nfeed.0.url=http://a.example/rss\r\n' \
  >"$DATA/zibu.conf"

snapshot() { (cd "$1" && find . -type f ! -name zibu.lock -print0 | sort -z | xargs -0 sha256sum); }
for home in "$COUNTS" "$ALLOC" "$DATA"; do snapshot "$home" >"$home.before"; done

inner="$OUT/inner.sh"
cat >"$inner" <<INNER
#!/usr/bin/env bash
set -u
# attempt <name> <home> [env assignments...]: start, answer every box until the frame is up (a
# screenshot of each), screenshot the frame, end with SIGTERM. Writes <name>.boxes and <name>.rc.
attempt() {
  local name=\$1 home=\$2
  shift 2
  env "\$@" "$ZIBU" --home "\$home" >"$OUT/\$name.log" 2>&1 &
  local pid=\$! boxes=0 end=\$((SECONDS + 60))
  while [ \$SECONDS -lt \$end ]; do
    box=\$(xdotool search --onlyvisible --name '^Zibu\$' 2>/dev/null | head -1)
    if [ -n "\$box" ]; then
      boxes=\$((boxes + 1))
      sleep 0.5
      import -window root "$OUT/\$name-box\$boxes.png"
      xdotool windowfocus --sync "\$box" key Return
      sleep 0.5
      continue
    fi
    xdotool search --onlyvisible --name '^Zibu 1.13\$' >/dev/null 2>&1 && break
    sleep 0.3
  done
  sleep 1
  import -window root "$OUT/\$name-frame.png"
  kill -TERM \$pid
  # A program that ignores the request is ended after 20 s, and the run counts as failed.
  for _ in \$(seq 100); do kill -0 \$pid 2>/dev/null || break; sleep 0.2; done
  if kill -0 \$pid 2>/dev/null; then
    kill -KILL \$pid
    wait \$pid
    echo "killed after SIGTERM was ignored" >"$OUT/\$name.rc"
  else
    wait \$pid
    echo \$? >"$OUT/\$name.rc"
  fi
  echo \$boxes >"$OUT/\$name.boxes"
}
# A start the X server turned away never reached the program's code: it is tried once more.
run() {
  attempt "\$@"
  if grep -q 'could not connect to display' "$OUT/\$1.log"; then
    echo "\$1: the X server refused the connection; started again" | tee -a "$OUT/retries"
    sleep 1
    attempt "\$@"
  fi
}
run counts1 "$COUNTS"
run counts2 "$COUNTS"
run alloc1 "$ALLOC" LD_PRELOAD="$OUT/fail_alloc.so" FAIL_ALLOC_ABOVE=67108864
run alloc2 "$ALLOC" LD_PRELOAD="$OUT/fail_alloc.so" FAIL_ALLOC_ABOVE=67108864
run data1 "$DATA" LD_PRELOAD="$OUT/fail_alloc.so" FAIL_ALLOC_ABOVE=67108864
run data2 "$DATA" LD_PRELOAD="$OUT/fail_alloc.so" FAIL_ALLOC_ABOVE=67108864
INNER
chmod +x "$inner"
# -noreset: the server keeps its state between the runs instead of resetting when the last one ends.
xvfb-run -a -s "-screen 0 1280x900x24 -noreset" "$inner"

problems=()
failed=()
for run in counts1 counts2 alloc1 alloc2 data1 data2; do
  [ "$(cat "$OUT/$run.rc")" = 0 ] || { problems+=("$run ended with $(cat "$OUT/$run.rc")"); failed+=("$run"); }
done
# Counts: no box, one status line each, every feed and the window kept, the learned data as it was.
for run in counts1 counts2; do
  [ "$(cat "$OUT/$run.boxes")" = 0 ] || problems+=("$run showed $(cat "$OUT/$run.boxes") message boxes")
  ! grep -q 'Start-up stopped' "$OUT/$run.log" || problems+=("$run stopped its start-up")
done
conf="$COUNTS/zibu.conf"
grep -qaE $'^feedCount=2\r?$' "$conf" || problems+=("counts: feedCount is not 2")
grep -qa '^feed.1.url=http://b.example/rss' "$conf" || problems+=("counts: the feed after the NUL byte was lost")
grep -qa '^feed.1.refreshInterval=900' "$conf" || problems+=("counts: a key after the NUL byte was lost")
grep -qa '^feed.0.keywords=1:stormCRLF' "$conf" || problems+=("counts: the first feed's keywords were lost")
grep -qaE $'^browserWindowCount=1\r?$' "$conf" || problems+=("counts: browserWindowCount is not 1")
grep -qa '^url=http://c.example/' "$conf" || problems+=("counts: the window's address was lost")
[ "$(tr -d '\000' <"$conf" | wc -c)" = "$(wc -c <"$conf")" ] || problems+=("counts: the NUL byte was written back")
# The exit save writes zibu.conf (keeping its previous copy in the backup folder), and the
# reading list's store begins: neither is learned data.
written=' ./zibu.conf$| ./data/backup/zibu.conf$| ./data/articles.db'
snapshot "$COUNTS" | grep -Ev "$written" >"$COUNTS.after"
grep -Ev "$written" "$COUNTS.before" | cmp -s - "$COUNTS.after" || problems+=("counts: learned data changed")
# Allocation: one box per start naming zibu.conf and the problem, and every file as it was.
for run in alloc1 alloc2; do
  [ "$(cat "$OUT/$run.boxes")" = 1 ] || problems+=("$run showed $(cat "$OUT/$run.boxes") message boxes, not 1")
  grep -q "zibu: Start-up stopped while reading $ALLOC/zibu.conf: there is not enough memory" "$OUT/$run.log" ||
    problems+=("$run did not name zibu.conf and the problem")
done
snapshot "$ALLOC" >"$ALLOC.after"
cmp -s "$ALLOC.before" "$ALLOC.after" || problems+=("alloc: files changed: $(diff "$ALLOC.before" "$ALLOC.after" | grep '^>' | tr '\n' ' ')")
# A data file that does not load: one box naming it, and the learned data and backups unchanged.
for run in data1 data2; do
  [ "$(cat "$OUT/$run.boxes")" = 1 ] || problems+=("$run showed $(cat "$OUT/$run.boxes") message boxes, not 1")
done
snapshot "$DATA" | grep -Ev "$written" >"$DATA.after"
grep -Ev "$written" "$DATA.before" | cmp -s - "$DATA.after" ||
  problems+=("data: files changed: $(grep -Ev "$written" "$DATA.before" | diff - "$DATA.after" | grep '^>' | tr '\n' ' ')")
grep -qa '^feed.0.url=http://a.example/rss' "$DATA/zibu.conf" || problems+=("data: zibu.conf lost its feed")

if [ ${#problems[@]} -gt 0 ]; then
  printf '%s\n' "${problems[@]}" >&2
  # The temporary folder is gone on a CI machine: what a run that died wrote is kept here.
  for run in "${failed[@]}"; do
    echo "--- the end of $run.log:" >&2
    grep -av '^  \*' "$OUT/$run.log" | tail -40 >&2
  done
  fail "see above (screenshots and logs in $OUT)"
fi
echo "PASS (screenshots in $OUT)"
