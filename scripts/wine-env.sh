# The Wine settings of every script that runs Windows programs. Sourced by the scripts in
# this folder (it finds the fixes' source beside $0), with $prefix set to the Wine prefix.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's 64-bit loader: it starts Wine's own programs (cmd, reg, wineboot) in their 64-bit
# build, as 64-bit Windows does, and hands a 32-bit program on to the 32-bit loader. The
# wine command starts every program through the 32-bit loader, which qemu runs many times
# slower where the kernel runs no 32-bit code (0.85 s for a reg query, against 0.05 s).
wine=/usr/lib/wine/wine64
wine() { "$wine" "$@"; }

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
