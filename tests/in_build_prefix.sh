#!/bin/sh
# ctest's emulator for the behaviour tables: runs a table in the build's Wine prefix, and
# fails it where the run left a file, a folder, an uninstall entry or a delete-on-reboot
# record otherwise than it found them.
#   in_build_prefix.sh PREFIX PROGRAM [ARG...]
set -eu
prefix=$1
shift
wine_prefix="$(cd "$(dirname "$0")/../scripts" && pwd)/wine-prefix.sh"
. "$(dirname "$0")/machine_state.sh"
wine() { sh "$wine_prefix" "$prefix" run "$@"; }

# Each table is a run of its own, as each run of run-checks.cmd gets a new scratch folder:
# what a table killed at its time limit left, there and in %TEMP%, does not make the next
# refuse (its own run has failed already).
find "$prefix/drive_q" -mindepth 1 -delete
rm -rf "$prefix"/drive_c/users/*/Temp/TessaruneTest-*
before=$(files_and_entries)
records_before=$(reboot_records)
status=0
wine "$@" || status=$?
after=$(files_and_entries)
records_after=$(reboot_records)
if [ "$before" != "$after" ] || [ "$records_before" != "$records_after" ]; then
    echo "The run changed the machine:"
    printf '%s\n' "$before" >"$prefix.before"
    printf '%s\n' "$after" | diff "$prefix.before" - || true
    [ "$records_before" = "$records_after" ] ||
        echo "the records: $records_before, then $records_after"
    exit 1
fi
exit "$status"
