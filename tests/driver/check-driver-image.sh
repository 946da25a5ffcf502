#!/bin/sh
# check-driver-image.sh <objdump> <image> <label> [<image> <label> ...]
# Fails unless every image imports only from ntoskrnl.exe and HAL.dll, has the native subsystem,
# its architecture's image base, a relocatable and non-executable-data image, no pageable
# section, and a version resource with the driver's description, file name, product and version.
set -u
objdump=$1
shift
status=0

fail() {
	echo "FAIL $label: $*"
	status=1
}

while [ $# -ge 2 ]; do
	image=$1 label=$2
	shift 2
	headers=$("$objdump" -p "$image") || { fail "cannot read $image"; continue; }

	dlls=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')
	[ -n "$dlls" ] || fail "no imports found"
	for dll in $dlls; do
		case "$dll" in
			ntoskrnl.exe|HAL.dll) ;;
			*) fail "imports from $dll" ;;
		esac
	done
	printf '%s\n' "$headers" | grep -Eq '^Subsystem[[:space:]]+0*1[[:space:]]+\(NT native\)' \
		|| fail "subsystem is not native"

	case "$headers" in
		*"file format pei-x86-64"*) base=140000000 ;;
		*) base=10000 ;;
	esac
	printf '%s\n' "$headers" | grep -Eq "^ImageBase[[:space:]]+0*$base\$" || fail "image base is not 0x$base"
	flags=$(printf '%s\n' "$headers" | sed -n 's/^DllCharacteristics[[:space:]]*\([0-9a-fA-F]*\).*/\1/p')
	[ -n "$flags" ] && [ $((0x$flags & 0x40)) -ne 0 ] || fail "not marked relocatable (dynamic base)"
	[ -n "$flags" ] && [ $((0x$flags & 0x100)) -ne 0 ] || fail "not marked NX compatible"
	"$objdump" -h "$image" | grep -Eq '^[[:space:]]+[0-9]+[[:space:]]+PAGE' && fail "has a pageable section"

	# Version strings are UTF-16 inside .rsrc: dump the section and drop the zero bytes, which
	# leaves each key directly followed by its value.
	text=$("$objdump" -s -j .rsrc "$image" 2>/dev/null \
		| sed -n 's/^ [0-9a-f]\{4,\} \(\([0-9a-f]\{2,8\} \)\{1,4\}\).*/\1/p' | tr -d ' \n' \
		| sed 's/\(..\)/\1\n/g' | grep -v '^00$' | grep -v '^$' \
		| while read -r byte; do printf "\\$(printf '%03o' "0x$byte")"; done)
	for want in VS_VERSION_INFO "FileDescriptionHushvane Driver" "OriginalFilenameHushvane.sys" \
		"ProductNameHushvaneDriver" "FileVersion1.00" "ProductVersion1.00"; do
		printf '%s' "$text" | grep -aqF "$want" || fail "version resource lacks \"$want\""
	done
	case "$label" in
		test)
			printf '%s' "$text" | grep -aqF "FileVersion1.00 test build" || fail "test image lacks its own version text"
			printf '%s' "$text" | grep -aqF "FileDescriptionHushvane Driver (test build)" \
				|| fail "test image lacks its own file description"
			;;
		*)
			printf '%s' "$text" | grep -aqF "test build" && fail "shipped image carries the test version text or description"
			# The test image's hooks are the only users of these kernel routines.
			for hook in ZwOpenKey ZwQueryValueKey ZwQuerySecurityObject; do
				printf '%s\n' "$headers" | grep -Eq "[[:space:]]$hook\$" && fail "shipped image imports $hook (test hooks built in)"
			done
			;;
	esac
	[ $status -eq 0 ] && echo "ok $label: $dlls, native, version resource present"
done
exit $status
