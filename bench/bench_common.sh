# Sourced by the benchmark scripts that run against smbd (backup_bench.sh, restore_bench.sh):
# the Release build, the work folders, smbd on this machine or behind a LAN-like link, the
# clean-up on exit, and the ratio of two hyperfine results.
#
# bench_init TAG SUBNET: work folders and the clean-up; TAG names the network namespace and
#   veth pair (tess<TAG>0/1), SUBNET is the link's 10.SUBNET.0.0/24.
# bench_build TARGET...: configures build/release (with benchmarks) and builds the targets.
# link_start [DELAY_US RATE_MBIT]: smbd in a network namespace of its own behind a veth pair and
#   delay_relay, which holds every byte DELAY_US each way and passes at most RATE_MBIT (default
#   150 us, 1000 Mbit/s: a wired LAN); sets link_host (port 445) and the fixture's env.
# link_stop: ends the relay and smbd (the namespace goes at exit).
# relay_cpu_note FILE / relay_cpu_report NAME FILE: the relay's processor time per command.
# ratio NAME JSON: mean time of the first command over the second (further ones against it too).

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$bench_root/build/release
relay=""

bench_init() {
  local tag=$1
  bench_subnet=$2
  work=$(mktemp -d "/var/tmp/tessarine-bench-$tag.XXXXXX")
  # The share lives outside the private work folder: smbd reaches it as the share's user.
  fixture=$(mktemp -d "/var/tmp/tessarine-bench-$tag-smbd.XXXXXX")
  netns=tessarine-bench-$tag-$$
  veth=tess${tag}0
  trap bench_cleanup EXIT
}

bench_cleanup() {
  [[ -z $relay ]] || kill "$relay" 2>/dev/null || true
  "$bench_root/scripts/smbd-fixture" stop "$fixture" >/dev/null 2>&1 || true
  if ip netns list 2>/dev/null | grep -q "^$netns\b"; then
    ip link del "$veth" 2>/dev/null || true
    ip netns del "$netns"
  fi
  rm -rf "$work" "$fixture"
}

# set_aside PATH...: a shell command (for hyperfine's --prepare) that moves each path that exists
# into the work folder's trash, removed with the work folder at the end. A copy removed just before
# the next timed command would make that command pay for it: ext4 passes over inodes freed in the
# last minute (five when their table block is not yet written) each time it makes a file, so every
# file the next command makes scans past the tens of thousands just freed, and the quicker
# command pays the most. Moved, they stay in use. Every path must be on the file system of $work.
set_aside() {
  local command="mkdir -p '$work/trash'"
  local path
  for path in "$@"; do
    command+="; if [ -e '$path' ]; then mv '$path' \"\$(mktemp -d '$work/trash/XXXXXX')\"; fi"
  done
  printf '%s' "$command"
}

bench_build() {
  cmake -S "$bench_root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DENABLE_SANITIZERS=OFF \
    -DBUILD_BENCHMARKS=ON >/dev/null
  cmake --build "$build" --target "$@" >/dev/null
}

link_start() {
  local delay=${1:-150} rate=${2:-1000}
  local peer=${veth%0}1
  link_host=10.$bench_subnet.0.2
  ip netns add "$netns"
  ip link add "$veth" type veth peer name "$peer" netns "$netns"
  ip addr add "10.$bench_subnet.0.1/24" dev "$veth"
  ip link set "$veth" up
  ip netns exec "$netns" ip addr add "$link_host/24" dev "$peer"
  ip netns exec "$netns" ip link set "$peer" up
  ip netns exec "$netns" ip link set lo up
  ip netns exec "$netns" "$bench_root/scripts/smbd-fixture" start "$fixture" >/dev/null
  set -a; . "$fixture/env"; set +a
  ip netns exec "$netns" "$build/bench/delay_relay" "$link_host" 445 "$TESSARINE_SMB_PORT" \
    "$delay" "$rate" &
  relay=$!
  echo "link: ${delay} us each way, at most ${rate} Mbit/s"
}

link_stop() {
  kill "$relay"
  wait "$relay" 2>/dev/null || true
  relay=""
  "$bench_root/scripts/smbd-fixture" stop "$fixture" >/dev/null
}

# Appends the relay's processor time so far (user + system, in clock ticks) to the file given;
# nothing without a relay. Called before every timed command and once after the last.
relay_cpu_note() {
  [[ -z $relay ]] || awk '{print $14 + $15}' "/proc/$relay/stat" >>"$1"
}
# The relay's processor time during each command of a run with one timed run per command and
# no warm-up (the differences between the notes).
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
