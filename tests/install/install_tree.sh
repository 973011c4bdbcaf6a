#!/usr/bin/env bash
# The installed program, as a packager and a first-time user meet it.
#   tree:     `cmake --install` into a scratch prefix gives the expected tree; the installed zibu,
#             started offscreen with scratch HOME and XDG_DATA_HOME, makes its per-user home
#             (private, with the delivered files) and ends cleanly on SIGTERM.
#   validate: desktop-file-validate and appstreamcli accept the installed files (77 = skipped
#             when the tools are missing).
#   package:  cpack makes a Debian package holding the same tree under /usr, with the run-time
#             dependencies declared (77 = skipped without dpkg-shlibdeps).
# usage: tests/install/install_tree.sh tree|validate|package BUILD_DIR SOURCE_DIR
set -euo pipefail
MODE="$1"
BUILD="$2"
SRC="$3"
ID=example.zibu_news.Zibu
WORK="$(mktemp -d /tmp/zibu-install.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$MODE" = package ]; then
  command -v dpkg-shlibdeps >/dev/null && command -v dpkg-deb >/dev/null || {
    echo "dpkg-shlibdeps missing (package dpkg-dev)"
    exit 77
  }
  cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/pkg" >"$WORK/cpack.log" || { cat "$WORK/cpack.log"; fail "cpack"; }
  deb=$(ls "$WORK"/pkg/zibu_*_*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libqt6widgets6 libqt6webenginewidgets6 libqt6webenginecore6-bin libqt6dbus6 libcurl4 libsimpleini1; do
    echo "$depends" | grep -q "\b$lib\b" || fail "the package does not depend on $lib: $depends"
  done
  [ "$(dpkg-deb -f "$deb" Package)" = zibu ] || fail "package name"
  cmake --install "$BUILD" --prefix "$WORK/usr" >/dev/null
  want=$(cd "$WORK" && find usr -type f | sort)
  got=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort)
  [ "$want" = "$got" ] || fail "the package holds another tree: $(diff <(echo "$want") <(echo "$got"))"
  echo "PASS"
  exit 0
fi

PREFIX="$WORK/prefix"
cmake --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.log"

if [ "$MODE" = validate ]; then
  command -v desktop-file-validate >/dev/null && command -v appstreamcli >/dev/null || {
    echo "desktop-file-validate or appstreamcli missing (scripts/setup.sh installs them)"
    exit 77
  }
  desktop-file-validate "$PREFIX/share/applications/$ID.desktop" || fail "desktop-file-validate"
  appstreamcli validate --no-net "$PREFIX/share/metainfo/$ID.metainfo.xml" || fail "appstreamcli validate"
  echo "PASS"
  exit 0
fi

# The tree.
for f in bin/zibu bin/zibu-cli; do [ -x "$PREFIX/$f" ] || fail "$f missing or not executable"; done
for f in share/zibu/zibu.conf share/zibu/commonwords.dat \
    share/applications/$ID.desktop share/metainfo/$ID.metainfo.xml \
    share/icons/hicolor/scalable/apps/$ID.svg share/icons/hicolor/48x48/apps/$ID.png \
    share/icons/hicolor/256x256/apps/$ID.png share/man/man1/zibu.1 share/man/man1/zibu-cli.1; do
  [ -s "$PREFIX/$f" ] || fail "$f missing"
done
cmp -s "$PREFIX/share/zibu/zibu.conf" "$SRC/data/zibu.conf" || fail "installed zibu.conf differs"
# A PNG's width and height are the two big-endian words after its IHDR tag.
for size in 48 256; do
  dims=$(od -An -tu1 -j16 -N8 "$PREFIX/share/icons/hicolor/${size}x${size}/apps/$ID.png" |
    awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || fail "the ${size} px icon is $dims"
done
grep -q "^Icon=$ID\$" "$PREFIX/share/applications/$ID.desktop" || fail "desktop entry names another icon"
grep -q "^Exec=zibu\$" "$PREFIX/share/applications/$ID.desktop" || fail "desktop entry starts something else"
grep -q "<launchable type=\"desktop-id\">$ID.desktop</launchable>" "$PREFIX/share/metainfo/$ID.metainfo.xml" ||
  fail "metainfo does not launch the desktop entry"
# Nothing from the build folder's portable setup may come along.
[ ! -e "$PREFIX/bin/zibu.conf" ] || fail "a zibu.conf beside the installed binary would make it portable"
unexpected=$(cd "$PREFIX" && find . -type f | grep -v -e '^./bin/zibu$' -e '^./bin/zibu-cli$' -e '^./share/' || true)
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"

# Which home, and why.
export HOME="$WORK/user" XDG_DATA_HOME="$WORK/xdg"
mkdir -p "$HOME"
"$PREFIX/bin/zibu" --help | grep -qF "This start's home: $XDG_DATA_HOME/zibu (the per-user data folder, \$XDG_DATA_HOME/zibu)" ||
  fail "--help with XDG_DATA_HOME"
env -u XDG_DATA_HOME "$PREFIX/bin/zibu" --help | grep -qF "This start's home: $HOME/.local/share/zibu (" ||
  fail "--help without XDG_DATA_HOME"
[ ! -e "$XDG_DATA_HOME" ] && [ ! -e "$HOME/.local" ] || fail "--help created a home"

# The first start makes the home.
QT_QPA_PLATFORM=offscreen "$PREFIX/bin/zibu" >"$WORK/zibu.log" 2>&1 &
pid=$!
home="$XDG_DATA_HOME/zibu"
# temp/ is made with the feeds window, just before the program starts listening for SIGTERM.
for _ in $(seq 1 600); do
  [ -d "$home/temp" ] && break
  kill -0 $pid 2>/dev/null || { cat "$WORK/zibu.log"; fail "zibu ended at start-up"; }
  sleep 0.1
done
sleep 1
kill -0 $pid 2>/dev/null || { cat "$WORK/zibu.log"; fail "zibu ended at start-up"; }
kill -TERM $pid
rc=0
wait $pid || rc=$?
[ $rc = 0 ] || { cat "$WORK/zibu.log"; fail "zibu ended with $rc after SIGTERM"; }
[ "$(stat -c %a "$home")" = 700 ] || fail "the home is not private: $(stat -c %a "$home")"
cmp -s "$home/data/commonwords.dat" "$SRC/data/commonwords.dat" || fail "commonwords.dat not delivered"
grep -q '^feed.4.url=' "$home/zibu.conf" || fail "the delivered example feeds are missing"
grep -q '^firstTime=false' "$home/zibu.conf" || fail "the exit did not save zibu.conf"
[ "$(stat -c %a "$home/zibu.conf")" = 600 ] || fail "zibu.conf is readable by others"
[ ! -e "$home/zibu.lock" ] || fail "the lock file outlived the program"
[ -d "$home/data/backup" ] && [ -d "$home/temp" ] || fail "data/backup or temp missing"
[ ! -e "$HOME/.local" ] || fail "a second home appeared under HOME"
echo "PASS"
