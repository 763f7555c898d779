#!/usr/bin/env bash
# Detection benchmark, run side by side with its reference in one hyperfine run: the no-change
# forward sweep (a differential forward that finds nothing new) of a generated tree of 200,000
# files of which about 3% carry a designated extension, after a first (full) forward, through
# LocalShare, vs `find ROOT -type f \( -iname '*.docx' -o -iname '*.pdf' -o -iname '*.xlsx' \)
# -size -11M` on the same tree. Target: at most twice find's time.
# Usage: bench/detect_bench.sh [FILES]   (as root; installs and builds what it needs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
files=${1:-200000}
"$root/scripts/setup"
build=$root/build/release
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DENABLE_SANITIZERS=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" --target detect_run_bench >/dev/null
runner=$build/bench/detect_run_bench

work=$(mktemp -d /var/tmp/tessarine-detect-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

tree=$work/pc
python3 "$root/bench/make_tree.py" "$tree" --files "$files" --total-mib 100 --min-bytes 16 \
  --max-bytes 4096 --per-folder 100 --eligible-percent 3
mkdir -p "$work/share"
python3 "$root/tools/devicesim/devicesim.py" layout "$work/share" --switch on \
  --extensions docx,pdf,xlsx --max-size 10 >/dev/null
ours="$runner --data '$work/data' --root '$tree' --local-root '$work/share'"
# The full forward the sweeps start from; the device then takes the batch in.
eval "$ours"
echo "forwarded: $(find "$work/share/zereda/import/data" -type f | wc -l) files and lists"
find "$work/share/zereda/import/data" -type f -delete

hyperfine --runs 5 --warmup 1 --export-json "$work/sweep.json" \
  "$ours" \
  "find '$tree' -type f \\( -iname '*.docx' -o -iname '*.pdf' -o -iname '*.xlsx' \\) -size -11M >/dev/null"
# Nothing may have been sent by the sweeps.
[[ -z $(ls -A "$work/share/zereda/import/data") ]] || { echo "a sweep sent files" >&2; exit 1; }
python3 - "$work/sweep.json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
ours, reference = results[0], results[1]
print("no-change forward sweep: ours %.3f s (min %.3f), find %.3f s (min %.3f)" % (
    ours["mean"], ours["min"], reference["mean"], reference["min"]))
print("no-change forward sweep vs find ratio=%.2f" % (ours["mean"] / reference["mean"]))
PY
