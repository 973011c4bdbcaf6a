#!/usr/bin/env bash
# Kills `zibu-cli rate` at every write, rename, link, unlink and sync system call of a run that
# learns a rating and saves it, one run per call (strace injects SIGKILL on entry to the N-th
# call), and checks after each kill:
#   1. the learned data, as a load reads it, is the old pair or the new pair, whole (the learned
#      words and a relevance score are those of one of the two, and no load complains);
#   2. a whole backup pair exists and belongs with it: the pair before the old one beside the old
#      pair, the old pair beside the new one (the backup folder as the commit record, when there
#      is one, completes it);
#   3. after the next start that may write (zibu-cli forget of a word never learned), both folders
#      hold those two pairs as plain files, and nothing of the killed save is left lying about.
# The home starts with three generations' worth of words: A (now the backup pair), B (the data
# pair), and the run adds C (WORDS new words).
#
# Every crash point that breaks one of these is reported and counted; the exit status is 1 then.
#
# usage: bench/save_crash_points.sh [path/to/zibu-cli] [WORDS]      (needs strace)
set -euo pipefail

CLI="$(realpath "${1:-build/bin/zibu-cli}")"
WORDS="${2:-200}"
WORK="$(mktemp -d /tmp/zibu-crash-points.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
BAD=0
declare -A BADS
# A crash point that broke the rule: counted, and the run goes on to the next one.
bad() {
  echo "FAIL: $*" >&2
  BAD=$((BAD + 1))
  BADS[$sc]=$((BADS[$sc] + 1))
}

# WORDS distinct words of letters only, each starting with the prefix.
words() {
  python3 - "$1" "$2" <<'PY'
import sys
prefix, n = sys.argv[1], int(sys.argv[2])
letters = "abcdefghijklmnopqrstuvwxyz"
out = []
for i in range(n):
    a, b, c = i // 676, (i // 26) % 26, i % 26
    out.append(prefix + letters[a] + letters[b] + letters[c])
print(" ".join(out))
PY
}
TEXT_A="$(words gena 60)"
TEXT_B="$(words genb 80)"
TEXT_C="$(words genc "$WORDS")"
PROBE="gena$(words '' 1) genb$(words '' 1) genc$(words '' 1) genaaab genbaab gencaab"

# What a home's data folder holds, as one text: its words with their weights and a score that
# reads the relationship table; "DAMAGED ..." when the load complained.
fingerprint() {
  local home="$1" err
  err="$home/.fingerprint.err"
  {
    "$CLI" learned --home "$home" 2>"$err" || echo "learned failed"
    "$CLI" relevance --home "$home" "$PROBE" 2>>"$err" || echo "relevance failed"
  } | md5sum | cut -d' ' -f1 | tr -d '\n'
  if grep -q "Error loading\|could not be read\|I cannot use" "$err"; then
    echo " DAMAGED $(tr '\n' ' ' <"$err")"
  else
    echo
  fi
  rm -f "$err"
}

# A home whose data folder holds the backup pair of $1 (with the staged second names a commit
# record names, as a load would finish them).
backup_home() {
  local home="$1" out="$2" name
  rm -rf "$out"
  mkdir -p "$out/data"
  for name in wordweightings.dat reltable.dat; do
    if [ -f "$home/data/save.commit" ] && grep -qx "backup/$name"$'\r' "$home/data/save.commit" &&
      [ -f "$home/data/backup/$name.new" ]; then
      cp "$home/data/backup/$name.new" "$out/data/$name"
    elif [ -f "$home/data/backup/$name" ]; then
      cp "$home/data/backup/$name" "$out/data/$name"
    fi
  done
}

BASE="$WORK/base"
mkdir -p "$BASE"
"$CLI" rate --home "$BASE" --rating 8 "$TEXT_A" >/dev/null 2>&1
FA="$(fingerprint "$BASE")"
"$CLI" rate --home "$BASE" --rating 6 "$TEXT_B" >/dev/null 2>&1
FB="$(fingerprint "$BASE")"
backup_home "$BASE" "$WORK/probe"
[ "$(fingerprint "$WORK/probe")" = "$FA" ] || fail "the base home's backup pair is not generation A"
CLEAN="$WORK/clean"
cp -a "$BASE" "$CLEAN"
"$CLI" rate --home "$CLEAN" --rating 8 "$TEXT_C" >/dev/null 2>&1
FC="$(fingerprint "$CLEAN")"
[ "$FA" != "$FB" ] && [ "$FB" != "$FC" ] || fail "the generations cannot be told apart"

