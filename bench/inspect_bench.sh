#!/bin/bash
# Times /Verify of a ~700 MiB package against the tests a user would otherwise run on it
# (`unzip -tqq`, `7z t`), and /Info -files against `unzip -l`, in the same run, with the ratios.
#   bench/inspect_bench.sh [path/to/build] [work folder]
# The work folder (default /tmp/quendle-inspect-bench) is deleted afterwards.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
work=${2:-/tmp/quendle-inspect-bench}
quendle=$build/quendle
maker=$build/make_demo_package
for tool in "$quendle" "$maker"; do
    [ -x "$tool" ] || { echo "$tool not found (build the quendle and make_demo_package targets)" >&2; exit 2; }
done
for tool in unzip 7z python3; do
    command -v "$tool" >/dev/null || { echo "$tool is required" >&2; exit 2; }
done

rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cp -r "$here/../demo" "$work/source"
root="$work/source/Root/VFS/ProgramFilesX86/Bench"
mkdir -p "$root/small"

echo "generating the package source in $work ..."
set +o pipefail
find /usr/include -type f -name '*.h' -print0 | xargs -0 cat 2>/dev/null | head -c $((32 << 20)) > "$work/seed.txt"
for i in $(seq 1 10); do cat "$work/seed.txt"; done | head -c $((300 << 20)) > "$root/text.txt"
find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +1M -print0 |
    xargs -0 cat 2>/dev/null | head -c $((200 << 20)) > "$root/binary.bin"
head -c $((200 << 20)) /dev/urandom > "$root/random.bin"
set -o pipefail
python3 - "$work/seed.txt" "$root/small" <<'PY'
import os, random, sys
seed = open(sys.argv[1], "rb").read()
random.seed(1)
for i in range(3000):
    n = random.randint(1024, 20 * 1024)
    at = random.randint(0, len(seed) - n)
    open(os.path.join(sys.argv[2], "f%04d.txt" % i), "wb").write(seed[at:at + n])
PY
package=$work/bench.appv
"$maker" "$work/source" "$package" >/dev/null
rm -rf "$work/source"
echo "package: $(du -m "$package" | cut -f1) MiB, $(unzip -Z1 "$package" | wc -l) entries"

# Seconds of wall time of one command; its output is discarded, its status ignored (a package
# made this way lacks metadata entries for the bench files, which /Verify reports).
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    python3 -c "print(f'{$end - $start:.2f}')"
}
cat "$package" >/dev/null # the same page cache for every contender

verify=$(seconds env NO_COLOR=1 "$quendle" /Verify "$package")
unzip_t=$(seconds unzip -tqq "$package")
sevenz_t=$(seconds 7z t -bd "$package")
info=$(seconds env NO_COLOR=1 "$quendle" /Info "$package" -json -files)
unzip_l=$(seconds unzip -l "$package")

ratio() { python3 -c "print(f'{$1 / max($2, 0.01):.2f}')"; }
printf '%-40s %8s s\n' "quendle /Verify (CRC + blocks + parts)" "$verify" "unzip -tqq (CRC)" "$unzip_t" \
    "7z t (CRC)" "$sevenz_t" "quendle /Info -json -files" "$info" "unzip -l" "$unzip_l"
echo "ratio /Verify : unzip -t = $(ratio "$verify" "$unzip_t")"
echo "ratio /Verify : 7z t     = $(ratio "$verify" "$sevenz_t")"
echo "ratio /Info   : unzip -l = $(ratio "$info" "$unzip_l")"
