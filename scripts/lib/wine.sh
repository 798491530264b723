# Wine prefixes for the scripts that run Windows programs, sourced by them.
#   . "$root/scripts/lib/wine.sh"

wine_lib_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Wine's programs run in Turkish, as at the sites.
wine_env=(env -u LC_ALL LANG=tr_TR.UTF-8)

# Run Wine's commands the way scripts/wine32 takes them (wine PROGRAM...,
# wineboot ..., wineserver ...) in WINEPREFIX: wine64_run with the machine's
# 64-bit Wine, wine32_run with the 32-bit Wine of its root.
wine64_run() { # wine|wineboot|wineserver [args...]
  local what=$1
  shift
  case $what in
    wine) "${wine_env[@]}" /usr/lib/wine/wine64 "$@" ;;
    wineboot) "${wine_env[@]}" /usr/lib/wine/wine64 wineboot "$@" ;;
    wineserver) wineserver "$@" ;;
    *) echo "wine64_run: no Wine command $what" >&2; return 2 ;;
  esac
}
wine32_run() { # wine|wineboot|wineserver [args...]
  "${wine_env[@]}" "$wine_lib_root/scripts/wine32" "$@"
}

# Makes the prefix WINEPREFIX with RUN (wine64_run or wine32_run) and leaves
# one persistent server running in it, so each program started later does
# not pay for a restart; Wine's output goes to LOG. There is no window
# manager: Wine draws the title bars (Decorated=N) and Marlett gives their
# buttons their symbols; the dialog font stays Liberation, as Wine's Tahoma
# leaves a gap after the dotted capital I.
wine_prefix_make() { # log run
  local log=$1 run=$2
  "$run" wineboot -i >"$log" 2>&1 &&
    "$run" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$log" 2>&1 &&
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" || return 1
  "$run" wineserver -k 2>/dev/null
  "$run" wineserver -w
  "$run" wineserver -p
  # Wine's own services start with the first program and keep its output
  # open: start them here, so that nothing waits on a later program's
  # inherited pipe.
  "$run" wine cmd /c exit >>"$log" 2>&1 </dev/null
  return 0
}
