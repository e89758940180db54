#!/bin/sh
# Runs a behaviour table in the build's Wine prefix for ctest, and fails it where the run
# left a file, a folder, an uninstall entry or a delete-on-reboot record otherwise than it
# found them.
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
before=$(machine_state)
status=0
wine "$@" || status=$?
same_machine "$before" "$(machine_state)" || exit 1
exit "$status"
