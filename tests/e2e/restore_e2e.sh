#!/usr/bin/env bash
# The restore window used as a person would: the tray program on a laptop desktop
# (tests/e2e/desktop.sh: 1366x768, a 40 px panel, openbox) with a folder pair whose copies lie
# on the SMB fixture's share; the window opened from the tray menu by its access key, one
# folder of the device tree ticked, "フォルダ" chosen with a folder typed, the restore started,
# and the summary read. The restored files must equal the device copies, nothing else may be
# written, and the window must have held the backup running flag and given it back. Controls
# are found on the accessibility bus by their captions (tests/e2e/settings_e2e.py).
#
#   TESSARINE_BINARY=build/asan/TessarineTool tests/e2e/restore_e2e.sh [screenshot folder]
#
# With a folder, the window with its summary is saved there as restore.png. Needs the SMB
# fixture's variables (TESSARINE_SMB_*). Exits 77 (skipped) when a tool, the fixture or the
# program is missing.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
binary=${TESSARINE_BINARY:-}
shots=${1:-}
py=/usr/bin/python3
for tool in Xvfb openbox trayer xdotool xprop xwininfo dbus-run-session "$py"; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
"$py" -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
[[ -x $binary ]] || { echo "SKIP: TESSARINE_BINARY is not set to the program"; exit 77; }
for var in TESSARINE_SMB_PORT TESSARINE_SMB_USER TESSARINE_SMB_PASSWORD TESSARINE_SMB_ROOT; do
  [[ -n ${!var:-} ]] || { echo "SKIP: $var is not set (scripts/test starts the SMB fixture)"; exit 77; }
done
if [[ -n $shots ]]; then
  command -v import >/dev/null || { echo "FAIL: screenshots need ImageMagick's import"; exit 1; }
  mkdir -p "$shots"
fi
if [[ -z ${TESSARINE_E2E_SESSION:-} ]]; then
  TESSARINE_E2E_SESSION=1 exec dbus-run-session -- bash "$0" "$@"
fi

export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/../lsan.supp:print_suppressions=0}
work=$(mktemp -d /tmp/tessarine-restore-e2e.XXXXXX)
. "$here/desktop.sh"
finish() {
  if ((failures)); then
    echo "--- program output"; cat "$work/program.out"
    echo "--- log"; logtext | tail -n 60
    exit 1
  fi
}
die() { fail "$*"; finish; }

# --- the desktop and the device copies ---------------------------------------------------
start_desktop "$work" || { echo "FAIL: the desktop did not start"; exit 1; }
# What an earlier backup left on the device: two folders and a file, owned as the share's
# (the share's folders as the simulator lays them out, so nothing here is made by this user).
share_folder_start || die "the share was not set up"
mkdir -p "$share_folder/報告書/2025" "$share_folder/写真"
printf '四半期報告\n' >"$share_folder/報告書/q1.txt"
head -c 200000 /dev/urandom >"$share_folder/報告書/2025/data.bin"
printf 'photo\n' >"$share_folder/写真/p1.jpg"
printf 'note\n' >"$share_folder/note.txt"
touch -d '2025-06-01 10:00' "$share_folder/報告書/q1.txt"
give_to_share "$share_folder" ||
  die "could not hand the copies to the share's owner"
note "display $DISPLAY, SMB on $TESSARINE_SMB_PORT"

# --- the program, configured for the device ----------------------------------------------
export HOME=$work/home ALLUSERSPROFILE=$work/profile XDG_RUNTIME_DIR=$work/run
export XDG_CONFIG_HOME=$HOME/.config QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
mkdir -p "$HOME" "$ALLUSERSPROFILE" "$XDG_RUNTIME_DIR" "$work/docs" "$work/out"
chmod 700 "$XDG_RUNTIME_DIR"
data="$ALLUSERSPROFILE/corvane/Tessarine Tool"
log="$data/log/TessarineTool.log"
logtext() { iconv -f CP932 -t UTF-8 "$log" 2>/dev/null; }
log_has() { logtext | grep -q "$1"; }
mkdir -p "$data"
printf '%s\r\n' "[CommonSetting]" "IPV4Address=127.0.0.1" "HostName=DEV01" \
  "UserName=$TESSARINE_SMB_USER" "UserPassword=$(printf %s "$TESSARINE_SMB_PASSWORD" | base64 -w0)" \
  "[BackupSetting]" "SourceFolderPath01=$work/docs" \
  "DestinationFolderPath01=\\\\127.0.0.1\\zereda\\backup\\$folder" >"$data/TessarineTool.msf"

