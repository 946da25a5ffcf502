#!/usr/bin/env bash
# Package_Check.sh layout|images|signatures <source root> <work folder> <test driver image>
# Checks the release that Package_Build.sh wrote.
#   layout      the files of the release, the zips, the SHA-256 list, the sample config, the
#               debug link of hushvane.exe
#   images      sizes, imports, hardening and version resources of the programs and driver images,
#               and that the check refuses the test build of the driver
#   signatures  every program, driver image and MSI verifies against the run's test certificate,
#               with page hashes in the PE images; a changed byte breaks the signature
set -uo pipefail
mode=$1 root=$2 work=$3 test_driver=$4
. "$(dirname "$0")/Package_Support.sh"
package_open "$work"
archs=(x64 x86)
folder_files=(Hushvane.x64.sys Hushvane.x86.sys LICENSE README.txt config hushvane.exe hushvane.exe.debug test-signing.crt)
# Installed by the MSI: the folder's files but the test certificate.
msi_files=(Hushvane.x64.sys Hushvane.x86.sys LICENSE README.txt config hushvane.exe hushvane.exe.debug)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

check_layout() {
  local expected=(SHA256SUMS test-signing.crt) arch f
  for arch in "${archs[@]}"; do
    expected+=("hushvane-$version-$arch.msi" "hushvane-$version-$arch.zip")
    for f in "${folder_files[@]}"; do expected+=("$arch/$f"); done
  done
  diff <(printf '%s\n' "${expected[@]}" | LC_ALL=C sort) <(cd "$dist" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) \
    || fault "the release's files differ from the list above (< expected, > found)"

  for arch in "${archs[@]}"; do
    # A zip holds its folder exactly.
    mkdir -p "$tmp/$arch"
    if unzip -q "$dist/hushvane-$version-$arch.zip" -d "$tmp/$arch"; then
      diff -r "$dist/$arch" "$tmp/$arch/$arch" >/dev/null || fault "hushvane-$version-$arch.zip differs from $arch/"
    else
      fault "hushvane-$version-$arch.zip does not unzip"
    fi
    # The sample config configures nothing: every line is blank or a comment.
    if tr -d '\r' <"$dist/$arch/config" | grep -vE '^[[:space:]]*(#.*)?$' >/dev/null; then
      fault "$arch/config holds an entry"
    fi
    grep -q "Hushvane $version" "$dist/$arch/README.txt" || fault "$arch/README.txt does not name version $version"
    # The licence travels with every copy, and README.txt says what it is.
    diff <(tr -d '\r' <"$dist/$arch/LICENSE") "$root/LICENSE" >/dev/null || fault "$arch/LICENSE is not the project's licence"
    grep -q "MIT licence" "$dist/$arch/README.txt" || fault "$arch/README.txt does not name the licence"
    cmp -s "$dist/$arch/test-signing.crt" "$dist/test-signing.crt" || fault "$arch/test-signing.crt is not the release's test certificate"
    check_debug_link "$dist/$arch/hushvane.exe"
    check_msi "$arch"
  done

  # The list covers every other file, and every sum matches.
  diff <(cd "$dist" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort) \
       <(awk '{ print $2 }' "$dist/SHA256SUMS" | LC_ALL=C sort) >/dev/null || fault "SHA256SUMS does not list every file"
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fault "SHA256SUMS does not match the files"
}

# The MSI's tables, for both architectures (Wine installs only the x64 one here): its platform and
# folder, the folder's files, the service, the config that is never replaced nor removed, the
# folder's inherited permissions, and the failure actions.
check_msi() {
  local arch=$1 msi=$dist/hushvane-$version-$1.msi template folder attributes
  table() { msiinfo export "$msi" "$1" | tr -d '\r'; }
  if [ "$arch" = x64 ]; then
    template=x64 folder=ProgramFiles64Folder attributes=$((0x10 | 0x80 | 0x100))
  else
    template=Intel folder=ProgramFilesFolder attributes=$((0x10 | 0x80))
  fi
  msiinfo suminfo "$msi" | tr -d '\r' | grep -qx "Template: $template;1033" || fault "$arch MSI is not for the $template platform"
  table Directory | grep -qP "^INSTALLDIR\t$folder\tHushvane$" || fault "$arch MSI does not install to $folder\\Hushvane"
  diff <(printf '%s\n' "${msi_files[@]}" | LC_ALL=C sort) \
       <(table File | tail -n +4 | cut -f3 | LC_ALL=C sort) >/dev/null \
    || fault "$arch MSI does not hold the files of $arch/"
  table ServiceInstall | grep -qP '^\w+\tHushvane\tHushvane\t16\t2\t1\t\t\t\t\t-Service Hushvane\tProgram\tSets the priority class of processes at process launch\.$' \
    || fault "$arch MSI does not register the service as -AddService does"
  table Component | grep -qP "^Config\t\S+\tINSTALLDIR\t$attributes\t" \
    || fault "$arch MSI may replace or remove config"
  # The folder keeps the permissions it inherits from Program Files, where only administrators
  # change what the service runs as SYSTEM: no table sets permissions of its own.
  local permissions
  for permissions in LockPermissions MsiLockPermissionsEx; do
    if msiinfo tables "$msi" | tr -d '\r' | grep -qx "$permissions" && [ -n "$(table "$permissions" | tail -n +4)" ]; then
      fault "$arch MSI sets permissions of its own ($permissions)"
    fi
  done
  table MsiServiceConfigFailureActions | grep -qP '^\w+\tHushvane\t5\t86400\tRebooting the server in response to crash of Hushvane crash\.\t\t1\[~\]1\[~\]0\t0\[~\]0\[~\]0\tProgram$' \
    || fault "$arch MSI lacks the service's failure actions"
}

