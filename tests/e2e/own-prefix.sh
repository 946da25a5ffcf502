#!/usr/bin/env bash
# own-prefix.sh <scripts folder> <prefix> <x64|x86> <program.exe> [args...]
# Runs one test program in a Wine prefix of its own, with a server of its own that is ended
# afterwards: for cases that leave something behind that only a restart removes (a driver that
# cannot be unloaded). HV_OWN_WINE_PREFIX tells the program where it runs.
#
# With HV_OWN_PREFIX_WINEDEBUG set, every process the prefix's service manager starts gets that
# WINEDEBUG (through the system environment in the registry, which the manager reads when it
# starts), and their debug output lands in <prefix>.services.log, whose path the program finds
# in HV_SERVICES_LOG.
set -eu
scripts=$1 prefix=$2 arch=$3
shift 3
. "$scripts/wine-env"
hv_wine_prefix "$prefix" "$arch"
if [ -n "${HV_OWN_PREFIX_WINEDEBUG:-}" ]; then
  WINEPREFIX=$prefix timeout 120 "$(hv_wine_loader "$arch")" reg add \
    'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v WINEDEBUG /t REG_SZ /d "$HV_OWN_PREFIX_WINEDEBUG" /f \
    >/dev/null 2>&1 </dev/null
  hv_wineserver_stop "$prefix" "$arch"
  export HV_SERVICES_LOG=$prefix.services.log
fi
hv_wineserver_start "$prefix" "$arch"
trap 'hv_wineserver_stop "$prefix"' EXIT
export WINEPREFIX=$prefix HV_OWN_WINE_PREFIX=1
cd "$(dirname "$1")"
out=$(mktemp)
status=0
"$(hv_wine_loader "$arch")" "$@" >"$out" 2>&1 || status=$?
cat "$out"
rm -f "$out"
exit "$status"
