#!/usr/bin/env bash
# Benchmark, not a test: what one edit of a big package costs, side by side in the same run with
# what a user would do instead. Builds a package of about 1 GiB in a few thousand files (text,
# machine code, incompressible data), then prints, each the median of 3 runs:
#   - quendle /Update PKG Add-File of one small file, against unzip -q + zip -1 -r -q of the
#     package, against cp of the package file;
#   - quendle adding one 512 MiB compressible file, against zip -1 of that file alone;
#   - the one-edit save again, of the package laid out as the format's original writer does;
#   - the one-edit save with its progress line on a terminal (under script) against -quiet, so
#     that the progress display is seen to cost nothing;
#   - peak RSS and peak temporary disk of every quendle run;
# and ends with the ratios on one line.
#
#   bench/save_bench.sh [build folder] [work folder]
#
# Needs about 5 GiB free under the work folder; the work folder is deleted afterwards.
# QUENDLE_BENCH_SCALE=16 divides every size by 16, for a quick try of the script itself.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/bench_lib.sh
bench_setup save "${1:-}" "${2:-}" /usr/bin/time unzip zip python3 script

echo "Generating the package content in $work ..."
src=$work/source
cp -r demo "$src"
root="$src/Root/VFS/ProgramFilesX86/Demo Notes/data"
bench_content "$root" 384 256 256 4000
set +o pipefail
for i in $(seq 1 16); do cat "$work/seed.txt"; done | head -c $(((512 << 20) / div)) > "$work/compressible.txt"
set -o pipefail
rm -f "$work/seed.txt"
# Empty files, which the format's original writer stores with no payload at all.
for i in $(seq 1 $((400 / div))); do : > "$root/small/$(printf d%02d $((i % 40)))/empty$i.cfg"; done
echo "small edit" > "$work/small.txt"
pkg=$work/pkg.appv
"$build/make_demo_package" "$src" "$pkg" > /dev/null
rm -rf "$src"
echo "package: $(unzip -Z1 "$pkg" | wc -l) entries, $(( $(unzip -Zt "$pkg" | awk '{print $(NF-6)}') >> 20 )) MiB of data, $(( $(stat -c %s "$pkg") >> 20 )) MiB compressed"
# Warm the page cache alike for every contender.
cat "$pkg" "$work/compressible.txt" > /dev/null

