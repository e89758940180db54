#!/bin/sh
# Removes Quendal, as an installer engine (NSIS) builds it, from a sandbox Wine prefix with
# tessarune.exe, and shows each step with the time it took.
set -eu
build=$(cd "${1:-build/windows}" && pwd)
prefix="$build/demo-prefix"
wine_prefix="$(dirname "$0")/wine-prefix.sh"
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quendal'
folder_windows='C:\Program Files (x86)\Orvanex\Quendal'
folder="$prefix/drive_c/Program Files (x86)/Orvanex/Quendal"
. "$(dirname "$0")/wine-env.sh"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
step() {
    title=$1
    shift
    printf '\n== %s\n' "$title"
    start=$(now_ms)
    "$@"
    printf -- '-- %s: %d ms\n' "$title" $(($(now_ms) - start))
}
# A 32-bit program reads the 32-bit view of the registry: show that one.
entry_exists() { wine reg query "$entry" /reg:32 >/dev/null 2>&1; }
show_entry() {
    if entry_exists; then
        wine reg query "$entry" /reg:32 | tr -d '\r' | grep .
    else
        echo "(no uninstall entry Quendal)"
    fi
}
show_folder() { ls -l "$folder" 2>/dev/null || echo "(no folder $folder_windows)"; }
show_product() { show_entry; show_folder; }
install_product() { wine "$build/quendal_setup.exe" /S; }
remove_product() {
    start=$(now_ms)
    wine "$build/tessarune.exe" >"$build/demo-output.txt" 2>&1 && status=0 || status=$?
    echo "tessarune.exe ran for $(($(now_ms) - start)) ms and ended with status $status," \
        "output $(wc -c <"$build/demo-output.txt") bytes"
    if entry_exists || [ -d "$folder" ]; then
        echo "Quendal was still there when tessarune.exe ended" >&2
        return 1
    fi
    echo "Quendal was gone when tessarune.exe ended"
}

step "sandbox Wine prefix in $prefix" sh "$wine_prefix" "$prefix" boot
step "install Quendal, built with NSIS (its uninstaller relaunches itself from %TEMP%)" install_product
step "Quendal is installed" show_product
step "tessarune.exe removes it" remove_product
step "Quendal is gone" show_product
sh "$wine_prefix" "$prefix" stop
