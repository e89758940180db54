#!/bin/sh
# A throwaway Wine prefix inside the build tree, for the tests and the demo.
#   wine-prefix.sh PREFIX boot               make it ready (once) and open a Wine session
#                                            (FRESH_PREFIX_TEMPLATE: a ready prefix to copy)
#   wine-prefix.sh PREFIX run PROGRAM [ARG]  run a Windows program in it
#   wine-prefix.sh PREFIX stop               end every Wine process of it
set -eu
prefix=$1
action=$2
shift 2
. "$(dirname "$0")/wine-env.sh"

prepare() {
    [ -f "$prefix/.ready" ] && return 0
    # A copy of a prefix made ready here, where FRESH_PREFIX_TEMPLATE names one: Wine makes a
    # prefix many times slower than cp copies one, where 32-bit code is emulated.
    if [ -f "${FRESH_PREFIX_TEMPLATE:-}/.ready" ]; then
        mkdir -p "$prefix" && cp -a "$FRESH_PREFIX_TEMPLATE/." "$prefix"
        return 0
    fi
    wine wineboot --init </dev/null >/dev/null 2>&1
    # Windows exist, and can be found, without a display.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    # Drive Q: is the tests' own, so that they can put programs at the root of a drive.
    mkdir -p "$prefix/drive_q" "$prefix/dosdevices/unc/tessarune"
    ln -sfn ../drive_q "$prefix/dosdevices/q:"
    # ... and \\tessarune\q is the same folder as a network share.
    ln -sfn ../../../drive_q "$prefix/dosdevices/unc/tessarune/q"
    wineserver -w
    touch "$prefix/.ready"
}

# One Wine session for the whole run, started with none of the caller's descriptors: Wine's
# services outlive the program that starts them and would hold ctest's output pipe open,
# and a session a test would cost each test seconds. It ends with "stop", or a minute
# after its last program.
keep() {
    wineserver -w
    wineserver -p60 </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
}

case $action in
boot) prepare && keep ;;
run) prepare && exec "$wine" "$@" ;;
stop) wineserver -k 2>/dev/null || true ;;
*) echo "usage: $0 PREFIX boot|run PROGRAM [ARG...]|stop" >&2; exit 2 ;;
esac
