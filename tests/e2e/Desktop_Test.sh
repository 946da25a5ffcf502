#!/usr/bin/env bash
# Desktop behaviour of hushvane.exe as real windows under X (Xvfb) with xdotool: the help box,
# the failure boxes of the commands (an unsafe installation among them), the configuration
# check's box, and program mode's tray icon with its menu.
#   Desktop_Test.sh <case> <hushvane.exe> <wine prefix>
# Needs DISPLAY; exits 77 (skipped) without one or without xdotool.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine-env"
. "$here/DesktopSupport.sh"
desktop_begin "$1" "$2" "$3" hushvane.exe
: >"$work/config"

# start_program <args...>: runs the program in the background; its exit code goes to $work/rc.
# With no_output set it gets no standard output at all, as when started from Explorer.
start_program() {
  rm -f "$work/rc"
  if [ -n "${no_output:-}" ]; then
    (cd "$work" && timeout 120 "$wine" ./hushvane.exe "$@" >&- 2>&- </dev/null; echo $? >"$work/rc") &
  else
    (cd "$work" && timeout 120 "$wine" ./hushvane.exe "$@" >/dev/null 2>&1 </dev/null; echo $? >"$work/rc") &
  fi
  pid=$!
}

# expect_box <caption> <expected exit code> <args...>: the program shows a box with that caption,
# which is answered with Return; then it exits with the code given.
expect_box() {
  local caption=$1 code=$2 w rc
  shift 2
  start_program "$@"
  w=$(find_window "^$caption\$" 60)
  if [ -z "$w" ]; then fail "'$*': no box '$caption'"; return; fi
  sleep 0.3
  xdotool key --window "$w" Return 2>/dev/null
  rc=$(wait_exit 30)
  [ "$rc" = "$code" ] || fail "'$*': exit code $rc after the box, expected $code"
}

# expect_no_box <expected exit code> <args...>: the program ends on its own without a box.
expect_no_box() {
  local code=$1 rc
  shift
  start_program "$@"
  rc=$(wait_exit 60)
  [ "$rc" = "$code" ] || fail "'$*': exit code $rc, expected $code"
  if [ -n "$(xdotool search --onlyvisible --name '^(Error|Command Line Options)$' 2>/dev/null)" ]; then
    fail "'$*': a box was left open"
  fi
}

remove_service() {
  (cd "$work" && timeout 120 "$wine" sc stop Hushvane >/dev/null 2>&1 </dev/null)
  (cd "$work" && timeout 120 "$wine" sc delete Hushvane >/dev/null 2>&1 </dev/null)
}

log_files() { ls "$work/Log" 2>/dev/null | grep -c '\.log$'; }

# wait_logs <count> <seconds>: until the Log folder holds that many files.
wait_logs() {
  local limit=$(($2 * 10))
  for ((i = 0; i < limit; i++)); do
    [ "$(log_files)" -ge "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

tray_window() { find_window '^Wine System Tray$' "$1"; }

# menu <downs>: opens the icon's menu with a right click and picks the item that many Down keys
# away from the top (the separator is skipped by the menu itself).
menu() {
  local tray=$1 downs=$2 popup keys=()
  xdotool mousemove --window "$tray" 10 10 click 3 2>/dev/null
  sleep 0.5
  for ((k = 0; k < downs; k++)); do keys+=(Down); done
  if [ "$downs" -gt 0 ]; then
    xdotool key "${keys[@]}" Return 2>/dev/null
  else
    xdotool key Escape 2>/dev/null
  fi
  sleep 0.5
}

case $case_name in
  HelpBox)
    expect_box "Command Line Options" 0
    expect_box "Command Line Options" 0 -service
    expect_box "Command Line Options" 0 -RunAsprogram
    ;;
  CommandBoxes)
    remove_service
    expect_box Error 1 -StartService
    expect_box Error 1 -RemoveService
    # Stopping a service that is not there reports nothing.
    expect_no_box 0 -StopService
    # An earlier row wins: this registers (and succeeds silently), it does not run the service.
    expect_no_box 0 -Service -AddService
    expect_no_box 0 -RemoveService
    ;;
  UnsafeInstallBox)
    # A program folder Everyone may change (Wine shows o+w so) is not registered: the box says
    # so, the exit code is 1, and there is no service afterwards.
    remove_service
    chmod o+w "$work"
    expect_box Error 1 -AddService
    (cd "$work" && timeout 120 "$wine" sc query Hushvane >/dev/null 2>&1 </dev/null) && fail "a service was registered"
    chmod o-w "$work"
    expect_no_box 0 -AddService
    remove_service
    ;;
  CheckConfigBox)
    # Without a standard output or a console to write to, the report comes in a box.
    printf 'game.exe high\r\nnotepad idle\r\n' >"$work/config"
    no_output=1 expect_box "Hushvane configuration check" 2 -CheckConfig
    ;;
  TrayDoubleClick)
    echo "hushvane.exe high" >"$work/config"
    start_program -RunAsProgram
    tray=$(tray_window 60)
    [ -n "$tray" ] || { fail "no tray icon"; exit 1; }
    wait_logs 1 30 || fail "the worker wrote no log"
    # A single left click and a right press without release do nothing.
    xdotool mousemove --window "$tray" 10 10 click 1 2>/dev/null
    sleep 1
    [ "$(wait_exit 0)" = running ] || fail "a single click ended the program"
    xdotool mousemove --window "$tray" 10 10 click --repeat 2 --delay 80 1 2>/dev/null
    rc=$(wait_exit 30)
    [ "$rc" = 0 ] || fail "double click: exit code $rc"
    [ -z "$(tray_window 1)" ] || fail "the icon stayed after exit"
    # Every line of the run reached the file: the worker ended before the process did.
    log=$(ls "$work"/Log/*.log | head -n 1)
    grep -q '^Launching'$'\r''$' "$log" || fail "log has no Launching line"
    grep -q '^Added process hushvane.exe with priority high'$'\r''$' "$log" || fail "log lacks the configuration line"
    ;;
  TrayMenu)
    start_program -RunAsProgram
    tray=$(tray_window 60)
    [ -n "$tray" ] || { fail "no tray icon"; exit 1; }
    wait_logs 1 30 || fail "the worker wrote no log"
    menu "$tray" 0 # clicked away
    menu "$tray" 4 # Cancel
    [ "$(wait_exit 1)" = running ] || fail "Cancel or closing the menu ended the program"
    menu "$tray" 1 # Pause
    menu "$tray" 1 # Pause again: already stopped
    sleep 0.2
    [ "$(log_files)" = 1 ] || fail "pause started a new run"
    menu "$tray" 2 # Resume: a new run with a new log file
    wait_logs 2 30 || fail "resume wrote no new log file"
    for log in "$work"/Log/*.log; do
      grep -q '^Launching'$'\r''$' "$log" || fail "$(basename "$log") has no Launching line"
    done
    menu "$tray" 3 # Quit
    rc=$(wait_exit 30)
    [ "$rc" = 0 ] || fail "Quit: exit code $rc"
    [ -z "$(tray_window 1)" ] || fail "the icon stayed after exit"
    ;;
  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac

desktop_end