tmp=$work/tmp
mkdir -p "$tmp"
# Runs a command with /usr/bin/time; prints "seconds rssKiB peakTempKiB". The temp folder is
# polled every 50 ms by one process: a du, cut and sleep started 20 times a second would take a
# few per cent of a processor from the command measured. That process starts the command itself,
# once its own start-up is over: a python starting beside the command would take a processor
# from it for the command's first few tens of milliseconds.
measure() {
    local log=$work/time.log result
    result=$(TMPDIR=$tmp NO_COLOR=1 python3 - "$tmp" /usr/bin/time -f '%e %M' -o "$log" "$@" <<'PY'
import os, subprocess, sys, time
folder, peak = sys.argv[1], 0
def used(): # as du counts it: files and folders
    total = 0
    for top, dirs, files in os.walk(folder):
        for name in [top] + [os.path.join(top, f) for f in files]:
            try:
                total += os.lstat(name).st_blocks * 512
            except OSError:
                pass
    return total
command = subprocess.Popen(sys.argv[2:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
while command.poll() is None:
    peak = max(peak, used())
    time.sleep(0.05)
print(command.returncode, peak >> 10)
PY
)
    [ "${result%% *}" = 0 ] || { echo "failed: $*" >&2; exit 1; }
    echo "$(cat "$log") ${result#* }"
}
median() { sort -n | sed -n 2p; }
declare -A T R D
run3() { # key, command... (the command may use $n, the run number)
    local key=$1; shift
    local out=() n
    # Every run starts with nothing left to write back: the previous run's output (and the fresh
    # copy of the package) would otherwise be flushed by the kernel during the next measurement.
    sync
    for n in 1 2 3; do out+=("$(measure "$@")"); eval "${pre_next:-true}"; sync; done
    T[$key]=$(printf '%s\n' "${out[@]}" | awk '{print $1}' | median)
    R[$key]=$(printf '%s\n' "${out[@]}" | awk '{print $2}' | sort -n | tail -1)
    D[$key]=$(printf '%s\n' "${out[@]}" | awk '{print $3}' | sort -n | tail -1)
    printf '%-44s %8.2f s  %8d KiB peak RSS  %8d KiB peak temp\n' "$key" "${T[$key]}" "${R[$key]}" "${D[$key]}"
}

echo
n=0
edit() { n=$((n + 1)); "$build/quendle" /Update "$pkg" Add-File "Root\\VFS\\added$n.txt" "$work/small.txt"; }
big() { n=$((n + 1)); "$build/quendle" /Update "$pkg" Add-File "Root\\VFS\\big$n.txt" "$work/compressible.txt"; }
repack() { rm -rf "$work/x" "$work/re.zip"; unzip -q "$pkg" -d "$work/x" && (cd "$work/x" && zip -1 -r -q "$work/re.zip" .); rm -rf "$work/x"; }
quiet_edit() { n=$((n + 1)); "$build/quendle" -quiet /Update "$pkg" Add-File "Root\\VFS\\quiet$n.txt" "$work/small.txt"; }
tty_edit() { n=$((n + 1)); script -q -e -c "'$build/quendle' /Update '$pkg' Add-File 'Root\\VFS\\tty$n.txt' '$work/small.txt'" /dev/null; }
export -f edit big repack quiet_edit tty_edit
export build pkg work n

run3 "quendle one-edit save" bash -c 'n=$(date +%s%N); edit'
run3 "unzip -q + zip -1 -r -q of the package" bash -c repack
run3 "quendle one-edit save, -quiet" bash -c 'n=$(date +%s%N); quiet_edit'
run3 "quendle one-edit save, progress on a terminal" bash -c 'n=$(date +%s%N); tty_edit'
run3 "cp of the package" cp "$pkg" "$work/copy.appv"
rm -f "$work/copy.appv" "$work/re.zip"
python3 tests/archive/verify_appv.py "$pkg" > /dev/null && echo "saved package: verify_appv.py ok"
cp "$pkg" "$work/base.appv"
pre_next='cp "$work/base.appv" "$pkg"'
run3 "quendle adding a 512 MiB compressible file" bash -c 'n=1; big'
pre_next=
run3 "zip -1 of that file alone" bash -c 'rm -f "$work/one.zip"; zip -1 -q "$work/one.zip" "$work/compressible.txt"'

# The same package as the format's original writer lays it out (empty files without payload):
# its entries split at their block sizes, so the save must still copy them.
python3 tests/cli/foreign_layouts.py "$work/base.appv" "$pkg" original
run3 "quendle one-edit save, original writer layout" bash -c 'n=$(date +%s%N); edit'

ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }
echo
echo "ratios: one-edit save $(ratio "${T[unzip -q + zip -1 -r -q of the package]}" "${T[quendle one-edit save]}")x faster than unzip+zip," \
    "$(ratio "${T[quendle one-edit save]}" "${T[cp of the package]}")x the time of cp;" \
    "original writer layout $(ratio "${T[unzip -q + zip -1 -r -q of the package]}" "${T[quendle one-edit save, original writer layout]}")x faster than unzip+zip;" \
    "progress on a terminal $(ratio "${T[quendle one-edit save, progress on a terminal]}" "${T[quendle one-edit save, -quiet]}")x the time of -quiet;" \
    "512 MiB add $(ratio "${T[zip -1 of that file alone]}" "${T[quendle adding a 512 MiB compressible file]}")x faster than zip -1;" \
    "peak RSS $(( ${R[quendle one-edit save]} >> 10 ))/$(( ${R[quendle adding a 512 MiB compressible file]} >> 10 )) MiB;" \
    "peak temp $(( ${D[quendle one-edit save]} >> 10 )) MiB of a $(( $(stat -c %s "$work/base.appv") >> 20 )) MiB package"
