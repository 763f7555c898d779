#!/usr/bin/env bash
# Peak memory (maximum resident set size, GNU `/usr/bin/time -v`) of the program's paths under
# load, each at two sizes, with the growth per file between them:
#   backup   full backup of a generated tree (small files, 50 per folder, one folder holding a
#            fifth of all files: 20,000 at 100,000) through LocalShare, then a no-change
#            differential run over the same tree
#   smb      the same full backup through smbd, with TESSARINE_SHARE_COPIERS=0 and =4
#   results  storing N detection results (three hits each) one by one with
#            StoreDetectFileResult; listing them with `TessarineTool --results N`; opening the
#            result window over N results (bench/result_window_bench)
# GNU time reports the process it waited for; Linux gives it the largest resident size of that
# process and of every child it reaped, so a copier process counts when it alone is larger
# than the main process, and copiers are not added up.
# Bytes per file = (peak(large) - peak(small)) / (large - small); the target is < 200.
# Usage: bench/load_bench.sh [backup|smb|results|all] [SMALL LARGE]   (as root for smb)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}
small=${2:-10000}
large=${3:-100000}
[[ -x /usr/bin/time ]] || { echo "load_bench: /usr/bin/time missing, run scripts/setup" >&2; exit 2; }
build=${BUILD:-$root/build/release}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target TessarineTool backup_run_bench result_store_bench \
  result_window_bench >/dev/null

work=$(mktemp -d /var/tmp/tessarine-load.XXXXXX)
fixture=$(mktemp -d /var/tmp/tessarine-load-smbd.XXXXXX)
cleanup() {
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null 2>&1 || true
  rm -rf "$work" "$fixture"
}
trap cleanup EXIT
table=$work/table

# peak NAME SIZE COMMAND...: runs the command under GNU time, records its max RSS in KiB.
peak() {
  local name=$1 size=$2
  shift 2
  /usr/bin/time -v -o "$work/time.out" "$@" >"$work/cmd.out" 2>&1 || {
    echo "load_bench: '$name' at $size failed:" >&2
    tail -5 "$work/cmd.out" >&2
    exit 1
  }
  local kib
  kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.out")
  echo "$name $size $kib" >>"$table"
  echo "$name at $size: max RSS $kib KiB" >&2
}

tree() {  # tree SIZE DIR
  python3 "$root/bench/make_tree.py" "$2" --files "$1" --total-mib $(($1 / 1000)) \
    --min-bytes 16 --max-bytes 2048 --per-folder 50 --big-folder $(($1 / 5)) >/dev/null
}

backup_load() {
  local size
  for size in "$small" "$large"; do
    local src=$work/tree$size
    tree "$size" "$src"
    rm -rf "$work/local" "$work/data"
    mkdir -p "$work/local/zereda/backup/dst"
    local run=("$build/bench/backup_run_bench" --data "$work/data" --source "$src"
      --dest '\\127.0.0.1\zereda\backup\dst' --local-root "$work/local")
    peak "backup-full-local" "$size" "${run[@]}"
    peak "backup-diff-local" "$size" "${run[@]}"
    rm -rf "$src" "$work/local" "$work/data"
  done
}

smb_load() {
  "$root/scripts/smbd-fixture" start "$fixture" >/dev/null
  set -a; . "$fixture/env"; set +a
  local share=$TESSARINE_SMB_ROOT/zereda/backup size copiers
  for size in "$small" "$large"; do
    local src=$work/tree$size
    tree "$size" "$src"
    for copiers in 0 4; do
      rm -rf "$share/dst" "$work/data"
      mkdir -p "$share/dst"
      chown -R "$TESSARINE_SMB_USER:" "$share"
      peak "backup-full-smb-copiers$copiers" "$size" env TESSARINE_SHARE_COPIERS=$copiers \
        "$build/bench/backup_run_bench" --data "$work/data" --source "$src" \
        --dest '\\127.0.0.1\zereda\backup\dst' --port "$TESSARINE_SMB_PORT" \
        --user "$TESSARINE_SMB_USER" --password "$TESSARINE_SMB_PASSWORD"
    done
    rm -rf "$src" "$share/dst" "$work/data"
  done
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null
}

results_load() {
  local size
  for size in "$small" "$large"; do
    # The program's own data folder under a private profile, as --results finds it.
    local profile=$work/profile$size
    local data="$profile/corvane/Tessarine Tool"
    mkdir -p "$data"
    chmod -R 700 "$profile"
    peak "results-store" "$size" "$build/bench/result_store_bench" "$size" "$data/TessarineTool.db"
    peak "results-list-cli" "$size" env ALLUSERSPROFILE="$profile" XDG_RUNTIME_DIR="$work" \
      "$build/TessarineTool" --results "$size"
    peak "results-window" "$size" env QT_QPA_PLATFORM=offscreen \
      "$build/bench/result_window_bench" "$size"
    rm -rf "$profile"
  done
}

case $what in
  backup) backup_load ;;
  smb) smb_load ;;
  results) results_load ;;
  all) backup_load; smb_load; results_load ;;
  *) echo "usage: $0 [backup|smb|results|all] [SMALL LARGE]" >&2; exit 2 ;;
esac

python3 - "$table" "$small" "$large" <<'PY'
import sys
path, small, large = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
peaks = {}
for line in open(path):
    name, size, kib = line.split()
    peaks.setdefault(name, {})[int(size)] = int(kib)
print("%-28s %12s %12s %14s" % ("path", "peak@%d" % small, "peak@%d" % large, "B/file growth"))
for name, by_size in peaks.items():
    a, b = by_size.get(small), by_size.get(large)
    per = "%.1f" % ((b - a) * 1024.0 / (large - small)) if a and b else "-"
    verdict = "" if per == "-" else ("ok" if float(per) < 200 else "OVER 200")
    print("%-28s %9s KiB %9s KiB %14s %s" % (name, a or "-", b or "-", per, verdict))
PY
