#!/usr/bin/env bash
# The crash reporter's box and the watchdog's question as real windows under X (Xvfb), driven
# with xdotool; hvcrash.exe also reads a window's texts and clicks a button by its id.
#   Crash_Desktop_Test.sh <case> <hvcrash.exe> <wine prefix>
# Needs DISPLAY; exits 77 (skipped) without one or without xdotool.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../scripts/wine-env"
. "$here/../DesktopSupport.sh"
desktop_begin "$1" "$2" "$3" hvcrash.exe

# start_program <args...>: runs hvcrash.exe in the background; exit code to $work/rc, output
# to $work/out. Wine passes on the low byte of the exit code: 5 for an access violation
# (0xC0000005), 3 for a breakpoint (0x80000003).
start_program() {
  rm -f "$work/rc"
  (cd "$work" && timeout 240 "$wine" ./hvcrash.exe "$@" >"$work/out" 2>&1 </dev/null; echo $? >"$work/rc") &
  pid=$!
}

# The texts of the window with that caption, read from inside Wine.
probe() { (cd "$work" && timeout 60 "$wine" ./hvcrash.exe probe "$1" 2>/dev/null </dev/null | tr -d '\r'); }
press() { (cd "$work" && timeout 60 "$wine" ./hvcrash.exe press "$1" "$2" >/dev/null 2>&1 </dev/null); }

crash_files() { ls "$work" | grep -cE '^(CrashLog_.*\.txt|MiniDump_.*\.dmp|FullDump_.*\.dmp)$'; }

# The crash box names the three files, which exist while it is up.
expect_crash_box() {
  local w text
  w=$(find_window '^Exception$' 180)
  [ -n "$w" ] || { fail "no crash box"; return 1; }
  text=$(probe Exception)
  echo "$text" | grep -q '^Hushvane has encountered an unhandled exception. Please send the following crash log files to support@hushvane.example$' \
    || fail "box text: $text"
  for kind in CrashLog MiniDump FullDump; do
    file=$(ls "$work" | grep "^$kind" | head -n 1)
    [ -n "$file" ] || { fail "no $kind file while the box is up"; continue; }
    echo "$text" | grep -qF "/$file" || fail "the box does not name $file"
  done
  echo "$w"
}

case $case_name in
  CrashBox)
    start_program write 0 -SmallFullDump
    w=$(expect_crash_box | tail -n 1)
    echo "$(probe Exception)" | grep -q 'continue execution' && fail "an access violation offers to continue"
    xdotool key --window "$w" Return 2>/dev/null
    rc=$(wait_exit 60)
    [ "$rc" = 5 ] || fail "exit code $rc after OK, expected 5 (0xC0000005)"
    [ "$(crash_files)" = 3 ] || fail "$(crash_files) crash files"
    ;;
  BreakpointYes)
    start_program breakpoint -SmallFullDump
    w=$(expect_crash_box | tail -n 1)
    probe Exception | grep -q '^Do you want to continue execution?$' || fail "no question to continue"
    xdotool key --window "$w" Return 2>/dev/null # Yes is the default button
    rc=$(wait_exit 60)
    [ "$rc" = 0 ] || fail "exit code $rc after Yes, expected 0"
    grep -q 'continued after the breakpoint' "$work/out" || fail "did not continue after the breakpoint"
    ;;
  BreakpointNo)
    start_program breakpoint -SmallFullDump
    w=$(expect_crash_box | tail -n 1)
    press Exception 7 # IDNO
    rc=$(wait_exit 60)
    [ "$rc" = 3 ] || fail "exit code $rc after No, expected 3 (0x80000003)"
    grep -q 'continued' "$work/out" && fail "continued after No"
    ;;
  WatchdogRenew)
    # The program checks itself: the question comes, is centred, closes by itself.
    start_program watchdog-renew 3
    rc=$(wait_exit 180)
    cat "$work/out"
    [ "$rc" = 0 ] || fail "exit code $rc"
    [ "$(crash_files)" = 0 ] || fail "crash files were written"
    ;;
  WatchdogYesNo)
    start_program watchdog-stall 3 -SmallFullDump
    caption='Hushvane is not responding'
    w=$(find_window "^$caption\$" 120)
    [ -n "$w" ] || { fail "no question"; exit 1; }
    text=$(probe "$caption")
    echo "$text" | grep -q '^Hushvane is not responding. This might be temporary.$' || fail "question text: $text"
    echo "$text" | grep -q '^Would you like to continue waiting for Hushvane to respond?$' || fail "question text: $text"
    echo "$text" | grep -q '^centred$' || fail "not centred: $text"
    first=$(echo "$text" | grep '^window ')
    xdotool key --window "$w" Return 2>/dev/null # Yes: keep waiting
    # X may list the ended question's window for a while: Wine's own view tells when it is gone
    # and when the next one is up, so that No reaches the second question, not the first. On a
    # loaded machine the next question may be up before a look finds none: a window other than
    # the first counts as gone too.
    gone=""
    for _ in $(seq 1 100); do
      if ! probe "$caption" | grep -qxF "$first"; then gone=1; break; fi
      sleep 0.1
    done
    [ -n "$gone" ] || fail "Yes did not close the question"
    [ "$(wait_exit 0)" = running ] || fail "Yes ended the program"
    [ "$(crash_files)" = 0 ] || fail "Yes made a report"
    # The stall goes on: the question comes again; No makes the report, which in program mode
    # ends with the crash box.
    again=""
    for _ in $(seq 1 60); do
      if probe "$caption" | grep -q .; then again=1; break; fi
      sleep 1
    done
    [ -n "$again" ] || { fail "the question did not come again"; exit 1; }
    press "$caption" 202 || fail "No could not be pressed"
    w=$(expect_crash_box | tail -n 1)
    [ -n "$w" ] && xdotool key --window "$w" Return 2>/dev/null
    rc=$(wait_exit 180)
    [ "$rc" = 5 ] || fail "exit code $rc after No, expected 5 (0xC0000005)"
    [ "$(crash_files)" = 3 ] || fail "$(crash_files) crash files after No"
    log=$(ls "$work"/CrashLog_* 2>/dev/null | head -n 1)
    [ -n "$log" ] && { grep -q 'Access violation trying to write to address: 0x0000000000000000' "$log" || fail "log type line"; }
    ;;
  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac

desktop_end
