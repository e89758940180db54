#!/bin/sh
# Runs the checks zip as an administrator runs it on a Windows machine: unpacked into a
# fresh Wine prefix that holds nothing of the build, started through Wine's cmd.
#   checks_in_fresh_prefix.sh ZIP PREFIX [CASE]
# CASE is what the machine holds before the checks start, and what they must then do:
#   disposable     nothing of theirs: they run and end "N passed, 0 failed, K skipped"
#   quendal        a Quendal installed under another key, its folder holding data
#   drive-root     TESSARUNE_DRIVE=C:, with files and folders of the tests' names at C:\
#   scratch-file   a file of someone else's in the scratch folder
# In the last three they refuse with status 2 and change no file and no entry.
set -eu
zip=$1
prefix=$2
case=${3:-disposable}
wine_prefix="$(cd "$(dirname "$0")/../scripts" && pwd)/wine-prefix.sh"
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvanex Quendal'
product="$prefix/drive_c/Program Files (x86)/Orvanex/Quendal"
rm -rf "$prefix"
sh "$wine_prefix" "$prefix" boot
mkdir -p "$prefix/drive_c/checks"
unzip -q "$zip" -d "$prefix/drive_c/checks"
# The prefix has a drive and a share of its own for the checks: Wine's subst maps nothing,
# and Wine has no administrative shares. The scratch folder is the drive's, seen below Z:.
export TESSARUNE_DRIVE=Q: TESSARUNE_SHARE='\\tessarune\q'
TESSARUNE_SCRATCH="Z:$(printf '%s' "$prefix/drive_q" | tr / '\\')"
export TESSARUNE_SCRATCH

# Every file outside Wine's own folders, with its checksum, and the foreign entry.
snapshot() {
    (cd "$prefix" && find drive_c drive_q -path drive_c/windows -prune -o \
        -path 'drive_c/users/*/Temp' -prune -o -type f -print0 | sort -z |
        xargs -0 -r md5sum)
    sh "$wine_prefix" "$prefix" run reg query "$entry" /reg:32 2>/dev/null | tr -d '\r' || true
}

case $case in
disposable) ;;
quendal)
    sh "$wine_prefix" "$prefix" run reg add "$entry" /v DisplayName /d Quendal /f /reg:32
    sh "$wine_prefix" "$prefix" run reg add "$entry" /v UninstallString /f /reg:32 \
        /d 'C:\Program Files (x86)\Orvanex\Quendal\uninst.exe'
    mkdir -p "$product"
    echo "the customer's data" >"$product/quendal.dat"
    cp "$prefix/drive_c/checks/quendal_stand_in.exe" "$product/uninst.exe"
    ;;
drive-root)
    export TESSARUNE_DRIVE=C:
    for folder in scratch Quendal 'Orvanex Quendal'; do
        mkdir -p "$prefix/drive_c/$folder"
        echo kept >"$prefix/drive_c/$folder/kept.txt"
    done
    echo kept >"$prefix/drive_c/kept.txt"
    ;;
scratch-file) echo kept >"$prefix/drive_q/kept.txt" ;;
*) echo "unknown case $case" >&2; exit 2 ;;
esac
before=$(snapshot)

status=0
sh "$wine_prefix" "$prefix" run cmd /c 'C:\checks\run-checks.cmd' >"$prefix.log" 2>&1 || status=$?
after=$(snapshot)
sh "$wine_prefix" "$prefix" stop
summary=$(tr -d '\r' <"$prefix.log" | tail -n 1)
echo "run-checks.cmd: exit status $status, last line: $summary"
if [ "$case" != disposable ]; then
    [ "$status" -eq 2 ] && [ "$before" = "$after" ] && exit 0
    if [ "$before" != "$after" ]; then
        echo "the checks changed the machine:"
        printf '%s\n' "$before" >"$prefix.before"
        printf '%s\n' "$after" | diff "$prefix.before" - || true
    fi
    exit 1
fi
if [ "$status" -ne 0 ] || ! printf '%s\n' "$summary" | grep -qE '^[1-9][0-9]* passed, 0 failed, [0-9]+ skipped$'; then
    tr -d '\r' <"$prefix.log" | grep -E '^\[  FAILED|Failure' | head -20
    exit 1
fi
