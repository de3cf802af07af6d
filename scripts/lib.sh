# Shared by the scripts: paths, the Wine environment and the test display.
# Source it; it defines functions and exports, it runs nothing by itself.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver

# Nothing can be downloaded: keep the Mono and Gecko installers out of the way.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
export WINEPREFIX=${GLIMKEEP_WINEPREFIX:-$ROOT/build/wine-prefix}
export WINEARCH=win64

log() { printf '== %s\n' "$*" >&2; }

# True when this machine runs the 32-bit program: 32-bit Wine is installed and the
# kernel executes its 32-bit loader (IA-32 emulation).
can_run_32bit() {
  [ -x "$WINE32" ] && "$WINE32" --version >/dev/null 2>&1
}

# The Wine loader for a Windows program: the 32-bit one for an i386 image.
wine_for() {
  if [[ $(od -An -tx1 -j"$(( $(od -An -tu4 -j60 -N4 "$1") + 4 ))" -N2 "$1" 2>/dev/null) == *"4c 01"* ]]; then
    echo "$WINE32"
  else
    echo "$WINE64"
  fi
}

# Creates the Wine prefix once, its windows drawn inside one virtual desktop
# (without a window manager on Xvfb, every window that closes otherwise waits on X
# for a while). A prefix made before 32-bit Wine was installed cannot start 32-bit
# programs (and wineboot -u does not repair it): such a prefix has no 32-bit system
# folder, and is made again. The end-to-end harness calls it through scripts/wine-prefix.
prepare_wine_prefix() {
  if [ -f "$WINEPREFIX/system.reg" ] && can_run_32bit \
     && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    log "the Wine prefix in $WINEPREFIX predates 32-bit Wine: making it again"
    WINEPREFIX="$WINEPREFIX" "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "preparing the Wine prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    "$WINESERVER" -w
  fi
  if ! grep -q '"Desktop"="Default"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    "$WINE64" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$WINE64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    "$WINESERVER" -w
  fi
}

# vault_folder [FOLDER]: the folder scripts/run starts the program in (made when
# missing), printed. FOLDER when given; else the current directory, unless that is
# inside this clone: then $XDG_DATA_HOME/glimkeep, else ~/.local/share/glimkeep.
vault_folder() {
  local folder=${1:-} here root
  if [ -z "$folder" ]; then
    here=$(pwd -P)
    root=$(cd "$ROOT" && pwd -P)
    folder=$here
    if [ "$here" = "$root" ] || [[ $here == "$root"/* ]]; then
      local data=${XDG_DATA_HOME:-}
      [[ $data == /* ]] || data=${HOME:?HOME is not set}/.local/share  # a relative one is to be ignored
      folder=$data/glimkeep
    fi
  fi
  if ! mkdir -p -- "$folder" || ! folder=$(cd -- "$folder" && pwd -P); then
    log "cannot use the folder $folder for the vault"
    return 1
  fi
  printf '%s\n' "$folder"
}

# The test displays: Xvfb numbers 91 to 219, for every user of scripts/display.
free_display_number() {
  local n
  for n in $(seq 91 219); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    echo "$n"
    return 0
  done
  return 1
}

# display_is_ours NAME PID: the Xvfb of process PID serves display NAME (":N"): its
# socket is there and the display's lock file holds PID. When two callers pick the
# same free number at once, both see the winner's socket; the loser's Xvfb exits.
display_is_ours() {
  local holder
  [ -e "/tmp/.X11-unix/X${1#:}" ] || return 1
  holder=$(tr -d ' \n' <"/tmp/.X${1#:}-lock" 2>/dev/null) || return 1
  [ "$holder" = "$2" ]
}

XVFB_PID=
XVFB_PIDS=()
WINE_PREFIXES=()
# Starts Xvfb (scripts/display) on the first free display number, exports DISPLAY and
# starts a Wine session there in $WINEPREFIX. Callable more than once (one display
# and one prefix each); stop_display ends them all.
start_display() {
  local attempt name out
  out=$(mktemp)
  for attempt in 1 2 3 4 5; do
    "$ROOT/scripts/display" >"$out" 2>/dev/null &
    XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      name=$(head -n1 "$out")
      [ -n "$name" ] && display_is_ours "$name" "$XVFB_PID" && break
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if [ -n "$name" ] && display_is_ours "$name" "$XVFB_PID" && kill -0 "$XVFB_PID" 2>/dev/null; then
      rm -f "$out"
      export DISPLAY="$name"
      XVFB_PIDS+=("$XVFB_PID")
      log "Xvfb on display $DISPLAY (pid $XVFB_PID)"
      WINE_PREFIXES+=("$WINEPREFIX")
      start_wine
      return 0
    fi
    kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; XVFB_PID=
  done
  rm -f "$out"
  log "no free X display found"
  return 1
}

# Keeps one wineserver with its helper processes (services, explorer) running for
# the session. Started here, away from ctest's pipes: a helper process that
# inherited a test's stdout would keep ctest waiting for the test to end.
start_wine() {
  prepare_wine_prefix
  "$WINESERVER" -p
  "$WINE64" cmd /c echo >/dev/null 2>&1 </dev/null || true
}

# Makes the prefix $2 a copy of the prepared prefix $1 unless it is one already: the
# second display of the Windows suite runs in its own prefix (one wineserver, one
# foreground window per prefix). Copying takes seconds where making one takes longer.
copy_wine_prefix() {
  [ -f "$2/system.reg" ] && return 0
  WINEPREFIX="$1" "$WINESERVER" -w >/dev/null 2>&1 || true
  rm -rf "$2"
  cp -a "$1" "$2"
}

# Ends what start_display and Wine started. Safe to call more than once.
stop_display() {
  local prefix pid
  for prefix in "${WINE_PREFIXES[@]}"; do
    WINEPREFIX="$prefix" "$WINESERVER" -k >/dev/null 2>&1 || true
  done
  for pid in "${XVFB_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  WINE_PREFIXES=()
  XVFB_PIDS=()
  XVFB_PID=
}
