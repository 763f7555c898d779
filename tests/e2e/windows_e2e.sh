#!/usr/bin/env bash
# Every window of the tray program on a laptop desktop: 1366x768 with a 40 px panel at the
# bottom and a window manager (tests/e2e/desktop.sh). The program is started the way the
# desktop menu's "設定" action starts it (--show settings with no instance running); each
# window it opens must lie inside the work area, frame included, with every button inside the
# window. TESSARINE_E2E_SCALE=2 runs the same on a 2732x1536 screen with QT_SCALE_FACTOR=2.
#
#   TESSARINE_BINARY=build/asan/TessarineTool tests/e2e/windows_e2e.sh [screenshot folder]
#
# With a folder, each window is saved there with its frame. Exits 77 (skipped) when a tool or
# the program is missing.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
binary=${TESSARINE_BINARY:-}
shots=${1:-}
py=/usr/bin/python3
for tool in Xvfb openbox trayer xdotool xprop xwininfo sqlite3 dbus-run-session "$py"; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
"$py" -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
[[ -x $binary ]] || { echo "SKIP: TESSARINE_BINARY is not set to the program"; exit 77; }
if [[ -n $shots ]]; then
  command -v import >/dev/null || { echo "FAIL: screenshots need ImageMagick's import"; exit 1; }
  mkdir -p "$shots"
fi
if [[ -z ${TESSARINE_E2E_SESSION:-} ]]; then
  TESSARINE_E2E_SESSION=1 exec dbus-run-session -- bash "$0" "$@"
fi

scale=${TESSARINE_E2E_SCALE:-1}
export TESSARINE_E2E_SCREEN=$((1366 * scale))x$((768 * scale)) TESSARINE_E2E_PANEL=$((40 * scale))
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/../lsan.supp:print_suppressions=0}
work=$(mktemp -d /tmp/tessarine-windows-e2e.XXXXXX)
. "$here/desktop.sh"

start_desktop "$work" || { echo "FAIL: the desktop did not start"; exit 1; }
note "display $DISPLAY, screen $TESSARINE_E2E_SCREEN, work area $(work_area), scale $scale"

export HOME=$work/home ALLUSERSPROFILE=$work/profile XDG_RUNTIME_DIR=$work/run
export XDG_CONFIG_HOME=$HOME/.config QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
((scale > 1)) && export QT_SCALE_FACTOR=$scale
mkdir -p "$HOME" "$ALLUSERSPROFILE" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
data="$ALLUSERSPROFILE/corvane/Tessarine Tool"
log="$data/log/TessarineTool.log"
logtext() { iconv -f CP932 -t UTF-8 "$log" 2>/dev/null; }
log_has() { logtext | grep -q "$1"; }

# A configured program: a device, a user and two folder pairs with Japanese names, so that the
# pages show what a user sees (an unconfigured common page refuses to be left).
docs="$HOME/ドキュメント/経理部門の共有資料"
mkdir -p "$data" "$docs" "$HOME/写真"
printf '%s\r\n' "[CommonSetting]" "IPV4Address=192.0.2.10" "HostName=DEV01" "UserName=scanner" \
  "[BackupSetting]" "SourceFolderPath01=$docs" \
  'DestinationFolderPath01=\\192.0.2.10\zereda\backup\経理部門の共有資料' \
  "SourceFolderPath02=$HOME/写真" 'DestinationFolderPath02=\\DEV01\zereda\backup\写真' \
  >"$data/TessarineTool.msf"

# The desktop menu's action with no instance running: the program starts and opens the window.
"$binary" --show settings >"$work/show.out" 2>&1 || fail "--show settings: $(cat "$work/show.out")"
wait_for 30 log_has "Tray Start" || { fail "the program did not start"; exit 1; }
# The started program is "TessarineTool" with this script's data folder in its environment.
program=
for pid in $(pgrep -x TessarineTool); do
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "ALLUSERSPROFILE=$ALLUSERSPROFILE" &&
    program=$pid
