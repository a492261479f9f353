#!/usr/bin/env bash
# A search for a common word over a corpus of about 10 GB: how long it takes
# and how much memory it holds. Not part of CI: it needs some 60 GB of free
# disk and half an hour.
#
# Usage: bench/app/run-10gb.sh [CLI] [SCRATCH_DIR]
#   CLI          the tallyfold-cli binary of a Release build (default build/tallyfold-cli)
#   SCRATCH_DIR  where the corpus and the rows set aside go (default $TMPDIR or /tmp);
#                everything made there is deleted at the end
#
# Environment: GIGABYTES (default 10), PATTERN (default the), THREADS (default 2),
# ROW_MEMORY (passed as --row-memory when set).
#
# The corpus is 1 GB of bench/app/make-corpus.py (ten files of 100 MB in its
# mixed encodings, fixed seed), copied until it reaches GIGABYTES. The report
# goes to standard output and is counted, not kept: for "the" it is about four
# times the corpus, and the rows set aside while searching take as much again
# in the scratch folder until the search ends. Peak memory and times come
# from /usr/bin/time -v.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cli="$(realpath "${1:-$root/build/tallyfold-cli}")"
scratch="$(mktemp -d -p "${2:-${TMPDIR:-/tmp}}" tallyfold-10gb-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
gigabytes="${GIGABYTES:-10}"
pattern="${PATTERN:-the}"
threads="${THREADS:-2}"
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (Debian package time)"; exit 1; }

echo "Generating 1 GB in $scratch/seed ..."
python3 "$here/make-corpus.py" "$scratch/seed" --megabytes 1000 --files 10
mkdir "$scratch/corpus"
for ((copy = 0; copy < gigabytes; ++copy)); do
  for file in "$scratch"/seed/*.txt; do
    cp "$file" "$scratch/corpus/$(printf '%03d' "$copy")-$(basename "$file")"
  done
done
rm -r "$scratch/seed"
echo "Corpus: $(find "$scratch/corpus" -name '*.txt' | wc -l) files, $(du -sh "$scratch/corpus" | cut -f1)"
echo "Free disk before the search: $(df -h --output=avail "$scratch" | tail -1)"

args=(--threads "$threads")
[[ -n "${ROW_MEMORY:-}" ]] && args+=(--row-memory "$ROW_MEMORY")
bytes="$(TMPDIR="$scratch" /usr/bin/time -v -o "$scratch/time.txt" \
  "$cli" "${args[@]}" -o - "$pattern" "$scratch/corpus" 2>"$scratch/err.txt" | wc -c)"
cat "$scratch/err.txt"
echo "Report: $bytes bytes"
grep -E "Elapsed|Maximum resident|User time|System time|Exit status" "$scratch/time.txt"
