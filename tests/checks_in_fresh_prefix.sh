#!/bin/sh
# Runs the checks zip as an administrator runs it on a Windows machine: unpacked into a
# fresh Wine prefix that holds nothing of the build, started through Wine's cmd.
#   checks_in_fresh_prefix.sh ZIP PREFIX [CASE]
# CASE is what the machine holds before the checks start, and what they must then do:
#   disposable      no Quendal, someone else's uninstall entry named like the checks' own,
#                   and files in %TEMP% named like the checks' old ones: they run and end
#                   "N passed, 0 failed, K skipped" (the default)
#   quendal-entry   a Quendal's uninstall entry, without its folder
#   quendal-binary  a Quendal whose DisplayName is binary: "Quendal", a NUL and more bytes
#   quendal-folder  Quendal's folder with its data, without an entry
#   stale-record    the same, and the record an interrupted run of an earlier kit left,
#                   saying that the checks installed it
#   kit-names       files of the checks' own names in the scratch folder
#   drive-root      TESSARUNE_DRIVE=C:, a drive that is not the scratch folder's, with an
#                   earlier kit's marker file at its root
#   unmapped        no drive given: run-checks.cmd maps one, which Wine's subst does not
#   drive-slash, drive-share, drive-scratch
#                   TESSARUNE_DRIVE not in its form: Q:\, the share, the scratch path
#   no-parent       TESSARUNE_SCRATCH in a folder that is not there
#   scratch-taken   TESSARUNE_SCRATCH a folder that is there, with "&" in its path
# In all others they refuse with status 2. In every case each file and folder
# outside Wine's own, and each uninstall entry of both registry views, is as it was.
#   checks_in_fresh_prefix.sh - TEMPLATE template
# makes a fresh prefix that the cases copy when FRESH_PREFIX_TEMPLATE names it: Wine makes
# a prefix many times slower than cp copies one, where 32-bit code is emulated.
set -eu
zip=$1
prefix=$2
case=${3:-disposable}
wine_prefix="$(cd "$(dirname "$0")/../scripts" && pwd)/wine-prefix.sh"
list='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
entry="$list\\Orvanex Quendal"
product="$prefix/drive_c/Program Files (x86)/Orvanex/Quendal"
# A prefix is over a gigabyte: each case's goes when the case ends, its log stays.
rm -rf "$prefix"
if [ "$case" = template ]; then
    sh "$wine_prefix" "$prefix" run cmd /c exit
    WINEPREFIX="$prefix" wineserver -w
    exit 0
fi
trap 'sh "$wine_prefix" "$prefix" stop; rm -rf "$prefix"' EXIT
if [ -f "${FRESH_PREFIX_TEMPLATE:-}/.ready" ]; then
    cp -a "$FRESH_PREFIX_TEMPLATE" "$prefix"
fi
sh "$wine_prefix" "$prefix" boot
mkdir -p "$prefix/drive_c/checks"
unzip -q "$zip" -d "$prefix/drive_c/checks"
# The prefix has a drive and a share of its own for the checks: Wine's subst maps nothing,
# and Wine has no administrative shares. The scratch folder is the drive's, seen below Z:.
export TESSARUNE_DRIVE=Q: TESSARUNE_SHARE='\\tessarune\q'
TESSARUNE_SCRATCH="Z:$(printf '%s' "$prefix/drive_q" | tr / '\\')"
export TESSARUNE_SCRATCH

wine() { sh "$wine_prefix" "$prefix" run "$@"; }

# Every folder and file outside Wine's own, %TEMP% included, with the files' checksums,
# every entry, and the files to delete at the next start.
snapshot() {
    (cd "$prefix" && find drive_c drive_q -path drive_c/windows -prune -o -print | sort)
    (cd "$prefix" && find drive_c drive_q -path drive_c/windows -prune -o -type f -print0 |
        sort -z | xargs -0 -r md5sum)
    for view in 32 64; do
        wine reg query "$list" /s "/reg:$view" 2>/dev/null | tr -d '\r' || true
    done
    wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' || true
}