done
[[ -n $program ]] || { fail "no program process"; exit 1; }
pids+=($program)
ui() { "$py" "$here/settings_e2e.py" "$program" "$@"; }
# The accessibility bus is started on first use; on a loaded machine its first clients can be
# refused (libatspi then aborts the client), so the first look is repeated until it answers.
wait_for 60 bash -c "'$py' '$here/settings_e2e.py' $program windows >/dev/null 2>&1" ||
  fail "the program did not appear on the accessibility bus"

# Checks the window titled $1 and saves it as $2.png (with a folder given).
check() {
  local title=$1 name=$2 problem
  ui wait-window "$title" || { fail "no window $title"; return; }
  sleep 0.8  # the window manager's frame and the program's placement settle
  problem=$(window_inside "$title") || fail "$problem"
  ui buttons-inside "$title" || fail "buttons of $title"
  if [[ -n $shots ]]; then
    window_inside "$title" >/dev/null
    import -window root -crop "$frame_geometry" +repage "$shots/$name.png"
  fi
}
close() {  # Escape hides each of these windows
  local id
  id=$(xdotool search --onlyvisible --name "^$1\$" | head -n1)
  [[ -n $id ]] || return 0
  xdotool windowactivate --sync "$id" key Escape 2>/dev/null || xdotool windowfocus --sync "$id" key Escape
  wait_for 5 bash -c "! xdotool search --onlyvisible --name '^$1\$' >/dev/null 2>&1" ||
    fail "Escape did not close $1"
}

check "設定" settings-common
ui tab "設定" "バックアップ設定" && check "設定" settings-backup
ui tab "設定" "指定ファイル検出設定" && check "設定" settings-detect
ui tab "設定" "共通設定"
ui press "設定" "機器選択" && check "機器の検索" settings-search && close "機器の検索"
ui check "設定" "手動で機器を設定する。" on
ui set-text "設定" "機器IPアドレス" 192.0.2.10
ui press "設定" "設定" && check "ユーザー設定" settings-credentials && close "ユーザー設定"
if [[ -n $shots ]]; then  # the whole desktop once, to see the window beside the panel
  import -window root "$shots/desktop-settings.png"
fi
close "設定"

# Two detection results, as the result checker stores them.
for n in 1 2; do
  sqlite3 "$data/TessarineTool.db" "INSERT INTO DETECT_FILE_RESULT (ID, FILE_NAME, FILE_PATH, DETECTED_TIME)
    VALUES ('2026121101020${n}_$docs/見積書${n}.xlsx', '見積書$n.xlsx', '$docs/見積書$n.xlsx', '2026121101020$n');" ||
    fail "could not store a detection result"
done
"$binary" --show results || fail "--show results"
check "結果" result_backup_page
ui tab "結果" "指定ファイル検出結果" && check "結果" result_detect_page
close "結果"

"$binary" --show version || fail "--show version"
check "バージョン情報" version
read -r ax ay aw ah < <(work_area)
if window_inside "バージョン情報" >/dev/null; then
  # Within a pixel of the scale: Qt places in its own (scaled) pixels.
  vx=${frame_geometry#*+}
  vx=${vx%%+*}
  gap=$((ax + aw - vx - ${frame_geometry%%x*}))
  ((gap >= 0 && gap <= scale)) ||
    fail "the version box is not at the right edge: $frame_geometry in ${aw}x${ah}"
fi
# A box of one size: the window manager offers no maximise.
version_id=$(xdotool search --onlyvisible --name "^バージョン情報\$" | head -n1)
xprop -id "$version_id" _NET_WM_ALLOWED_ACTIONS | grep -q MAXIMIZE &&
  fail "the version box can be maximised"
close "バージョン情報"

kill "$program" 2>/dev/null
wait_for 15 bash -c "! kill -0 $program 2>/dev/null" || fail "the program did not end on SIGTERM"
if ((failures)); then
  echo "--- log"; logtext | tail -n 40
  exit 1
fi
echo "PASS: every window inside the work area of $TESSARINE_E2E_SCREEN less a $TESSARINE_E2E_PANEL px panel, buttons inside"
