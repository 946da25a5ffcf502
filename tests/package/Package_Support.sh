# Sourced by the package tests: the release folder that Package_Build.sh made, and failure reports.
# Sets dist (dist/hushvane-<version>), version, and collects faults with fault; finish reports them.

# package_open <work folder>
package_open() {
  local found=("$1"/dist/hushvane-*)
  if [ ${#found[@]} -ne 1 ] || [ ! -d "${found[0]}" ]; then
    echo "no single release folder in $1/dist: run the package.build test first" >&2
    exit 1
  fi
  dist=${found[0]}
  version=${dist##*/hushvane-}
}

faults=0
fault() { echo "FAULT: $*" >&2; faults=$((faults + 1)); }
finish() {
  if [ "$faults" -ne 0 ]; then echo "$faults fault(s)" >&2; exit 1; fi
  echo "ok"
}
