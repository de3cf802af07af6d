#!/usr/bin/env bash
# The editor's keys in the real program under Wine, typed as real X key events
# (xdotool): create a vault, open it, type a document with carried indentation and
# Ctrl+Backspace, move between the boxes with Alt+1 and Alt+2, complete, copy, save,
# close, reopen, and answer "Discard changes?" both ways.
#
#   tests/ui/editor_keys_road.sh <path to the 64-bit glimkeep.exe>
#
# Needs DISPLAY (an X server with no window manager, such as the Xvfb that
# scripts/with-wine starts), Wine's environment (WINEPREFIX), xdotool and xclip.
# Exits 0 on success, 1 on a failure, 77 when it cannot run here.
set -uo pipefail

EXE=${1:?usage: editor_keys_road.sh glimkeep.exe}
WINE64=${WINE64:-/usr/lib/wine/wine64}
PASSWORD=road-pw-1

[ -n "${DISPLAY:-}" ] || { echo "road: no DISPLAY, skipped"; exit 77; }
command -v xdotool >/dev/null && command -v xclip >/dev/null || { echo "road: xdotool/xclip missing, skipped"; exit 77; }
[ -f "$EXE" ] || { echo "road: $EXE not found"; exit 1; }
EXE=$(cd "$(dirname "$EXE")" && pwd)/$(basename "$EXE")

WORK=$(mktemp -d /tmp/glimkeep-road.XXXXXX)
PROGRAM_PID=
STEP=start

cleanup() {
  if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then
    kill "$PROGRAM_PID" 2>/dev/null
    wait "$PROGRAM_PID" 2>/dev/null
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "road: FAILED at step '$STEP': $*"
  if command -v import >/dev/null; then
    import -window root "/tmp/glimkeep-road-failure.png" 2>/dev/null && echo "road: screenshot in /tmp/glimkeep-road-failure.png"
  fi
  echo "road: files: $(ls "$WORK" | tr '\n' ' ')"
  exit 1
}

step() { STEP=$1; echo "road: $STEP"; }

