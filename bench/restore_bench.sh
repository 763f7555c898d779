#!/usr/bin/env bash
# Restore benchmark, side by side with its reference tool in one hyperfine run (one run each:
# the machine is shared): the "copy" benchmark's tree (10,000 files, 1 KiB-4 MiB, 1 GiB) put on
# smbd, then restored below an empty folder by the restore engine vs
# `smbclient ... recurse ON; prompt OFF; mget *`.
#   loop   smbd on this machine
#   link   smbd behind the LAN relay of bench_common.sh (DELAY_US each way, RATE_MBIT); the
#          relay's processor time during each command is printed after the run
# Usage: bench/restore_bench.sh [loop|link [DELAY_US RATE_MBIT]|all]   (as root)
set -euo pipefail
. "$(dirname "$0")/bench_common.sh"
root=$bench_root
what=${1:-all}
bench_build restore_run_bench delay_relay
runner=$build/bench/restore_run_bench
bench_init r 232

# restore_runs LABEL HOST PORT: the tree on the running fixture, restored both ways.
restore_runs() {
  local label=$1 host=$2 port=$3
  set -a; . "$fixture/env"; set +a
  local share=$TESSARINE_SMB_ROOT/zereda/backup
  mkdir -p "$share"
  rm -rf "$share/dst"
  cp -a "$work/tree" "$share/dst"
  chown -R "$TESSARINE_SMB_USER:" "$share"
  local prepare
  prepare="$(set_aside "$work/out" "$work/smbc"); mkdir -p '$work/out' '$work/smbc'; sync"
  local cpu=$work/relay-cpu.log
  rm -f "$cpu"
  [[ -z $relay ]] || prepare+="; awk '{print \$14 + \$15}' /proc/$relay/stat >>'$cpu'"
  hyperfine --runs 1 --export-json "$work/restore.json" --prepare "$prepare" \
    "$runner --source /bench/tree --dest '\\\\$host\\zereda\\backup\\dst' --to '$work/out' --port $port --user $TESSARINE_SMB_USER --password '$TESSARINE_SMB_PASSWORD'" \
    "smbclient //$host/zereda -p $port -U '$TESSARINE_SMB_USER%$TESSARINE_SMB_PASSWORD' -c 'recurse ON; prompt OFF; cd backup/dst; lcd $work/smbc; mget *' >/dev/null 2>&1"
  relay_cpu_note "$cpu"
  ratio "restore via $label vs smbclient mget" "$work/restore.json"
  relay_cpu_report "restore via $label" "$cpu"
}

loop_bench() {
  "$root/scripts/smbd-fixture" start "$fixture" >/dev/null
  set -a; . "$fixture/env"; set +a
  restore_runs "smbd" "$TESSARINE_SMB_HOST" "$TESSARINE_SMB_PORT"
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null
}

link_bench() {
  link_start "$@"
  restore_runs "a LAN link" "$link_host" 445
  link_stop
}

python3 "$root/bench/make_tree.py" "$work/tree" --files 10000 --total-mib 1024
case $what in
  loop) loop_bench ;;
  link) link_bench "${@:2}" ;;
  all) loop_bench; link_bench ;;
  *) echo "usage: $0 [loop|link [DELAY_US RATE_MBIT]|all]" >&2; exit 2 ;;
esac
