#!/bin/bash
# Compares what two builds of zibu-cli read from every feed-like document of the repository:
# `zibu-cli items` of each XML/RDF/JSON file under tests/data and of every file in the XML and
# feed-item fuzz corpora. Prints each document whose items differ, with the two outputs, and a
# count at the end. Usage: scripts/items_differential.sh OLD_CLI NEW_CLI [EXTRA_ARGS...]
set -u
old=$1 new=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
same=0 differ=0
while IFS= read -r -d '' file; do
  a=$("$old" items "$file" --base "https://feeds.example/doc" "$@" 2>&1; echo "exit $?")
  b=$("$new" items "$file" --base "https://feeds.example/doc" "$@" 2>&1; echo "exit $?")
  if [ "$a" == "$b" ]; then
    same=$((same + 1))
  else
    differ=$((differ + 1))
    echo "=== ${file#"$root"/}"
    diff <(printf '%s\n' "$a") <(printf '%s\n' "$b") | cut -c1-400
  fi
done < <(find "$root/tests/data" \( -name '*.xml' -o -name '*.rdf' -o -name '*.json' \) -type f -print0 | sort -z;
         find "$root/fuzz/corpus/xml" "$root/fuzz/corpus/feed_items" -type f -print0 | sort -z)
echo "documents with the same items: $same, with different items: $differ"
