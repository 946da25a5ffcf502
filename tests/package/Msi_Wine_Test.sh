#!/usr/bin/env bash
# Msi_Wine_Test.sh <source root> <work folder>: the x64 MSI of the release in a fresh Wine prefix.
#   msiexec /i /qn     installs the files, registers the service and its event source as
#                      -AddService does, starts it and its driver; the worker's log appears
#   an edited config   survives msiexec /i /qn of a package with a higher version (major upgrade),
#                      which the upgraded service reads; the older package then refuses to install
#   msiexec /x /qn     stops and removes the service and the kernel service, takes the driver image
#                      out of System32\drivers, and leaves nothing but config and Log\
# msiexec's own logs are kept in <work folder>/msi-logs for a failure's diagnosis.
set -uo pipefail
root=$1 work=$2
. "$(dirname "$0")/Package_Support.sh"
package_open "$work"
. "$root/scripts/wine-env"

if ! hv_can_run x64; then
  echo "this machine cannot run x64 programs under Wine" >&2
  exit 1
fi
pfx=$work/wineprefix-msi
logs=$work/msi-logs
hv_wineserver_stop "$pfx"
rm -rf "$pfx" "$pfx.boot.log" "$logs"
mkdir -p "$logs"
hv_wine_prefix "$pfx" x64
hv_wineserver_start "$pfx" x64
trap 'hv_wineserver_stop "$pfx"' EXIT
export WINEPREFIX=$pfx
wine=$(hv_wine_loader x64)
program_dir="$pfx/drive_c/Program Files/Hushvane"
drivers_dir=$pfx/drive_c/windows/system32/drivers

win_path() { local p=${1//\//\\}; echo "Z:$p"; }
w() { timeout 300 "$wine" "$@" </dev/null 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
msiexec() { local log=$1; shift; timeout 600 "$wine" msiexec "$@" /qn /l*v "$(win_path "$logs/$log")" </dev/null >/dev/null 2>&1; }
service_key() { w reg query "HKLM\\System\\CurrentControlSet\\Services\\$1" "${@:2}"; }
reg_value() { service_key "$1" /v "$2" | sed -nE "s/^ +$2 +REG_[A-Z_]+ +//p"; }
event_source_value() { service_key 'EventLog\Application\Hushvane' /v "$1" | sed -nE "s/^ +$1 +REG_[A-Z_]+ +//p"; }
# wait_for <seconds> <command...>: true once the command succeeds.
wait_for() {
  local limit=$1; shift
  for _ in $(seq 1 "$limit"); do "$@" && return 0; sleep 1; done
  return 1
}
running() { w sc query "$1" | grep -q 'STATE *: *4 *RUNNING'; }
log_with() { grep -qs -- "$1" "$program_dir"/Log/*.log; }
uninstall_entries() { w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -c 'DisplayName *REG_SZ *Hushvane$'; }

IFS=. read -r major minor patch <<<"$version"
upgrade_version=$major.$minor.$((patch + 1))
"$root/scripts/msi" x64 "$upgrade_version" "$dist/x64" "$work/hushvane-$upgrade_version-x64.msi" >/dev/null \
  || fault "cannot build the upgrade package"
msi=$(win_path "$dist/hushvane-$version-x64.msi")
upgrade_msi=$(win_path "$work/hushvane-$upgrade_version-x64.msi")

# --- Install -------------------------------------------------------------------------------------
msiexec install.log /i "$msi" || fault "msiexec /i exited with $?"
for f in hushvane.exe hushvane.exe.debug Hushvane.x64.sys Hushvane.x86.sys README.txt LICENSE config; do
  cmp -s "$dist/x64/$f" "$program_dir/$f" || fault "installed $f differs from the release's"
done
[ "$(reg_value Hushvane ImagePath)" = '"C:/Program Files/Hushvane/hushvane.exe" -Service Hushvane' ] \
  || fault "service image path is $(reg_value Hushvane ImagePath)"
[ "$(reg_value Hushvane Start)" = 0x2 ] || fault "service start type is $(reg_value Hushvane Start), not automatic"
[ "$(reg_value Hushvane Type)" = 0x10 ] || fault "service type is $(reg_value Hushvane Type)"
[ "$(reg_value Hushvane ErrorControl)" = 0x1 ] || fault "service error control is $(reg_value Hushvane ErrorControl)"
[ "$(reg_value Hushvane DisplayName)" = Hushvane ] || fault "service display name is $(reg_value Hushvane DisplayName)"
[ "$(reg_value Hushvane Description)" = "Sets the priority class of processes at process launch." ] \
  || fault "service description is $(reg_value Hushvane Description)"
[ "$(event_source_value EventMessageFile)" = 'C:\Program Files\Hushvane\hushvane.exe' ] \
  || fault "the event source's message file is $(event_source_value EventMessageFile)"
[ "$(event_source_value TypesSupported)" = 0x7 ] || fault "the event source supports types $(event_source_value TypesSupported)"
wait_for 30 running Hushvane || fault "the service is not running after install"
wait_for 30 running HushvaneDriver || fault "the kernel service HushvaneDriver is not running after install"
cmp -s "$dist/x64/Hushvane.x64.sys" "$drivers_dir/Hushvane.x64.sys" || fault "System32\\drivers holds no copy of the driver image"
wait_for 30 log_with Launching || fault "no worker log in Log\\"

# --- Upgrade with an edited config ------------------------------------------------------------------
printf 'hv_child.exe high\r\n' >"$program_dir/config"
msiexec upgrade.log /i "$upgrade_msi" || fault "msiexec /i of version $upgrade_version exited with $?"
[ "$(cat "$program_dir/config")" = $'hv_child.exe high\r' ] || fault "the upgrade changed the edited config"
[ "$(uninstall_entries)" = 1 ] || fault "$(uninstall_entries) Hushvane entries among the installed programs after the upgrade"
w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -q "DisplayVersion *REG_SZ *$upgrade_version$" \
  || fault "the installed version is not $upgrade_version after the upgrade"
wait_for 30 running Hushvane || fault "the service is not running after the upgrade"
wait_for 30 log_with "Added process hv_child.exe with priority high" || fault "the upgraded service did not read the kept config"

# An older package refuses to replace a newer one.
msiexec downgrade.log /i "$msi" && fault "msiexec /i of the older version $version succeeded over $upgrade_version"
w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -q "DisplayVersion *REG_SZ *$upgrade_version$" \
  || fault "the older package changed the installed version"

# --- Uninstall -------------------------------------------------------------------------------------
msiexec uninstall.log /x "$upgrade_msi" || fault "msiexec /x exited with $?"
service_key Hushvane >/dev/null && fault "the service Hushvane is still registered"
service_key HushvaneDriver >/dev/null && fault "the kernel service HushvaneDriver is still registered"
service_key 'EventLog\Application\Hushvane' >/dev/null && fault "the event source Hushvane is still registered"
[ -e "$drivers_dir/Hushvane.x64.sys" ] && fault "System32\\drivers\\Hushvane.x64.sys is still there"
left=$(cd "$program_dir" && find . -mindepth 1 ! -path './Log/*' | LC_ALL=C sort | tr '\n' ' ')
[ "$left" = "./Log ./config " ] || fault "left in the program folder: $left"
[ "$(cat "$program_dir/config")" = $'hv_child.exe high\r' ] || fault "uninstall changed the edited config"
[ "$(uninstall_entries)" = 0 ] || fault "Hushvane is still among the installed programs"

finish