quendal_entry() {
    wine reg add "$entry" /v UninstallString /f /reg:32 \
        /d 'C:\Program Files (x86)\Orvanex\Quendal\uninst.exe'
}

case $case in
disposable)
    wine reg add "$list\\TessaruneTest keep" /v DisplayName /d 'Other program' /f /reg:32
    temp=$(echo "$prefix"/drive_c/users/*/Temp)
    mkdir -p "$temp/tessarune-test-copies"
    echo kept >"$temp/tessarune-test-copies/keep.txt"
    echo kept >"$temp/tessarune-test-stand-in.log"
    ;;
quendal-entry)
    wine reg add "$entry" /v DisplayName /d Quendal /f /reg:32
    quendal_entry
    ;;
quendal-binary)
    # "Quendal", a NUL, and 64 bytes the customer's installer put after it.
    wine reg add "$entry" /v DisplayName /t REG_BINARY /f /reg:32 \
        /d "5175656e64616c00$(printf 'ff%.0s' $(seq 64))"
    quendal_entry
    ;;
quendal-folder | stale-record)
    [ "$case" = quendal-folder ] || echo >"$prefix/drive_q/tessarune-checks-installed-quendal"
    mkdir -p "$product"
    echo "the customer's data" >"$product/quendal.dat"
    cp "$prefix/drive_c/checks/quendal_stand_in.exe" "$product/uninst.exe"
    ;;
kit-names)
    mkdir -p "$prefix/drive_q/scratch"
    echo work >"$prefix/drive_q/scratch/work.txt"
    echo kept >"$prefix/drive_q/readme.txt"
    ;;
drive-root)
    export TESSARUNE_DRIVE=C:
    for folder in scratch Quendal 'Orvanex Quendal'; do
        mkdir -p "$prefix/drive_c/$folder"
        echo kept >"$prefix/drive_c/$folder/kept.txt"
    done
    echo kept >"$prefix/drive_c/kept.txt"
    echo kept >"$prefix/drive_c/tessarune-checks-marker"
    ;;
unmapped) unset TESSARUNE_DRIVE TESSARUNE_SCRATCH ;;
drive-slash) export TESSARUNE_DRIVE='Q:\' ;;
drive-share) export TESSARUNE_DRIVE="$TESSARUNE_SHARE" ;;
drive-scratch) export TESSARUNE_DRIVE="$TESSARUNE_SCRATCH" ;;
no-parent) unset TESSARUNE_DRIVE; export TESSARUNE_SCRATCH='C:\kitparent\run1' ;;
scratch-taken)
    unset TESSARUNE_DRIVE
    export TESSARUNE_SCRATCH='C:\R&D checks'
    mkdir -p "$prefix/drive_c/R&D checks"
    echo "another run's" >"$prefix/drive_c/R&D checks/work.txt"
    ;;
*) echo "unknown case $case" >&2; exit 2 ;;
esac
before=$(snapshot)

status=0
wine cmd /c 'C:\checks\run-checks.cmd' >"$prefix.log" 2>&1 || status=$?
after=$(snapshot)
sh "$wine_prefix" "$prefix" stop
output=$(tr -d '\r' <"$prefix.log")
summary=$(printf '%s\n' "$output" | tail -n 1)
echo "run-checks.cmd: exit status $status, last line: $summary"
if [ "$before" != "$after" ]; then
    echo "the checks changed the machine:"
    printf '%s\n' "$before" >"$prefix.before"
    printf '%s\n' "$after" | diff "$prefix.before" - || true
    exit 1
fi
case $case in
disposable)
    if [ "$status" -ne 0 ] ||
        ! printf '%s\n' "$summary" | grep -qE '^[1-9][0-9]* passed, 0 failed, [0-9]+ skipped$'; then
        printf '%s\n' "$output" | grep -E '^\[  FAILED|Failure' | head -20
        exit 1
    fi
    ;;
*)
    # One line, saying why.
    [ "$status" -eq 2 ] && [ "$(printf '%s\n' "$output" | wc -l)" -eq 1 ] &&
        printf '%s\n' "$output" | grep -q '^The checks refuse to run: '
    ;;
esac
