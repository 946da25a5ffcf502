#!/usr/bin/env bash
# A small drive Q: for the log-drive-full test: a tmpfs of 16 MiB mounted at <mount point> and
# mapped into the Wine prefix as Q:.
#   small-drive.sh <setup|cleanup> <wine prefix> <mount point>
# Mounting needs root (the test command runs as root or through sudo); without it the drive is
# simply absent and the test says it skipped itself.
set -u
action=$1 prefix=$2 dir=$3
link=$prefix/dosdevices/q:
case "$action" in
  setup)
    mkdir -p "$dir" "$prefix/dosdevices"
    # Not world-writable: Wine would let Everyone move the program folder on it away, and
    # -AddService refuses such a place.
    if ! mountpoint -q "$dir" && ! mount -t tmpfs -o size=16m,mode=0755 hvsmalldrive "$dir" 2>/dev/null; then
      echo "cannot mount a tmpfs here (needs root): the drive-full test skips itself"
      exit 0
    fi
    chmod 0755 "$dir"
    rm -rf "${dir:?}"/*
    ln -sfn "$dir" "$link"
    touch "$dir/hv-small-drive"
    echo "Q: is a tmpfs of $(df -h --output=size "$dir" | tail -n 1 | tr -d ' ') at $dir"
    ;;
  cleanup)
    rm -f "$link"
    if mountpoint -q "$dir"; then umount "$dir"; fi
    ;;
  *)
    echo "usage: small-drive.sh <setup|cleanup> <wine prefix> <mount point>"
    exit 2
    ;;
esac
exit 0
