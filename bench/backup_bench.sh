#!/usr/bin/env bash
# Backup benchmarks, each run side by side with its reference tool in one hyperfine run:
#   copy   full backup of 10,000 files (1 KiB-4 MiB, 1 GiB) through LocalShare vs `cp -a`,
#          and through smbd (copier processes) vs `smbclient ... mput *`, with one copy at a
#          time (TESSARINE_SHARE_COPIERS=0) as a third command; then one 1 GiB file through
#          smbd (striped over the copiers) vs `smbclient ... put`, with one copier (not striped)
#          as a third command
#   diff   no-change differential run over 100,000 files (1,000 folders) through LocalShare vs
#          `rsync -a --dry-run` and vs `find SRC -printf '%s %T@\n'`; every differential run
#          also lists each destination folder (copies removed on the device are copied again)
#   smbdiff the same no-change differential run through smbd vs `smbclient ... recurse ON; ls`
#          of the copy (what looking at the device's side costs at all)
#   link   the smbd half of "copy" with the server on another host, as a device on the LAN is:
#          smbd in a network namespace of its own behind a veth pair and a relay that holds
#          every byte DELAY_US each way and passes at most RATE_MBIT (default 150 us and
#          1000 Mbit/s: a wired LAN), then the no-change differential run over the copy vs
#          `smbclient ... recurse ON; ls` of it over the same link; the relay's own processor
#          time during each command is printed after each run (it is in both sides' times)
# Usage: bench/backup_bench.sh [copy|diff|smbdiff|link [DELAY_US RATE_MBIT]|all]
#        (as root; installs and builds what it needs)
# Environment: BENCH_RUNS and BENCH_WARMUP (3 and 1) for every copy run; BENCH_ONE_AT_A_TIME=0
# leaves out the third commands (one copy at a time, one copier); BENCH_BIG=0 leaves out the
# 1 GiB file; BENCH_COPY=0 the 10,000-file copy (link: only the differential run then).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}
"$root/scripts/setup"
build=$root/build/release
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DENABLE_SANITIZERS=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" --target backup_run_bench >/dev/null
runner=$build/bench/backup_run_bench

work=$(mktemp -d /var/tmp/tessarine-bench.XXXXXX)
# The share lives outside the private work folder: smbd reaches it as the share's user.
fixture=$(mktemp -d /var/tmp/tessarine-bench-smbd.XXXXXX)
netns=tessarine-bench-$$
relay=""
cleanup() {
  [[ -z $relay ]] || kill "$relay" 2>/dev/null || true
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null 2>&1 || true
  if ip netns list 2>/dev/null | grep -q "^$netns\b"; then
    ip link del tsbench0 2>/dev/null || true
    ip netns del "$netns"
  fi
  rm -rf "$work" "$fixture"
}
trap cleanup EXIT
runs=${BENCH_RUNS:-3}
warmup=${BENCH_WARMUP:-1}
one_at_a_time=${BENCH_ONE_AT_A_TIME:-1}
big=${BENCH_BIG:-1}

# Appends the relay's processor time so far (user + system, in clock ticks) to the file given;
# nothing without a relay. Called before every timed command and once after the last.
relay_cpu_note() {
  [[ -z $relay ]] || awk '{print $14 + $15}' "/proc/$relay/stat" >>"$1"
}
# relay_cpu_report NAME LOG: the relay's processor time during each command of a run with one
# timed run per command and no warm-up (the differences between the notes).
relay_cpu_report() {
  [[ -n $relay && -s $2 ]] || return 0
  python3 - "$1" "$2" "$(getconf CLK_TCK)" <<'PY'
import sys
name, path, tick = sys.argv[1], sys.argv[2], float(sys.argv[3])
notes = [float(line) for line in open(path) if line.strip()]
spent = ["%.2f s" % ((b - a) / tick) for a, b in zip(notes, notes[1:])]
print("%s: relay processor time per command (ours, reference, ...): %s" % (name, ", ".join(spent)))
PY
}

# ratio NAME JSON: mean time of the first command over the second, printed last.
# Further commands of the run are printed against the reference too.
ratio() {
  python3 - "$1" "$2" <<'PY'
import json, sys
name, path = sys.argv[1], sys.argv[2]
results = json.load(open(path))["results"]
ours, reference = results[0], results[1]
print("%s: ours %.3f s (min %.3f), reference %.3f s (min %.3f)" % (
    name, ours["mean"], ours["min"], reference["mean"], reference["min"]))
print("%s ratio=%.2f" % (name, ours["mean"] / reference["mean"]))
for extra in results[2:]:
    print("%s: also %.3f s (min %.3f), ratio=%.2f: %s" % (
        name, extra["mean"], extra["min"], extra["mean"] / reference["mean"], extra["command"][:60]))
PY
}

