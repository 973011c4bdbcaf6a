#!/usr/bin/env bash
# Save all config on a full disk, as a user meets it: the real program under Xvfb on a small
# tmpfs home with learned data and a backup pair, whose word file has one weight that is not a
# number (kept as 0, so the pair is written again at the exit save). Once the frame is up the
# disk is filled, the program is asked to end (SIGTERM closes the frame, which saves all), and
# every box is photographed and answered No / OK. Checked: two boxes (the question to try again,
# then what was not saved), zibu.conf written (appVersion and browserWindowCount now in it, the
# file it replaced kept in data/backup/), the learned data and its backups byte for byte as they
# were, and nothing of the failed save left beside them.
#
# usage: sudo tests/e2e/full_disk_save_all.sh [path/to/zibu] [path/to/zibu-cli]
#        (needs root for the tmpfs mount, xvfb-run, xdotool, imagemagick)
set -euo pipefail

ZIBU="$(realpath "${1:-build/bin/zibu}")"
CLI="$(realpath "${2:-build/bin/zibu-cli}")"
OUT="${OUT:-$(mktemp -d /tmp/zibu-full-disk.XXXXXX)}"
T="$OUT/disk"
mkdir -p "$T"
mount -t tmpfs -o size=12m tmpfs "$T"
trap 'umount "$T" 2>/dev/null || true' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

words() {
  python3 -c "
import sys
p, n = sys.argv[1], int(sys.argv[2]); L = 'abcdefghijklmnopqrstuvwxyz'
print(' '.join(p + L[i // 676] + L[(i // 26) % 26] + L[i % 26] for i in range(n)))" "$1" "$2"
}
H="$T/home"
mkdir -p "$H"
printf '[main]\ncheckForNewVersion=false\nfirstTime=false\nfeedCount=1\n[rss]\nfeed.0.url=http://a.example/rss\n' \
  >"$H/zibu.conf"
"$CLI" rate --home "$H" --rating 8 "$(words gena 1400)" >/dev/null 2>&1
"$CLI" rate --home "$H" --rating 6 "$(words genb 200)" >/dev/null 2>&1
sed -i '1s/=8\r$/=8x\r/' "$H/data/wordweightings.dat"
head -1 "$H/data/wordweightings.dat" | grep -q '=8x' || fail "could not damage one weight"
md5sum "$H"/data/*.dat "$H"/data/backup/*.dat >"$OUT/before.md5"
cp "$H/zibu.conf" "$OUT/zibu.conf.before"

cat >"$OUT/inner.sh" <<INNER
#!/usr/bin/env bash
"$ZIBU" --home "$H" >"$OUT/zibu.log" 2>&1 &
pid=\$!
for _ in \$(seq 100); do xdotool search --onlyvisible --name '^Zibu 1.13\$' >/dev/null 2>&1 && break; sleep 0.3; done
sleep 1
avail=\$(df --output=avail -B1 "$T" | tail -1)
fallocate -l \$((avail - 8192)) "$T/filler"
kill -TERM \$pid
n=0
for _ in \$(seq 100); do
  kill -0 \$pid 2>/dev/null || break
  box=\$(xdotool search --onlyvisible --name '^Zibu\$' 2>/dev/null | head -1)
  if [ -n "\$box" ]; then
    n=\$((n + 1))
    sleep 0.5
    import -window root "$OUT/box\$n.png"
    xdotool windowfocus --sync "\$box" key Escape
    sleep 0.5
  fi
  sleep 0.3
done
wait \$pid
echo \$? >"$OUT/rc"
echo \$n >"$OUT/boxes"
INNER
chmod +x "$OUT/inner.sh"
xvfb-run -a -s "-screen 0 1280x900x24" "$OUT/inner.sh"

[ "$(cat "$OUT/rc")" = 0 ] || fail "exit status $(cat "$OUT/rc")"
[ "$(cat "$OUT/boxes")" = 2 ] || fail "$(cat "$OUT/boxes") boxes instead of the question and the message"
grep -q '^appVersion=1.13' "$H/zibu.conf" || fail "zibu.conf was not written"
grep -q '^browserWindowCount=0' "$H/zibu.conf" || fail "zibu.conf was not written"
cmp -s "$OUT/zibu.conf.before" "$H/data/backup/zibu.conf" || fail "the previous zibu.conf is not in data/backup/"
md5sum --quiet -c "$OUT/before.md5" || fail "the learned data or its backups changed"
left="$(find "$H/data" -type f \( -name '*.new' -o -name '*.tmp' -o -name 'save.commit*' \) | tr '\n' ' ')"
[ -z "$left" ] || fail "left over: $left"
echo "PASS: zibu.conf written, learned data and backups intact; boxes in $OUT"
