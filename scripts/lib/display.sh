# A private X server for the scripts that draw a window, sourced by them.
#   . "$root/scripts/lib/display.sh"

# Starts Xvfb on a display it picks itself, with a screen of GEOMETRY
# (1024x768x24, say); its messages go to DIR/xvfb.log. Returns once the
# server has written its display number, with DISPLAY exported and the
# server's pid in xvfb_pid; returns 1 when none comes within 10 s.
xvfb_start() { # dir geometry
  local file=$1/xvfb-display
  rm -f "$file"
  Xvfb -displayfd 3 -screen 0 "$2" -nolisten tcp 3>"$file" 2>"$1/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$file" ] && break
    sleep 0.1
  done
  [ -s "$file" ] || { echo "Xvfb did not start; see $1/xvfb.log" >&2; return 1; }
  DISPLAY=:$(head -n1 "$file")
  export DISPLAY
}

# Stops the Xvfb that xvfb_start started, when there is one.
xvfb_stop() {
  [ -n "${xvfb_pid:-}" ] || return 0
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
}
