# Sourced by the desktop tests: a work folder with the program under test, failures counted,
# and the waits on the program and on its windows under X (Xvfb) with xdotool.
#   desktop_begin <case> <exe> <wine prefix> <name of the exe in the work folder>
# sets case_name, wine, work (removed again on exit), failures and pid, and exits 77 (skipped)
# without an X display or without xdotool. desktop_end prints the verdict and exits with it.
# The caller defines start_program, which runs the program in the background, sets pid and
# writes its exit code to $work/rc.

desktop_begin() {
  case_name=$1
  local exe=$2 prefix=$3 name=$4
  if [ -z "${DISPLAY:-}" ] || ! command -v xdotool >/dev/null; then
    echo "no X display or no xdotool: skipped"
    exit 77
  fi
  export WINEPREFIX=$prefix
  wine=$(hv_wine_loader x64)
  work=$(dirname "$exe")/desktop-$case_name
  rm -rf "$work"
  mkdir -p "$work"
  cp "$exe" "$work/$name"
  failures=0
  pid=""
  trap desktop_cleanup EXIT
}

desktop_cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null; fi
  rm -rf "$work"
}

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# wait_exit <seconds>: waits for the program; prints its exit code, or "running".
wait_exit() {
  local limit=$(($1 * 10))
  for ((i = 0; i < limit; i++)); do
    if [ -f "$work/rc" ]; then cat "$work/rc"; return; fi
    sleep 0.1
  done
  echo running
}

# find_window <regex> <seconds>: the id of a visible window whose name matches, or nothing.
find_window() {
  local limit=$(($2 * 10)) w
  for ((i = 0; i < limit; i++)); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    if [ -n "$w" ]; then echo "$w"; return; fi
    sleep 0.1
  done
}

desktop_end() {
  if [ "$failures" -gt 0 ]; then
    echo "$case_name: $failures failure(s)"
    exit 1
  fi
  echo "$case_name: passed"
  exit 0
}
