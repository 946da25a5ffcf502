#!/usr/bin/env bash
# own-prefix.sh <scripts folder> <prefix> <x64|x86> <program.exe> [args...]
# Runs one test program in a Wine prefix of its own, with a server of its own that is ended
# afterwards: for cases that leave something behind that only a restart removes (a driver that
# cannot be unloaded). HV_OWN_WINE_PREFIX tells the program where it runs.
set -eu
scripts=$1 prefix=$2 arch=$3
shift 3
. "$scripts/wine-env"
hv_wine_prefix "$prefix" "$arch"
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
