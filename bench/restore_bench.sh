#!/usr/bin/env bash
# Restore benchmark, side by side with its reference tool in one hyperfine run (one run each:
# the machine is shared): the "copy" benchmark's tree (10,000 files, 1 KiB-4 MiB, 1 GiB) put on
# smbd, then restored below an empty folder by the restore engine vs
# `smbclient ... recurse ON; prompt OFF; mget *`.
#   loop   smbd on this machine
#   link   smbd behind backup_bench.sh's LAN relay (DELAY_US each way, RATE_MBIT)
# Usage: bench/restore_bench.sh [loop|link [DELAY_US RATE_MBIT]|all]   (as root)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}
build=$root/build/release
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DENABLE_SANITIZERS=OFF -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" --target restore_run_bench delay_relay >/dev/null
runner=$build/bench/restore_run_bench

work=$(mktemp -d /var/tmp/tessarine-rbench.XXXXXX)
fixture=$(mktemp -d /var/tmp/tessarine-rbench-smbd.XXXXXX)
netns=tessarine-rbench-$$
relay=""
cleanup() {
  [[ -z $relay ]] || kill "$relay" 2>/dev/null || true
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null 2>&1 || true
  if ip netns list 2>/dev/null | grep -q "^$netns\b"; then
    ip link del tsrbench0 2>/dev/null || true
    ip netns del "$netns"
  fi
  rm -rf "$work" "$fixture"
}
trap cleanup EXIT

ratio() {
  python3 - "$1" "$2" <<'PY'
import json, sys
name, path = sys.argv[1], sys.argv[2]
results = json.load(open(path))["results"]
ours, reference = results[0], results[1]
print("%s: ours %.3f s, reference %.3f s" % (name, ours["mean"], reference["mean"]))
print("%s ratio=%.2f" % (name, ours["mean"] / reference["mean"]))
PY
}

# restore_runs LABEL HOST PORT: the tree on the running fixture, restored both ways.
restore_runs() {
  local label=$1 host=$2 port=$3
  set -a; . "$fixture/env"; set +a
  local share=$TESSARINE_SMB_ROOT/zereda/backup
  mkdir -p "$share"
  rm -rf "$share/dst"
  cp -a "$work/tree" "$share/dst"
  chown -R "$TESSARINE_SMB_USER:" "$share"
  local prepare="rm -rf '$work/out' '$work/smbc'; mkdir -p '$work/out' '$work/smbc'; sync"
  hyperfine --runs 1 --export-json "$work/restore.json" --prepare "$prepare" \
    "$runner --source /bench/tree --dest '\\\\$host\\zereda\\backup\\dst' --to '$work/out' --port $port --user $TESSARINE_SMB_USER --password '$TESSARINE_SMB_PASSWORD'" \
    "smbclient //$host/zereda -p $port -U '$TESSARINE_SMB_USER%$TESSARINE_SMB_PASSWORD' -c 'recurse ON; prompt OFF; cd backup/dst; lcd $work/smbc; mget *' >/dev/null 2>&1"
  ratio "restore via $label vs smbclient mget" "$work/restore.json"
}

loop_bench() {
  "$root/scripts/smbd-fixture" start "$fixture" >/dev/null
  set -a; . "$fixture/env"; set +a
  restore_runs "smbd" "$TESSARINE_SMB_HOST" "$TESSARINE_SMB_PORT"
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null
}

link_bench() {
  local delay=${1:-150} rate=${2:-1000}
  ip netns add "$netns"
  ip link add tsrbench0 type veth peer name tsrbench1 netns "$netns"
  ip addr add 10.232.0.1/24 dev tsrbench0
  ip link set tsrbench0 up
  ip netns exec "$netns" ip addr add 10.232.0.2/24 dev tsrbench1
  ip netns exec "$netns" ip link set tsrbench1 up
  ip netns exec "$netns" ip link set lo up
  ip netns exec "$netns" "$root/scripts/smbd-fixture" start "$fixture" >/dev/null
  set -a; . "$fixture/env"; set +a
  ip netns exec "$netns" "$build/bench/delay_relay" 10.232.0.2 445 "$TESSARINE_SMB_PORT" \
    "$delay" "$rate" &
  relay=$!
  echo "link: ${delay} us each way, at most ${rate} Mbit/s"
  restore_runs "a LAN link" 10.232.0.2 445
  kill "$relay"
  wait "$relay" 2>/dev/null || true
  relay=""
  "$root/scripts/smbd-fixture" stop "$fixture" >/dev/null
}

python3 "$root/bench/make_tree.py" "$work/tree" --files 10000 --total-mib 1024
case $what in
  loop) loop_bench ;;
  link) link_bench "${@:2}" ;;
  all) loop_bench; link_bench ;;
  *) echo "usage: $0 [loop|link [DELAY_US RATE_MBIT]|all]" >&2; exit 2 ;;
esac
