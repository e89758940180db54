# What the checks must leave as they found it, in the Wine prefix $prefix. Sourced by the
# scripts that run the checks, which define wine to run a program in $prefix.
uninstall_list='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
session_manager='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager'

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# Every folder and file outside Wine's own, %TEMP% included, with the files' checksums;
# every uninstall entry of both registry views; and the delete-on-reboot records, byte for
# byte ("xx,xx,...", or nothing).
machine_state() {
    (cd "$prefix" && find drive_c drive_q -path drive_c/windows -prune -o -print | sort)
    (cd "$prefix" && find drive_c drive_q -path drive_c/windows -prune -o -type f -print0 |
        sort -z | xargs -0 -r md5sum)
    for view in 32 64; do
        wine reg query "$uninstall_list" /s "/reg:$view" 2>/dev/null | tr -d '\r' || true
    done
    wine reg export "$session_manager" "$(windows_path "$prefix.reg")" /y >/dev/null 2>&1
    printf 'delete-on-reboot records: '
    iconv -f utf-16 -t utf-8 "$prefix.reg" | tr -d '\r' |
        awk '/^"PendingFileRenameOperations"=/ { on = 1 } on { print; if (!/\\$/) exit }' |
        sed 's/^"PendingFileRenameOperations"=hex(7)://; s/[ \\]//g' | tr -d '\n'
}

# False, saying what changed, where the state after a run is not the state before it.
same_machine() {
    [ "$1" = "$2" ] && return 0
    echo "The run changed the machine:"
    printf '%s\n' "$1" >"$prefix.before"
    printf '%s\n' "$2" | diff "$prefix.before" - || true
    return 1
}
