#!/usr/bin/env bash
# The application shell end to end, as a user meets it: start Zibu with a fresh home under Xvfb,
# see the splash and the main frame "Zibu 1.13", dismiss the first-run welcome, press
# "Save all config", and end the program with SIGTERM (which closes the frame like its close
# box). Checks the delivered files in the new home, the saved zibu.conf, and a prompt exit.
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
xvfb-run -a -s "-screen 0 1280x900x24" "$inner"

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
echo "PASS (screenshots in $OUT)"
