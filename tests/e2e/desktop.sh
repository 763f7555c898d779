# What the end-to-end scripts share, sourced by them: waiting for a condition, and a person's
# desktop on a virtual X display (Xvfb) with a tray host (trayer). Every process started goes
# into `pids`, which the script's own clean-up stops, last started first (stop_started).

pids=()

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@"; do
    ((SECONDS < end)) || return 1
    sleep 0.2
  done
}

# Starts Xvfb and trayer, logging into the folder $1, and exports DISPLAY. Returns 1 after a
# line on standard output when one of them does not come up.
start_desktop() {
  local work=$1
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  wait_for 10 test -s "$work/display" || { echo "Xvfb did not start"; return 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
  trayer --edge top --align right --widthtype request --height 40 --SetDockType true \
    --transparent false --tint 0xdddddd --expand false >"$work/trayer.log" 2>&1 &
  pids+=($!)
  wait_for 10 xdotool search --onlyvisible --class trayer >/dev/null ||
    { echo "trayer did not start"; return 1; }
}

stop_started() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  wait 2>/dev/null
}