"$binary" >"$work/program.out" 2>&1 &
program=$!
pids+=($program)
wait_for 30 log_has "Tray Start" || die "the program did not start"
# A loaded machine's accessibility bus now and then refuses a client (libatspi then aborts it):
# a look that died by a signal is taken again.
look() {
  local status
  for _ in 1 2 3; do
    "$py" "$here/settings_e2e.py" "$program" "$@"
    status=$?
    ((status < 128)) && return "$status"
    sleep 1
  done
  return "$status"
}
ui() { look "$@" || fail "settings_e2e.py $*"; }
wait_for 60 bash -c "'$py' '$here/settings_e2e.py' $program windows >/dev/null 2>&1" ||
  die "the program did not appear on the accessibility bus"

# --- "復元" from the tray menu, by its access key ------------------------------------------
tray=$(xdotool search --onlyvisible --class trayer | head -n1)
eval "$(xdotool getwindowgeometry --shell "$tray")"
title="復元"
for attempt in 1 2 3; do
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  wait_for 5 xdotool search --onlyvisible --class TessarineTool >/dev/null 2>&1 || continue
  sleep 0.5
  xdotool key o
  wait_for 10 xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 && break
done
ui wait-window "$title"
finish
sleep 0.8  # the window manager's frame and the program's placement settle
problem=$(window_inside "$title") || fail "$problem"
ui buttons-inside "$title"

# --- one folder ticked, restored to another folder -----------------------------------------
# Qt offers no tick on the accessibility bus (a cell's "Toggle" selects it): the check box at
# the cell's left edge is clicked.
cell=$(look cell "$title" "報告書") || die "no row 報告書"
read -r cx cy cw ch <<<"$cell"
xdotool mousemove $((cx + 10)) $((cy + ch / 2)) click 1
ui choose "$title" "フォルダ"
ui set-text "$title" "フォルダ" "$work/out"
ui press "$title" "復元"
summary=$(look label "$title" "復元 ") ||
  die "no summary after the restore"
note "summary: $summary"
[[ $summary == "復元 2 件、同一 0 件、スキップ 0 件、失敗 0 件" ]] || fail "summary '$summary'"
finish

restored=$work/out/docs
cmp -s "$share_folder/報告書/q1.txt" "$restored/報告書/q1.txt" || fail "q1.txt differs or is missing"
cmp -s "$share_folder/報告書/2025/data.bin" "$restored/報告書/2025/data.bin" ||
  fail "data.bin differs or is missing"
[[ $(stat -c %Y "$restored/報告書/q1.txt" 2>/dev/null) == $(stat -c %Y "$share_folder/報告書/q1.txt") ]] ||
  fail "q1.txt did not keep the copy's time"
extra=$(cd "$work/out" && find . -mindepth 1 | sort | tr '\n' ' ')
[[ $extra == "./docs ./docs/報告書 ./docs/報告書/2025 ./docs/報告書/2025/data.bin ./docs/報告書/q1.txt " ]] ||
  fail "the target folder holds: $extra"
[[ -z $(ls -A "$work/docs") ]] || fail "the original place was written: $(ls -A "$work/docs")"
log_has "Restore Window Holds The Backup Running Flag." || fail "the window did not hold the backup flag"
log_has "Restore Window Released The Backup Running Flag." || fail "the window did not give the flag back"

if [[ -n $shots ]]; then
  window_inside "$title" >/dev/null && import -window root -crop "$frame_geometry" +repage "$shots/restore.png"
fi

kill "$program" 2>/dev/null
wait_for 15 bash -c "! kill -0 $program 2>/dev/null" || fail "the program did not end on SIGTERM"
finish
echo "PASS: restore window opened from the tray, one folder restored to another folder, summary read"