# The executable carries no DWARF of its own, names hushvane.exe.debug with the right CRC, and
# that file holds the debug information.
check_debug_link() {
  local exe=$1 sections
  sections=$(x86_64-w64-mingw32-objdump -h "$exe")
  grep -q '\.debug_info' <<<"$sections" && fault "$exe still holds debug information"
  x86_64-w64-mingw32-objdump -h "$exe.debug" | grep -q '\.debug_info' || fault "$exe.debug holds no debug information"
  x86_64-w64-mingw32-objdump -s -j .gnu_debuglink "$exe" >"$tmp/debuglink" 2>/dev/null \
    || { fault "$exe has no debug link"; return; }
  # objdump prints the section as hex words after each address: name, zero padding, CRC-32.
  python3 - "$tmp/debuglink" "$exe.debug" <<'PY' || fault "$exe: debug link does not name hushvane.exe.debug with its CRC"
import re, struct, sys, zlib
words = []
for line in open(sys.argv[1]):
    m = re.match(r'^ [0-9a-f]+ ((?:[0-9a-f]{2,8} ?)+)', line)
    if m:
        words += m.group(1).split()
link = bytes.fromhex(''.join(words))
name = link[:link.index(b'\0')]
crc, = struct.unpack('<I', link[-4:])
sys.exit(0 if name == b'hushvane.exe.debug' and crc == zlib.crc32(open(sys.argv[2], 'rb').read()) else 1)
PY
}

check_images() {
  local arch exe size dlls characteristics sys
  for arch in "${archs[@]}"; do
    exe=$dist/$arch/hushvane.exe
    size=$(stat -c %s "$exe")
    echo "$arch/hushvane.exe: $size bytes; hushvane.exe.debug: $(stat -c %s "$exe.debug") bytes"
    [ "$size" -lt 1048576 ] || fault "$arch/hushvane.exe is $size bytes, not under 1 MB"
    "$root/scripts/check-release-image" exe "$exe" "$version" || fault "$arch/hushvane.exe is not the release build"

    # Imports: Windows' own DLLs only (the C run-time is Windows' msvcrt.dll; no MinGW DLLs).
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
    [ -n "$dlls" ] || fault "$arch/hushvane.exe: no imports found"
    for dll in $dlls; do
      case "$dll" in
        kernel32.dll|advapi32.dll|user32.dll|shell32.dll|gdi32.dll|msvcrt.dll|psapi.dll|ntdll.dll) ;;
        *) fault "$arch/hushvane.exe imports $dll, not a system DLL" ;;
      esac
    done
    # ASLR (0x40) and DEP (0x100).
    characteristics=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
    (( (0x$characteristics & 0x140) == 0x140 )) || fault "$arch/hushvane.exe lacks ASLR or DEP (0x$characteristics)"

    for sys in Hushvane.x64.sys Hushvane.x86.sys; do
      "$root/scripts/check-release-image" driver "$dist/$arch/$sys" "$(driver_version)" \
        || fault "$arch/$sys is not the shipped driver build"
      dlls=$(x86_64-w64-mingw32-objdump -p "$dist/$arch/$sys" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | LC_ALL=C sort | tr '\n' ' ')
      # The kernel and, for the 32-bit image, the HAL.
      case "$dlls" in
        "ntoskrnl.exe "|"hal.dll ntoskrnl.exe ") ;;
        *) fault "$arch/$sys imports $dlls" ;;
      esac
    done
  done
  # The same check must refuse the test build.
  if "$root/scripts/check-release-image" driver "$test_driver" "$(driver_version)" 2>/dev/null; then
    fault "check-release-image accepts the test driver image $test_driver"
  fi
}

# The driver's version text, major.minor with two digits, from the release's version.
driver_version() { printf '%d.%02d' "${version%%.*}" "$(cut -d. -f2 <<<"$version")"; }

check_signatures() {
  local f out
  while IFS= read -r f; do
    out=$(osslsigncode verify -CAfile "$dist/test-signing.crt" -in "$dist/$f" 2>&1) \
      || { fault "$f: signature does not verify"; echo "$out" | tail -n 5 >&2; continue; }
    grep -q 'Message digest algorithm *: *SHA256' <<<"$out" || fault "$f: not signed with SHA-256"
    case "$f" in
      *.msi) ;;
      *) grep -q 'Page hash algorithm *: *SHA256' <<<"$out" || fault "$f: no page hashes" ;;
    esac
  done < <(cd "$dist" && find . -type f \( -name '*.exe' -o -name '*.sys' -o -name '*.msi' \) | sed 's|^\./||' | LC_ALL=C sort)

  # One changed byte in the code of a signed driver must break its signature.
  cp "$dist/x64/Hushvane.x64.sys" "$tmp/changed.sys"
  printf '\xcc' | dd of="$tmp/changed.sys" bs=1 seek=1100 conv=notrunc status=none
  if osslsigncode verify -CAfile "$dist/test-signing.crt" -in "$tmp/changed.sys" >/dev/null 2>&1; then
    fault "a driver image changed after signing still verifies"
  fi
}

case "$mode" in
  layout) check_layout ;;
  images) check_images ;;
  signatures) check_signatures ;;
  *) echo "unknown check $mode" >&2; exit 2 ;;
esac
finish