# The id of the visible window with exactly this title, waiting up to 20 seconds.
wait_window() {
  local name id i
  name=$(printf '%s' "$1" | sed 's/[]?*+.()[^$\\]/\\&/g')
  for i in $(seq 1 200); do
    id=$(xdotool search --onlyvisible --name "^${name}\$" 2>/dev/null | tail -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# The visible "Glimkeep" window of the given width (the three windows share the title).
wait_glimkeep() {
  local width=$1 id i w
  for i in $(seq 1 200); do
    for id in $(xdotool search --onlyvisible --name '^(\* )?Glimkeep$' 2>/dev/null); do
      w=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | sed -n 's/^WIDTH=//p')
      [ -n "$w" ] && [ "$w" -ge $((width - 20)) ] && [ "$w" -le $((width + 20)) ] && { echo "$id"; return 0; }
    done
    sleep 0.1
  done
  return 1
}

# Clicks at a point given relative to the window's bottom-left or centre.
click_in() {
  local id=$1 dx=$2 dy_from_bottom=$3 X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$id")"
  local y
  if [ "$dy_from_bottom" = centre ]; then y=$((Y + HEIGHT / 2)); else y=$((Y + HEIGHT - dy_from_bottom)); fi
  xdotool mousemove $((X + dx)) "$y" click 1
  sleep 0.3
}

key() { xdotool key --delay 60 "$@"; sleep 0.3; }
typed() { xdotool type --delay 60 "$1"; sleep 0.3; }

# Answers the message dialog with this caption by clicking into it and pressing Enter.
answer_dialog() {
  local id
  id=$(wait_window "$1") || fail "no dialog \"$1\""
  click_in "$id" 20 centre
  key Return
  for _ in $(seq 1 50); do
    xdotool search --onlyvisible --name "^$(printf '%s' "$1" | sed 's/[]?*+.()[^$\\]/\\&/g')\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "dialog \"$1\" did not close"
}

clipboard() { xclip -o -selection clipboard 2>/dev/null | tr -d '\r'; }

expect_clipboard() {
  local expected=$1 what=$2 got
  for _ in $(seq 1 30); do
    got=$(clipboard)
    [ "$got" = "$expected" ] && return 0
    sleep 0.1
  done
  fail "$what: clipboard holds '$got', expected '$expected'"
}

start_program() {
  (cd "$WORK" && exec "$WINE64" "$EXE") >/dev/null 2>&1 &
  PROGRAM_PID=$!
}

unlock() {
  local id
  id=$(wait_glimkeep 413) || fail "no password window"
  click_in "$id" 40 18
  typed "$PASSWORD"
  key Return
}

wait_exit() {
  local i
  for i in $(seq 1 100); do
    kill -0 "$PROGRAM_PID" 2>/dev/null || { wait "$PROGRAM_PID"; return $?; }
    sleep 0.1
  done
  fail "the program did not end"
}

cd "$WORK" || exit 1

step "create a vault"
start_program
id=$(wait_glimkeep 470) || fail "no first-run window"
click_in "$id" 40 18
typed "$PASSWORD"
key Return
answer_dialog "Database successfully created"
[ -f "$WORK/passwords.gkv" ] || fail "no vault written"

step "open it"
unlock
EDITOR=$(wait_glimkeep 620) || fail "no editor"

step "type a document"
click_in "$EDITOR" 300 centre
key alt+2
typed "email"; key Return Tab
typed "gmail"; key Return Tab            # the new line starts with one tab, Tab adds one
typed "pass: s3cret"; key Return ctrl+BackSpace   # Ctrl+Backspace takes the two tabs back
typed "bank"; key Return Tab
typed "pin: 1234"
xdotool search --onlyvisible --name '^\* Glimkeep$' >/dev/null || fail "title does not show the change"

step "filter, complete, copy"
key alt+1
typed "em"; key Tab
typed "gm"; key Tab
typed "pa"; key Tab
key Return
expect_clipboard "s3cret" "the completed path's value"
key ctrl+BackSpace ctrl+BackSpace ctrl+BackSpace
key Return
expect_clipboard "$(printf 'email\n\tgmail\n\t\tpass: s3cret\nbank\n\tpin: 1234')" "the whole document"

step "save"
key ctrl+s
answer_dialog "Data successfully saved"
wait_glimkeep 620 >/dev/null || fail "editor gone after saving"
xdotool search --onlyvisible --name '^Glimkeep$' >/dev/null || fail "title still marked after saving"
backups=$(ls "$WORK" | grep -c '^passwords\.gkv\.-\?[0-9]*\.bak$')
[ "$backups" = 1 ] || fail "expected one backup, found $backups"

step "close"
click_in "$EDITOR" 300 centre
key alt+F4
wait_exit; rc=$?
[ "$rc" = 0 ] || fail "exit code $rc"

step "reopen"
start_program
unlock
EDITOR=$(wait_glimkeep 620) || fail "no editor after reopening"
click_in "$EDITOR" 300 centre
key alt+1
typed "BANK PIN"
key Return
expect_clipboard "1234" "the value after reopening"

step "a change asks before closing"
key alt+2 End
typed "5"
key alt+F4
answer_dialog "Discard changes?"   # Enter answers No
wait_glimkeep 620 >/dev/null || fail "No did not keep the editor"
key alt+F4
id=$(wait_window "Discard changes?") || fail "no second question"
click_in "$id" 20 centre
key Tab Return                      # from No to Yes
wait_exit; rc=$?
[ "$rc" = 0 ] || fail "exit code $rc after discarding"

step "nothing was discarded into the vault"
start_program
unlock
EDITOR=$(wait_glimkeep 620) || fail "no editor after the third start"
click_in "$EDITOR" 300 centre
key alt+1
typed "bank pin"
key Return
expect_clipboard "1234" "the discarded change is not in the vault"
key alt+F4
wait_exit

echo "road: passed"
exit 0
