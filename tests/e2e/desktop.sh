# What the end-to-end scripts share, sourced by them once they made their work folder ($work):
# the clean-up on exit (what was started, the work folder and the paths in `cleanup_paths`),
# counting failures (fail) and notes, waiting for a condition, and a person's
# desktop on a virtual X display (Xvfb): a laptop screen (1366x768 unless TESSARINE_E2E_SCREEN
# says otherwise), a window manager (openbox) and a 40 px panel along the bottom edge that holds
# the tray (trayer, TESSARINE_E2E_PANEL pixels high). Every process started goes into `pids`,
# which the script's own clean-up stops, last started first (stop_started). For the tests that
# back up to the SMB fixture's share: the share as the device lays it out (share_folder_start).

pids=()
cleanup_paths=()
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
note() { echo "-- $*"; }
cleanup() {
  stop_started
  rm -rf "$work" "${cleanup_paths[@]}"
}
trap cleanup EXIT

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

# The work area the window manager leaves free of panels: "x y width height".
work_area() {
  xprop -root _NET_WORKAREA 2>/dev/null | sed -n 's/.*= *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1 \2 \3 \4/p'
}

# Starts Xvfb, openbox and trayer, logging into the folder $1, and exports DISPLAY. Returns 1
# after a line on standard output when one of them does not come up.
start_desktop() {
  local work=$1 screen=${TESSARINE_E2E_SCREEN:-1366x768} panel=${TESSARINE_E2E_PANEL:-40}
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  wait_for 10 test -s "$work/display" || { echo "Xvfb did not start"; return 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  wait_for 10 bash -c "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'" ||
    { echo "openbox did not start"; return 1; }
  trayer --edge bottom --align right --widthtype request --height "$panel" --SetDockType true \
    --SetPartialStrut true --transparent false --tint 0xdddddd --expand false \
    >"$work/trayer.log" 2>&1 &
  pids+=($!)
  wait_for 10 xdotool search --onlyvisible --class trayer >/dev/null ||
    { echo "trayer did not start"; return 1; }
  # The panel's strut reaches the window manager's work area.
  local height=${screen#*x}
  wait_for 10 bash -c ". '${BASH_SOURCE[0]}'; read -r _ _ _ h < <(work_area); ((h == $height - $panel))" ||
    { echo "the work area does not leave out the panel: $(work_area)"; return 1; }
}

# Fails (with a line) unless the visible window titled $1, frame included, lies inside the work
# area. Prints nothing when it does.
window_inside() {
  local title=$1 id ax ay aw ah x y w h left right top bottom
  id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n1)
  [[ -n $id ]] || { echo "no visible window '$title'"; return 1; }
  read -r ax ay aw ah < <(work_area)
  x=$(xwininfo -id "$id" | sed -n 's/.*Absolute upper-left X: *//p')
  y=$(xwininfo -id "$id" | sed -n 's/.*Absolute upper-left Y: *//p')
  w=$(xwininfo -id "$id" | sed -n 's/.*Width: *//p')
  h=$(xwininfo -id "$id" | sed -n 's/.*Height: *//p')
  read -r left right top bottom < <(xprop -id "$id" _NET_FRAME_EXTENTS 2>/dev/null |
    sed -n 's/.*= *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1 \2 \3 \4/p')
  left=${left:-0} right=${right:-0} top=${top:-0} bottom=${bottom:-0}
  local fx=$((x - left)) fy=$((y - top)) fw=$((w + left + right)) fh=$((h + top + bottom))
  if ((fx < ax || fy < ay || fx + fw > ax + aw || fy + fh > ay + ah)); then
    echo "window '$title' (frame ${fw}x${fh}+${fx}+${fy}) is not inside the work area ${aw}x${ah}+${ax}+${ay}"
    return 1
  fi
  # For screenshots: the frame's geometry.
  frame_geometry="${fw}x${fh}+${fx}+${fy}"
}

# Lays the SMB fixture's share ($TESSARINE_SMB_ROOT) out as the device does (the simulator, with
# $py) and makes the test's own destination folder below its backup folder, as a user would
# have made it on the device: its name in $folder, its path in $share_folder, owned like the
# share's folders (so nothing there is this user's) and removed on exit. Returns 1 after a line
# on standard output when the share cannot be set up.
share_folder_start() {
  folder=e2e-$(basename "$work")
  share_folder=$TESSARINE_SMB_ROOT/zereda/backup/$folder
  cleanup_paths+=("$share_folder")
  "$py" "$(dirname "${BASH_SOURCE[0]}")/../../tools/devicesim/devicesim.py" layout \
    "$TESSARINE_SMB_ROOT" >/dev/null || { echo "the simulator could not lay out the share"; return 1; }
  [[ -d $TESSARINE_SMB_ROOT/zereda/backup ]] || { echo "the share has no backup folder"; return 1; }
  mkdir "$share_folder" && give_to_share "$share_folder" ||
    { echo "could not make the destination folder on the share"; return 1; }
}

# Hands $1 and everything below it to the owner of the share's backup folder.
give_to_share() {
  chown -R "$(stat -c %u:%g "$TESSARINE_SMB_ROOT/zereda/backup")" "$1"
}

stop_started() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  wait 2>/dev/null
}
