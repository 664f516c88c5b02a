#!/usr/bin/env bash
# Benchmark, not a test: Add-Folder of 10,000 small files whose names share a 6-character prefix
# (so every 8.3 short name needs a number, up to "~10000"), side by side with `zip -1 -r` of the
# same folder, and 10,000 Add-File lines in one command file against the one Add-Folder. The
# package gets the same files each time; the saved packages are checked with unzip -t and the
# independent metadata check.
#
#   bench/bulk_bench.sh [build folder] [number of files]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
count=${2:-10000}
work=$(mktemp -d "${TMPDIR:-/tmp}/quendle-bulk-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

for tool in "$build/quendle" "$build/make_demo_package" unzip zip python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

"$build/make_demo_package" demo "$work/base.appv" >/dev/null
python3 - "$work/plugin" "$count" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
os.makedirs(folder)
for i in range(count):
    with open(os.path.join(folder, "plugin_component_%05d.dll" % i), "w") as f:
        f.write("component %d\n" % i * 20)
PY
target='Root\VFS\ProgramFilesX86\Demo Notes\Plugins'
{
    echo ";qdc Add-File of every file"
    for f in "$work"/plugin/*; do
        printf 'Add-File "%s\\%s" "%s"\n' "$target" "${f##*/}" "$f"
    done
} > "$work/add-files.qdc"

seconds() { # wall seconds of a command, its output discarded
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}

mkdir -p "$work/tmp"
export TMPDIR="$work/tmp" NO_COLOR=1
cp "$work/base.appv" "$work/folder.appv"
cp "$work/base.appv" "$work/files.appv"
sync
t_zip=$(cd "$work" && seconds zip -1 -r -q "$work/plugin.zip" plugin)
t_folder=$(seconds "$build/quendle" /Update "$work/folder.appv" Add-Folder "$target" "$work/plugin")
t_files=$(seconds "$build/quendle" /BatchFileUpdate "$work/files.appv" "$work/add-files.qdc")

for p in folder files; do
    unzip -tqq "$work/$p.appv" || { echo "unzip -t failed on $p.appv" >&2; exit 1; }
    python3 tests/cli/verify_metadata.py "$work/$p.appv" || { echo "metadata check failed on $p.appv" >&2; exit 1; }
done
cmp <(unzip -p "$work/folder.appv" FilesystemMetadata.xml) <(unzip -p "$work/files.appv" FilesystemMetadata.xml) ||
    { echo "Add-Folder and Add-File gave different metadata" >&2; exit 1; }

printf "%s files, names with a common 6-character prefix, one folder\n" "$count"
printf "%-44s %8.2f s\n" "zip -1 -r of the folder" "$t_zip" \
    "quendle Add-Folder (open + add + save)" "$t_folder" \
    "quendle $count Add-File lines (command file)" "$t_files"
printf "%-44s %8.2f\n" "ratio Add-Folder / zip -1 -r" "$(echo "$t_folder / $t_zip" | bc -l)" \
    "ratio Add-File lines / Add-Folder" "$(echo "$t_files / $t_folder" | bc -l)"
