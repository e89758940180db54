#!/bin/bash
# Prints the figures of tessarune.exe under Wine, with the machine and Wine they come from.
set -eu
build=$(cd "${1:-build/windows}" && pwd)
# The tests' prefix: the benchmark, like the tests, writes only entries it removes again.
prefix="$build/wineprefix"
wine_prefix="$(dirname "$0")/wine-prefix.sh"
exe="$build/tessarune.exe"
. "$(dirname "$0")/wine-env.sh"

imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')
memory=$(free -g | awk '/^Mem:/ { print $2 }')

echo "Tessarune benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
# wine-env.sh has qemu-i386 run Wine's 32-bit half where install-deps.sh registered it.
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    x86_32="emulated by qemu-i386"
else
    x86_32="run by the kernel itself"
fi
echo "Machine: $(uname -sm), $cpu, $(nproc) cores, $memory GiB; $(wine --version)"
echo "32-bit x86 code: $x86_32"
echo
echo "tessarune.exe: $(stat -c %s "$exe") bytes; imports: $imports"
echo
sh "$wine_prefix" "$prefix" boot
sh "$wine_prefix" "$prefix" run "$build/tessarune_bench.exe" | tr -d '\r'
# The same race with both cores kept busy by other work.
busy=""
for core in 1 2; do
    yes >/dev/null &
    busy="$busy $!"
done
sh "$wine_prefix" "$prefix" run "$build/tessarune_bench.exe" race "both cores busy" | tr -d '\r'
kill $busy

# Wine's GetProcessTimes does not give a process's own CPU time; Linux does. Wine starts a
# program's children detached, so this counts the tool alone.
wine "$build/quendal_stand_in.exe" /install 'C:\Program Files (x86)\Orvanex\Quendal' \
    '/entry=TessaruneTest Quendal' /relaunch /work=10000
TIMEFORMAT='%R %U %S'
times=$({ time wine "$exe" >/dev/null 2>&1; } 2>&1)
read -r real user system <<<"$times"
echo
echo "CPU time of the tool during a 10-second uninstall"
echo "| run, s | CPU (user + system), s | CPU share |"
echo "|---:|---:|---:|"
awk -v r="$real" -v u="$user" -v s="$system" \
    'BEGIN { printf "| %.2f | %.3f | %.2f%% |\n", r, u + s, 100 * (u + s) / r }'
sh "$wine_prefix" "$prefix" stop
