#!/usr/bin/env bash
# The Wine helpers are sourced before set-up installs Wine. This checks that they choose each
# binary when it is used, not when they are sourced: with Wine absent they fail naming the
# package, once it is installed they take it, and a 64-bit prefix never gets the 32-bit server.
# The binaries are stand-ins in a scratch folder that record how they were called.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HV_WINE_LIBDIR=$scratch/lib
mkdir -p "$HV_WINE_LIBDIR"
calls=$scratch/calls
. "$here/../../scripts/wine-env"

failures=0 checks=0
check() { # check <what> <expected> <actual>
  checks=$((checks + 1))
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}
install_fake() { # install_fake <name>...: stand-ins that log "<name> <args> <WINEARCH>"
  local name
  for name in "$@"; do
    printf '#!/bin/sh\necho "%s $* ${WINEARCH:-}" | sed "s/ *\\$//" >>"%s"\n' "$name" "$calls" \
      >"$HV_WINE_LIBDIR/$name"
    chmod +x "$HV_WINE_LIBDIR/$name"
  done
}
# outcome <function> <arg>: "<status> <basename of what it printed> <package named in the error>"
outcome() {
  local out err status
  out=$("$1" "$2" 2>"$scratch/err"); status=$?
  err=$(sed -n 's/.*install the Debian package \([^ ]*\).*/\1/p' "$scratch/err")
  echo $status ${out##*/} $err
}

# 1. Nothing installed yet (sourced before set-up).
check "server x64, no Wine" "1 wine64" "$(outcome hv_wineserver x64)"
check "server x86, no Wine" "1 wine32:i386" "$(outcome hv_wineserver x86)"
check "loader x64, no Wine" "1 wine64" "$(outcome hv_wine_loader x64)"
check "loader x86, no Wine" "1 wine32:i386" "$(outcome hv_wine_loader x86)"
hv_can_run x64 2>"$scratch/err"; check "can run x64, no Wine" 1 $?
check "can run says nothing" "" "$(cat "$scratch/err")"
hv_wine_prefix "$scratch/pfx" x64 2>/dev/null; check "prefix without Wine fails" "1" "$?"
check "prefix without Wine runs nothing" "" "$(cat "$calls" 2>/dev/null)"

# 2. Only the 32-bit packages: never the 32-bit server for a 64-bit prefix.
install_fake wine wineserver32
check "server x64, only wine32" "1 wine64" "$(outcome hv_wineserver x64)"
check "server x86, only wine32" "0 wineserver32" "$(outcome hv_wineserver x86)"
check "loader x86, only wine32" "0 wine" "$(outcome hv_wine_loader x86)"

# 3. wine64 installed after the file was sourced: it is taken from then on, for both kinds.
install_fake wine64 wineserver64
check "server x64 after install" "0 wineserver64" "$(outcome hv_wineserver x64)"
check "server x86 after install" "0 wineserver64" "$(outcome hv_wineserver x86)"
check "loader x64 after install" "0 wine64" "$(outcome hv_wine_loader x64)"
hv_can_run x64; check "can run x64 after install" 0 $?

# 4. The prefix and server steps call the chosen binaries with the prefix's architecture.
: >"$calls"
hv_wine_prefix "$scratch/pfx64" x64
hv_wineserver_start "$scratch/pfx64" x64
hv_wineserver_stop "$scratch/pfx64" x64
check "x64 prefix steps" "wine64 wineboot -i win64
wineserver64 -w win64
wineserver64 -p
wine64 cmd /c exit
wineserver64 -k" "$(cat "$calls")"
: >"$calls"
hv_wine_prefix "$scratch/pfx32" x86
check "x86 prefix steps" "wine wineboot -i win32
wineserver64 -w win32" "$(cat "$calls")"

# 5. Whether the machine runs programs of an architecture: the kernel's own answer, through a
# tiny program of it, with no Wine asked and nothing said.
hv_machine_runs x64; check "machine runs x64" 0 $?
hv_machine_runs x86 >"$scratch/out" 2>&1
check "machine runs x86 says nothing" "" "$(cat "$scratch/out")"
# The 32-bit probe is the program it claims to be: run by an emulator where one is installed.
hv_probe_write x86 "$scratch/probe32"
for qemu in qemu-i386-static qemu-i386; do
  if command -v $qemu >/dev/null; then
    $qemu "$scratch/probe32"
    check "x86 probe under $qemu" 42 $?
    break
  fi
done
# /tmp mounted noexec (a private mount, where this may mount): the probe runs elsewhere.
if unshare -m true 2>/dev/null; then
  mkdir -p "$scratch/noexec"
  unshare -m bash -c 'mount -t tmpfs -o noexec none "$1" && . "$2" && TMPDIR=$1 hv_machine_runs x64' \
    _ "$scratch/noexec" "$here/../../scripts/wine-env"
  check "machine runs x64, /tmp noexec" 0 $?
fi
# Where the machine cannot run an architecture, the loader is never asked, installed or not.
: >"$calls"
HV_MACHINE_ARCHS=x64 hv_can_run x86; check "can run x86 on a 64-bit-only machine" 1 $?
HV_MACHINE_ARCHS="x64 x86" hv_can_run x86; check "can run x86 on a 32-bit-capable one" 0 $?
HV_MACHINE_ARCHS="" hv_can_run x64; check "can run x64 on a machine that runs nothing" 1 $?
check "loaders asked" "wine --version" "$(cat "$calls")"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
