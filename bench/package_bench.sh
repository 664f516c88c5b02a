#!/usr/bin/env bash
# Benchmark, not a test: open + one manifest edit + save of a generated package of at least
# 1 GiB, side by side with unzip + zip -1 of the same content. Reports wall time, CPU time
# (user + system) and peak resident memory of each.
#
#   bench/package_bench.sh [build folder] [work folder] [size in MiB]
#
# Needs about six times the package size in free space under the work folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/quendle-bench-XXXXXX")}
size_mib=${3:-1216}
mkdir -p "$work"
work=$(realpath "$work")
trap 'rm -rf "$work"' EXIT

for tool in "$build/quendle" "$build/make_demo_package" /usr/bin/time unzip zip; do
    [ -x "$tool" ] || command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

echo "Generating about $size_mib MiB of package content in $work ..."
src="$work/source"
cp -r demo "$src"
payload="$src/Root/VFS/ProgramFilesX86/Demo Notes/payload"
mkdir -p "$payload"
# Mostly incompressible data, so that the package itself passes 1 GiB, and some text so that
# deflate has real work too.
chunk=64
count=$(( (size_mib + chunk - 1) / chunk ))
for i in $(seq 1 "$count"); do
    if (( i % 8 )); then
        head -c "${chunk}M" /dev/urandom > "$payload/random$i.bin"
    else
        # yes ends on SIGPIPE once head has enough.
        yes "line $i of the generated text, with a little variety: $RANDOM $RANDOM" | head -c "${chunk}M" \
            > "$payload/text$i.txt" || true
    fi
done
"$build/make_demo_package" "$src" "$work/bench.appv" >/dev/null
echo "Package: $(du -m "$work/bench.appv" | cut -f1) MiB, content $(du -sm "$src/Root" | cut -f1) MiB"

# wall seconds, user + system seconds, peak RSS in KiB
measure() {
    local label=$1
    shift
    local report="$work/time.txt"
    /usr/bin/time -o "$report" -f "%e %U %S %M" "$@" >/dev/null
    read -r wall user sys rss < "$report"
    awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" \
        'BEGIN { printf "%-34s %9.2f s %9.2f s %10.1f MiB\n", l, w, u + s, r / 1024 }'
}

sync
printf "\n%-34s %11s %11s %14s\n" "run" "wall" "cpu" "peak RSS"
mkdir -p "$work/tmp"
measure "quendle: open + edit + save" env TMPDIR="$work/tmp" NO_COLOR=1 "$build/quendle" /Update "$work/bench.appv" \
    Set-NodeText AppxManifest.xml -xpath //appx:Properties/appx:DisplayName -nodetext "Benchmarked"
measure "unzip -q" unzip -q "$work/bench.appv" -d "$work/unzipped"
(cd "$work/unzipped" && measure "zip -1 -r -q" zip -1 -r -q "$work/rezipped.zip" .)
measure "unzip -q + zip -1 -r -q" sh -c \
    "rm -rf '$work/u2' && unzip -q '$work/bench.appv' -d '$work/u2' && cd '$work/u2' && zip -1 -r -q '$work/r2.zip' ."
unzip -p "$work/bench.appv" AppxManifest.xml | grep -q "<DisplayName>Benchmarked</DisplayName>" \
    && echo "(the edit is in the saved package)"
