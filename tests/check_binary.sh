#!/bin/sh
# Reads off the built exe what a fleet's security review asks of it: a 32-bit console
# program importing only system DLLs, with ASLR, DEP and stack protection, and no time stamp.
set -u
exe=$1
objdump=i686-w64-mingw32-objdump
headers=$($objdump -p "$exe") || exit 1
failed=0
expect() {
    if ! printf '%s\n' "$headers" | grep -q -E "$2"; then
        echo "FAILED: $1"
        failed=1
    fi
}
expect "a 32-bit program" '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)'
expect "console subsystem" '^Subsystem[[:space:]]+00000003'
expect "ASLR" '^[[:space:]]+DYNAMIC_BASE$'
expect "relocations, without which ASLR cannot move it" 'Base Relocation Directory \[\.reloc\]'
expect "DEP" '^[[:space:]]+NX_COMPAT$'
expect "no time stamp" '^Time/Date[[:space:]]+Thu Jan  1 00:00:00 1970'
imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
if [ "$imports" != "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ]; then
    echo "FAILED: imports are $imports"
    failed=1
fi
# Stripped, the exe keeps no symbol names: the stack protector shows by its message.
if ! grep -q -a 'stack smashing detected' "$exe"; then
    echo "FAILED: stack protection"
    failed=1
fi
[ $failed -eq 0 ] && echo "exe checked: PE32 console, ASLR, DEP, stack protection, no time stamp, imports: $imports"
exit $failed
