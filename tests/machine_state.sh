# What the checks must leave as they found it, in the Wine prefix $prefix: every folder and
# file outside Wine's own, %TEMP% included, with the files' checksums; every uninstall entry
# of both registry views; and the delete-on-reboot records, byte for byte. Sourced, after
# scripts/wine-env.sh, by the scripts that run the checks.
uninstall_list='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
session_manager='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager'

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

files_and_entries() {
    (cd "$prefix" && find drive_c drive_q -path drive_c/windows -prune -o -print | sort)
    (cd "$prefix" && find drive_c drive_q -path drive_c/windows -prune -o -type f -print0 |
        sort -z | xargs -0 -r md5sum)
    for view in 32 64; do
        wine reg query "$uninstall_list" /s "/reg:$view" 2>/dev/null | tr -d '\r' || true
    done
}

# The records: "xx,xx,...", or nothing.
reboot_records() {
    wine reg export "$session_manager" "$(windows_path "$prefix.reg")" /y >/dev/null 2>&1
    iconv -f utf-16 -t utf-8 "$prefix.reg" | tr -d '\r' |
        awk '/^"PendingFileRenameOperations"=/ { on = 1 } on { print; if (!/\\$/) exit }' |
        sed 's/^"PendingFileRenameOperations"=hex(7)://; s/[ \\]//g' | tr -d '\n'
}