copy_bench() {
  local src=$work/tree
  python3 "$root/bench/make_tree.py" "$src" --files 10000 --total-mib 1024
  mkdir -p "$work/local/zereda/backup"
  hyperfine --runs 3 --warmup 1 --export-json "$work/copy-local.json" \
    --prepare "rm -rf '$work/local/zereda/backup/dst' '$work/data' '$work/cp'; mkdir -p '$work/local/zereda/backup/dst' '$work/cp'; sync" \
    "$runner --data '$work/data' --source '$src' --dest '\\\\127.0.0.1\\zereda\\backup\\dst' --local-root '$work/local'" \
    "cp -a '$src' '$work/cp/dst'"
  ratio "full backup via LocalShare vs cp -a" "$work/copy-local.json"
  rm -rf "$work/local" "$work/cp"

  "$root/scripts/smbd-fixture" start "$fixture" >/dev/null
  smb_copy_runs "$src" "smbd"
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null
}

# smb_copy_runs TREE LABEL [HOST PORT]: the 10,000-file tree and then one 1 GiB file through the
# running fixture, against smbclient's mput and put; HOST and PORT reach the fixture another way
# than its own address.
smb_copy_runs() {
  local src=$1 label=$2
  set -a; . "$fixture/env"; set +a
  local host=${3:-$TESSARINE_SMB_HOST}
  TESSARINE_SMB_PORT=${4:-$TESSARINE_SMB_PORT}
  local share=$TESSARINE_SMB_ROOT/zereda/backup
  mkdir -p "$share"
  chown "$TESSARINE_SMB_USER:" "$share"
  local cpu=$work/relay-cpu.log
  local prepare="rm -rf '$share/dst' '$share/smbc' '$work/data'; mkdir -p '$share/dst' '$share/smbc'; chown '$TESSARINE_SMB_USER:' '$share/dst' '$share/smbc'; sync"
  [[ -z $relay ]] || prepare+="; awk '{print \$14 + \$15}' /proc/$relay/stat >>'$cpu'"
  local third=()
  local smbclient="smbclient //$host/zereda -p $TESSARINE_SMB_PORT -U '$TESSARINE_SMB_USER%$TESSARINE_SMB_PASSWORD'"
  local ours="$runner --data '$work/data' --source '$src' --dest '\\\\$host\\zereda\\backup\\dst' --port $TESSARINE_SMB_PORT --user $TESSARINE_SMB_USER --password '$TESSARINE_SMB_PASSWORD'"
  [[ $one_at_a_time == 0 ]] || third=("TESSARINE_SHARE_COPIERS=0 $ours")
  rm -f "$cpu"
  if [[ ${BENCH_COPY:-1} == 1 ]]; then
    hyperfine --runs "$runs" --warmup "$warmup" --export-json "$work/copy-smb.json" --prepare "$prepare" \
      "$ours" \
      "$smbclient -c 'prompt OFF; recurse ON; cd backup/smbc; lcd $src; mput *' >/dev/null 2>&1" \
      "${third[@]}"
    relay_cpu_note "$cpu"
    ratio "full backup via $label vs smbclient mput" "$work/copy-smb.json"
    [[ $runs != 1 || $warmup != 0 ]] || relay_cpu_report "full backup via $label" "$cpu"
  else
    eval "$prepare"
  fi
  if [[ -n $relay ]]; then
    # One run of ours makes the copy (the last command may have been mput), and every timed
    # run after it is a differential run that finds nothing changed.
    eval "$ours" >/dev/null
    rm -f "$cpu"
    hyperfine --runs "$runs" --warmup "$warmup" --export-json "$work/diff-link.json" \
      --prepare "awk '{print \$14 + \$15}' /proc/$relay/stat >>'$cpu'" \
      "$ours" \
      "$smbclient -c 'recurse ON; cd backup/dst; ls' >/dev/null"
    relay_cpu_note "$cpu"
    ratio "no-change differential via $label vs smbclient recursive ls" "$work/diff-link.json"
    [[ $runs != 1 || $warmup != 0 ]] || relay_cpu_report "no-change differential via $label" "$cpu"
  fi
  rm -rf "$src"
  [[ $big == 1 ]] || return 0

  local one=$work/one
  mkdir -p "$one"
  head -c 1G /dev/urandom >"$one/big.bin"
  ours="$runner --data '$work/data' --source '$one' --dest '\\\\$host\\zereda\\backup\\dst' --port $TESSARINE_SMB_PORT --user $TESSARINE_SMB_USER --password '$TESSARINE_SMB_PASSWORD'"
  third=()
  [[ $one_at_a_time == 0 ]] || third=("TESSARINE_SHARE_COPIERS=1 $ours")
  rm -f "$cpu"
  hyperfine --runs "$runs" --warmup "$warmup" --export-json "$work/copy-big.json" --prepare "$prepare" \
    "$ours" \
    "$smbclient -c 'cd backup/smbc; lcd $one; put big.bin' >/dev/null 2>&1" \
    "${third[@]}"
  relay_cpu_note "$cpu"
  ratio "1 GiB file via $label vs smbclient put" "$work/copy-big.json"
  [[ $runs != 1 || $warmup != 0 ]] || relay_cpu_report "1 GiB file via $label" "$cpu"
  rm -rf "$one"
}

