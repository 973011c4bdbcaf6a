#!/usr/bin/env bash
# The application shell end to end, as a user meets it: start Zibu with a fresh home under Xvfb,
# see the splash and the main frame "Zibu 1.13", dismiss the first-run welcome, press
# "Save all config", and end the program with SIGTERM (which closes the frame like its close
# box). Checks the delivered files in the new home, the saved zibu.conf, and a prompt exit.
# On the way: a second Zibu on the same home brings the running one forward and ends without a box
# or a changed file; one on a home that is a plain file says so in a message box and ends without
# changing a file; a bad argument is refused without a display.
# Screenshots go to $OUT (default: a temporary folder, printed at the end).
#
# usage: tests/e2e/shell_start_save.sh [path/to/zibu]     (needs xvfb-run, xdotool, imagemagick)
set -euo pipefail

ZIBU="$(realpath "${1:-build/bin/zibu}")"
OUT="${OUT:-$(mktemp -d /tmp/zibu-shell-e2e.XXXXXX)}"
HOME_DIR="$OUT/home"
mkdir -p "$OUT"

fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$("$ZIBU" --version)" = "1.13" ] || fail "--version"
"$ZIBU" --help | grep -q -- '--home DIR' || fail "--help"
rc=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$ZIBU" --bogus >/dev/null 2>"$OUT/bogus.err" || rc=$?
[ "$rc" = 2 ] && grep -q 'unknown argument: --bogus' "$OUT/bogus.err" || fail "--bogus without a display: rc=$rc"
echo "not a folder" >"$OUT/afile"

inner="$OUT/inner.sh"
cat >"$inner" <<INNER
#!/usr/bin/env bash
set -u
"$ZIBU" --bogus >/dev/null 2>&1
[ \$? = 2 ] || echo "an unknown argument was not refused" >>"$OUT/problems"
"$ZIBU" --home "$HOME_DIR" >"$OUT/zibu.log" 2>&1 &
pid=\$!
frame=\$(timeout 30 xdotool search --sync --onlyvisible --name '^Zibu 1.13\$' | head -1)
[ -n "\$frame" ] || { echo "no main frame" >"$OUT/result"; kill \$pid; exit; }
xdotool search --name '^Zibu - loading\$' >/dev/null || echo "no splash window" >>"$OUT/problems"
sleep 1
import -window root "$OUT/1-welcome.png"
xdotool key Return
sleep 0.5
import -window root "$OUT/2-frame.png"
# A second Zibu on the same home: the running one comes forward, this one ends at once, no box,
# and every file is as it was.
snapshot() { (cd "$HOME_DIR" && find . -type f -printf '%p %s %T@\\n' | sort && cat zibu.lock); }
snapshot >"$OUT/files-before"
timeout 20 "$ZIBU" --home "$HOME_DIR" >"$OUT/second.log" 2>&1; rc2=\$?
[ \$rc2 = 0 ] || echo "the second start ended with \$rc2" >>"$OUT/problems"
grep -q 'I have brought it to the front' "$OUT/second.log" || echo "the second start did not say it raised the first" >>"$OUT/problems"
xdotool search --onlyvisible --name '^Zibu\$' >/dev/null && echo "a box came up for the second start" >>"$OUT/problems"
import -window root "$OUT/2a-second-start.png"
snapshot >"$OUT/files-after"
cmp -s "$OUT/files-before" "$OUT/files-after" || echo "the second start changed the home" >>"$OUT/problems"
# A home that is a plain file.
"$ZIBU" --home "$OUT/afile" >"$OUT/afile.log" 2>&1 &
third=\$!
box=\$(timeout 20 xdotool search --sync --onlyvisible --name '^Zibu\$' | head -1)
[ -n "\$box" ] || echo "no message box for a home that is a file" >>"$OUT/problems"
import -window root "$OUT/2b-home-is-a-file.png"
xdotool windowfocus --sync "\$box"; xdotool key Return
wait \$third; rc3=\$?
[ \$rc3 = 1 ] || echo "a home that is a file ended with \$rc3" >>"$OUT/problems"
grep -q 'it is not a folder' "$OUT/afile.log" || echo "a home that is a file was not reported on stderr" >>"$OUT/problems"
[ "\$(cat "$OUT/afile")" = "not a folder" ] || echo "a home that is a file was changed" >>"$OUT/problems"
before=\$(stat -c %Y.%s "$HOME_DIR/zibu.conf")
sleep 1.1
xdotool mousemove --window \$frame 147 41 click 1
sleep 1
import -window root "$OUT/3-config-saved.png"
after=\$(stat -c %Y.%s "$HOME_DIR/zibu.conf")
[ "\$before" != "\$after" ] || echo "Save all config did not write zibu.conf" >>"$OUT/problems"
xdotool key Return
sleep 0.3
start=\$(date +%s%N)
kill -TERM \$pid
wait \$pid; rc=\$?
echo "rc=\$rc ms=\$(( (\$(date +%s%N) - start) / 1000000 ))" >"$OUT/result"
INNER
chmod +x "$inner"
xvfb-run -a -s "-screen 0 1280x900x24 -noreset" "$inner"

cat "$OUT/result"
[ ! -s "$OUT/problems" ] || { cat "$OUT/problems"; fail "see above"; }
grep -q '^rc=0 ' "$OUT/result" || fail "Zibu did not end cleanly"
ms=$(sed 's/.*ms=//' "$OUT/result")
[ "$ms" -lt 5000 ] || fail "shutdown took ${ms} ms"
[ -f "$HOME_DIR/data/commonwords.dat" ] || fail "commonwords.dat not delivered into the home"
grep -q '^firstTime=false' "$HOME_DIR/zibu.conf" || fail "firstTime not cleared"
grep -q '^appVersion=1.13' "$HOME_DIR/zibu.conf" || fail "appVersion not written"
grep -q '^browserWindowCount=0' "$HOME_DIR/zibu.conf" || fail "browserWindowCount not written"
grep -q '^feed.4.url=' "$HOME_DIR/zibu.conf" || fail "the example feeds were lost"
[ "$(stat -c %a "$HOME_DIR/zibu.conf")" = "600" ] || fail "zibu.conf is readable by others"
[ ! -e "$HOME_DIR/zibu.lock" ] || fail "the lock file outlived the program"
echo "PASS (screenshots in $OUT)"
