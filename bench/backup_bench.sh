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
. "$(dirname "$0")/bench_common.sh"
root=$bench_root
what=${1:-all}
"$root/scripts/setup"
bench_build backup_run_bench
runner=$build/bench/backup_run_bench
bench_init b 231
runs=${BENCH_RUNS:-3}
warmup=${BENCH_WARMUP:-1}
one_at_a_time=${BENCH_ONE_AT_A_TIME:-1}
big=${BENCH_BIG:-1}

copy_bench() {
  local src=$work/tree
  python3 "$root/bench/make_tree.py" "$src" --files 10000 --total-mib 1024
  mkdir -p "$work/local/zereda/backup"
  hyperfine --runs 3 --warmup 1 --export-json "$work/copy-local.json" \
    --prepare "$(set_aside "$work/local/zereda/backup/dst" "$work/data" "$work/cp"); mkdir -p '$work/local/zereda/backup/dst' '$work/cp'; sync" \
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
  local prepare
  prepare="$(set_aside "$share/dst" "$share/smbc" "$work/data"); mkdir -p '$share/dst' '$share/smbc'; chown '$TESSARINE_SMB_USER:' '$share/dst' '$share/smbc'; sync"
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

# The smbd half of "copy" with the server on another host of a LAN (link_start).
link_bench() {
  local src=$work/tree
  bench_build delay_relay
  python3 "$root/bench/make_tree.py" "$src" --files 10000 --total-mib 1024
  link_start "$@"
  smb_copy_runs "$src" "a LAN link" "$link_host" 445
  link_stop
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