# The smbd half of "copy" with the server on another host of a LAN: smbd and a delaying relay
# (delay_relay) run in a network namespace of their own, reached over a veth pair.
link_bench() {
  local delay=${1:-150} rate=${2:-1000}
  local src=$work/tree
  cmake --build "$build" --target delay_relay >/dev/null
  python3 "$root/bench/make_tree.py" "$src" --files 10000 --total-mib 1024
  ip netns add "$netns"
  ip link add tsbench0 type veth peer name tsbench1 netns "$netns"
  ip addr add 10.231.0.1/24 dev tsbench0
  ip link set tsbench0 up
  ip netns exec "$netns" ip addr add 10.231.0.2/24 dev tsbench1
  ip netns exec "$netns" ip link set tsbench1 up
  ip netns exec "$netns" ip link set lo up
  ip netns exec "$netns" "$root/scripts/smbd-fixture" start "$fixture" >/dev/null
  set -a; . "$fixture/env"; set +a
  ip netns exec "$netns" "$build/bench/delay_relay" 10.231.0.2 445 "$TESSARINE_SMB_PORT" \
    "$delay" "$rate" &
  relay=$!
  echo "link: ${delay} us each way, at most ${rate} Mbit/s"
  smb_copy_runs "$src" "a LAN link" 10.231.0.2 445
  kill "$relay"
  wait "$relay" 2>/dev/null || true
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null
}

diff_bench() {
  local src=$work/many
  python3 "$root/bench/make_tree.py" "$src" --files 100000 --total-mib 50 --min-bytes 16 --max-bytes 1024 --per-folder 1000
  mkdir -p "$work/local/zereda/backup/dst"
  # The full backup that the differential runs start from.
  "$runner" --data "$work/diffdata" --source "$src" --dest '\\127.0.0.1\zereda\backup\dst' --local-root "$work/local"
  local copy=$work/local/zereda/backup/dst
  local ours="$runner --data '$work/diffdata' --source '$src' --dest '\\\\127.0.0.1\\zereda\\backup\\dst' --local-root '$work/local'"
  hyperfine --runs 5 --warmup 1 --export-json "$work/diff-rsync.json" \
    "$ours" "rsync -a --dry-run '$src/' '$copy/'"
  ratio "no-change differential vs rsync -a --dry-run" "$work/diff-rsync.json"
  hyperfine --runs 5 --warmup 1 --export-json "$work/diff-find.json" \
    "$ours" "find '$src' -printf '%s %T@\n' >/dev/null"
  ratio "no-change differential vs find -printf" "$work/diff-find.json"
}

smb_diff_bench() {
  local src=$work/many-smb
  python3 "$root/bench/make_tree.py" "$src" --files 100000 --total-mib 50 --min-bytes 16 --max-bytes 1024 --per-folder 100
  "$root/scripts/smbd-fixture" start "$fixture" >/dev/null
  set -a; . "$fixture/env"; set +a
  local share=$TESSARINE_SMB_ROOT/zereda/backup
  mkdir -p "$share/dst"
  chown -R "$TESSARINE_SMB_USER:" "$share"
  local ours="$runner --data '$work/smbdiffdata' --source '$src' --dest '\\\\127.0.0.1\\zereda\\backup\\dst' --port $TESSARINE_SMB_PORT --user $TESSARINE_SMB_USER --password '$TESSARINE_SMB_PASSWORD'"
  # The full backup that the differential runs start from.
  eval "$ours" >/dev/null
  hyperfine --runs 5 --warmup 1 --export-json "$work/diff-smb.json" \
    "$ours" \
    "smbclient //127.0.0.1/zereda -p $TESSARINE_SMB_PORT -U '$TESSARINE_SMB_USER%$TESSARINE_SMB_PASSWORD' -c 'recurse ON; cd backup/dst; ls' >/dev/null"
  ratio "no-change differential via smbd vs smbclient recursive ls" "$work/diff-smb.json"
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null
  rm -rf "$src"
}

case $what in
  copy) copy_bench ;;
  diff) diff_bench ;;
  smbdiff) smb_diff_bench ;;
  link) link_bench "${@:2}" ;;
  all) copy_bench; diff_bench; smb_diff_bench; link_bench ;;
  *) echo "usage: $0 [copy|diff|smbdiff|link [DELAY_US RATE_MBIT]|all]" >&2; exit 2 ;;
esac
