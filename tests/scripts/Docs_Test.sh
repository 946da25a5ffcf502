#!/usr/bin/env bash
# Keeps the README honest where a script can: every command-line switch the program knows has a
# row in the switch table, and every text the troubleshooting table quotes as the program's own
# ("..." with <...> where the program fills something in, and numbers it fills in, such as the
# watcher's interval) is written somewhere in the sources.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
readme=$root/README.md
failures=0 checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The switches, as the command line names them.
switches=$(grep -oE 'return "-[A-Za-z]+"' "$root/app/Hushvane_CommandLine.cpp" | grep -oE -- '-[A-Za-z]+')
[ -n "$switches" ] || fail "no switches found in app/Hushvane_CommandLine.cpp"
for s in $switches; do
  checks=$((checks + 1))
  grep -qF -- "| \`$s\` |" "$readme" || fail "switch $s has no row in the README's switch table"
done

# The quoted texts of the troubleshooting table, cut at their placeholders.
table=$(sed -n '/^## Troubleshooting$/,/^## /p' "$readme" | grep '^|')
[ -n "$table" ] || fail "no troubleshooting table in the README"
sources=("$root/app" "$root/KvWin" "$root/zel" "$root/resources")
while IFS= read -r quoted; do
  while IFS= read -r fragment; do
    [ ${#fragment} -ge 3 ] || continue
    checks=$((checks + 1))
    grep -rqF --include='*.cpp' --include='*.h' --include='*.mc' -- "$fragment" "${sources[@]}" ||
      fail "the troubleshooting table quotes \"$quoted\", but \"$fragment\" is not in the sources"
  done < <(sed -E 's/<[^>]*>|[0-9]+/\n/g' <<<"$quoted")
done < <(grep -oE '"[^"]+"' <<<"$table" | sed 's/^"//; s/"$//')

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ] && [ "$checks" -gt 20 ]
