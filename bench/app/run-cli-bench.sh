#!/usr/bin/env bash
# The whole search from the command line, side by side with ripgrep.
#
# Usage: bench/app/run-cli-bench.sh [CLI] [CORPUS_DIR]
#   CLI         the tallyfold-cli binary of a Release build (default build/tallyfold-cli)
#   CORPUS_DIR  the generated corpus (default $TMPDIR/tallyfold-bench-corpus);
#               generated with bench/app/make-corpus.py when it does not exist
#
# Runs `tallyfold-cli the DIR` and `rg --count-matches -i -w the DIR` in one
# hyperfine session, prints the ratio of their mean times, and the peak
# memory of each from /usr/bin/time -v. Needs hyperfine and ripgrep.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
cli="$(realpath "${1:-$root/build/tallyfold-cli}")"
corpus="${2:-${TMPDIR:-/tmp}/tallyfold-bench-corpus}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if [[ ! -d "$corpus" ]]; then
  echo "Generating the corpus in $corpus ..."
  python3 "$here/make-corpus.py" "$corpus"
fi
echo "Corpus: $(find "$corpus" -maxdepth 1 -name '*.txt' | wc -l) files, $(du -sh "$corpus" | cut -f1)"

# The report goes to a scratch folder; the search itself is what is timed.
tally=("$cli" --quiet -o "$work/result.htm" the "$corpus")
rg_cmd=(rg --count-matches -i -w the "$corpus")

hyperfine --warmup 1 --runs 5 --export-json "$work/times.json" \
  -n tallyfold-cli "$(printf '%q ' "${tally[@]}")" \
  -n ripgrep "$(printf '%q ' "${rg_cmd[@]}") > /dev/null"

python3 - "$work/times.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
t, r = results["tallyfold-cli"]["mean"], results["ripgrep"]["mean"]
print(f"tallyfold-cli {t:.3f} s, ripgrep {r:.3f} s: ratio {t / r:.1f}x")
PY

peak() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2 " KB"}'
}
echo "Peak memory: tallyfold-cli $(peak "${tally[@]}"), ripgrep $(peak "${rg_cmd[@]}")"
