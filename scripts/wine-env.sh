# The Wine settings of every script that runs Windows programs. Sourced by the scripts in
# this folder (it finds the fixes' source beside $0), with $prefix set to the Wine prefix.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Where the kernel runs no 32-bit x86 code, install-deps.sh has qemu run Wine's 32-bit half;
# these fixes make qemu's emulation good enough for Wine. $LIB picks the 32-bit or the
# (empty) 64-bit build for each process.
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    fixes_source="$(dirname "$0")/qemu-i386-fixes.c"
    fixes="$(dirname "$prefix")/qemu-i386-fixes"
    if [ ! -f "$fixes/lib/i386-linux-gnu/fixes.so" ] ||
        [ "$fixes_source" -nt "$fixes/lib/i386-linux-gnu/fixes.so" ]; then
        mkdir -p "$fixes/lib/i386-linux-gnu" "$fixes/lib/x86_64-linux-gnu"
        cc -m32 -O2 -shared -fPIC -o "$fixes/lib/i386-linux-gnu/fixes.so" "$fixes_source" -ldl
        cc -O2 -shared -fPIC -o "$fixes/lib/x86_64-linux-gnu/fixes.so" "$fixes_source"
    fi
    export LD_PRELOAD="$fixes/\$LIB/fixes.so"
fi
