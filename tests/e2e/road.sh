#!/usr/bin/env bash
# The road of an edit through the real program, with real keystrokes:
# create a vault, open it (after one wrong password), type a document, save it,
# filter, complete, copy to the clipboard, wait for the inactivity lock, open it
# again and find the saved text, then exit.
#   road.sh <glimkeep program with a short lock> <probe.exe>
# Needs DISPLAY and WINEPREFIX (scripts/test and scripts/with-wine set both).
set -uo pipefail
program=$1
probe_exe=$2
WINE64=/usr/lib/wine/wine64
password='correct horse 42'

work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

fail() { echo "FAILED: $*" >&2; exit 1; }
probe() { "$WINE64" "$probe_exe" "$@"; }

expect_text() {  # <what> <expected> <actual>
  [ "$2" == "$3" ] || fail "$1: expected $(printf '%q' "$2"), got $(printf '%q' "$3")"
  echo "ok: $1"
}
expect_probe() {  # <what> <expected> <probe arguments...>: the probe's whole output
  local what=$1 expected=$2 out
  shift 2
  out=$(probe "$@"; echo .)  # the dot keeps trailing line ends
  expect_text "$what" "$expected" "${out%.}"
}
# Keys go to the window under the pointer (no window manager): the Wine desktop.
focus() { xdotool mousemove 1000 750; }
keys() { focus; xdotool key --delay 40 "$@"; sleep 0.3; }
typ() { focus; xdotool type --delay 40 -- "$1"; sleep 0.3; }
answer_dialog() {  # <caption>: wait for the message dialog, then press Enter
  probe dialog "$1" 20 || fail "no dialog \"$1\""
  echo "ok: dialog \"$1\""
  keys Return
  probe gone '#32770' 10 || fail "dialog \"$1\" did not close"
}

"$WINE64" "$program" & pid=$!

# First run: only the create window.
probe wait create_db 60 >/dev/null || fail "create_db window did not appear"
typ "$password"; keys Return
answer_dialog "Database successfully created"
probe wait decrypt_db 30 >/dev/null || fail "decrypt_db window did not follow"
expect_text "new vault size" 93 "$(stat -c %s passwords.gkv)"

# A wrong password first, then the right one.
typ "not it"; keys Return
answer_dialog "Wrong password"
typ "$password"; keys Return
probe wait editor 30 >/dev/null || fail "editor did not open"
expect_probe "title when opened" "Glimkeep" title editor

# Type a document into the editor box; Enter carries the indentation along.
# (Ctrl+Tab switches between the boxes. Alt+1 and Alt+2 work too, but under Wine
# the Alt key's release then opens the menu bar.)
keys ctrl+Tab
typ "email"; keys Return Tab
typ "gmail: secret1"; keys Return
typ "gmx: secret2"; keys Return BackSpace
typ "bank: 1234"
document=$'email\r\n\tgmail: secret1\r\n\tgmx: secret2\r\nbank: 1234'
expect_probe "typed document" "$document" text editor 1
expect_probe "title with changes" "* Glimkeep" title editor

# Save: one backup of the vault as it was, a vault that opens with the new text.
keys ctrl+s
answer_dialog "Data successfully saved"
expect_probe "title after save" "Glimkeep" title editor
backups=(passwords.gkv.*.bak)
expect_text "backups after one save" 1 "${#backups[@]}"
expect_text "backup size (the empty vault)" 93 "$(stat -c %s "${backups[0]}")"
expect_probe "saved plaintext" "$document"$'\r\n' open "$password"

# Filter: Tab completes, a space goes one level deeper, Enter copies.
keys ctrl+Tab
typ "em"; keys Tab
expect_probe "completed filter" "email " text editor 0
expect_probe "subtree shown" $'gmail: secret1\r\ngmx: secret2\r\n' text editor 1
typ "gma"; keys Tab
expect_probe "completed path" "email gmail" text editor 0
expect_probe "single-line value shown" "secret1" text editor 1
keys Return
expect_text "clipboard" "secret1" "$(xclip -o -selection clipboard)"

# Nothing unsaved: the editor locks itself and the password is asked again.
probe gone editor 40 || fail "editor did not lock"
probe wait decrypt_db 30 >/dev/null || fail "decrypt_db window did not follow the lock"
echo "ok: locked"
typ "$password"; keys Return
probe wait editor 30 >/dev/null || fail "editor did not reopen"
expect_probe "reopened document" "$document"$'\r\n' text editor 1
typ "bank"
expect_probe "value after reopening" "1234" text editor 1

# Exit without changes: no question, exit code 0.
keys alt+F4
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$pid" 2>/dev/null && fail "program did not end"
wait "$pid"; status=$?; pid=
expect_text "exit code" 0 "$status"
echo "road of an edit: passed"