SYSCALLS=(write rename renameat renameat2 link linkat unlink unlinkat fsync fdatasync)
# How often a clean run makes each call (all threads).
cp -a "$BASE" "$WORK/counted"
strace -f -qq -c -o "$WORK/counts" -e trace="$(IFS=,; echo "${SYSCALLS[*]}")" \
  "$CLI" rate --home "$WORK/counted" --rating 8 "$TEXT_C" >/dev/null 2>&1

total=0
declare -A KILLS NEW
for sc in "${SYSCALLS[@]}"; do
  n="$(awk -v s="$sc" '$NF == s { print ($4 ~ /^[0-9]+$/) ? $4 : $3 }' "$WORK/counts" | head -1)"
  n="${n:-0}"
  KILLS[$sc]=0
  NEW[$sc]=0
  BADS[$sc]=0
  for ((k = 1; k <= n; k++)); do
    HOME_K="$WORK/run"
    rm -rf "$HOME_K"
    cp -a "$BASE" "$HOME_K"
    set +e
    # In a subshell, so that the shell does not report each kill.
    (strace -f -qq -o /dev/null -e trace="$sc" -e inject="$sc:signal=KILL:when=$k" \
      "$CLI" rate --home "$HOME_K" --rating 8 "$TEXT_C"; exit $?) >/dev/null 2>&1
    rc=$?
    set -e
    [ "$rc" -eq 137 ] || [ "$rc" -eq 0 ] || fail "$sc #$k: exit status $rc"
    [ "$rc" -eq 137 ] || continue
    KILLS[$sc]=$((KILLS[$sc] + 1))
    total=$((total + 1))
    rm -f "$HOME_K/zibu.lock" 2>/dev/null || true

    data="$(fingerprint "$HOME_K")"
    backup_home "$HOME_K" "$WORK/probe"
    backup="$(fingerprint "$WORK/probe")"
    case "$data" in
      "$FB") [ "$backup" = "$FA" ] || { bad "$sc #$k: old pair in place, but the backup pair is not the one before it"; continue; } ;;
      "$FC") [ "$backup" = "$FB" ] || { bad "$sc #$k: new pair in place, but the backup pair is not the old one"; continue; } ;;
      *) bad "$sc #$k: the learned data is neither the old nor the new pair: $data"; continue ;;
    esac
    # The next start that may write finishes or clears what the kill left.
    "$CLI" forget --home "$HOME_K" notalearnedword >/dev/null 2>&1 || true
    [ "$(fingerprint "$HOME_K")" = "$data" ] || { bad "$sc #$k: the next start changed the learned data"; continue; }
    [ ! -e "$HOME_K/data/save.commit" ] || { bad "$sc #$k: the commit record is still there"; continue; }
    rm -rf "$WORK/probe"
    mkdir -p "$WORK/probe/data"
    cp "$HOME_K"/data/backup/wordweightings.dat "$HOME_K"/data/backup/reltable.dat "$WORK/probe/data/" 2>/dev/null || true
    [ "$(fingerprint "$WORK/probe")" = "$backup" ] || { bad "$sc #$k: the backup folder changed at the next start"; continue; }
    left="$(find "$HOME_K/data" -type f ! -name '*.dat' | tr '\n' ' ')"
    [ -z "$left" ] || { bad "$sc #$k: left over after the next start: $left"; continue; }
    if [ "$data" = "$FC" ]; then NEW[$sc]=$((NEW[$sc] + 1)); fi
    echo "$sc #$k: $([ "$data" = "$FC" ] && echo new || echo old) pair, backup whole"
  done
done

echo
for sc in "${SYSCALLS[@]}"; do
  [ "${KILLS[$sc]}" -eq 0 ] ||
    echo "killed at $sc: ${KILLS[$sc]} calls ($((KILLS[$sc] - NEW[$sc] - BADS[$sc])) left the old pair with its" \
      "backup, ${NEW[$sc]} the new, ${BADS[$sc]} failed)"
done
if [ "$BAD" -gt 0 ]; then
  echo "crash points: $total, of which $BAD FAILED"
  exit 1
fi
echo "crash points: $total, every one leaving the old or the new pair whole with a whole backup pair"
