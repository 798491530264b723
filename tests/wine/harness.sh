# Helpers for the tests that run KVUpdate.exe under Wine on an X server and
# read its window from outside through probe.exe. Sourced by the tests; they
# set PROBE (probe.exe), SHOTS (screenshot folder) and LABEL (this case's name).
wine64=/usr/lib/wine/wine64
probe_loader=$wine64
scratch=$(mktemp -d)
app_pid=

die() {
  echo "FAIL: $*" >&2
  [ -s "$scratch/state" ] && { echo "last window state:" >&2; cat "$scratch/state" >&2; }
  shot failure
  exit 1
}

finish() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill -KILL "$app_pid" 2>/dev/null; fi
  rm -rf "$scratch"
}
trap finish EXIT

# The peers are started by scripts/test; without them the test fails, it never skips.
need_peers() {
  [ -n "${DISPLAY:-}" ] || die "DISPLAY is not set: these tests need an X server (scripts/test starts Xvfb)"
  xdpyinfo >/dev/null 2>&1 || die "no X server answers on $DISPLAY"
  [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ] ||
    die "WINEPREFIX does not name a prepared Wine prefix (scripts/test makes one)"
}

shot() {
  mkdir -p "$SHOTS"
  import -display "$DISPLAY" -window root "$SHOTS/$LABEL-$1.png" 2>/dev/null || true
}

# Starts LOADER EXE in folder DIR; its output goes to the scratch folder.
start_app() { # loader exe dir
  (cd "$3" && exec "$1" "$2") >"$scratch/app.log" 2>&1 &
  app_pid=$!
}

# Waits for the started program to end and sets exit_status.
wait_exit() { # seconds
  local end=$((SECONDS + $1))
  while kill -0 "$app_pid" 2>/dev/null; do
    [ $SECONDS -lt $end ] || die "the program did not end within $1 s"
    sleep 0.2
  done
  wait "$app_pid"
  exit_status=$?
}

# One snapshot of every visible window; the queries below read the last one.
snap() { "$probe_loader" "$PROBE" list >"$scratch/state" 2>"$scratch/probe.err" || die "probe list: $(cat "$scratch/probe.err")"; }

# Fields of a control line: 2 hwnd, 3 parent, 4 class, 5 text, 6 visible, 7 enabled, 8 centre.
# Texts reach awk through the environment: -v would expand the "\" of paths.
control() { T=$1 awk -F'\t' '$1 == "control" && $5 == ENVIRON["T"] { print; exit }' "$scratch/state"; }
window_titled() { T=$1 awk -F'\t' '$1 == "window" && $4 == ENVIRON["T"] { print $2; exit }' "$scratch/state"; }
# The top-level window that holds a control with the given text, and its title.
window_holding() {
  T=$1 awk -F'\t' '$1 == "window" { w = $2; title = $4 } $1 == "control" && $5 == ENVIRON["T"] { print w "\t" title; exit }' \
    "$scratch/state"
}
buttons_in() { W=$1 awk -F'\t' '$1 == "window" { cur = $2 } $1 == "control" && cur == ENVIRON["W"] && $4 == "Button" { print $2 }' "$scratch/state"; }

# Takes snapshots until CONDITION (a shell command) holds.
wait_for() { # seconds description condition...
  local end=$((SECONDS + $1)) what=$2
  shift 2
  while :; do
    snap
    "$@" && return 0
    [ $SECONDS -lt $end ] || die "timed out after waiting for $what"
    kill -0 "$app_pid" 2>/dev/null || die "the program ended while waiting for $what (log: $(cat "$scratch/app.log"))"
    sleep 0.3
  done
}

probe() { "$probe_loader" "$PROBE" "$@" || die "probe $*"; }
