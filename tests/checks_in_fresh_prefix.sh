#!/bin/sh
# Runs the checks zip as an administrator runs it on a disposable Windows machine: unpacked
# into a fresh Wine prefix that holds nothing of the build, started through Wine's cmd.
#   checks_in_fresh_prefix.sh ZIP PREFIX
set -eu
zip=$1
prefix=$2
wine_prefix="$(cd "$(dirname "$0")/../scripts" && pwd)/wine-prefix.sh"
rm -rf "$prefix"
sh "$wine_prefix" "$prefix" boot
mkdir -p "$prefix/drive_c/checks"
unzip -q "$zip" -d "$prefix/drive_c/checks"
# The prefix has a drive and a share of its own for the checks: Wine has no subst, and no
# administrative shares.
export TESSARUNE_DRIVE=Q: TESSARUNE_SHARE='\\tessarune\q'

status=0
sh "$wine_prefix" "$prefix" run cmd /c 'C:\checks\run-checks.cmd' >"$prefix.log" 2>&1 || status=$?
sh "$wine_prefix" "$prefix" stop
summary=$(tr -d '\r' <"$prefix.log" | tail -n 1)
echo "run-checks.cmd: exit status $status, last line: $summary"
if [ "$status" -ne 0 ] || ! printf '%s\n' "$summary" | grep -qE '^[1-9][0-9]* passed, 0 failed$'; then
    tr -d '\r' <"$prefix.log" | grep -E '^\[  FAILED|Failure' | head -20
    exit 1
fi
