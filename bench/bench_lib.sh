# Shared by the benchmarks that build a big package; sourced, never run on its own.

# bench_setup NAME BUILD WORK TOOL...: sets build (default ./build), work (default a new temp
# folder, deleted at exit, as is a given one) and div (QUENDLE_BENCH_SCALE, which divides every
# size, for a quick try of a script); fails when a tool is missing.
bench_setup() {
    local name=$1
    build=$(realpath "${2:-build}")
    work=${3:-$(mktemp -d "${TMPDIR:-/tmp}/quendle-$name-bench-XXXXXX")}
    shift 3
    mkdir -p "$work"
    work=$(realpath "$work")
    div=${QUENDLE_BENCH_SCALE:-1}
    trap 'rm -rf "$work"' EXIT
    for tool in "$build/quendle" "$build/make_demo_package" "$@"; do
        [ -x "$tool" ] || command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
    done
}

# bench_content FOLDER TEXT_MIB BINARY_MIB RANDOM_MIB SMALL_FILES: fills FOLDER with text (C
# headers), machine code (shared libraries), random data and small text files of 4 to 48 KiB in
# 40 folders, each size divided by $div. Leaves $work/seed.txt (32 MiB of text) for the caller.
bench_content() {
    local folder=$1
    mkdir -p "$folder/text" "$folder/binary" "$folder/random" "$folder/small"
    set +o pipefail # head closes its pipe early on purpose
    find /usr/include -type f -name '*.h' -print0 | xargs -0 cat 2>/dev/null | head -c $((32 << 20)) > "$work/seed.txt"
    for i in $(seq 1 16); do cat "$work/seed.txt"; done | head -c $((($2 << 20) / div)) > "$folder/text/big.txt"
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -size +1M -print0 |
        xargs -0 cat 2>/dev/null | head -c $((($3 << 20) / div)) > "$folder/binary/big.bin"
    head -c $((($4 << 20) / div)) /dev/urandom > "$folder/random/big.bin"
    set -o pipefail
    python3 - "$work/seed.txt" "$folder/small" "$(($5 / div))" <<'PY'
import os, random, sys
seed = open(sys.argv[1], "rb").read()
random.seed(1)
for i in range(int(sys.argv[3])):
    d = os.path.join(sys.argv[2], "d%02d" % (i % 40))
    os.makedirs(d, exist_ok=True)
    n = random.randint(4096, 48 * 1024)
    at = random.randint(0, len(seed) - n)
    with open(os.path.join(d, "f%04d.txt" % i), "wb") as f:
        f.write(seed[at:at + n])
PY
}
