#!/usr/bin/env bash
# The decisions of scripts/setup, run against stand-in apt-get, dpkg, dpkg-query, sudo and sleep
# found first on PATH. They keep the machine's state in a scratch folder (installed packages,
# foreign architectures) and record every call that changes it; apt-get can be told to fail an
# update some times, to know no candidate for some packages, and to need a removal for one.
# The stand-in apt-get installs all or nothing and removes what a conflict displaces unless
# given --no-remove, as the real one does.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
setup=$here/../../scripts/setup
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
bin=$scratch/bin state=$scratch/state
mkdir -p "$bin" "$state"

stand_in() { # stand_in <name> <body>
  printf '#!/usr/bin/env bash\nstate=%s\n%s\n' "$state" "$2" >"$bin/$1"
  chmod +x "$bin/$1"
}
stand_in sudo 'exec "$@"'
stand_in sleep 'echo "sleep $*" >>$state/calls'
stand_in dpkg-query '
status=0
for p in "$@"; do
  case $p in
    -*) ;;
    *:*) grep -qxF "$p" $state/installed && echo "ii $p" ;;
    *) grep -qxF "$p" $state/installed && echo "ii $p:amd64" ;;
  esac || { echo "dpkg-query: no packages found matching $p" >&2; status=1; }
done
exit $status'
stand_in dpkg '
case $1 in
  --print-foreign-architectures) cat $state/archs ;;
  --add-architecture) echo "dpkg $*" >>$state/calls; echo "$2" >>$state/archs ;;
  *) echo "dpkg: unexpected $*" >&2; exit 2 ;;
esac'
stand_in apt-get '
args=() yes="" noremove=""
while [ $# -gt 0 ]; do
  case $1 in
    -o) shift ;;
    -y) yes=1 ;;
    --no-remove) noremove=1 ;;
    -*) ;;
    *) args+=("$1") ;;
  esac
  shift
done
echo "apt-get ${args[*]}" >>$state/calls
case ${args[0]} in
  update)
    n=$(cat $state/update-failures)
    if [ "$n" -gt 0 ]; then
      echo $((n - 1)) >$state/update-failures
      echo "Get:1 http://mirror bookworm-security InRelease [48.0 kB]"
      echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi ;;
  install)
    [ -n "$yes" ] && [ "${DEBIAN_FRONTEND:-}" = noninteractive ] || { echo "E: would ask" >&2; exit 100; }
    status=0
    for p in "${args[@]:1}"; do
      if grep -qxF "$p" $state/unavailable; then echo "E: Unable to locate package $p" >&2; status=100; fi
    done
    [ $status -eq 0 ] || exit $status
    read -r wants displaces <$state/conflict
    for p in "${args[@]:1}"; do
      if [ "$p" = "$wants" ]; then
        echo "The following packages will be REMOVED:"
        echo "  $displaces"
        echo "The following NEW packages will be installed:"
        echo "  $wants"
        if [ -n "$noremove" ]; then
          echo "E: Packages need to be removed but remove is disabled." >&2
          exit 100
        fi
        grep -vxF "$displaces" $state/installed >$state/kept; mv $state/kept $state/installed
      fi
    done
    printf "%s\n" "${args[@]:1}" >>$state/installed ;;
esac'

failures=0 checks=0
check() { # check <what> <expected> <actual>
  checks=$((checks + 1))
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}
# run <machine's archs> <installed> <foreign archs> <update failures> <unavailable> <conflict>:
# runs set-up on that machine; sets status, out (its output) and calls (one line each).
run() {
  printf '%s\n' $2 >"$state/installed"
  printf '%s\n' $3 >"$state/archs"
  echo "$4" >"$state/update-failures"
  printf '%s\n' $5 >"$state/unavailable"
  echo "$6" >"$state/conflict"
  : >"$state/calls"
  out=$(HV_MACHINE_ARCHS=$1 PATH=$bin:$PATH bash "$setup" 2>&1); status=$?
  calls=$(cat "$state/calls")
}
said() { grep -qF -- "$1" <<<"$out" && echo yes || echo no; } # said <text>: in set-up's output?
installed() { grep -qxF -- "$1" "$state/installed" && echo yes || echo no; }

# A fresh 64-bit-only machine: everything but 32-bit Wine, and no i386 architecture.
run x64 "" "" 0 "" ""
check "fresh x64: status" 0 "$status"
check "fresh x64: the decision, in one line" 1 "$(grep -c '32-bit programs' <<<"$out")"
check "fresh x64: says it cannot" yes "$(said 'cannot run 32-bit programs')"
check "fresh x64: calls" "apt-get update|apt-get install" "$(sed -E 's/^(apt-get [a-z]+).*/\1/' <<<"$calls" | paste -sd'|')"
list=${calls##*apt-get install }
check "fresh x64: no 32-bit Wine" "wine wine64" "$(grep -owE 'wine[^ ]*' <<<"$list" | xargs)"
for p in cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix xvfb wixl; do
  check "fresh x64: installs $p" yes "$(installed "$p")"
done

# Machines that have everything: nothing is called, whatever the architecture.
run x64 "$list" "" 0 "" ""
check "all present x64: status, calls" "0 " "$status $calls"
run "x64 x86" "$list wine32:i386" "i386" 0 "" ""
check "all present x86: status, calls" "0 " "$status $calls"
check "all present x86: says it runs" yes "$(said 'runs 32-bit programs')"

# A 32-bit-capable machine: the i386 architecture first, then 32-bit Wine with the rest.
run "x64 x86" "" "" 0 "" ""
check "fresh x86: status, calls" "0 dpkg --add-architecture i386
apt-get update
apt-get install $list wine32:i386" "$status $calls"
run "x64 x86" "$list" "i386" 0 "" ""
check "x86, only wine32 missing: calls" "apt-get update
apt-get install wine32:i386" "$calls"

# A mirror in the middle of a sync: one failed update is retried after a wait, and two are not
# the end either; the install goes on.
for n in 1 2; do
  run x64 "" "" $n "" ""
  check "update fails $n: status, calls" "0 apt-get update
sleep 30
apt-get update
apt-get install $list" "$status $calls"
  check "update fails $n: warns, naming the list" yes "$(said 'Mirror sync in progress?')"
  check "update fails $n: installed" yes "$(installed wixl)"
done
check "update fails twice: says it goes on" yes "$(said 'failed again')"

# An install that fails names the packages apt could not have, and what that left out.
run x64 "" "" 0 "wixl msitools" ""
check "unavailable: status" 1 "$status"
check "unavailable: names them" yes "$(said 'could not install: msitools wixl')"
check "unavailable: and the rest" yes "$(said "so not installed: $list")"
check "unavailable: installs nothing" no "$(installed cmake)"
run x64 "cmake" "" 0 "zip" ""
check "unavailable, some present: only the absent ones" yes "$(said "so not installed: ${list/cmake /}")"

# 32-bit Wine that would displace wine64 (its libraries behind the 64-bit ones): refused.
run "x64 x86" "$list" "i386" 0 "" "wine32:i386 wine64"
check "conflict: status" 1 "$status"
check "conflict: names what it could not install" yes "$(said 'could not install: wine32:i386')"
check "conflict: names what it would remove" yes "$(said 'would remove installed packages, which set-up never does: wine64')"
check "conflict: wine64 stays" yes "$(installed wine64)"

if [ "$failures" -ne 0 ]; then echo "--- set-up's output in the last case:"; echo "$out"; fi
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
