#!/usr/bin/env bash
# Package_Build.sh <source root> <work folder>: copies the sources as a checkout holds them (no
# build trees, no earlier output) to <work folder>/src and runs scripts/package there, writing the
# release to <work folder>/dist. The copy keeps its build trees between runs only through ccache.
set -euo pipefail
root=$1 work=$2
src=$work/src

rm -rf "$src" "$work/dist"
mkdir -p "$src"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  # Tracked files and new ones not ignored: the checkout as it would be committed.
  (cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 -r tar --ignore-failed-read -cf - --) | tar -xf - -C "$src"
else
  (cd "$root" && tar --exclude=./build --exclude=./dist -cf - .) | tar -xf - -C "$src"
fi

if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$src CCACHE_NOHASHDIR=1
fi
HV_DIST=$work/dist HV_JOBS=${HV_JOBS:-2} "$src/scripts/package"
